#include <algorithm>

#include "SequencerHarness.h"
#include "StuckSink.h"
#include "midi_backend.h"

using namespace testing_support;

namespace {

using StalledDevice = SequencerTest;

bool songEnded() {
    return pulsant::engine().songEnded.load();
}

// Guards against a timer thread that waits on a device which has stopped taking messages
// (the song would not reach its end while the device holds the first one), and a
// queued device that loses, reorders or re-times what it is given, or lets the stop's
// reset overtake it.
TEST_F(StalledDevice, SongPlaysToItsEndAndTheDeviceGetsEverythingLater) {
    platform::setClockMode(platform::ClockMode::Virtual);
    Track melody;
    Track chords;
    for (int q = 0; q < 120; ++q) {
        melody.noteOn(q == 0 ? 0 : 12, 0, 60 + q % 12, 100).noteOff(12, 0, 60 + q % 12);
        chords.noteOn(q == 0 ? 0 : 19, 1, 48 + q % 7, 90).control(5, 1, 7, q % 128);
    }
    melody.end(96);
    chords.end();
    const ByteVector song = smf(1, 96, {melody, chords});

    // The capture device stamps its times from the open; the port gets the clock itself.
    std::uint64_t openedAt = platform::clockMicros();
    ASSERT_TRUE(start(song));
    ASSERT_TRUE(eventually(songEnded));
    const std::vector<Captured> captured = stopAndRead();

    StuckSink sink;
    platform::detail::setTestPort("Stuck port", sink.wire());
    struct Cleanup {
        StuckSink& sink;
        platform::WindowHandle window;
        ~Cleanup() {
            sink.release();
            CallStopSong(window);
            platform::detail::setTestPort("", {});
        }
    } cleanup{sink, window()};
    m_ini = m_dir.writeText("settings.ini", "[Selected midi device]\nDevice name=Stuck port\n");
    openedAt = platform::clockMicros();
    ASSERT_TRUE(start(song));
    ASSERT_TRUE(eventually(songEnded));
    ASSERT_TRUE(sink.waitUntilHolding());
    EXPECT_EQ(sink.handed().size(), 1u);  // the song is over; the port holds its first message
    sink.release();
    CallStopSong(window());

    const std::vector<Handed> handed = sink.handed();
    constexpr std::size_t kReset = 32;  // sustain off and all notes off, 16 channels
    ASSERT_EQ(handed.size(), captured.size() + kReset);
    bool stopping = false;
    for (std::size_t i = 0; i < captured.size(); ++i) {
        SCOPED_TRACE(i);
        const Captured& c = captured[i];
        const std::uint32_t message = static_cast<std::uint32_t>(c.status) |
                                      static_cast<std::uint32_t>(std::max(c.data1, 0)) << 8 |
                                      static_cast<std::uint32_t>(std::max(c.data2, 0)) << 16;
        EXPECT_EQ(handed[i].message, message);
        // From the stop's first sustain off on, the times are the stop's own, which
        // differs between the two runs.
        stopping = stopping || ((c.status & 0xF0) == 0xB0 && c.data1 == 64);
        if (!stopping) {
            EXPECT_EQ(handed[i].micros - openedAt, c.micros);
        }
    }
    for (std::size_t i = captured.size(); i < handed.size(); ++i) {
        const std::uint32_t controller = (handed[i].message >> 8) & 0xFF;
        EXPECT_EQ(handed[i].message & 0xF0, 0xB0u);
        EXPECT_TRUE(controller == 64 || controller == 123) << i;
    }
}

}  // namespace
