// A take lined up with its song, measured the way a singer's ear would: on a sound server
// of the test's own whose microphone is the speakers' monitor, the window records a take
// over a song of wood-block clicks played by the built-in synthesizer. A singer who claps
// exactly with the clicks makes the same take; once the window has lined it up, every
// click must sit at its note's time in the take. Without the line-up they sit later by
// the synthesizer's and the microphone's latencies and the song's start. The performance
// then played from its start must be heard with the voice on the song's beat, although
// the two play through streams of different latencies.
//
// The figures (where the clicks sat, before and after) are printed on one line for the
// alignment benchmark (bench/render/take_alignment.py).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "CantivoHarness.h"
#include "SteadyRuns.h"
#include "TempDir.h"
#include "TestServer.h"
#include "own_server.h"
#include "Ledbuton.h"
#include "pulse_support.h"
#include "platform/mm_timer.h"
#include "audio/wave_in.h"
#include "platform/profile.h"
#include "synth/synthesizer.h"
#include "window_support.h"

namespace {

using cvktest::kVoiceRate;

constexpr int kClicks = 12;
// Seconds; one every half second after it. The song's first second is left to its start:
// on a busy machine the take's first half second was seen to hold a click some 28 ms off
// where every later one sat right, with nothing counted against the machine.
constexpr double kFirstClick = 1.0;
constexpr int kDivision = 96;        // a quarter at 120 bpm: half a second

// Wood blocks on the drum channel, one on each quarter from the third.
testing_support::ByteVector clickSong() {
    testing_support::Track conductor;
    conductor.tempo(0, 500000).end();
    testing_support::Track clicks;
    for (int i = 0; i < kClicks; ++i) {
        clicks.noteOn(i == 0 ? 2 * kDivision : kDivision - 24, 9, 76, 127).noteOff(24, 9, 76);
    }
    clicks.end();
    return testing_support::smf(1, kDivision, {conductor, clicks});
}

// Where sounds start, in seconds: a sample above a fifth of the loudest after a quarter of
// a second below it.
std::vector<double> onsetsOf(const std::vector<float>& samples, double rate) {
    float loudest = 0;
    for (const float sample : samples) {
        loudest = std::max(loudest, std::fabs(sample));
    }
    std::vector<double> found;
    const float threshold = loudest / 5;
    const auto quiet = static_cast<std::size_t>(rate / 4);
    std::size_t last = 0;
    bool any = false;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) >= threshold) {
            if (!any || i - last > quiet) {
                found.push_back(static_cast<double>(i) / rate);
            }
            last = i;
            any = true;
        }
    }
    return found;
}

struct Placement {
    double medianMs = 0;
    double spreadMs = 0;  // the latest click's error less the earliest's
};

// How far each click sits from its note's time.
Placement placementOf(const std::vector<double>& onsets) {
    std::vector<double> errors;
    for (std::size_t i = 0; i < onsets.size(); ++i) {
        errors.push_back((onsets[i] - (kFirstClick + 0.5 * static_cast<double>(i))) * 1000);
    }
    std::sort(errors.begin(), errors.end());
    return {errors[errors.size() / 2], errors.back() - errors.front()};
}

class TakeAlignmentOnServer : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (!testing_support::testServerGiven() || std::getenv("CVK_SOURCE_DIR") == nullptr) {
            GTEST_SKIP() << "run under scripts/pulse-server.sh, from ctest";
        }
        ASSERT_TRUE(m_server.start()) << "no server of the test's own";
        // The microphone hears the speakers, as a singer's ear hears the song.
        m_server.pactl("unload-module module-remap-source");
        m_server.pactl(
            "load-module module-remap-source source_name=mic master=speakers.monitor "
            "source_properties=device.description=Microphone");
        m_server.pactl("set-default-source mic");
        m_scoped.emplace(m_server.address());
        for (const char* name : {"XDG_CONFIG_HOME", "TMPDIR"}) {
            const char* value = std::getenv(name);
            m_environment.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : m_environment) {
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        }
    }

    cvktest::OwnServer m_server;
    std::optional<cvktest::ScopedServer> m_scoped;  // goes before the server does

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_environment;
};

