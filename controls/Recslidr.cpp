#include "Recslidr.h"

#include <QPainter>

TRecSlider::TRecSlider(QWidget* parent) : TVSlider(Look{}, parent) {
    initHint();
}

void TRecSlider::SetImage(const QPixmap& picture) {
    if (picture.cacheKey() == m_image.cacheKey()) {
        return;
    }
    m_image = picture;
    emit ImageChanged();
    update();
}

void TRecSlider::paintOverThumb(QPainter& painter, int thumbTop) const {
    if (!m_image.isNull()) {
        painter.drawPixmap(0, thumbTop, m_image);
    }
}

QPixmap& TRecSlider::sharedFace() const {
    static QPixmap face;
    return face;
}
