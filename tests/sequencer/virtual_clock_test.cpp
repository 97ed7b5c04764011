// On the virtual clock the player jumps from one due event to the next instead of
// counting every millisecond in between, and must send exactly what, and exactly when,
// it would have sent counting.

#include <chrono>
#include <thread>

#include "SequencerHarness.h"

using namespace testing_support;

namespace {

class VirtualClock : public SequencerTest {
protected:
    void SetUp() override {
        SequencerTest::SetUp();
        platform::setClockMode(platform::ClockMode::Virtual);
    }
    void TearDown() override {
        platform::setTimerSkipsAllowed(true);
        SequencerTest::TearDown();
        platform::setClockMode(platform::ClockMode::Manual);
    }

    // Plays the song to its end on the virtual clock; false if that took longer than the
    // watchdog allows (a clock stepping every millisecond through a long silence).
    bool playToEnd(const ByteVector& song, std::chrono::seconds watchdog) {
        if (!start(song)) {
            return false;
        }
        const auto giveUp = std::chrono::steady_clock::now() + watchdog;
        while (!engineOf().songEnded.load()) {
            if (std::chrono::steady_clock::now() > giveUp) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    struct Run {
        std::vector<Captured> messages;
        std::array<std::uint16_t, 64> activity{};
    };

    Run run(const ByteVector& song, bool skips) {
        platform::setTimerSkipsAllowed(skips);
        Run result;
        EXPECT_TRUE(playToEnd(song, std::chrono::seconds(60)));
        // The levels stand still once the song has ended.
        CallCheckActivity(window(), result.activity.data());
        // What the song sent: the stop's silence comes at whatever time the stop is made.
        for (const Captured& c : stopAndRead()) {
            if ((c.status & 0xF0) == 0xB0 && (c.data1 == 64 || c.data1 == 123)) {
                break;
            }
            result.messages.push_back(c);
        }
        return result;
    }
};

// Guards against a jump that lands a period early or late, loses the carried fraction
// of a period, or lets the activity levels fall by more or less than counting would.
TEST_F(VirtualClock, JumpingSendsWhatCountingSends) {
    Track melody;
    Track drums;
    for (int q = 0; q < 200; ++q) {
        melody.noteOn(q == 0 ? 0 : 37, 0, 60 + q % 12, 40 + q % 80)
            .noteOff(53 + q % 7, 0, 60 + q % 12);
        drums.noteOn(q == 0 ? 5 : 90 + q % 3, 9, 36, 127).noteOff(1, 9, 36);
    }
    // Notes just before the end leave levels that the last silence lowers.
    melody.control(1000, 0, 7, 90)
        .noteOn(0, 0, 70, 90)
        .noteOn(0, 0, 74, 90)
        .noteOn(0, 0, 77, 90)
        .end(37);
    drums.end();
    const ByteVector song = smf(1, 384, {melody, drums});
    const Run counted = run(song, false);
    const Run jumped = run(song, true);
    ASSERT_EQ(counted.messages.size(), jumped.messages.size());
    for (std::size_t i = 0; i < counted.messages.size(); ++i) {
        const Captured& a = counted.messages[i];
        const Captured& b = jumped.messages[i];
        ASSERT_EQ(std::tie(a.micros, a.status, a.data1, a.data2),
                  std::tie(b.micros, b.status, b.data1, b.data2))
            << "message " << i;
    }
    EXPECT_EQ(counted.activity, jumped.activity);
}

// Guards against a long silence costing its length to simulate: a note sixteen days
// after the start sounds at its exact time, and the song ends long before the watchdog.
TEST_F(VirtualClock, SixteenDaysOfSilencePassAtOnce) {
    constexpr std::uint32_t kTicks = 16u * 86'400u * 192u;  // division 96 at 120 bpm
    Track track;
    track.noteOn(kTicks, 0, 64, 100).noteOff(96, 0, 64).end();
    ASSERT_TRUE(playToEnd(smf(0, 96, {track}), std::chrono::seconds(30)));
    const auto ons = noteOns(stopAndRead());
    ASSERT_EQ(ons.size(), 1u);
    EXPECT_EQ(ons[0].micros, 16ull * 86'400ull * 1'000'000ull);
}

}  // namespace
