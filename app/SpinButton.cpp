#include "SpinButton.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>

namespace cvkapp {

namespace {

QColor faceColor(bool pressed) {
    // A shade above the panel's #2e2f33, so the key stands out from it.
    return pressed ? QColor(0x3a, 0x3b, 0x40) : QColor(0x4c, 0x4d, 0x53);
}

QColor arrowColor(bool enabled) {
    // Enabled: near white on the face (about 7:1). Disabled: a dim grey barely off the
    // face, darker than the enabled arrow whatever the style would have chosen.
    return enabled ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x70, 0x71, 0x76);
}

}  // namespace

TSpinArrow::TSpinArrow(Qt::ArrowType direction, QWidget* parent)
    : QAbstractButton(parent), m_direction(direction) {
    // Held down, a spin button keeps stepping, as users expect of one.
    setAutoRepeat(true);
    setAutoRepeatDelay(400);
    setAutoRepeatInterval(80);
    setFocusPolicy(Qt::NoFocus);
}

void TSpinArrow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool pressed = isDown() && isEnabled();
    const QRect face = rect();
    painter.fillRect(face, faceColor(pressed));
    // A raised key: light on the top and left edges, dark on the bottom and right;
    // swapped while pressed.
    const QColor light(0x6e, 0x6f, 0x75);
    const QColor dark(0x1a, 0x1b, 0x1e);
    painter.fillRect(face.left(), face.top(), face.width(), 1, pressed ? dark : light);
    painter.fillRect(face.left(), face.top(), 1, face.height(), pressed ? dark : light);
    painter.fillRect(face.left(), face.bottom(), face.width(), 1, pressed ? light : dark);
    painter.fillRect(face.right(), face.top(), 1, face.height(), pressed ? light : dark);

    // An arrow of half the key's width, centred, nudged by a pixel while pressed.
    const qreal half = std::max(2.0, (face.width() - 6) / 2.0);
    const qreal tall = std::min(half, (face.height() - 4) / 1.5);
    const QPointF centre = QRectF(face).center() + (pressed ? QPointF(1, 1) : QPointF());
    const qreal tip = m_direction == Qt::UpArrow ? -tall / 2 : tall / 2;
    const QPolygonF arrow{centre + QPointF(-half, -tip), centre + QPointF(half, -tip),
                          centre + QPointF(0, tip)};
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(arrowColor(isEnabled()));
    painter.drawPolygon(arrow);
}

TSpinButton::TSpinButton(QWidget* parent)
    : QWidget(parent),
      m_up(new TSpinArrow(Qt::UpArrow, this)),
      m_down(new TSpinArrow(Qt::DownArrow, this)) {
    connect(m_up, &TSpinArrow::clicked, this, &TSpinButton::UpClick);
    connect(m_down, &TSpinArrow::clicked, this, &TSpinButton::DownClick);
    resize(16, 26);
}

void TSpinButton::resizeEvent(QResizeEvent*) {
    const int half = height() / 2;
    m_up->setGeometry(0, 0, width(), half);
    m_down->setGeometry(0, half, width(), height() - half);
}

}  // namespace cvkapp
