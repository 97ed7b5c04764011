// The arithmetic behind the sliders and the meter, tested without widgets.

#include <gtest/gtest.h>

#include "SliderMath.h"
#include "Vledrow.h"

using controls::slider::Geometry;

namespace {

struct Division {
    long long numerator;
    long long denominator;
    int expected;
};

class RoundHalfEvenTest : public ::testing::TestWithParam<Division> {};

// Guards against truncating or rounding halves away from zero (or the wrong way for negatives).
TEST_P(RoundHalfEvenTest, RoundsHalvesToTheEvenNeighbour) {
    const Division d = GetParam();
    EXPECT_EQ(controls::slider::roundHalfEven(d.numerator, d.denominator), d.expected)
        << d.numerator << " / " << d.denominator;
}

INSTANTIATE_TEST_SUITE_P(Table, RoundHalfEvenTest,
                         ::testing::Values(Division{1, 2, 0}, Division{3, 2, 2}, Division{5, 2, 2},
                                           Division{-1, 2, 0}, Division{-3, 2, -2},
                                           Division{-5, 2, -2}, Division{7, -2, -4},
                                           Division{5, 3, 2}, Division{-5, 3, -2},
                                           Division{4, 3, 1}, Division{-4, 3, -1},
                                           Division{0, 7, 0}));

// Guards against a wrong percentage scale or a missing 99-as-100 step on the track and voice
// sliders.
TEST(SliderHint, PercentOfTheRange) {
    using controls::slider::hintPercent;
    EXPECT_EQ(hintPercent(0, -32, 31), 50);
    EXPECT_EQ(hintPercent(31, -32, 31), 100);
    EXPECT_EQ(hintPercent(-32, -32, 31), 0);
    EXPECT_EQ(hintPercent(31, 0, 63), 49);
    EXPECT_EQ(hintPercent(62, 0, 63), 97);
    EXPECT_EQ(hintPercent(63, 0, 63), 100);
    EXPECT_EQ(controls::slider::hintText(49), QStringLiteral("49 %"));
}

// Guards against the echo slider losing its 50 % offset or its 149-as-150 step.
TEST(SliderHint, EchoPercentRunsFrom50To150) {
    using controls::slider::echoHintPercent;
    EXPECT_EQ(echoHintPercent(0, 0, 500), 50);
    EXPECT_EQ(echoHintPercent(500, 0, 500), 150);
    EXPECT_EQ(echoHintPercent(495, 0, 500), 148);
    EXPECT_EQ(echoHintPercent(250, 0, 500), 100);
}

// Guards against centring by truncation, which lands a 0..63 slider on 31 instead of 32.
TEST(SliderCentre, RightClickCentreRoundsHalvesToEven) {
    using controls::slider::centreValue;
    EXPECT_EQ(centreValue(0, 63), 32);
    EXPECT_EQ(centreValue(-32, 31), 0);
    EXPECT_EQ(centreValue(0, 500), 250);
    EXPECT_EQ(centreValue(1, 4), 2);
    EXPECT_EQ(centreValue(-4, -1), -2);
}

// Guards against an upside-down scale or an off-by-one thumb: LoLimit sits at the bottom.
TEST(SliderGeometry, ThumbPlacement) {
    const Geometry g{60, 28, 0, 63};
    EXPECT_EQ(g.thumbTop(0), 32);
    EXPECT_EQ(g.thumbBottom(0), 60);
    EXPECT_EQ(g.thumbTop(63), 0);
    EXPECT_EQ(g.thumbTop(31), 16);  // 32 * 31 / 63 = 15.7 rounds to 16
    EXPECT_EQ(g.thumbBottom(31), 44);
    EXPECT_TRUE(g.onThumb(31, 16));
    EXPECT_TRUE(g.onThumb(31, 44));
    EXPECT_FALSE(g.onThumb(31, 15));
    EXPECT_FALSE(g.onThumb(31, 45));
    const Geometry echo{54, 8, 0, 500};
    EXPECT_EQ(echo.thumbTop(500), 0);
    EXPECT_EQ(echo.thumbTop(0), 46);
}

// Guards against a click beside the thumb moving by a page instead of to the pointer.
TEST(SliderGeometry, ClickBesideTheThumbBringsItsEdgeToThePointer) {
    const Geometry g{60, 28, 0, 63};
    const int down = g.clickValue(31, 50);
    EXPECT_EQ(down, 20);
    EXPECT_GE(g.thumbBottom(down), 50);
    EXPECT_LT(g.thumbBottom(down + 1), 50);
    const int up = g.clickValue(31, 5);
    EXPECT_EQ(up, 53);
    EXPECT_LE(g.thumbTop(up), 5);
    EXPECT_GT(g.thumbTop(up - 1), 5);
    EXPECT_EQ(g.clickValue(31, 30), 31);
}

// Guards against the step walk running past a limit (or never ending) for a far-away pointer.
TEST(SliderGeometry, ClickWalkStopsAtTheLimits) {
    const Geometry g{60, 28, -32, 31};
    EXPECT_EQ(g.clickValue(0, 10000), -32);
    EXPECT_EQ(g.clickValue(0, -10000), 31);
}

// Guards against LoLimit being added after rounding, which shifts odd-limited sliders by one.
TEST(SliderGeometry, DragValueRoundsWithTheLowerLimitIncluded) {
    // 16 pixels of 32 on a 63-wide scale is 31.5: from -31 that is 0.5, which rounds to 0.
    EXPECT_EQ((Geometry{60, 28, -31, 32}.dragValue(10, 26)), 0);
    EXPECT_EQ((Geometry{60, 28, 0, 63}.dragValue(10, 26)), 32);
    // The top of the travel is HiLimit; beyond it the value is left for the setter to clamp.
    EXPECT_EQ((Geometry{60, 28, 0, 63}.dragValue(4, 4)), 63);
    EXPECT_GT((Geometry{60, 28, 0, 63}.dragValue(4, -20)), 63);
}

// Guards against levels outside the meter lighting nothing sensible, and LEDs in the wrong colour
// band.
TEST(LedMeter, LevelsAndColours) {
    EXPECT_EQ(TVLEDRow::clampLevel(-3), 0);
    EXPECT_EQ(TVLEDRow::clampLevel(25), 19);
    EXPECT_EQ(TVLEDRow::clampLevel(20), 19);
    EXPECT_EQ(TVLEDRow::clampLevel(19), 19);
    EXPECT_EQ(TVLEDRow::clampLevel(7), 7);
    EXPECT_EQ(TVLEDRow::colourOf(1), TVLEDRow::LedColour::Green);
    EXPECT_EQ(TVLEDRow::colourOf(10), TVLEDRow::LedColour::Green);
    EXPECT_EQ(TVLEDRow::colourOf(11), TVLEDRow::LedColour::Yellow);
    EXPECT_EQ(TVLEDRow::colourOf(15), TVLEDRow::LedColour::Yellow);
    EXPECT_EQ(TVLEDRow::colourOf(16), TVLEDRow::LedColour::Red);
    EXPECT_EQ(TVLEDRow::colourOf(19), TVLEDRow::LedColour::Red);
    EXPECT_EQ(TVLEDRow::ledPosition(1), QPoint(4, 78));
    EXPECT_EQ(TVLEDRow::ledPosition(19), QPoint(4, 6));
    EXPECT_TRUE(TVLEDRow::ledArea().contains(QRect(4, 6, 11, 5)));
    EXPECT_TRUE(TVLEDRow::ledArea().contains(QRect(4, 78, 11, 5)));
}

}  // namespace
