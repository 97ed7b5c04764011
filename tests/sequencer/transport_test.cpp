#include <algorithm>

#include "SequencerHarness.h"

using namespace testing_support;

namespace {

using Transport = SequencerTest;

// A song of `quarters` quarter notes at 96 ticks each, one note per quarter on channel 0,
// with a controller and a program change on the way.
ByteVector quarterSong(int quarters) {
    Track track;
    track.program(0, 0, 10).noteOn(0, 0, 60, 100);
    for (int q = 1; q < quarters; ++q) {
        track.noteOff(96, 0, 60 + q - 1);
        if (q == quarters / 2) {
            track.control(0, 0, 7, 77).program(0, 0, 20);
        }
        track.noteOn(0, 0, 60 + q, 100);
    }
    track.noteOff(96, 0, 60 + quarters - 1).end(0);
    return smf(0, 96, {track});
}

// Guards against a pause that leaves notes sounding or lets time run on, and a resume that
// loses the wait in progress.
TEST_F(Transport, PauseStopsTheClockAndResumeFinishesTheWait) {
    ASSERT_TRUE(start(quarterSong(8)));  // 120 bpm: a quarter every 500 ms
    advance(700);
    int minutes = -1;
    int seconds = -1;
    CallPauseSong(window());
    const std::uint32_t pausedAt = CallGetLyricCounterDLL(window());
    advance(5000);
    EXPECT_EQ(CallGetTime(window(), &minutes, &seconds), 1);
    EXPECT_EQ(CallGetLyricCounterDLL(window()), pausedAt);
    CallPauseSong(window());
    advance(300);  // 700 + 300: the third quarter
    const auto all = stopAndRead();
    const auto ons = noteOns(all);
    ASSERT_GE(ons.size(), 3u);
    EXPECT_EQ(ons[1].micros, 500'000u);
    EXPECT_EQ(ons[2].micros, 6'000'000u);  // 1000 ms of song + 5000 ms paused
    const bool silenced = std::any_of(all.begin(), all.end(), [](const Captured& c) {
        return c.micros == 700'000u && c.status == 0x80 && c.data1 == 61;
    });
    EXPECT_TRUE(silenced);
}

// Guards against a seek that sounds notes, or skips the controllers and programs met on
// the way, and against a fast forward landing anywhere but a tenth further.
TEST_F(Transport, FastForwardSeeksSilentlyByATenth) {
    ASSERT_TRUE(start(quarterSong(40)));  // 3840 ticks; a tenth is 384
    advance(9001);                        // quarter 18 (tick 1728) has played
    CallFastForward(window());
    const std::uint32_t position = engineOf().songPosition.load();
    EXPECT_GE(position, 1728u + 384u);
    EXPECT_LT(position, 1728u + 384u + 96u);
    const auto all = stopAndRead();
    const auto atSeek = [&](const Captured& c) { return c.micros == 9'001'000u; };
    std::vector<Captured> seek;
    std::copy_if(all.begin(), all.end(), std::back_inserter(seek), atSeek);
    ASSERT_FALSE(seek.empty());
    EXPECT_TRUE(std::all_of(seek.begin(), seek.end(), [](const Captured& c) {
        return (c.status & 0xF0) != 0x90 || c.data2 == 0;
    }));
    EXPECT_TRUE(std::any_of(seek.begin(), seek.end(), [](const Captured& c) {
        return c.status == 0xB0 && c.data1 == 7 && c.data2 == 77;
    }));
    EXPECT_TRUE(std::any_of(seek.begin(), seek.end(), [](const Captured& c) {
        return c.status == 0xC0 && c.data1 == 20;
    }));
}

// Guards against a fast forward past the end that leaves the song half alive.
TEST_F(Transport, FastForwardWithinTheLastTenthStopsTheSong) {
    ASSERT_TRUE(start(quarterSong(10)));  // 960 ticks
    advance(4600);                        // tick ~883
    CallFastForward(window());
    int minutes = 0;
    int seconds = 0;
    EXPECT_EQ(CallGetTime(window(), &minutes, &seconds), 0);
    EXPECT_FALSE(engineOf().playing.load());
}

// Guards against a rewind that goes further than a tenth, or fails near the start.
TEST_F(Transport, RewindGoesBackATenthOrToTheStart) {
    ASSERT_TRUE(start(quarterSong(40)));  // a tenth is 384 ticks
    advance(10'100);                      // tick 1920 has played
    CallRewind(window());
    const std::uint32_t position = engineOf().songPosition.load();
    // The seek stops once the next event lies a tenth back: 1536 is due next.
    EXPECT_GT(position, 1536u - 96u - 1u);
    EXPECT_LE(position, 1536u);
    CallStopSong(window());

    ASSERT_TRUE(start(quarterSong(40)));
    advance(600);  // tick 96, within the first tenth
    CallRewind(window());
    EXPECT_EQ(engineOf().songPosition.load(), 0u);
}

// Guards against the end of the song going unnoticed: the end message every tick from the
// tick after the last events, and no time once ended.
TEST_F(Transport, EndedSongPostsItsMessageEveryTick) {
    Track track;
    track.noteOn(0, 0, 60, 100).noteOff(96, 0, 60).end(0);
    ASSERT_TRUE(start(smf(0, 96, {track})));
    advance(500);  // the last events play at 500 ms
    EXPECT_EQ(countMessages(platform::kSongEndedMessage), 0);
    advance(1);
    EXPECT_TRUE(engineOf().songEnded.load());
    advance(10);
    EXPECT_EQ(countMessages(platform::kSongEndedMessage), 10);
    int minutes = 0;
    int seconds = 0;
    EXPECT_EQ(CallGetTime(window(), &minutes, &seconds), 0);
}

// Guards against a file that cannot be read failing the start or playing forever.
TEST_F(Transport, UnreadableSongEndsAtOnce) {
    EXPECT_EQ(CallStartSong(m_dir.path("missing.mid").c_str(), window(), &m_division, 0,
                            m_volumes.data(), m_instruments.data(), 0, m_ini.c_str()) & 0xFF,
              1);
    advance(2);
    EXPECT_TRUE(engineOf().songEnded.load());
    EXPECT_GE(countMessages(platform::kSongEndedMessage), 1);
}

// Guards against a time display that moves while paused, ignores a tempo change, or
// divides by a zero division.
TEST_F(Transport, TimeFollowsTheTempoAndSurvivesAZeroDivision) {
    ASSERT_TRUE(start(quarterSong(200)));  // 120 bpm, 96 ticks: 192 ticks a second
    advance(61'000);
    int minutes = 0;
    int seconds = 0;
    ASSERT_EQ(CallGetTime(window(), &minutes, &seconds), 1);
    EXPECT_EQ(minutes * 60 + seconds, 61);
    CallChangeTempo(window(), 300);  // plays at 240, times at 300
    EXPECT_EQ(CallGetTempo(window()), 240);
    ASSERT_EQ(CallGetTime(window(), &minutes, &seconds), 1);
    EXPECT_EQ(minutes * 60 + seconds, 24);  // 11712 ticks at 480 a second
    CallStopSong(window());

    Track track;
    track.noteOn(0, 0, 60, 100).noteOff(5, 0, 60).end(0);
    ASSERT_TRUE(start(smf(0, 0, {track})));
    EXPECT_EQ(m_division, 0);
    advance(10);
    minutes = seconds = -1;
    ASSERT_EQ(CallGetTime(window(), &minutes, &seconds), 1);
    EXPECT_EQ(minutes, 0);
    EXPECT_EQ(seconds, 0);
}

// Guards against meters that never fall, fall below 1, or keep their level across a pause.
TEST_F(Transport, ActivityRisesPerNoteAndDecays) {
    Track track;
    for (int i = 0; i < 10; ++i) {
        track.noteOn(0, 0, 40 + i, 100);
    }
    track.end(2000);
    ASSERT_TRUE(start(smf(0, 96, {track})));
    std::array<std::uint16_t, 64> levels{};
    CallCheckActivity(window(), levels.data());
    EXPECT_EQ(levels[0], 160);
    advance(10);
    CallCheckActivity(window(), levels.data());
    EXPECT_EQ(levels[0], 126);  // capped at 127, then one step down
    advance(2000);
    CallCheckActivity(window(), levels.data());
    EXPECT_EQ(levels[0], 1);
    CallPauseSong(window());
    CallCheckActivity(window(), levels.data());
    EXPECT_EQ(levels[0], 0);
}

// Guards against a lyric position that jumps from event to event instead of moving
// smoothly through the wait, or overshoots the next event.
TEST_F(Transport, LyricCounterInterpolatesWithinTheWait) {
    ASSERT_TRUE(start(quarterSong(4)));  // 96 ticks every 500 ms
    advance(250);
    EXPECT_EQ(CallGetLyricCounterDLL(window()), 48u);
    advance(249);
    EXPECT_LE(CallGetLyricCounterDLL(window()), 96u);
    advance(1);
    EXPECT_EQ(CallGetLyricCounterDLL(window()), 96u);
    CallStopSong(window());
    EXPECT_EQ(CallGetLyricCounterDLL(window()), 0u);
}

// Guards against a device choice that ignores the settings.
TEST_F(Transport, InitProbesTheNamedDeviceAndClosesIt) {
    EXPECT_EQ(CallInitMIDIOut(window(), m_ini.c_str()), 1);
    EXPECT_EQ(engineOf().deviceId, static_cast<std::int32_t>(platform::midiOutDeviceCount() - 1));
    EXPECT_EQ(platform::midiOutShortMessage(engineOf().midiOut.load(), 0x90), platform::MidiError::InvalidHandle);
}

}  // namespace
