#pragma once

#include "Vslider.h"

// The echo amount: a slim slider whose small thumb lights up once the echo is audible.
// Its hint reads 50 % .. 150 % but never pops up; the percentage is only kept as text.
class TEchoTrackbar : public TVSlider {
    Q_OBJECT

public:
    // Positions above this light the thumb: below it no echo is heard.
    static constexpr int LitAbove = 10;

    explicit TEchoTrackbar(QWidget* parent = nullptr);

protected:
    QString hintFor(int position) const override;
    QColor thumbCentre() const override;
    QPixmap& sharedFace() const override;
};
