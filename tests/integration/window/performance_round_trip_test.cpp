// The main window on the test server (scripts/pulse-server.sh), in this process on the real
// clock, as a singer uses it: a take recorded over a song in software processing, saved as
// a performance, and the performance opened again and played. What was sung is a pattern
// of 1 kHz bursts fed into the "Microphone" sink; it must be in the take, in the file's
// voice chunk byte for byte, and on the speakers when the performance plays. The song
// plays into the capture MIDI device, so the speakers carry the voice alone.

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "CantivoHarness.h"
#include "SteadyRuns.h"
#include "TempDir.h"
#include "TestServer.h"
#include "WaveFile.h"
#include "audio/wave_in.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "voice_support.h"
#include "window_support.h"

namespace {

using cvktest::kVoiceRate;
using cvktest::PulseRecorder;

constexpr double kPi = 3.14159265358979323846;
constexpr double kToneHz = 1000;
// A Barker code of 13 chips of 100 ms, a burst for each 1: it matches itself at one
// alignment only, so the pattern is found wherever the latency put it.
constexpr int kChips[] = {1, 1, 1, 1, 1, 0, 0, 1, 1, 0, 1, 0, 1};
constexpr int kChipCount = static_cast<int>(std::size(kChips));
constexpr int kBlocksPerChip = 10;  // of 10 ms

// What is sung: 200 ms of silence, the bursts (5 ms ramps at their edges), and a second of
// silence after them so that a run dry anywhere in the bursts is counted.
std::vector<std::int16_t> sungPattern() {
    const std::size_t lead = kVoiceRate / 5;
    const std::size_t chip = kVoiceRate / 10;
    const std::size_t ramp = kVoiceRate / 200;
    std::vector<double> gate(lead + chip * kChipCount + kVoiceRate, 0.0);
    for (int c = 0; c < kChipCount; ++c) {
        std::fill_n(gate.begin() + static_cast<std::ptrdiff_t>(lead + chip * c), chip, kChips[c]);
    }
    std::vector<std::int16_t> samples(gate.size());
    double smoothed = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        smoothed += (gate[i] - (i >= ramp ? gate[i - ramp] : 0.0)) / ramp;  // a moving average
        samples[i] = static_cast<std::int16_t>(
            16000.0 * smoothed * std::sin(2 * kPi * kToneHz * static_cast<double>(i) / kVoiceRate));
    }
    return samples;
}

struct PatternMatch {
    double correlation = 0;  // of the 1 kHz envelope with the chips, at the best alignment
    double onLevel = 0;      // the tone's amplitude inside the bursts, full scale 1
    double offLevel = 0;     // and inside the gaps
};

// Where the pattern sits in `samples` (full scale 1): the 1 kHz amplitude of every 10 ms
// block, matched against the chips at every alignment.
PatternMatch findPattern(const std::vector<float>& samples, double rate) {
    std::vector<double> envelope;
    for (std::size_t block = 0;; ++block) {
        const auto first =
            static_cast<std::size_t>(std::lround(static_cast<double>(block) * rate / 100));
        const auto last =
            static_cast<std::size_t>(std::lround(static_cast<double>(block + 1) * rate / 100));
        if (last > samples.size()) {
            break;
        }
        envelope.push_back(cvktest::amplitudeAt(samples, first, last, kToneHz, rate));
    }
    const std::size_t length = kChipCount * kBlocksPerChip;
    const auto chipAt = [](std::size_t k) { return kChips[k / kBlocksPerChip]; };
    double chipMean = 0;
    for (std::size_t k = 0; k < length; ++k) {
        chipMean += chipAt(k);
    }
    chipMean /= static_cast<double>(length);
    PatternMatch best;
    std::size_t bestLag = 0;
    for (std::size_t lag = 0; lag + length <= envelope.size(); ++lag) {
        double mean = 0;
        for (std::size_t k = 0; k < length; ++k) {
            mean += envelope[lag + k];
        }
        mean /= static_cast<double>(length);
        double cross = 0;
        double energy = 0;
        double chipEnergy = 0;
        for (std::size_t k = 0; k < length; ++k) {
            const double e = envelope[lag + k] - mean;
            const double c = chipAt(k) - chipMean;
            cross += e * c;
            energy += e * e;
            chipEnergy += c * c;
        }
        const double correlation = energy > 0 ? cross / std::sqrt(energy * chipEnergy) : 0;
        if (correlation > best.correlation) {
            best.correlation = correlation;
            bestLag = lag;
        }
    }
    // The levels away from the edges: blocks 2 to 7 of each chip.
    int on = 0;
    int off = 0;
    for (std::size_t k = 0; k < length && bestLag + length <= envelope.size(); ++k) {
        if (k % kBlocksPerChip < 2 || k % kBlocksPerChip > 7) {
            continue;
        }
        (chipAt(k) != 0 ? best.onLevel : best.offLevel) += envelope[bestLag + k];
        ++(chipAt(k) != 0 ? on : off);
    }
    best.onLevel /= std::max(on, 1);
    best.offLevel /= std::max(off, 1);
    return best;
}

