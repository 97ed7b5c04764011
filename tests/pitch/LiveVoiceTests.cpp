// The live voice: what a capture writes into the tap, analysed as it is read.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "LiveVoice.h"

namespace {

struct FormatCase {
    std::string name;
    std::uint32_t rate;
    std::uint16_t channels;
    std::uint16_t bits;
};

audio::WaveFormat formatOf(const FormatCase& c) {
    audio::WaveFormat format;
    format.channels = c.channels;
    format.samplesPerSec = c.rate;
    format.bitsPerSample = c.bits;
    format.blockAlign = static_cast<std::uint16_t>(c.channels * c.bits / 8);
    format.avgBytesPerSec = c.rate * format.blockAlign;
    return format;
}

// A 330 Hz tone (key 64) in the capture's format, all channels alike, `seconds` long.
std::vector<std::uint8_t> tone(const FormatCase& c, double seconds) {
    std::vector<std::uint8_t> bytes;
    const auto frames = static_cast<std::size_t>(seconds * c.rate);
    for (std::size_t f = 0; f < frames; ++f) {
        const double value = 0.3 * std::sin(2.0 * M_PI * 329.63 * static_cast<double>(f) / c.rate);
        for (int ch = 0; ch < c.channels; ++ch) {
            if (c.bits == 8) {
                bytes.push_back(static_cast<std::uint8_t>(std::lround(128.0 + value * 127.0)));
            } else {
                const auto sample = static_cast<std::int16_t>(std::lround(value * 32767.0));
                bytes.push_back(static_cast<std::uint8_t>(sample & 0xFF));
                bytes.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
            }
        }
    }
    return bytes;
}

class LiveVoiceFormats : public testing::TestWithParam<FormatCase> {};

// Guards against samples of a capture format read wrongly (8-bit taken as signed, bytes
// swapped, channels not folded, pieces cut mid-frame) and against the voice's clock
// running at the wrong rate: a tone in any format the recorder opens reads as its key,
// and the seconds heard are the seconds written.
TEST_P(LiveVoiceFormats, AToneReadsAsItsKeyAtItsTime) {
    const FormatCase& c = GetParam();
    pitch::LiveVoice live;
    live.tap().restart(formatOf(c));
    const std::vector<std::uint8_t> bytes = tone(c, 1.0);
    std::vector<pitch::PitchFrame> frames;
    double heard = 0.0;
    bool restarted = false;
    // Pieces of an odd size, as a server may hand them over, read every few pieces.
    for (std::size_t at = 0, piece = 0; at < bytes.size(); at += 333, ++piece) {
        live.tap().write(bytes.data() + at, std::min<std::size_t>(333, bytes.size() - at));
        live.tap().flush();
        if (piece % 3 == 2) {
            pitch::LiveVoice::Heard got = live.poll();
            restarted = restarted || got.restarted;
            frames.insert(frames.end(), got.frames.begin(), got.frames.end());
            heard = got.seconds > 0.0 ? got.seconds : heard;
        }
    }
    const pitch::LiveVoice::Heard last = live.poll();
    frames.insert(frames.end(), last.frames.begin(), last.frames.end());
    heard = last.seconds > 0.0 ? last.seconds : heard;

    EXPECT_TRUE(restarted);
    EXPECT_NEAR(heard, 1.0, 1.0 / c.rate);
    int voiced = 0;
    for (const pitch::PitchFrame& frame : frames) {
        if (frame.seconds > 0.1 && frame.seconds < 0.8) {
            ASSERT_GT(frame.pitch, 0.0f) << "at " << frame.seconds << " s";
            EXPECT_NEAR(frame.pitch, 64.0, 0.1) << "at " << frame.seconds << " s";
            ++voiced;
        }
    }
    EXPECT_GE(voiced, 65);

    // A new capture starts the voice's clock again.
    live.tap().restart(formatOf(c));
    const pitch::LiveVoice::Heard again = live.poll();
    EXPECT_TRUE(again.restarted);
    EXPECT_TRUE(again.frames.empty());
}

INSTANTIATE_TEST_SUITE_P(Captures, LiveVoiceFormats,
                         testing::Values(FormatCase{"Mono16At22k", 22050, 1, 16},
                                         FormatCase{"Stereo16At44k", 44100, 2, 16},
                                         FormatCase{"Mono8At11k", 11025, 1, 8},
                                         FormatCase{"Stereo8At16k", 16000, 2, 8}),
                         [](const auto& row) { return row.param.name; });

}  // namespace
