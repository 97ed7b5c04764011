#include "Trecesed.h"

#include <QPainter>
#include <algorithm>

TRecessedPanel::TRecessedPanel(QWidget* parent) : QWidget(parent) {
    resize(sizeHint());
}

void TRecessedPanel::SetBevel(int value) {
    if (value == m_bevel) {
        return;
    }
    m_bevel = value;
    emit BevelChanged(m_bevel);
    update();
}

void TRecessedPanel::drawLine(QPainter& painter, QPoint from, QPoint to, const QColor& colour) {
    if (from.y() == to.y()) {
        const int left = std::min(from.x(), to.x() + 1);
        const int right = std::max(from.x(), to.x() - 1);
        if (from.x() != to.x()) {
            painter.fillRect(QRect(QPoint(left, from.y()), QPoint(right, from.y())), colour);
        }
    } else if (from.x() == to.x()) {
        const int top = std::min(from.y(), to.y() + 1);
        const int bottom = std::max(from.y(), to.y() - 1);
        painter.fillRect(QRect(QPoint(from.x(), top), QPoint(from.x(), bottom)), colour);
    }
}

void TRecessedPanel::paintRecessed(QPainter& painter, QSize size) {
    const int w = size.width();
    const int h = size.height();
    const QColor grey(128, 128, 128);
    const QColor white(255, 255, 255);
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    // A recess lit from the top left: its top and left walls lie in shadow, its bottom
    // and right walls catch the light, with a grey lip where the lit walls meet the floor.
    drawLine(painter, {1, 1}, {w - 2, 1}, grey);
    drawLine(painter, {2, 2}, {w - 3, 2}, grey);
    drawLine(painter, {1, 1}, {1, h - 2}, grey);
    drawLine(painter, {2, 2}, {2, h - 3}, grey);
    drawLine(painter, {1, h - 2}, {w - 1, h - 2}, white);
    drawLine(painter, {2, h - 3}, {w - 1, h - 3}, white);
    drawLine(painter, {w - 2, 1}, {w - 2, h - 1}, white);
    drawLine(painter, {w - 3, 2}, {w - 3, h - 1}, white);
    drawLine(painter, {3, h - 4}, {w - 3, h - 4}, grey);
    drawLine(painter, {w - 4, 3}, {w - 4, h - 3}, grey);
}

void TRecessedPanel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    paintRecessed(painter, size());
}
