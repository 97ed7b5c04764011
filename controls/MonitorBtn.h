#pragma once

#include "SmBmpBtn.h"

// The voice monitor button: a picture button with an on and an off look. Clicking does not
// switch it; the click handler decides and sets `StateOn`.
class TMonitorButton : public TSimpleBmpButton {
    Q_OBJECT
    Q_PROPERTY(bool StateOn READ StateOn WRITE SetStateOn NOTIFY StateOnChanged)
    Q_PROPERTY(QPixmap OffImage READ OffImage WRITE SetOffImage)

public:
    enum class Face { On, Off, Down, Disabled };

    static Face faceFor(bool enabled, bool down, bool stateOn);

    explicit TMonitorButton(QWidget* parent = nullptr);

    bool StateOn() const { return m_stateOn; }
    QPixmap OffImage() const { return m_offImage; }

    void SetStateOn(bool value);
    void SetOffImage(const QPixmap& picture);

signals:
    void StateOnChanged(bool stateOn);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_stateOn = false;
    QPixmap m_offImage;
};
