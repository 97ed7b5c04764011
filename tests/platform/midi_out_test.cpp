#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "TempDir.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"

namespace {

class MidiOut : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setClockMode(platform::ClockMode::Manual);
        m_path = m_dir.path("capture.csv");
        setenv("CVK_MIDI_CAPTURE", m_path.c_str(), 1);
    }
    void TearDown() override { unsetenv("CVK_MIDI_CAPTURE"); }

    std::uint32_t captureId() const { return platform::midiOutDeviceCount() - 1; }

    std::string readAll() const {
        std::ifstream in(m_path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    testing_support::TempDir m_dir;
    std::string m_path;
};

// Guards against a device list without the built-in synthesizer first, or a capture device
// that appears without being asked for.
TEST_F(MidiOut, DevicesByIndexWithShortNames) {
    const std::uint32_t count = platform::midiOutDeviceCount();
    ASSERT_GE(count, 2u);
    EXPECT_EQ(platform::midiOutDeviceName(0), "Built-in Synthesizer");
    EXPECT_EQ(platform::midiOutDeviceName(captureId()), "Capture");
    EXPECT_EQ(platform::midiOutDeviceName(count), "");
    for (std::uint32_t id = 0; id < count; ++id) {
        EXPECT_LE(platform::midiOutDeviceName(id).size(), platform::kMidiProductNameMax);
    }
    unsetenv("CVK_MIDI_CAPTURE");
    EXPECT_EQ(platform::midiOutDeviceCount(), count - 1);
}

// Guards against capture lines in the wrong shape or time, and a file that keeps an earlier
// run's lines.
TEST_F(MidiOut, CaptureWritesEveryMessageWithItsTime) {
    m_dir.writeText("capture.csv", "old line\n");
    platform::MidiOutHandle handle = 0;
    ASSERT_EQ(platform::midiOutOpen(&handle, static_cast<std::int32_t>(captureId())), platform::MidiError::Ok);
    ASSERT_NE(handle, 0u);
    platform::midiOutShortMessage(handle, 0x90 | (60 << 8) | (100 << 16));
    platform::advanceManualClock(3);
    platform::midiOutShortMessage(handle, 0xC1 | (5 << 8));
    platform::midiOutShortMessage(handle, 0xF8);
    ASSERT_EQ(platform::midiOutClose(handle), platform::MidiError::Ok);
    EXPECT_EQ(readAll(), "0,144,60,100\n3000,193,5,\n3000,248,,\n");
}

// Guards against a stale handle reaching a closed device, and double opens of one device.
TEST_F(MidiOut, ClosedHandlesAreRefused) {
    platform::MidiOutHandle handle = 0;
    const auto id = static_cast<std::int32_t>(captureId());
    ASSERT_EQ(platform::midiOutOpen(&handle, id), platform::MidiError::Ok);
    platform::MidiOutHandle second = 0;
    EXPECT_EQ(platform::midiOutOpen(&second, id), platform::MidiError::Allocated);
    EXPECT_EQ(second, 0u);
    ASSERT_EQ(platform::midiOutClose(handle), platform::MidiError::Ok);
    EXPECT_EQ(platform::midiOutShortMessage(handle, 0x90), platform::MidiError::InvalidHandle);
    EXPECT_EQ(platform::midiOutReset(handle), platform::MidiError::InvalidHandle);
    EXPECT_EQ(platform::midiOutClose(handle), platform::MidiError::InvalidHandle);
    EXPECT_EQ(platform::midiOutShortMessage(0, 0x90), platform::MidiError::InvalidHandle);
    platform::MidiOutHandle reopened = 0;
    ASSERT_EQ(platform::midiOutOpen(&reopened, id), platform::MidiError::Ok);
    EXPECT_NE(reopened, handle);
    platform::midiOutClose(reopened);
}

// Guards against opening a device that does not exist, and error texts left empty or
// longer than the 249 characters the sequencer's message box shows (the SoundFont text,
// which names folders and packages, is the one at risk).
TEST_F(MidiOut, BadDevicesAndErrorTexts) {
    platform::MidiOutHandle handle = 0;
    EXPECT_EQ(platform::midiOutOpen(&handle, static_cast<std::int32_t>(platform::midiOutDeviceCount())),
              platform::MidiError::BadDeviceId);
    EXPECT_EQ(platform::midiOutOpen(&handle, -2), platform::MidiError::BadDeviceId);
    setenv("CVK_MIDI_CAPTURE", m_dir.path("no/such/folder.csv").c_str(), 1);
    EXPECT_EQ(platform::midiOutOpen(&handle, static_cast<std::int32_t>(captureId())),
              platform::MidiError::CaptureFile);
    using platform::MidiError;
    for (auto error :
         {MidiError::Error, MidiError::BadDeviceId, MidiError::Allocated, MidiError::InvalidHandle,
          MidiError::NoMemory, MidiError::NoSoundFont, MidiError::NoSoundServer,
          MidiError::SynthFailed, MidiError::PortFailed, MidiError::CaptureFile}) {
        const std::string text = platform::midiOutErrorText(error);
        EXPECT_FALSE(text.empty());
        EXPECT_LE(text.size(), 249u) << text;
    }
}

}  // namespace
