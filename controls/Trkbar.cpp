#include "Trkbar.h"

TEchoTrackbar::TEchoTrackbar(QWidget* parent)
    : TVSlider(Look{.thumbHeight = 8,
                    .face = QColor(167, 167, 167),
                    .groove = QColor(0, 0, 0),
                    .grooveWidth = 2,
                    .showsHints = false},
               parent) {
    initHint();
}

QString TEchoTrackbar::hintFor(int position) const {
    if (HiLimit() == LoLimit()) {
        return {};
    }
    return controls::slider::hintText(
        controls::slider::echoHintPercent(position, LoLimit(), HiLimit()));
}

QColor TEchoTrackbar::thumbCentre() const {
    return CurrentPos() > LitAbove ? QColor(255, 255, 0) : QColor(128, 128, 128);
}

QPixmap& TEchoTrackbar::sharedFace() const {
    static QPixmap face;
    return face;
}
