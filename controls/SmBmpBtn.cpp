#include "SmBmpBtn.h"

#include <QMouseEvent>
#include <QPainter>

TSimpleBmpButton::Face TSimpleBmpButton::faceFor(bool enabled, bool down) {
    if (!enabled) {
        return Face::Disabled;
    }
    return down ? Face::Down : Face::Up;
}

bool TSimpleBmpButton::pausedAfterClick(bool pauseButton, bool paused) {
    return pauseButton ? !paused : false;
}

TSimpleBmpButton::TSimpleBmpButton(QWidget* parent) : QWidget(parent) {
    resize(sizeHint());
}

void TSimpleBmpButton::SetPauseButton(bool value) {
    if (value == m_pauseButton) {
        return;
    }
    m_pauseButton = value;
    emit PauseButtonChanged(m_pauseButton);
    // A button that stops or starts latching must not keep a latch it can no longer undo.
    SetPaused(false);
    update();
}

void TSimpleBmpButton::SetPaused(bool value) {
    value = value && m_pauseButton;
    if (value == m_paused) {
        return;
    }
    m_paused = value;
    m_down = m_paused || m_captured;
    emit PausedChanged(m_paused);
    update();
}

void TSimpleBmpButton::SetEnabled(bool value) {
    if (value == m_enabled) {
        return;
    }
    m_enabled = value;
    emit EnabledChanged(m_enabled);
    update();
}

void TSimpleBmpButton::SetUpImage(const QPixmap& picture) {
    m_upImage = picture;
    update();
}

void TSimpleBmpButton::SetDownImage(const QPixmap& picture) {
    m_downImage = picture;
    update();
}

void TSimpleBmpButton::SetDisImage(const QPixmap& picture) {
    m_disImage = picture;
    update();
}

void TSimpleBmpButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    switch (faceFor(m_enabled, m_down)) {
    case Face::Disabled:
        painter.drawPixmap(0, 0, m_disImage);
        break;
    case Face::Down:
        painter.drawPixmap(0, 0, m_downImage);
        break;
    case Face::Up:
        painter.drawPixmap(0, 0, m_upImage);
        break;
    }
}

void TSimpleBmpButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_down = true;
    m_captured = true;
    update();
}

void TSimpleBmpButton::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void TSimpleBmpButton::mouseReleaseEvent(QMouseEvent* event) {
    // Qt delivers the release to the pressed widget wherever the pointer is, so a click
    // counts even when released off the button.
    if (event->button() != Qt::LeftButton || !m_captured) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_captured = false;
    const bool paused = pausedAfterClick(m_pauseButton, m_paused);
    m_down = paused;
    if (paused != m_paused) {
        m_paused = paused;
        emit PausedChanged(m_paused);
    }
    update();
    emit OnClick();
}
