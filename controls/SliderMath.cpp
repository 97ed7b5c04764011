#include "SliderMath.h"

namespace controls::slider {

int roundHalfEven(long long numerator, long long denominator) {
    if (denominator < 0) {
        numerator = -numerator;
        denominator = -denominator;
    }
    long long quotient = numerator / denominator;
    long long remainder = numerator % denominator;
    // Division truncates towards zero; move to the floor so the remainder is never negative.
    if (remainder < 0) {
        quotient -= 1;
        remainder += denominator;
    }
    const long long twice = 2 * remainder;
    if (twice > denominator || (twice == denominator && quotient % 2 != 0)) {
        quotient += 1;
    }
    return static_cast<int>(quotient);
}

int Geometry::offset(int position) const {
    return roundHalfEven(static_cast<long long>(travel()) * (position - loLimit),
                         static_cast<long long>(hiLimit) - loLimit);
}

int Geometry::dragValue(int grabOffset, int y) const {
    if (travel() <= 0) {
        // A slider squeezed to its thumb's height has no travel to map.
        return loLimit;
    }
    const long long span = static_cast<long long>(hiLimit) - loLimit;
    const long long pixels = static_cast<long long>(height) + grabOffset - y - thumb;
    // LoLimit joins before rounding: rounding halves to even depends on the whole value.
    return roundHalfEven(pixels * span + static_cast<long long>(loLimit) * travel(), travel());
}

int Geometry::clickValue(int position, int y) const {
    int value = position;
    if (y > thumbBottom(value)) {
        while (value > loLimit && thumbBottom(value) < y) {
            --value;
        }
    } else if (y < thumbTop(value)) {
        while (value < hiLimit && thumbTop(value) > y) {
            ++value;
        }
    }
    return value;
}

int centreValue(int loLimit, int hiLimit) {
    return roundHalfEven(static_cast<long long>(hiLimit) + loLimit, 2);
}

int hintPercent(int position, int loLimit, int hiLimit) {
    const int percent = roundHalfEven(static_cast<long long>(position - loLimit) * 99,
                                      static_cast<long long>(hiLimit) - loLimit);
    return percent == 99 ? 100 : percent;
}

int echoHintPercent(int position, int loLimit, int hiLimit) {
    const int percent = roundHalfEven(static_cast<long long>(position - loLimit) * 99,
                                      static_cast<long long>(hiLimit) - loLimit) +
                        50;
    return percent == 149 ? 150 : percent;
}

QString hintText(int percent) {
    return QString::number(percent) + QStringLiteral(" %");
}

}  // namespace controls::slider
