// ALSA sequencer ports. This machine has no sequencer, so what can be checked is that its
// absence is quiet and that messages would go out with the right length.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

#include "midi_backend.h"
#include "platform/midi_out.h"

namespace {

// Guards against RtMidi or alsa-lib printing errors, or phantom ports being listed, on a
// machine without the ALSA sequencer.
TEST(AlsaPorts, NoSequencerMeansNoPortsAndNoOutput) {
    if (::access("/dev/snd/seq", F_OK) == 0) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    ::unsetenv("CVK_MIDI_CAPTURE");
    testing::internal::CaptureStderr();
    const std::uint32_t count = platform::midiOutDeviceCount();
    platform::MidiOutHandle handle = 0;
    const platform::MidiError opened = platform::midiOutOpen(&handle, 1);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count, 1u) << "only the built-in synthesizer";
    EXPECT_EQ(opened, platform::MidiError::BadDeviceId);
    EXPECT_EQ(printed, "");
}

struct LengthCase {
    std::uint8_t status;
    std::size_t bytes;

    friend void PrintTo(const LengthCase& c, std::ostream* out) {
        *out << "status 0x" << std::hex << int{c.status};
    }
};

class ShortMessageLength : public testing::TestWithParam<LengthCase> {};

// Guards against sending stray data bytes after one- and two-byte messages (which a device
// reads as running status) or cutting off three-byte ones.
TEST_P(ShortMessageLength, MatchesTheStatusByte) {
    EXPECT_EQ(platform::detail::shortMessageLength(GetParam().status), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    StatusBytes, ShortMessageLength,
    testing::Values(LengthCase{0x80, 3}, LengthCase{0x9F, 3}, LengthCase{0xA5, 3},
                    LengthCase{0xB0, 3}, LengthCase{0xC0, 2}, LengthCase{0xCF, 2},
                    LengthCase{0xD3, 2}, LengthCase{0xE0, 3}, LengthCase{0xEF, 3},
                    LengthCase{0xF0, 1}, LengthCase{0xF1, 2}, LengthCase{0xF2, 3},
                    LengthCase{0xF3, 2}, LengthCase{0xF6, 1}, LengthCase{0xF7, 1},
                    LengthCase{0xF8, 1}, LengthCase{0xFE, 1}, LengthCase{0xFF, 1}));

}  // namespace