// The pattern is there, clear of what surrounds it.
void expectPattern(const PatternMatch& found, const char* where) {
    EXPECT_GT(found.correlation, 0.9) << "the sung pattern is not in " << where;
    EXPECT_GT(found.onLevel, 0.02) << "the bursts are barely audible in " << where;
    EXPECT_GT(found.onLevel, 10 * found.offLevel)
        << "less than 20 dB between the bursts and the gaps in " << where << " (bursts "
        << found.onLevel << ", gaps " << found.offLevel << ")";
}

class WindowOnServer : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SERVER();
        cvktest::ServerRequests server;
        std::string error;
        if (!server.connect("cvk-test-window", error)) {
            GTEST_SKIP() << "the test server at " << std::getenv("PULSE_SERVER")
                         << " cannot be reached: " << error;
        }
        m_reached = true;
        for (const char* name : kOwnVariables) {
            const char* value = std::getenv(name);
            m_environment.emplace_back(
                name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : m_environment) {
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        }
        std::string error;
        if (m_reached && !cvktest::putServerBack(error)) {
            ADD_FAILURE() << error;
        }
    }

    // The settings folder, the temporary folder and the capture MIDI device's file.
    static constexpr const char* kOwnVariables[] = {"XDG_CONFIG_HOME", "TMPDIR",
                                                    "CVK_MIDI_CAPTURE"};

private:
    bool m_reached = false;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_environment;
};

