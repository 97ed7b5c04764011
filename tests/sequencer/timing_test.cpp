#include <cmath>

#include "SequencerHarness.h"

using namespace testing_support;

namespace {

struct TimingCase {
    int division;
    int tempo;          // passed to the start; 0 = the song's own
    int fileMicros;     // Set Tempo of the song, 0 = none
    double bpm;         // the tempo that must be heard
};

class TempoAccuracy : public SequencerTest, public ::testing::WithParamInterface<TimingCase> {};

// Guards against waits that lose a fraction of a period each and so run the song fast:
// every note must sound within one period of its exact time, however long the song.
TEST_P(TempoAccuracy, EveryEventWithinOnePeriodOfItsExactTime) {
    const TimingCase c = GetParam();
    Track track;
    if (c.fileMicros != 0) {
        track.tempo(0, static_cast<std::uint32_t>(c.fileMicros));
    }
    // Irregular distances, from one tick to several quarters, over 64 quarters.
    std::vector<std::uint64_t> ticks;
    const std::uint64_t total = 64ull * static_cast<std::uint64_t>(c.division);
    std::uint64_t at = 0;
    std::uint32_t seed = 12345;
    while (true) {
        seed = seed * 1103515245u + 12345u;
        const std::uint64_t step = 1 + (seed >> 8) % (3ull * c.division);
        if (at + step > total) {
            break;
        }
        track.noteOn(static_cast<std::uint32_t>(step), 0, 60, 100);
        at += step;
        ticks.push_back(at);
    }
    track.end(static_cast<std::uint32_t>(total - at));
    ASSERT_TRUE(start(smf(0, c.division, {track}), 0, c.tempo));
    const std::uint32_t ms = runToEnd(2'000'000);
    const auto ons = noteOns(stopAndRead());
    ASSERT_EQ(ons.size(), ticks.size());
    const double microsPerTick = 60e6 / (c.bpm * c.division);
    double worst = 0;
    for (std::size_t i = 0; i < ons.size(); ++i) {
        const double error = static_cast<double>(ons[i].micros) - static_cast<double>(ticks[i]) * microsPerTick;
        worst = std::max(worst, std::abs(error));
    }
    EXPECT_LE(worst, 1000.0) << "worst lateness in microseconds";
    const double nominalMs = static_cast<double>(total) * microsPerTick / 1000.0;
    EXPECT_LE(std::abs(ms - nominalMs), 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    DivisionsAndTempi, TempoAccuracy,
    ::testing::Values(TimingCase{1, 40, 0, 40}, TimingCase{24, 120, 0, 120}, TimingCase{96, 0, 0, 120},
                      TimingCase{192, 240, 0, 240}, TimingCase{480, 120, 0, 120},
                      TimingCase{480, 97, 0, 97}, TimingCase{960, 40, 0, 40},
                      TimingCase{1920, 200, 0, 200}, TimingCase{32767, 240, 0, 240},
                      TimingCase{32767, 40, 0, 40}, TimingCase{480, 0, 200000, 300},
                      TimingCase{96, 0, 3000000, 20}));

// Guards against a tempo change that cuts the wait in progress short instead of applying
// from the next wait.
TEST_F(SequencerTest, TempoChangeAppliesFromTheNextWait) {
    Track track;
    track.noteOn(0, 0, 60, 100).noteOn(96, 0, 61, 100).noteOn(96, 0, 62, 100).end(0);
    ASSERT_TRUE(start(smf(0, 96, {track})));  // 120 bpm: 500 ms a quarter
    advance(100);
    CallChangeTempo(window(), 60);
    EXPECT_EQ(CallGetTempo(window()), 60);
    runToEnd();
    const auto ons = noteOns(stopAndRead());
    ASSERT_EQ(ons.size(), 3u);
    EXPECT_EQ(ons[1].micros, 500'000u);
    EXPECT_EQ(ons[2].micros, 1'500'000u);
}

}  // namespace
