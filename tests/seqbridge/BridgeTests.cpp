// The bridge as the program loads it, connected to the outside sequencer built beside the
// tests, on the manual clock with the capture device as the MIDI output.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CaptureReader.h"
#include "SmfBuilder.h"
#include "TempDir.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"
#include "platform/system.h"
#include "pulsbrdg/pulsbrdg.h"

namespace {

using namespace testing_support;

constexpr const char* kBridge = "libpulsbrdg.so";
constexpr const char* kOutside = "libpuls16.so";
constexpr std::uint32_t kQuarter = 96;

// `count` notes on channel 0 from tick 0, one a quarter, at 120 bpm.
ByteVector notes(int count) {
    Track conductor;
    conductor.tempo(0, 500000).end();
    Track track;
    for (int i = 0; i < count; ++i) {
        track.noteOn(i == 0 ? 0 : kQuarter / 2, 0, 60 + i, 100).noteOff(kQuarter / 2, 0, 60 + i);
    }
    track.end();
    return smf(1, kQuarter, {conductor, track});
}

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(platform::programFolder() + kBridge)) {
            GTEST_SKIP() << kBridge << " is not beside the test executable";
        }
        platform::setClockMode(platform::ClockMode::Manual);
        m_capture = m_dir.path("capture.csv");
        setenv("CVK_MIDI_CAPTURE", m_capture.c_str(), 1);
        m_ini = m_dir.writeText("settings.ini", "[Selected midi device]\nDevice name=Capture\n");
        m_bridge = platform::loadProgramLibrary(kBridge);
        ASSERT_NE(m_bridge, nullptr) << platform::libraryError();
    }

    void TearDown() override {
        if (m_bridge != nullptr) {
            entry<decltype(&CallStopSong)>("CallStopSong")(m_window.handle());
            platform::freeLibrary(m_bridge);
        }
        unsetenv("CVK_MIDI_CAPTURE");
    }

    template <typename Fn>
    Fn entry(const char* name) {
        auto bound = reinterpret_cast<Fn>(platform::resolveName(m_bridge, name));
        EXPECT_NE(bound, nullptr) << name;
        return bound;
    }

    bool start(const ByteVector& song, platform::WindowHandle window) {
        const std::string file = m_dir.write("song.mid", song);
        return (entry<decltype(&CallStartSong)>("CallStartSong")(file.c_str(), window, &m_division, 0,
                                                             m_volumes.data(), m_instruments.data(),
                                                             0, m_ini.c_str()) &
                0xFF) == 1;
    }

    std::vector<Captured> stopAndRead() {
        entry<decltype(&CallStopSong)>("CallStopSong")(m_window.handle());
        return readCapture(m_capture);
    }

    TempDir m_dir;
    std::string m_capture;
    std::string m_ini;
    void* m_bridge = nullptr;
    platform::MessageQueue m_window;
    std::uint16_t m_division = 0;
    std::array<std::int16_t, 64> m_volumes{};
    std::array<std::uint16_t, 64> m_instruments = [] {
        std::array<std::uint16_t, 64> keep;
        keep.fill(255);
        return keep;
    }();
};

// Guards against a name missing from either side, the precise counter leaking out, the
// thunk data exported as anything but the data the other side checks, and an engine's
// insides exported (two engines in one process would then share one state).
TEST_F(BridgeTest, EachSideExportsItsOwnNamesOnly) {
    struct Row {
        const char* name;
        bool inBridge;
        bool inOutside;
    };
    const Row rows[] = {
        {"CallInitMIDIOut", true, true},
        {"CallStartSong", true, true},
        {"CallStopSong", true, true},
        {"CallPauseSong", true, true},
        {"CallRewind", true, true},
        {"CallFastForward", true, true},
        {"CallCloseMIDIOut", true, true},
        {"CallGetTempo", true, true},
        {"CallChangeTempo", true, true},
        {"CallSetTransposition", true, true},
        {"CallSetVolumeDLL", true, true},
        {"CallCheckActivity", true, true},
        {"CallGetTime", true, true},
        {"CallGetLyricCounterDLL", true, true},
        {"CallRewindToRepeat", true, true},
        {"CallSetPatchDLL", true, true},
        {"CallChangeInstrumentDLL", true, true},
        {"CallClearInstrumentChangeBuffer", true, true},
        {"CallGetPreciseLyricCounterDLL", false, false},
        {"thk_ThunkData32", true, false},
        {"thk_ThunkData16", false, true},
        {"cvkLibraryAttach", true, false},
        {"_ZN7pulsant6engineEv", false, false},
    };
    void* outside = platform::loadProgramLibrary(kOutside);
    ASSERT_NE(outside, nullptr) << platform::libraryError();
    for (const Row& row : rows) {
        EXPECT_EQ(platform::resolveName(m_bridge, row.name) != nullptr, row.inBridge) << row.name;
        EXPECT_EQ(platform::resolveName(outside, row.name) != nullptr, row.inOutside) << row.name;
    }
    for (const auto& [library, name] :
         {std::pair{m_bridge, "thk_ThunkData32"}, std::pair{outside, "thk_ThunkData16"}}) {
        const auto* data = static_cast<const PulsThunkData*>(platform::resolveName(library, name));
        ASSERT_NE(data, nullptr) << name;
        EXPECT_EQ(std::memcmp(data, &kPulsThunkData, sizeof kPulsThunkData), 0) << name;
    }
    platform::freeLibrary(outside);
}

