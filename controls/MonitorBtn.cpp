#include "MonitorBtn.h"

#include <QPainter>

TMonitorButton::Face TMonitorButton::faceFor(bool enabled, bool down, bool stateOn) {
    if (!enabled) {
        return Face::Disabled;
    }
    if (down) {
        return Face::Down;
    }
    return stateOn ? Face::On : Face::Off;
}

TMonitorButton::TMonitorButton(QWidget* parent) : TSimpleBmpButton(parent) {}

void TMonitorButton::SetStateOn(bool value) {
    if (value == m_stateOn) {
        return;
    }
    m_stateOn = value;
    emit StateOnChanged(m_stateOn);
    update();
}

void TMonitorButton::SetOffImage(const QPixmap& picture) {
    m_offImage = picture;
    update();
}

void TMonitorButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    switch (faceFor(Enabled(), isDown(), m_stateOn)) {
    case Face::Disabled:
        painter.drawPixmap(0, 0, DisImage());
        break;
    case Face::Down:
        painter.drawPixmap(0, 0, DownImage());
        break;
    case Face::On:
        painter.drawPixmap(0, 0, UpImage());
        break;
    case Face::Off:
        painter.drawPixmap(0, 0, m_offImage);
        break;
    }
}
