#pragma once

#include <QPixmap>
#include <QWidget>

// The record button. Unlike the other picture buttons, a disabled record button ignores
// the mouse completely, so a recording can never start from a stray click. While
// `Recording` is set, `OnImage` is drawn over the normal picture to light the button.
class TRecBmpButton : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool PauseButton READ PauseButton WRITE SetPauseButton NOTIFY PauseButtonChanged)
    Q_PROPERTY(bool Paused READ Paused WRITE SetPaused NOTIFY PausedChanged)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled NOTIFY EnabledChanged)
    Q_PROPERTY(bool Recording READ Recording WRITE SetRecording NOTIFY RecordingChanged)
    Q_PROPERTY(QPixmap UpImage READ UpImage WRITE SetUpImage)
    Q_PROPERTY(QPixmap OnImage READ OnImage WRITE SetOnImage)
    Q_PROPERTY(QPixmap DisabledImage READ DisabledImage WRITE SetDisabledImage)
    Q_PROPERTY(QPixmap DownImage READ DownImage WRITE SetDownImage)

public:
    enum class Face { Up, Down, Disabled };
    struct Faces {
        Face base;
        bool lit;  // `OnImage` drawn over the base picture
    };

    static Faces facesFor(bool enabled, bool down, bool recording);

    explicit TRecBmpButton(QWidget* parent = nullptr);

    bool PauseButton() const { return m_pauseButton; }
    bool Paused() const { return m_paused; }
    bool Enabled() const { return m_enabled; }
    bool Recording() const { return m_recording; }
    QPixmap UpImage() const { return m_upImage; }
    QPixmap OnImage() const { return m_onImage; }
    QPixmap DisabledImage() const { return m_disabledImage; }
    QPixmap DownImage() const { return m_downImage; }
    bool isDown() const { return m_down; }

    void SetPauseButton(bool value);
    void SetPaused(bool value);
    void SetEnabled(bool value);
    void SetRecording(bool value);
    void SetUpImage(const QPixmap& picture);
    void SetOnImage(const QPixmap& picture);
    void SetDisabledImage(const QPixmap& picture);
    void SetDownImage(const QPixmap& picture);

    QSize sizeHint() const override { return {20, 20}; }

signals:
    void OnClick();
    void PauseButtonChanged(bool pauseButton);
    void PausedChanged(bool paused);
    void EnabledChanged(bool enabled);
    void RecordingChanged(bool recording);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pauseButton = false;
    bool m_paused = false;
    bool m_enabled = true;
    bool m_recording = false;
    bool m_down = false;
    bool m_captured = false;
    QPixmap m_upImage;
    QPixmap m_onImage;
    QPixmap m_disabledImage;
    QPixmap m_downImage;
};
