// cvktool's voice commands through the sound server, as a user runs them: a voice sung
// into the microphone is recorded, heard at once on the speakers with its echo, and played
// back whole.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "TempDir.h"
#include "TestServer.h"
#include "WaveBuilder.h"
#include "pulse_support.h"

namespace {

using testing_support::pcmFormat;

constexpr double kVoiceSeconds = 1.5;
constexpr double kVoiceAmplitude = 8000.0 / 32768.0;

std::vector<std::uint8_t> voiceTone() {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(22050 * kVoiceSeconds));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / 22050));
    }
    return testing_support::waveFile(pcmFormat(22050, 1, 16), testing_support::samples16(samples));
}

// Lengths in ms of the stretches whose 20 ms peaks stay within 12 % of each level.
std::vector<int> stretches(const cvktest::PulseRecorder& heard, const std::vector<double>& levels) {
    const std::size_t window = cvktest::PulseRecorder::kRate / 50;
    std::vector<int> ms(levels.size(), 0);
    for (std::size_t at = 0; at + window <= heard.frames(); at += window) {
        const double peak = heard.peak(at, at + window);
        for (std::size_t l = 0; l < levels.size(); ++l) {
            if (std::abs(peak - levels[l]) < 0.12 * levels[l]) {
                ms[l] += 20;
            }
        }
    }
    return ms;
}

std::vector<std::int16_t> takeSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::int16_t> samples;
    for (std::size_t i = 46; i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    return samples;
}

// Guards the whole path of a take: the file gets the dry voice whole, the singer hears it
// with the 70 % echo 300 ms later (voice alone, voice plus echo, echo alone, 300 ms,
// 1.2 s and 300 ms of a steady tone), and playing the take gives back the voice alone.
TEST(CvktoolVoice, RecordsWithTheEchoMonitorAndPlaysTheTakeBack) {
    SKIP_WITHOUT_TEST_SERVER();
    testing_support::TempDir dir;
    const std::string voice = dir.write("voice.wav", voiceTone());
    const std::string take = dir.path("take.wav");
    const std::string tool = CVKTOOL_PATH;
    std::string error;
    {
        cvktest::PulseRecorder heard;
        ASSERT_TRUE(heard.start("speakers.monitor", 6.0, error)) << error;
        const std::string command = "(sleep 0.8; paplay -d microphone '" + voice + "') & " + tool +
                                    " record '" + take + "' --seconds 4 --echo 300 --buffer 1024 2>/dev/null; wait";
        ASSERT_EQ(std::system(command.c_str()), 0);
        heard.stop();
        // The 440 Hz tone repeats itself every 300 ms, so voice and echo add in phase.
        const auto ms = stretches(heard, {kVoiceAmplitude, 1.7 * kVoiceAmplitude, 0.7 * kVoiceAmplitude});
        EXPECT_NEAR(ms[0], 300, 60) << "the voice alone";
        EXPECT_NEAR(ms[1], 1200, 60) << "voice and echo";
        EXPECT_NEAR(ms[2], 300, 60) << "the echo alone";
    }
    const auto samples = takeSamples(take);
    std::size_t loud = 0;
    std::int16_t peak = 0;
    for (std::int16_t s : samples) {
        loud += std::abs(s) > 4000 ? 1 : 0;
        peak = std::max<std::int16_t>(peak, static_cast<std::int16_t>(std::abs(s)));
    }
    EXPECT_NEAR(peak, 8000, 400) << "the file is dry: no echo added";
    // Two thirds of a sine's samples lie above half its peak.
    EXPECT_NEAR(static_cast<double>(loud) / 22050, kVoiceSeconds * 2 / 3, 0.05);

    cvktest::PulseRecorder played;
    ASSERT_TRUE(played.start("speakers.monitor", 4.0, error)) << error;
    ASSERT_EQ(std::system((tool + " playwave '" + take + "' </dev/null").c_str()), 0);
    played.stop();
    const auto ms = stretches(played, {kVoiceAmplitude});
    EXPECT_NEAR(ms[0], kVoiceSeconds * 1000, 60);
}

}  // namespace
