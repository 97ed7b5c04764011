// The trail while recording: the take file followed as the recorder writes it.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

#include "LiveTake.h"
#include "SmfBuilder.h"
#include "TempDir.h"

namespace {

using testing_support::ByteVector;

// A wave header as the recorder writes it: an 18-byte fmt chunk, the data chunk at byte 46,
// both sizes still 0.
ByteVector recorderHeader(std::uint16_t tag = 1, std::uint16_t channels = 1, std::uint32_t rate = 22050,
                          std::uint16_t bits = 16) {
    ByteVector h;
    const auto u16 = [&](std::uint32_t v) { h.push_back(std::uint8_t(v)); h.push_back(std::uint8_t(v >> 8)); };
    const auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    const auto text = [&](const char* t) {
        for (int i = 0; i < 4; ++i) {
            h.push_back(static_cast<std::uint8_t>(t[i]));
        }
    };
    text("RIFF"); u32(0); text("WAVE");
    text("fmt "); u32(18); u16(tag); u16(channels); u32(rate); u32(rate * channels * bits / 8);
    u16(channels * bits / 8); u16(bits); u16(0);
    text("data"); u32(0);
    return h;
}

ByteVector cut(ByteVector bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

ByteVector patched(ByteVector bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = value;
    return bytes;
}

struct LayoutCase {
    const char* name;
    ByteVector bytes;
    bool valid;
};

void PrintTo(const LayoutCase& row, std::ostream* out) { *out << row.name; }

class WaveLayoutTable : public testing::TestWithParam<LayoutCase> {};

// Each row a header a take file can really have (or a file in the take's place): only a
// whole PCM header is followed; anything else waits rather than reads garbage as voice.
TEST_P(WaveLayoutTable, ReadsOnlyWholePcmHeaders) {
    const LayoutCase& row = GetParam();
    const std::optional<pitch::WaveLayout> layout = pitch::ReadWaveLayout(row.bytes.data(), row.bytes.size());
    ASSERT_EQ(layout.has_value(), row.valid);
    if (row.valid) {
        EXPECT_EQ(layout->dataOffset, 46u);
        EXPECT_EQ(layout->rate, 22050);
        EXPECT_EQ(layout->bits, 16);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, WaveLayoutTable,
    testing::Values(LayoutCase{"RecorderHeader", recorderHeader(), true},
                    LayoutCase{"JustCreated", {}, false},
                    LayoutCase{"CutInFmt", cut(recorderHeader(), 30), false},
                    LayoutCase{"CutBeforeData", cut(recorderHeader(), 40), false},
                    LayoutCase{"NotRiff", patched(recorderHeader(), 0, 'X'), false},
                    LayoutCase{"FloatSamples", recorderHeader(3, 1, 22050, 32), false},
                    LayoutCase{"TwentyFourBits", recorderHeader(1, 1, 22050, 24), false},
                    LayoutCase{"NoChannels", recorderHeader(1, 0), false},
                    LayoutCase{"RateZero", recorderHeader(1, 1, 0), false},
                    LayoutCase{"FmtLengthHuge", patched(recorderHeader(), 19, 0x7F), false},
                    LayoutCase{"DataBeforeFmt", [] {
                                   ByteVector h = recorderHeader();
                                   std::memcpy(h.data() + 12, "data", 4);
                                   return h;
                               }(),
                               false}),
    [](const auto& row) { return std::string(row.param.name); });

// Guards against the trail missing audio the recorder wrote in pieces (a sample split
// between two writes, a header written before any audio), and against pitch read from
// the wrong place in the file.
TEST(LiveTake, FollowsATakeAsItIsWritten) {
    const testing_support::TempDir dir;
    const std::string path = dir.path("take.wav");
    pitch::LiveTake live;
    live.start(path);
    std::ofstream out(path, std::ios::binary);
    const ByteVector header = recorderHeader();
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    out.flush();
    // One second of A4 in pieces of 1001 bytes: samples split across writes.
    std::vector<char> audio;
    for (int i = 0; i < 22050; ++i) {
        const auto s = static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * 440.0 * i / 22050));
        audio.push_back(static_cast<char>(s & 0xFF));
        audio.push_back(static_cast<char>((s >> 8) & 0xFF));
    }
    for (std::size_t at = 0; at < audio.size(); at += 1001) {
        out.write(audio.data() + at, static_cast<std::streamsize>(std::min<std::size_t>(1001, audio.size() - at)));
        out.flush();
    }
    std::vector<pitch::PitchFrame> frames;
    // A watchdog, not a timing assertion: a stuck reader fails here.
    for (int i = 0; i < 3000 && (frames.empty() || frames.back().seconds < 0.8); ++i) {
        std::vector<pitch::PitchFrame> more = live.take();
        frames.insert(frames.end(), more.begin(), more.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    live.stop();
    ASSERT_FALSE(frames.empty());
    int sung = 0;
    for (const pitch::PitchFrame& frame : frames) {
        if (frame.seconds > 0.1 && frame.seconds < 0.8) {
            ASSERT_NEAR(frame.pitch, 69.0, 0.1) << frame.seconds;
            ++sung;
        }
    }
    EXPECT_GT(sung, 60);
}

}  // namespace
