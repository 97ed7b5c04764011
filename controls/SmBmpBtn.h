#pragma once

#include <QPixmap>
#include <QWidget>

// The transport, performance and lyric-bar buttons: one whole picture per state.
//
// The button's own `Enabled` only chooses the picture; a disabled button still presses and
// clicks, so every click handler tests `Enabled` first. The widget's own enabled state is
// left alone.
class TSimpleBmpButton : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool PauseButton READ PauseButton WRITE SetPauseButton NOTIFY PauseButtonChanged)
    Q_PROPERTY(bool Paused READ Paused WRITE SetPaused NOTIFY PausedChanged)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled NOTIFY EnabledChanged)
    Q_PROPERTY(QPixmap UpImage READ UpImage WRITE SetUpImage)
    Q_PROPERTY(QPixmap DownImage READ DownImage WRITE SetDownImage)
    Q_PROPERTY(QPixmap DisImage READ DisImage WRITE SetDisImage)

public:
    enum class Face { Up, Down, Disabled };

    // The picture shown for the button's state.
    static Face faceFor(bool enabled, bool down);
    // The latched state after a click: toggled on a latching button, otherwise cleared.
    static bool pausedAfterClick(bool pauseButton, bool paused);

    explicit TSimpleBmpButton(QWidget* parent = nullptr);

    bool PauseButton() const { return m_pauseButton; }
    bool Paused() const { return m_paused; }
    bool Enabled() const { return m_enabled; }
    QPixmap UpImage() const { return m_upImage; }
    QPixmap DownImage() const { return m_downImage; }
    QPixmap DisImage() const { return m_disImage; }
    // Drawn pressed: while the left button is held on it, or while latched.
    bool isDown() const { return m_down; }

    void SetPauseButton(bool value);
    void SetPaused(bool value);
    void SetEnabled(bool value);
    void SetUpImage(const QPixmap& picture);
    void SetDownImage(const QPixmap& picture);
    void SetDisImage(const QPixmap& picture);

    QSize sizeHint() const override { return {20, 20}; }

signals:
    void OnClick();
    void PauseButtonChanged(bool pauseButton);
    void PausedChanged(bool paused);
    void EnabledChanged(bool enabled);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pauseButton = false;
    bool m_paused = false;
    bool m_enabled = true;
    bool m_down = false;
    bool m_captured = false;
    QPixmap m_upImage;
    QPixmap m_downImage;
    QPixmap m_disImage;
};
