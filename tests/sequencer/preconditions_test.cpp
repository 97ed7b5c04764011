// Calls the window may make in the wrong state must leave the engine whole: no track
// freed under the timer thread, no device left claimed, no failure reported as success.
// The song plays on a real timer thread (virtual clock) so that ThreadSanitizer and
// AddressSanitizer see the two threads meet.

#include <chrono>
#include <thread>

#include "SequencerHarness.h"
#include "platform/dialogs.h"

using namespace testing_support;

namespace {

class Preconditions : public SequencerTest {
protected:
    void SetUp() override {
        SequencerTest::SetUp();
        platform::setClockMode(platform::ClockMode::Virtual);
    }
    void TearDown() override {
        platform::setTimerStartFault(false);
        SequencerTest::TearDown();
        platform::setClockMode(platform::ClockMode::Manual);
    }

    // A song long enough to be playing whatever the timer thread does meanwhile.
    static ByteVector longSong(int firstNote) {
        Track track;
        for (int q = 0; q < 20'000; ++q) {
            track.noteOn(q == 0 ? 0 : 96, 0, firstNote + q % 12, 100)
                .noteOff(48, 0, firstNote + q % 12);
        }
        return smf(0, 96, {track.end()});
    }

    bool startFile(const std::string& file) {
        return (CallStartSong(file.c_str(), window(), &m_division, 0, m_volumes.data(),
                              m_instruments.data(), 0, m_ini.c_str()) &
                0xFF) == 1;
    }

    // True when nothing holds the capture device any more.
    static bool deviceFree() {
        platform::MidiOutHandle handle = 0;
        const auto id = static_cast<std::int32_t>(platform::midiOutDeviceCount() - 1);
        if (platform::midiOutOpen(&handle, id) != platform::MidiError::Ok) {
            return false;
        }
        platform::midiOutClose(handle);
        return true;
    }

    static bool anySlotLoaded() {
        for (const pulsant::TrackSlot& slot : engineOf().slots) {
            if (slot.present) {
                return true;
            }
        }
        return false;
    }
};

// Guards against the device probe clearing the track slots while the timer thread plays
// them (a use-after-free), or failing because the playing song holds the device.
TEST_F(Preconditions, ProbingTheDeviceStopsThePlayingSongFirst) {
    platform::ScriptedMessageBoxes boxes;
    ASSERT_TRUE(start(longSong(60)));
    EXPECT_EQ(CallInitMIDIOut(window(), m_ini.c_str()), 1);
    EXPECT_EQ(CallGetTime(window(), nullptr, nullptr), 0) << "the song should have stopped";
    EXPECT_FALSE(anySlotLoaded());
    EXPECT_TRUE(deviceFree());
    EXPECT_TRUE(boxes.shown().empty());
}

// Guards against a second start leaving the first song's timer running and its device
// claimed, which made the new open fail.
TEST_F(Preconditions, StartingWhilePlayingReplacesTheSong) {
    platform::ScriptedMessageBoxes boxes;
    ASSERT_TRUE(start(longSong(60)));
    Track other;
    other.noteOn(0, 3, 90, 100).noteOff(96, 3, 90).end();
    const std::string second = m_dir.write("second.mid", smf(0, 96, {other}));
    ASSERT_TRUE(startFile(second));
    EXPECT_TRUE(boxes.shown().empty());
    // The virtual clock's own thread plays it to the end.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!engineOf().songEnded.load() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto all = stopAndRead();
    const bool secondPlayed = std::any_of(all.begin(), all.end(), [](const Captured& c) {
        return c.status == 0x93 && c.data1 == 90;
    });
    EXPECT_TRUE(secondPlayed);
    EXPECT_TRUE(deviceFree());
}

// Guards against a song without a clock reported as started (the window would wait for
// an end that never comes) and against its device and tracks staying claimed.
TEST_F(Preconditions, AStartWithoutATimerFailsAndReleasesEverything) {
    platform::ScriptedMessageBoxes boxes;
    platform::setTimerStartFault(true);
    EXPECT_FALSE(start(longSong(60)));
    platform::setTimerStartFault(false);
    EXPECT_EQ(CallGetTime(window(), nullptr, nullptr), 0);
    EXPECT_FALSE(anySlotLoaded());
    EXPECT_TRUE(deviceFree());
    EXPECT_TRUE(start(longSong(60))) << "the next start works";
}

}  // namespace
