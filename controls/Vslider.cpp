#include "Vslider.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <utility>

#include "Trecesed.h"

using controls::slider::Geometry;

TVSlider::TVSlider(QWidget* parent) : TVSlider(Look{}, parent) {
    initHint();
}

TVSlider::TVSlider(const Look& look, QWidget* parent) : QWidget(parent), m_look(look) {
    // The face covers every pixel: nothing needs erasing before a repaint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(sizeHint());
}

void TVSlider::initHint() {
    setToolTip(hintFor(m_currentPos));
    m_hintShown = m_look.showsHints;
}

Geometry TVSlider::sliderGeometry() const {
    return Geometry{height(), m_look.thumbHeight, m_loLimit, m_hiLimit};
}

void TVSlider::SetCurrentPos(int value) {
    value = std::clamp(value, m_loLimit, m_hiLimit);
    if (value == m_currentPos) {
        return;
    }
    m_currentPos = value;
    // Painted before the handlers run, so a slow handler never shows a stale thumb.
    repaint();
    emit OnChange(m_currentPos);
    setToolTip(hintFor(m_currentPos));
}

void TVSlider::SetLoLimit(int value) {
    if (value == m_loLimit) {
        return;
    }
    m_loLimit = value;
    emit LoLimitChanged(m_loLimit);
    if (m_hiLimit < value) {
        m_hiLimit = value;
        emit HiLimitChanged(m_hiLimit);
    }
    // The hint keeps its old text until the position is next set.
    if (m_currentPos < value) {
        m_currentPos = value;
        emit OnChange(m_currentPos);
    }
    update();
}

void TVSlider::SetHiLimit(int value) {
    if (value == m_hiLimit) {
        return;
    }
    m_hiLimit = value;
    emit HiLimitChanged(m_hiLimit);
    if (m_loLimit > value) {
        m_loLimit = value;
        emit LoLimitChanged(m_loLimit);
    }
    if (m_currentPos > value) {
        m_currentPos = value;
        emit OnChange(m_currentPos);
    }
    update();
}

QString TVSlider::hintFor(int position) const {
    if (m_hiLimit == m_loLimit) {
        return {};
    }
    return controls::slider::hintText(
        controls::slider::hintPercent(position, m_loLimit, m_hiLimit));
}

QColor TVSlider::thumbCentre() const {
    return QColor(128, 128, 128);
}

void TVSlider::paintOverThumb(QPainter& /*painter*/, int /*thumbTop*/) const {}

QPixmap& TVSlider::sharedFace() const {
    static QPixmap face;
    return face;
}

bool TVSlider::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && !m_hintShown) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

void TVSlider::paintFace(QPainter& painter) const {
    const int w = width();
    const int h = height();
    const QColor white(255, 255, 255);
    const QColor black(0, 0, 0);
    painter.fillRect(rect(), m_look.face);
    if (m_hiLimit == m_loLimit) {
        return;
    }

    const Geometry g = sliderGeometry();
    const int top = g.thumbTop(m_currentPos);
    const int bottom = g.thumbBottom(m_currentPos);

    // The groove shows above and below the thumb only.
    const int centre = w / 2;
    for (auto [from, to] : {std::pair{0, top}, std::pair{bottom, h}}) {
        for (int x = centre - m_look.grooveWidth; x < centre; ++x) {
            TRecessedPanel::drawLine(painter, {x, from}, {x, to}, m_look.groove);
        }
        TRecessedPanel::drawLine(painter, {centre, from}, {centre, to}, white);
    }

    // Raised thumb.
    TRecessedPanel::drawLine(painter, {0, top}, {w, top}, white);
    TRecessedPanel::drawLine(painter, {0, top}, {0, bottom}, white);
    TRecessedPanel::drawLine(painter, {0, bottom - 1}, {w, bottom - 1}, black);
    TRecessedPanel::drawLine(painter, {w - 1, top}, {w - 1, bottom}, black);

    // Sunken grip in the thumb's lower part: the tall thumb's grip and the slim thumb's
    // have the same shape, placed relative to the thumb's bottom edge.
    const bool tall = m_look.thumbHeight >= 28;
    const int gripTop = bottom - (tall ? 21 : 6);
    const int gripEnd = bottom - (tall ? 7 : 2);
    const int r = w / 4;
    TRecessedPanel::drawLine(painter, {r, gripTop}, {w - r, gripTop}, black);
    TRecessedPanel::drawLine(painter, {r, gripTop}, {r, gripEnd}, black);
    TRecessedPanel::drawLine(painter, {r + 1, gripEnd - 1}, {w - r, gripEnd - 1}, white);
    TRecessedPanel::drawLine(painter, {w - r - 1, gripTop + 1}, {w - r - 1, gripEnd}, white);
    painter.fillRect(QRect(QPoint(r + 1, gripTop + 1), QPoint(w - r - 2, gripEnd - 2)),
                     thumbCentre());

    paintOverThumb(painter, top);
}

void TVSlider::paintEvent(QPaintEvent* /*event*/) {
    QPixmap& face = sharedFace();
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (face.size() != pixels || face.devicePixelRatio() != ratio) {
        face = QPixmap(pixels);
        face.setDevicePixelRatio(ratio);
    }
    {
        QPainter offscreen(&face);
        paintFace(offscreen);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, face);
}

void TVSlider::leftPress(int y) {
    m_hintShown = false;
    QToolTip::hideText();
    if (m_hiLimit == m_loLimit) {
        return;
    }
    const Geometry g = sliderGeometry();
    if (g.onThumb(m_currentPos, y)) {
        // Qt grabs the mouse for the widget a button was pressed on until its release.
        grabOffset = y - g.thumbTop(m_currentPos);
        dragging = true;
        return;
    }
    SetCurrentPos(g.clickValue(m_currentPos, y));
}

void TVSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        leftPress(event->position().toPoint().y());
    }
}

void TVSlider::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        leftPress(event->position().toPoint().y());
    }
}

void TVSlider::mouseMoveEvent(QMouseEvent* event) {
    if (dragging) {
        SetCurrentPos(sliderGeometry().dragValue(grabOffset, event->position().toPoint().y()));
    }
}

void TVSlider::mouseReleaseEvent(QMouseEvent* event) {
    const int y = event->position().toPoint().y();
    if (event->button() == Qt::LeftButton) {
        dragging = false;
        m_hintShown = m_look.showsHints;
    } else if (event->button() == Qt::RightButton && m_hiLimit != m_loLimit &&
               sliderGeometry().onThumb(m_currentPos, y)) {
        SetCurrentPos(controls::slider::centreValue(m_loLimit, m_hiLimit));
    }
}
