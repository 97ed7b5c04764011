// The data files the program reads from its own folder, as the build leaves them beside
// the program: the audio configuration wizard's test sound and the plain-text help.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "WaveFile.h"
#include "platform/files.h"

namespace {

const std::string kProgramFolder = CVK_PROGRAM_FOLDER;

// Guards against a generator change that writes a format the voice library refuses (float
// or extensible wave), a phrase too short or long to loop as one, silence, or clipping.
TEST(TestSound, IsAPcmPhraseTheWaveLibraryPlaysAtAModerateLevel) {
    const std::string path = kProgramFolder + "/audio level test.wav";
    platform::FileReader file;
    ASSERT_TRUE(file.open(path)) << path;
    voxcapt::ParsedWave parsed;
    const voxcapt::WaveParseError error = voxcapt::parseWave(file, parsed);
    ASSERT_EQ(error, voxcapt::WaveParseError::None) << voxcapt::parseErrorText(error, path);

    const audio::WaveFormat& format = parsed.format;
    EXPECT_EQ(format.formatTag, audio::kWaveFormatPcm);
    ASSERT_EQ(format.bitsPerSample, 16);
    ASSERT_TRUE(format.channels == 1 || format.channels == 2) << format.channels;
    EXPECT_TRUE(format.samplesPerSec == 22050 || format.samplesPerSec == 44100)
        << format.samplesPerSec;
    EXPECT_EQ(format.blockAlign, format.channels * 2);

    const double seconds =
        static_cast<double>(parsed.dataSize) / format.blockAlign / format.samplesPerSec;
    EXPECT_GE(seconds, 2.0);
    EXPECT_LE(seconds, 6.0);

    std::vector<std::int16_t> samples(parsed.dataSize / 2);
    ASSERT_TRUE(file.seek(parsed.dataOffset));
    ASSERT_TRUE(file.read(samples.data(), samples.size() * 2));
    int peak = 0;
    for (std::int16_t sample : samples) {
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    const double peakDbfs = 20.0 * std::log10(std::max(peak, 1) / 32768.0);
    EXPECT_GE(peakDbfs, -20.0) << "peak " << peak;
    EXPECT_LE(peakDbfs, -1.0) << "peak " << peak;
}

// Every UTF-8 sequence well formed (no overlong form, surrogate or value past U+10FFFF);
// counts the code points of each line into `longest`.
bool validUtf8(const std::string& text, std::size_t& longest) {
    longest = 0;
    std::size_t column = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        std::uint32_t value = lead;
        std::uint32_t smallest = 0;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07u;
            smallest = 0x10000;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0Fu;
            smallest = 0x800;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1Fu;
            smallest = 0x80;
        } else if (lead >= 0x80) {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) {
                return false;
            }
            value = (value << 6) | (next & 0x3Fu);
        }
        if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        i += length;
        if (value == '\n') {
            column = 0;
        } else {
            longest = std::max(longest, ++column);
        }
    }
    return true;
}

class HelpText : public testing::TestWithParam<const char*> {};

// Guards against a text the build does not copy beside the program (or copies under
// another letter case), one saved in a legacy encoding, or one whose lines run past the
// width of the help window.
TEST_P(HelpText, IsBesideTheProgramAsShortLinesOfUtf8) {
    const std::string path = kProgramFolder + "/" + GetParam();
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path << " is missing";
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(text.empty()) << path;
    std::size_t longest = 0;
    EXPECT_TRUE(validUtf8(text, longest)) << path << " is not valid UTF-8";
    EXPECT_LE(longest, 80u) << path;
}

INSTANTIATE_TEST_SUITE_P(Pages, HelpText,
                         testing::Values("MasterVolume.txt", "MIDIVolume.txt", "VoiceRecord.txt",
                                         "WaveOut.txt", "CombinedOutput.txt",
                                         "SelectMIDIDevice.txt", "OffsetHelp.txt"),
                         [](const testing::TestParamInfo<const char*>& page) {
                             std::string name = page.param;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
