#include "Ledbuton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

#include "Pictures.h"

QString TLedButton::pictureName(TLedButtonType type, bool on) {
    QString colour;
    switch (type) {
    case redLedButton:
        colour = QStringLiteral("Red");
        break;
    case greenLedButton:
        colour = QStringLiteral("Green");
        break;
    case yellowLedButton:
        colour = QStringLiteral("Yellow");
        break;
    case blueLedButton:
        colour = QStringLiteral("Blue");
        break;
    }
    return QStringLiteral("Small") + colour + (on ? QStringLiteral("On") : QStringLiteral("Off"));
}

QPoint TLedButton::picturePosition(QPoint position, bool pressed) {
    return pressed ? position + QPoint(1, 1) : position;
}

TLedButton::TLedButton(QWidget* parent) : TRecessedPanel(parent) {
    resize(sizeHint());
}

void TLedButton::SetLedType(TLedButtonType value) {
    if (value == m_ledType) {
        return;
    }
    m_ledType = value;
    emit LedTypeChanged(m_ledType);
    update();
}

void TLedButton::SetLedPosX(int value) {
    if (value == m_ledPos.x()) {
        return;
    }
    m_ledPos.setX(value);
    emit LedPosXChanged(value);
    update();
}

void TLedButton::SetLedPosY(int value) {
    if (value == m_ledPos.y()) {
        return;
    }
    m_ledPos.setY(value);
    emit LedPosYChanged(value);
    update();
}

void TLedButton::SetState(bool value) {
    if (value == m_state) {
        return;
    }
    m_state = value;
    emit StateChanged(m_state);
    update();
}

void TLedButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionButton face;
    face.initFrom(this);
    face.state |= m_pressed ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &face, &painter, this);
    painter.drawPixmap(picturePosition(m_ledPos, m_pressed),
                       controls::picture(pictureName(m_ledType, m_state)));
}

void TLedButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        TRecessedPanel::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    SetState(!m_state);
    update();
    emit OnChange();
}

void TLedButton::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void TLedButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressed) {
        TRecessedPanel::mouseReleaseEvent(event);
        return;
    }
    m_pressed = false;
    update();
}
