#include "Recbtn.h"

#include <QMouseEvent>
#include <QPainter>

TRecBmpButton::Faces TRecBmpButton::facesFor(bool enabled, bool down, bool recording) {
    if (!enabled) {
        return {Face::Disabled, false};
    }
    if (down) {
        return {Face::Down, false};
    }
    return {Face::Up, recording};
}

TRecBmpButton::TRecBmpButton(QWidget* parent) : QWidget(parent) {
    resize(sizeHint());
}

void TRecBmpButton::SetPauseButton(bool value) {
    if (value == m_pauseButton) {
        return;
    }
    m_pauseButton = value;
    emit PauseButtonChanged(m_pauseButton);
    SetPaused(false);
    update();
}

void TRecBmpButton::SetPaused(bool value) {
    value = value && m_pauseButton;
    if (value == m_paused) {
        return;
    }
    m_paused = value;
    m_down = m_paused || m_captured;
    emit PausedChanged(m_paused);
    update();
}

// The recording workflow sets these on every transition, changed or not, and relies on the
// button being redrawn each time.
void TRecBmpButton::SetEnabled(bool value) {
    if (value != m_enabled) {
        m_enabled = value;
        emit EnabledChanged(m_enabled);
    }
    update();
}

void TRecBmpButton::SetRecording(bool value) {
    if (value != m_recording) {
        m_recording = value;
        emit RecordingChanged(m_recording);
    }
    update();
}

void TRecBmpButton::SetUpImage(const QPixmap& picture) {
    m_upImage = picture;
    update();
}

void TRecBmpButton::SetOnImage(const QPixmap& picture) {
    m_onImage = picture;
    update();
}

void TRecBmpButton::SetDisabledImage(const QPixmap& picture) {
    m_disabledImage = picture;
    update();
}

void TRecBmpButton::SetDownImage(const QPixmap& picture) {
    m_downImage = picture;
    update();
}

void TRecBmpButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Faces faces = facesFor(m_enabled, m_down, m_recording);
    switch (faces.base) {
    case Face::Disabled:
        painter.drawPixmap(0, 0, m_disabledImage);
        break;
    case Face::Down:
        painter.drawPixmap(0, 0, m_downImage);
        break;
    case Face::Up:
        painter.drawPixmap(0, 0, m_upImage);
        break;
    }
    if (faces.lit) {
        painter.drawPixmap(0, 0, m_onImage);
    }
}

void TRecBmpButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_enabled) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_down = true;
    m_captured = true;
    update();
}

// A double-click must not count as a second press: one click starts one recording.
void TRecBmpButton::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void TRecBmpButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_captured) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_captured = false;
    const bool paused = m_pauseButton ? !m_paused : false;
    m_down = paused;
    if (paused != m_paused) {
        m_paused = paused;
        emit PausedChanged(m_paused);
    }
    update();
    emit OnClick();
}
