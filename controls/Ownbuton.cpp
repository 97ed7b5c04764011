#include "Ownbuton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

#include "Pictures.h"

QString TOwnButton::pictureName(TOwnButtonType type) {
    return type == notesButton ? QStringLiteral("notes") : QStringLiteral("info");
}

TOwnButton::TOwnButton(QWidget* parent) : TRecessedPanel(parent) {
    resize(sizeHint());
}

void TOwnButton::SetOwnType(TOwnButtonType value) {
    if (value == m_ownType) {
        return;
    }
    m_ownType = value;
    emit OwnTypeChanged(m_ownType);
    update();
}

void TOwnButton::SetBitPosX(int value) {
    if (value == m_bitPos.x()) {
        return;
    }
    m_bitPos.setX(value);
    emit BitPosXChanged(value);
    update();
}

void TOwnButton::SetBitPosY(int value) {
    if (value == m_bitPos.y()) {
        return;
    }
    m_bitPos.setY(value);
    emit BitPosYChanged(value);
    update();
}

void TOwnButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionButton face;
    face.initFrom(this);
    face.state |= m_pressed ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &face, &painter, this);
    painter.drawPixmap(m_pressed ? m_bitPos + QPoint(1, 1) : m_bitPos,
                       controls::picture(pictureName(m_ownType)));
}

void TOwnButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        TRecessedPanel::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    update();
}

void TOwnButton::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void TOwnButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressed) {
        TRecessedPanel::mouseReleaseEvent(event);
        return;
    }
    m_pressed = false;
    update();
    emit OnClick();
}
