// cvktool's voice commands through the sound server, as a user runs them: a voice sung
// into the microphone is recorded, heard at once on the speakers with its echo, and played
// back whole.

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "RunningProgram.h"
#include "SteadyRuns.h"
#include "TempDir.h"
#include "TestServer.h"
#include "voice_support.h"

namespace {

constexpr double kVoiceSeconds = 1.5;
constexpr double kVoiceAmplitude = 8000.0 / 32768.0;

std::vector<std::int16_t> voiceTone() {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(cvktest::kVoiceRate * kVoiceSeconds));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / cvktest::kVoiceRate));
    }
    return samples;
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

// The numbers the library reported with CVK_DEBUG set, in the order of the `%` marks of
// `pattern` ("take: % monitor underruns, % input overruns"); empty when it said nothing
// of the kind.
std::vector<std::uint64_t> reported(const std::string& said, const std::string& pattern) {
    const std::string head = pattern.substr(0, pattern.find('%'));
    const std::size_t at = said.rfind(head);
    if (at == std::string::npos) {
        return {};
    }
    std::vector<std::uint64_t> numbers;
    std::size_t from = at;
    for (std::size_t mark = pattern.find('%'); mark != std::string::npos; mark = pattern.find('%', mark + 1)) {
        from = said.find_first_of("0123456789", from);
        if (from == std::string::npos) {
            return {};
        }
        std::size_t used = 0;
        numbers.push_back(std::stoull(said.substr(from), &used));
        from += used;
    }
    return numbers;
}

// Guards the whole path of a take: the file gets the dry voice whole, the singer hears it
// with the 70 % echo 300 ms later (voice alone, voice plus echo, echo alone, 300 ms,
// 1.2 s and 300 ms of a steady tone), and playing the take gives back the voice alone.
TEST(CvktoolVoice, RecordsWithTheEchoMonitorAndPlaysTheTakeBack) {
    SKIP_WITHOUT_TEST_SERVER();
    testing_support::TempDir dir;
    const std::string take = dir.path("take.wav");
    const std::string tool = CVKTOOL_PATH;
    const auto microphone = cvktest::outputNamed("Microphone");
    ASSERT_TRUE(microphone.has_value()) << "no \"Microphone\" sink";
    std::vector<std::int16_t> sung = voiceTone();
    // A second of silence after the voice: a run dry anywhere in the voice is counted,
    // and the echo of its end is heard before the singer is done.
    sung.resize(sung.size() + cvktest::kVoiceRate, 0);

    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        std::string error;
        {
            cvktest::PulseRecorder heard;
            ASSERT_TRUE(heard.start("speakers.monitor", 60.0, error)) << error;
            testing_support::RunningProgram recorder;
            ASSERT_TRUE(recorder.start({tool, "record", take, "--seconds", "60", "--echo", "300", "--buffer", "1024"},
                                       {"CVK_DEBUG=1"}));
            ASSERT_TRUE(recorder.waitForText("recording ", 30.0)) << "the take never started: " << recorder.said();
            cvktest::VoiceHost host;
            cvktest::Feeder singer(sung);
            ASSERT_TRUE(singer.open(*microphone));
            ASSERT_TRUE(host.pumpUntil([&] { return singer.finished(); }, 30.0, &singer)) << "the singer never finished";
            disturbed.count("the singer ran dry", singer.underrunsBeforeTheEnd());
            singer.close();
            recorder.signal(SIGINT);  // Ctrl-C: the take is finished and kept
            ASSERT_EQ(recorder.finish(30.0), 0) << recorder.said();
            const auto counts = reported(recorder.said(), "take: % monitor underruns, % input overruns");
            ASSERT_EQ(counts.size(), 2u) << "no counts reported: " << recorder.said();
            disturbed.count("the monitor ran dry", counts[0]);
            disturbed.count("captured audio found no buffer", counts[1]);
            ASSERT_TRUE(heard.waitForSound(platform::clockMicros() + 300'000, 30'000'000)) << "the recording stalled";
            heard.stop();
            disturbed.count("the speakers' recording had a hole", heard.holes());
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
        EXPECT_NEAR(static_cast<double>(loud) / cvktest::kVoiceRate, kVoiceSeconds * 2 / 3, 0.05);

        cvktest::PulseRecorder played;
        ASSERT_TRUE(played.start("speakers.monitor", 60.0, error)) << error;
        testing_support::RunningProgram player;
        ASSERT_TRUE(player.start({tool, "playwave", take}, {"CVK_DEBUG=1"}));
        ASSERT_EQ(player.finish(60.0), 0) << player.said();
        const auto voice = reported(player.said(), "voice: % underruns before its end");
        ASSERT_EQ(voice.size(), 1u) << "no count reported: " << player.said();
        disturbed.count("the voice ran dry", voice[0]);
        ASSERT_TRUE(played.waitForSound(platform::clockMicros() + 300'000, 30'000'000)) << "the recording stalled";
        played.stop();
        disturbed.count("the speakers' recording had a hole", played.holes());
        const auto ms = stretches(played, {kVoiceAmplitude});
        EXPECT_NEAR(ms[0], kVoiceSeconds * 1000, 60);
    });
}

}  // namespace
