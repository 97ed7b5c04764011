#include <atomic>
#include <set>
#include <thread>
#include <utility>

#include "SequencerHarness.h"

using namespace testing_support;

namespace {

// Runs the real timer thread (on the virtual clock) while the caller's thread steers and
// polls, as the window does. Guards against data races between the two threads (run
// under ThreadSanitizer) and against a control call that deadlocks with the routine.
TEST_F(SequencerTest, SteeringWhileTheTimerThreadPlays) {
    platform::setClockMode(platform::ClockMode::Virtual);
    Track melody;
    Track chords;
    for (int q = 0; q < 400; ++q) {
        melody.noteOn(q == 0 ? 0 : 48, 0, 60 + q % 12, 100).noteOff(48, 0, 60 + q % 12);
        chords.noteOn(q == 0 ? 0 : 96, 1, 48 + q % 7, 90).control(0, 1, 7, q % 128);
    }
    melody.end();
    chords.end();
    ASSERT_TRUE(start(smf(1, 96, {melody, chords})));
    std::atomic<bool> done{false};
    std::thread poller([&] {
        std::array<std::uint16_t, 64> levels{};
        int minutes = 0;
        int seconds = 0;
        while (!done.load()) {
            CallGetTime(window(), &minutes, &seconds);
            CallGetLyricCounterDLL(window());
            CallCheckActivity(window(), levels.data());
        }
    });
    std::array<std::int16_t, 64> volumes{};
    for (int round = 0; round < 200 && CallGetTime(window(), nullptr, nullptr) == 1; ++round) {
        switch (round % 7) {
            case 0: CallPauseSong(window()); CallPauseSong(window()); break;
            case 1: CallSetTransposition(window(), round % 5 - 2); break;
            case 2: CallChangeTempo(window(), 40 + round); break;
            case 3: volumes[0] = static_cast<std::int16_t>(round % 20); CallSetVolumeDLL(window(), volumes.data()); break;
            case 4: CallChangeInstrumentDLL(1, 1, round % 128); break;
            case 5: CallRewind(window()); break;
            default: CallFastForward(window()); break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    done = true;
    poller.join();
    CallStopSong(window());
    platform::setClockMode(platform::ClockMode::Manual);
    // Every note switched on was switched off again by the end: by a note-off (or a note-on
    // at velocity 0) of its channel and key, or by All Notes Off on its channel, sent after it.
    const auto all = readCapture(m_capture);
    ASSERT_FALSE(all.empty());
    std::set<std::pair<int, int>> sounding;  // channel, key
    int noteOns = 0;
    for (const Captured& c : all) {
        const int kind = c.status & 0xF0;
        if (c.isNoteOn()) {
            sounding.insert({c.channel(), c.data1});
            ++noteOns;
        } else if (kind == 0x80 || kind == 0x90) {
            sounding.erase({c.channel(), c.data1});
        } else if (kind == 0xB0 && c.data1 == 123) {
            std::erase_if(sounding, [&](const auto& note) { return note.first == c.channel(); });
        }
    }
    EXPECT_GT(noteOns, 0) << "the song never played";
    for (const auto& [channel, key] : sounding) {
        ADD_FAILURE() << "channel " << channel << " key " << key << " is still sounding";
    }
}

}  // namespace
