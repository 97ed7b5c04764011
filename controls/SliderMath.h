#pragma once

#include <QString>

// The arithmetic shared by the vertical sliders: where the thumb sits for a value, which
// value a pointer position means, and the percentage hint. Every rounding here rounds
// halves to the even neighbour, so that a slider lands on the same values as the mixer
// arithmetic that reads its position.
namespace controls::slider {

// round(numerator / denominator), halves to even; denominator must not be 0.
int roundHalfEven(long long numerator, long long denominator);

// A slider of `height` pixels whose thumb is `thumb` pixels tall, LoLimit at the bottom
// and HiLimit at the top. The limits must differ.
struct Geometry {
    int height = 60;
    int thumb = 28;
    int loLimit = 0;
    int hiLimit = 63;

    int travel() const { return height - thumb; }
    // Distance of the thumb from the bottom for `position`.
    int offset(int position) const;
    int thumbTop(int position) const { return height - thumb - offset(position); }
    // One past the thumb's last row.
    int thumbBottom(int position) const { return height - offset(position); }
    bool onThumb(int position, int y) const {
        return thumbTop(position) <= y && y <= thumbBottom(position);
    }
    // The value under the pointer while the thumb, grabbed `grabOffset` pixels below its
    // top edge, is dragged to `y`. Not clamped: the setter clamps.
    int dragValue(int grabOffset, int y) const;
    // A click beside the thumb walks the value one step at a time until the thumb's near
    // edge reaches the pointer, so the thumb jumps to the pointer instead of by a page.
    int clickValue(int position, int y) const;
};

// The value a right click on the thumb centres on.
int centreValue(int loLimit, int hiLimit);

// The hint's percentage, 0..100; the 99 that the scale tops out at reads as 100.
int hintPercent(int position, int loLimit, int hiLimit);
// The echo slider's percentage, 50..150.
int echoHintPercent(int position, int loLimit, int hiLimit);
QString hintText(int percent);

}  // namespace controls::slider