// Guards against arguments or results lost on the way: the division not written back,
// the time, position and activity levels not reaching the caller, notes not played.
TEST_F(BridgeTest, ASongPlaysThroughTheBridge) {
    ASSERT_TRUE(start(notes(8), m_window.handle()));
    EXPECT_EQ(m_division, kQuarter);

    platform::advanceManualClock(10);
    std::array<std::uint16_t, 64> levels;
    levels.fill(0xFFFF);
    entry<decltype(&CallCheckActivity)>("CallCheckActivity")(m_window.handle(), levels.data());
    EXPECT_EQ(levels[0], 0);  // the conductor track has no notes
    EXPECT_GT(levels[1], 0);

    // 2.6 s in: the sixth note (tick 480, 2.5 s) is the last event played, its note-off at
    // tick 528 is due.
    platform::advanceManualClock(2590);
    std::int32_t minutes = -1;
    std::int32_t seconds = -1;
    EXPECT_EQ(entry<decltype(&CallGetTime)>("CallGetTime")(m_window.handle(), &minutes, &seconds), 1);
    EXPECT_EQ(minutes, 0);
    EXPECT_EQ(seconds, 2);
    const std::uint32_t position =
        entry<decltype(&CallGetLyricCounterDLL)>("CallGetLyricCounterDLL")(m_window.handle());
    EXPECT_GT(position, 5 * kQuarter);
    EXPECT_LT(position, 5 * kQuarter + kQuarter / 2);

    platform::advanceManualClock(3000);
    EXPECT_EQ(entry<decltype(&CallGetTime)>("CallGetTime")(m_window.handle(), &minutes, &seconds), 0);
    std::vector<int> played;
    for (const Captured& c : stopAndRead()) {
        if (c.isNoteOn()) {
            played.push_back(c.data1);
        }
    }
    EXPECT_EQ(played, (std::vector<int>{60, 61, 62, 63, 64, 65, 66, 67}));
}

// Guards against the whole window handle reaching the other side: there it is a 16-bit
// handle, and its end-of-song message goes to the window those 16 bits name.
TEST_F(BridgeTest, TheOtherSideGetsTheWindowsLow16Bits) {
    ASSERT_LE(m_window.handle(), 0xFFFFu);
    const platform::WindowHandle wide = 0xABCD0000u | m_window.handle();
    ASSERT_TRUE(start(ByteVector{'n', 'o', 't', ' ', 'a', ' ', 's', 'o', 'n', 'g'}, wide));
    platform::advanceManualClock(3);

    platform::Message message;
    ASSERT_TRUE(m_window.peek(message));
    EXPECT_EQ(message.message, platform::kSongEndedMessage);
}

// Guards against the instrument change's arguments mixed up or cut on the way, and
// against a clear that does not reach the change waiting for the timer.
TEST_F(BridgeTest, AnInstrumentChangeIsSentUnlessClearedFirst) {
    for (const bool clear : {false, true}) {
        SCOPED_TRACE(clear ? "cleared" : "not cleared");
        ASSERT_TRUE(start(notes(2), m_window.handle()));
        entry<decltype(&CallChangeInstrumentDLL)>("CallChangeInstrumentDLL")(1, 3, 40);
        if (clear) {
            entry<decltype(&CallClearInstrumentChangeBuffer)>("CallClearInstrumentChangeBuffer")();
        }
        platform::advanceManualClock(2);
        int changes = 0;
        for (const Captured& c : stopAndRead()) {
            changes += (c.status & 0xF0) == 0xC0 ? 1 : 0;
            if ((c.status & 0xF0) == 0xC0) {
                EXPECT_EQ(c.status, 0xC3);
                EXPECT_EQ(c.data1, 40);
            }
        }
        EXPECT_EQ(changes, clear ? 0 : 1);
    }
}

}  // namespace
