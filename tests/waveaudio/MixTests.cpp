// Mixing two takes into a third file.

#include "FaultGuard.h"
#include "VoiceHarness.h"

namespace {

using testing_support::pcmFormat;
using testing_support::samples16;
using testing_support::waveFile;

struct MixCase {
    const char* name;
    std::vector<std::int16_t> first;
    std::vector<std::int16_t> second;
    std::vector<std::int16_t> mixed;
};

class Mix : public VoiceTest, public testing::WithParamInterface<MixCase> {};

// Guards the sum and its clipping, the longer input setting the length (with the shorter
// one silent beyond its end), and inputs longer than one working block.
TEST_P(Mix, SumsSampleBySampleWithClipping) {
    const MixCase& c = GetParam();
    std::vector<std::uint8_t> list;
    testing_support::appendChunk(list, "LIST", {'I', 'N', 'F', 'O'});
    auto first = waveFile(pcmFormat(22050, 1, 16), samples16(c.first), 2);
    const auto path1 = dir.write("a.wav", first);
    const auto path2 = dir.write("b.wav", waveFile(pcmFormat(22050, 1, 16), samples16(c.second), 0, list));
    const auto out = dir.path("mix.wav");
    ASSERT_EQ(AudioMixFiles(path1.c_str(), path2.c_str(), out.c_str()), 1);
    EXPECT_EQ(readFile(out), waveFile(pcmFormat(22050, 1, 16), samples16(c.mixed), 2))
        << "the first input's fmt chunk, the data, the sizes";
}

std::vector<std::int16_t> ramp(std::size_t n, std::int16_t step) {
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::int16_t>((static_cast<int>(i) * step) % 20000);
    }
    return v;
}

std::vector<std::int16_t> sum(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    std::vector<std::int16_t> out(std::max(a.size(), b.size()));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int s = (i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
        out[i] = static_cast<std::int16_t>(std::clamp(s, -32768, 32767));
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Takes, Mix,
    testing::Values(MixCase{"Clipping", {32767, -32768, 1000, -5}, {32767, -32768, -1000, 5}, {32767, -32768, 0, 0}},
                    MixCase{"SecondLonger", {100, 200}, {1, 2, 3, 4, 5}, {101, 202, 3, 4, 5}},
                    MixCase{"FirstLonger", {1, 2, 3, 4, 5}, {100}, {101, 2, 3, 4, 5}},
                    MixCase{"BothSilent", std::vector<std::int16_t>(3000, 0), std::vector<std::int16_t>(5000, 0),
                            std::vector<std::int16_t>(5000, 0)},
                    MixCase{"ManyBlocks", ramp(5000, 7), ramp(7001, -3), sum(ramp(5000, 7), ramp(7001, -3))}),
    [](const auto& param) { return std::string(param.param.name); });

// Guards inputs the mix cannot carry: each gets 0, and a file already under the output's
// name is left as it was.
TEST_F(VoiceTest, InputsTheMixCannotCarryAreRefused) {
    const auto voice = waveFile(pcmFormat(22050, 1, 16), samples16({1, 2, 3}));
    std::vector<std::uint8_t> bigHeader{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    std::vector<std::uint8_t> fmt(18);
    const auto format = pcmFormat(22050, 1, 16);
    std::memcpy(fmt.data(), &format, 18);
    testing_support::appendChunk(bigHeader, "fmt ", fmt);
    testing_support::appendChunk(bigHeader, "JUNK", std::vector<std::uint8_t>(2100, 0));
    testing_support::appendChunk(bigHeader, "data", samples16({1, 2}));
    bigHeader[4] = static_cast<std::uint8_t>((bigHeader.size() - 8) & 0xFF);
    bigHeader[5] = static_cast<std::uint8_t>((bigHeader.size() - 8) >> 8);
    const struct {
        const char* name;
        std::vector<std::uint8_t> first;
        std::vector<std::uint8_t> second;
    } cases[] = {
        {"Stereo", waveFile(pcmFormat(22050, 2, 16), samples16({1, 2})), voice},
        {"EightBit", waveFile(pcmFormat(22050, 1, 8), {1, 2}), waveFile(pcmFormat(22050, 1, 8), {1, 2})},
        {"RatesDiffer", voice, waveFile(pcmFormat(44100, 1, 16), samples16({1}))},
        {"NotWave", voice, {'n', 'o', 'p', 'e'}},
        {"HeaderBeyondABlock", bigHeader, voice},
        {"SecondMissing", voice, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path1 = dir.write("a.wav", c.first);
        std::string path2 = dir.path("missing.wav");
        if (!c.second.empty()) {
            path2 = dir.write("b.wav", c.second);
        }
        const auto out = dir.write("mix.wav", {'k', 'e', 'e', 'p'});
        EXPECT_EQ(AudioMixFiles(path1.c_str(), path2.c_str(), out.c_str()), 0);
        EXPECT_EQ(readFile(out), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    }
}

// Guards a mix reported done that is not on the disk: a disk that fills during the mix,
// or one that fails the final flush, gives 0, and the old output is untouched.
TEST_F(VoiceTest, AMixThatCannotBeWrittenLeavesTheOldOutput) {
    const auto path1 = dir.write("a.wav", waveFile(pcmFormat(22050, 1, 16), samples16(ramp(9000, 5))));
    const auto path2 = dir.write("b.wav", waveFile(pcmFormat(22050, 1, 16), samples16(ramp(9000, 3))));
    for (const bool flushFails : {false, true}) {
        SCOPED_TRACE(flushFails ? "FlushFails" : "DiskFills");
        testing_support::FaultGuard guard;
        const auto out = dir.write("mix.wav", {'o', 'l', 'd'});
        if (flushFails) {
            platform::setFlushFault(true);
        } else {
            platform::setWriteFaultAfter(5000);
        }
        EXPECT_EQ(AudioMixFiles(path1.c_str(), path2.c_str(), out.c_str()), 0);
        EXPECT_EQ(readFile(out), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    }
}

}  // namespace
