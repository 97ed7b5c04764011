#include "Vledrow.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <array>

namespace {

constexpr QSize ledSize{11, 5};

QPixmap buildLed(const QColor& colour) {
    const qreal ratio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
    QPixmap picture(ledSize * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    const int w = ledSize.width();
    const int h = ledSize.height();
    painter.fillRect(QRect(1, 1, w - 2, h - 2), colour);
    // Black squares in the top corners round the bar's shoulders.
    painter.fillRect(QRect(0, 0, 2, 2), Qt::black);
    painter.fillRect(QRect(w - 2, 0, 2, 2), Qt::black);
    return picture;
}

}  // namespace

int TVLEDRow::clampLevel(int value) {
    return std::clamp(value, 0, LedCount);
}

TVLEDRow::LedColour TVLEDRow::colourOf(int led) {
    if (led <= 10) {
        return LedColour::Green;
    }
    return led <= 15 ? LedColour::Yellow : LedColour::Red;
}

QColor TVLEDRow::ledColour(LedColour colour, bool lit) {
    switch (colour) {
        case LedColour::Green:
            return lit ? QColor(0, 255, 0) : QColor(0, 64, 0);
        case LedColour::Yellow:
            return lit ? QColor(255, 255, 0) : QColor(64, 64, 0);
        case LedColour::Red:
            break;
    }
    return lit ? QColor(255, 0, 0) : QColor(64, 0, 0);
}

QRect TVLEDRow::ledArea() {
    return QRect(ledPosition(LedCount),
                 ledPosition(1) + QPoint(ledSize.width() - 1, ledSize.height() - 1));
}

QPixmap TVLEDRow::ledPicture(LedColour colour, bool lit) {
    // Six pictures serve every meter of the window; index = colour * 2 + lit.
    static const std::array<QPixmap, 6> pictures = [] {
        std::array<QPixmap, 6> built;
        for (LedColour c : {LedColour::Green, LedColour::Yellow, LedColour::Red}) {
            for (bool on : {false, true}) {
                built[static_cast<std::size_t>(c) * 2 + (on ? 1 : 0)] = buildLed(ledColour(c, on));
            }
        }
        return built;
    }();
    return pictures[static_cast<std::size_t>(colour) * 2 + (lit ? 1 : 0)];
}

TVLEDRow::TVLEDRow(QWidget* parent) : TRecessedPanel(parent) {
    // The panel and the LEDs cover every pixel, so a level change repaints the LEDs over
    // what is already there without erasing anything first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(sizeHint());
}

void TVLEDRow::SetLevel(int value) {
    value = clampLevel(value);
    if (value == m_level) {
        return;
    }
    m_level = value;
    emit LevelChanged(m_level);
    // Up to seventeen meters change twenty times a second: repaint the LEDs alone, now.
    repaint(ledArea());
}

void TVLEDRow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (!ledArea().contains(event->rect())) {
        paintRecessed(painter, size());
    }
    for (int led = 1; led <= LedCount; ++led) {
        painter.drawPixmap(ledPosition(led), ledPicture(colourOf(led), isLit(led, m_level)));
    }
}
