#pragma once

#include "Vslider.h"

// The voice column's sliders (playback and recording volume): a track slider with a
// picture on its thumb.
class TRecSlider : public TVSlider {
    Q_OBJECT
    Q_PROPERTY(QPixmap Image READ Image WRITE SetImage NOTIFY ImageChanged)

public:
    explicit TRecSlider(QWidget* parent = nullptr);

    QPixmap Image() const { return m_image; }
    void SetImage(const QPixmap& picture);

signals:
    void ImageChanged();

protected:
    void paintOverThumb(QPainter& painter, int thumbTop) const override;
    QPixmap& sharedFace() const override;

private:
    QPixmap m_image;
};