// Guards the line-up: a head dropped from the wrong clock reading (the capture's stale
// first latency, the song's start taken before its instruments were loaded, the
// synthesizer's latency left out or counted twice) moves every click off the beat; a
// head counted in bytes instead of frames, or dropped twice, moves them by as much again.
// In playback: a voice moved the wrong way, or by the song's latency alone, is heard off
// the beat.
TEST_P(TakeAlignmentOnServer, ClicksOnTheBeatSitOnTheirNoteTimesInTheTakeAndInPlayback) {
    const int bufferBytes = GetParam();
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        testing_support::TempDir dir;
        ASSERT_TRUE(cvktest::useSettings(
            dir, {{"Configuration", "RunConfigWizard", "0"},
                  {"Configuration", "Configured", "1"},
                  {"Configuration", "Software", "1"},
                  {"Configuration", "Buffer Size (bytes) of each buffer", std::to_string(bufferBytes)},
                  {"Monitor", "Status", "0"},
                  {"Selected midi device", "Device name", "Built-in Synthesizer"}}));
        const std::string song = dir.write("clicks.mid", clickSong());

        platform::ScriptedMessageBoxes boxes;
        testing_support::ScriptedDialogs dialogs;
        auto window = cvktest::windowWithSong(dialogs, song);
        ASSERT_TRUE(window != nullptr) << "the window could not open the MIDI device or the song";

        const std::uint64_t underrunsBefore = synth::synthesizerUnderruns();
        const std::uint64_t slipsBefore = synth::synthesizerTimingSlips();
        window->RecButtonClick();
        ASSERT_TRUE(window->Recording);
        const audio::WaveInHandle input = voxcapt::recordingView().inputDevice;
        std::uint64_t overruns = 0;
        const bool recorded = cvktest::runUntil(
            [&] { return !window->Recording && window->Audio.AudioGetRecordResult(nullptr, 0) != -1; },
            60,
            [&] {
                if (voxcapt::recordingView().active) {
                    overruns = std::max(overruns, audio::waveInOverruns(input));
                }
            });
        disturbed.count("the synthesizer ran dry", synth::synthesizerUnderruns() - underrunsBefore);
        // Its first anchor is the song's start.
        const std::uint64_t slips = synth::synthesizerTimingSlips() - slipsBefore;
        disturbed.count("the synthesizer's clock slipped", slips > 1 ? slips - 1 : 0);
        disturbed.count("captured audio found no buffer", overruns);
        ASSERT_TRUE(recorded) << "the song never ended, or its take was never finished";
        ASSERT_EQ(window->Audio.AudioGetRecordResult(nullptr, 0), 1);
        const auto take = cvktest::takeSamples(window->PendingWaveFile);
        ASSERT_TRUE(take.has_value()) << "the take is not a 22050 Hz 16-bit wave file";
        const std::vector<double> onsets = onsetsOf(*take, kVoiceRate);
        ASSERT_EQ(onsets.size(), static_cast<std::size_t>(kClicks)) << "not every click is in the take";

        const Placement after = placementOf(onsets);
        const double droppedMs = static_cast<double>(window->TakeHeadDropped) * 1000.0 / kVoiceRate;
        std::printf("take alignment: buffer %d bytes, before median %.2f ms, after median %.2f ms, spread %.2f ms\n",
                    bufferBytes, after.medianMs + droppedMs, after.medianMs, after.spreadMs);
        EXPECT_GT(window->TakeHeadDropped, 0u) << "nothing was dropped";
        EXPECT_LT(std::fabs(after.medianMs), 10.0) << "the clicks sit off their beats";
        EXPECT_LT(after.spreadMs, 10.0) << "the clicks wander: " << testing::PrintToString(onsets);

        // The performance played from its start: the song's clicks alone (the voice
        // silenced), then the voice's alone (the song muted), each against the Play.
        std::vector<double> heardMs;
        for (const bool voiceAlone : {false, true}) {
            window->WaveOutMuteButtonChange();
            window->WaveOutMuteButton->SetState(!voiceAlone);
            if (voiceAlone) {
                window->MidiOutMuteButtonChange();
                window->MidiOutMuteButton->SetState(true);
            }
            cvktest::PulseRecorder speakers;
            std::string error;
            ASSERT_TRUE(speakers.start("speakers.monitor", 30.0, error)) << error;
            window->PlayButtonClick();
            const std::uint64_t played = platform::clockMicros();
            const std::uint64_t voiceDryBefore = voxcapt::playbackView().underrunsBeforeTheEnd;
            ASSERT_TRUE(cvktest::runUntil([&] { return !window->SongPlaying && !window->VoicePlaying; }, 60, [] {}));
            speakers.stop();
            disturbed.count("the speakers' recording had a hole", speakers.holes());
            disturbed.count("the voice ran dry", voxcapt::playbackView().underrunsBeforeTheEnd - voiceDryBefore);
            std::vector<float> heard(speakers.frames());
            for (std::size_t i = 0; i < heard.size(); ++i) {
                heard[i] = speakers.sample(i);
            }
            std::vector<double> times;
            for (const double onset : onsetsOf(heard, cvktest::PulseRecorder::kRate)) {
                const auto frame = static_cast<std::size_t>(onset * cvktest::PulseRecorder::kRate);
                times.push_back((static_cast<double>(speakers.frameMicros(frame)) - static_cast<double>(played)) / 1e6);
            }
            ASSERT_EQ(times.size(), static_cast<std::size_t>(kClicks)) << (voiceAlone ? "the voice" : "the song");
            heardMs.push_back(placementOf(times).medianMs);
        }
        std::printf("take alignment: buffer %d bytes, in playback the voice %.2f ms after the song\n", bufferBytes,
                    heardMs[1] - heardMs[0]);
        EXPECT_LT(std::fabs(heardMs[1] - heardMs[0]), 10.0) << "in playback the voice is off the song's beat";
        window.reset();
        EXPECT_TRUE(boxes.shown().empty()) << boxes.shown().front().text;
    });
}

INSTANTIATE_TEST_SUITE_P(Buffers, TakeAlignmentOnServer, testing::Values(4096, 256),
                         [](const auto& param) { return "Of" + std::to_string(param.param) + "Bytes"; });

}  // namespace