// Guards the singer's whole way through the window: a take that misses or mangles what
// was sung (lost buffers, the wrong source or rate), a performance file whose voice chunk
// is not the take byte for byte, a performance that opens without its voice, and a voice
// that is not heard, or not at its pitch, when the performance plays (left muted or at no
// volume by the recording, played at the wrong rate).
TEST_F(WindowOnServer, ASungPatternGoesFromTheTakeThroughThePerformanceFileToTheSpeakers) {
    const auto microphone = cvktest::outputNamed("Microphone");
    ASSERT_TRUE(microphone.has_value())
        << "no \"Microphone\" sink on " << std::getenv("PULSE_SERVER");
    const std::vector<std::int16_t> sung = sungPattern();
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        testing_support::TempDir dir;
        ::setenv("CVK_MIDI_CAPTURE", dir.path("capture.csv").c_str(), 1);
        ASSERT_TRUE(cvktest::useSettings(dir, {{"Configuration", "RunConfigWizard", "0"},
                                               {"Configuration", "Configured", "1"},
                                               {"Configuration", "Software", "1"},
                                               {"Monitor", "Status", "0"},
                                               {"Selected midi device", "Device name", "Capture"}}));
        const std::string song = dir.write("duet.mid", testing_support::noteSong(8));  // 4 s
        const std::string pfc = dir.path("duet.pfc");

        platform::ScriptedMessageBoxes boxes;
        testing_support::ScriptedDialogs dialogs;
        auto window = cvktest::windowWithSong(dialogs, song);
        ASSERT_TRUE(window != nullptr) << "the window could not open the MIDI device or the song";

        // ---- the take, over the song to its end
        cvktest::Feeder singer(sung);
        window->RecButtonClick();
        ASSERT_TRUE(window->Recording);
        const audio::WaveInHandle input = voxcapt::recordingView().inputDevice;
        ASSERT_TRUE(singer.open(*microphone));
        std::uint64_t overruns = 0;
        const bool recorded = cvktest::runUntil(
            [&] {
                return singer.finished() && !window->Recording &&
                       window->Audio.AudioGetRecordResult(nullptr, 0) != -1;
            },
            60,
            [&] {
                singer.handle();
                if (voxcapt::recordingView().active) {
                    overruns = std::max(overruns, audio::waveInOverruns(input));
                }
            });
        disturbed.count("the singer ran dry", singer.underrunsBeforeTheEnd());
        disturbed.count("captured audio found no buffer", overruns);
        singer.close();
        ASSERT_TRUE(recorded) << "the song never ended, or its take was never finished";
        ASSERT_EQ(window->Audio.AudioGetRecordResult(nullptr, 0), 1) << "the take is incomplete";
        const testing_support::ByteVector take =
            testing_support::fileBytes(window->PendingWaveFile);
        const auto taken = cvktest::takeSamples(window->PendingWaveFile);
        ASSERT_TRUE(taken.has_value()) << "the take is not a 22050 Hz 16-bit wave file";
        expectPattern(findPattern(*taken, kVoiceRate), "the take");

        // ---- saved as a performance, the song closed, the performance opened again
        dialogs.saveAnswers.push_back({QString::fromStdString(pfc), 0});
        window->SaveAs1Click();
        ASSERT_FALSE(window->PerformanceUnsaved) << "the performance was not saved";
        const testing_support::ByteVector file = testing_support::fileBytes(pfc);
        const std::size_t pad = take.size() % 2;
        ASSERT_GT(file.size(), 8 + take.size() + pad);
        const std::size_t chunk = file.size() - 8 - take.size() - pad;
        EXPECT_EQ(std::string(file.begin() + static_cast<std::ptrdiff_t>(chunk),
                              file.begin() + static_cast<std::ptrdiff_t>(chunk) + 4),
                  "Rvpf");
        EXPECT_EQ(
            testing_support::ByteVector(file.begin() + static_cast<std::ptrdiff_t>(chunk) + 4,
                                        file.begin() + static_cast<std::ptrdiff_t>(chunk) + 8),
            (testing_support::ByteVector{static_cast<std::uint8_t>(take.size()),
                                         static_cast<std::uint8_t>(take.size() >> 8),
                                         static_cast<std::uint8_t>(take.size() >> 16),
                                         static_cast<std::uint8_t>(take.size() >> 24)}));
        EXPECT_TRUE(std::equal(take.begin(), take.end(),
                               file.begin() + static_cast<std::ptrdiff_t>(chunk) + 8))
            << "the voice chunk is not the take byte for byte";
        window->New1Click();
        ASSERT_FALSE(window->SongLoaded);
        dialogs.openAnswers.push_back({QString::fromStdString(pfc), 0});
        window->Open1Click();
        ASSERT_TRUE(window->SongLoaded);
        EXPECT_EQ(window->PfcWaveOffset, chunk) << "the window reads the voice from elsewhere";
        ASSERT_TRUE(testing_support::fileBytes(window->PendingWaveFile) == take)
            << "the voice read back is not the take";

        // ---- the performance plays; the speakers are heard meanwhile
        PulseRecorder speakers;
        std::string error;
        ASSERT_TRUE(speakers.start("speakers.monitor", 30.0, error)) << error;
        window->PlayButtonClick();
        ASSERT_TRUE(window->VoicePlaying);
        std::uint64_t voiceRanDry = 0;
        const bool played =
            cvktest::runUntil([&] { return !window->SongPlaying && !window->VoicePlaying; }, 60,
                     [&] {
                         if (voxcapt::playbackView().playing) {
                             voiceRanDry = std::max(voiceRanDry,
                                                    voxcapt::playbackView().underrunsBeforeTheEnd);
                         }
                     });
        window.reset();
        speakers.stop();
        disturbed.count("the voice ran dry", voiceRanDry);
        disturbed.count("the speakers' recording had a hole", speakers.holes());
        ASSERT_TRUE(played) << "the performance never ended";
        std::vector<float> heard(speakers.frames());
        for (std::size_t i = 0; i < heard.size(); ++i) {
            heard[i] = speakers.sample(i);
        }
        expectPattern(findPattern(heard, PulseRecorder::kRate), "the speakers");
        EXPECT_TRUE(boxes.shown().empty()) << boxes.shown().front().text;
    });
}

}  // namespace
