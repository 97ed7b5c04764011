#include "Bevel.h"

#include <QPainter>

TBevel::TBevel(QWidget* parent) : QWidget(parent) {
    // Clicks go to the strip's controls under and beside it, never to the frame.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int right = width() - 1;
    const int bottom = height() - 1;
    // Lowered: shadow above and on the left, light below and on the right.
    painter.setPen(QColor(128, 128, 128));
    painter.drawLine(0, 0, right - 1, 0);
    painter.drawLine(0, 0, 0, bottom - 1);
    painter.setPen(QColor(255, 255, 255));
    painter.drawLine(0, bottom, right, bottom);
    painter.drawLine(right, 0, right, bottom);
}
