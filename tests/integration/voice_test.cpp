// The wave library on the test server (scripts/pulse-server.sh): a voice file heard on the
// speakers, a take of what is sung into the microphone, and the monitor with its echo.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "TempDir.h"
#include "TestServer.h"
#include "WaveBuilder.h"
#include "WaveFile.h"
#include "audio/wave_in.h"
#include "platform/dialogs.h"
#include "voice_support.h"

namespace {

using cvktest::kVoiceRate;
using cvktest::PulseRecorder;

constexpr double kPi = 3.14159265358979323846;

std::vector<std::int16_t> tone(double frequency, double seconds) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kVoiceRate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(16000.0 * std::sin(2 * kPi * frequency * static_cast<double>(i) / kVoiceRate));
    }
    return samples;
}

// A sweep from 300 Hz to 3 kHz: it matches itself at one alignment only. `delay` moves it
// later by a part of a frame.
std::vector<std::int16_t> sweep(double seconds, double delay = 0) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kVoiceRate));
    const double rise = (3000.0 - 300.0) / seconds;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = std::max(0.0, static_cast<double>(i) - delay) / kVoiceRate;
        samples[i] = static_cast<std::int16_t>(12000.0 * std::sin(2 * kPi * (300.0 * t + rise * t * t / 2)));
    }
    return samples;
}

// Amplitude of `frequency` in the recording's frames [first, last), full scale 1.
double amplitudeAt(const PulseRecorder& recording, std::size_t first, std::size_t last, double frequency) {
    double re = 0;
    double im = 0;
    for (std::size_t i = first; i < last; ++i) {
        const double phase = 2 * kPi * frequency * static_cast<double>(i) / PulseRecorder::kRate;
        re += recording.sample(i) * std::cos(phase);
        im += recording.sample(i) * std::sin(phase);
    }
    return 2 * std::hypot(re, im) / static_cast<double>(last - first);
}

// The take's samples, read back with the library's own reader.
std::vector<std::int16_t> takeSamples(const std::string& path, audio::WaveFormat& format) {
    platform::FileReader file;
    voxcapt::ParsedWave parsed;
    if (!file.open(path) || voxcapt::parseWave(file, parsed) != voxcapt::WaveParseError::None) {
        return {};
    }
    format = parsed.format;
    std::vector<std::int16_t> samples(parsed.dataSize / 2);
    file.seek(parsed.dataOffset);
    file.read(samples.data(), samples.size() * 2);
    return samples;
}

class VoiceOnServer : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SERVER();
        platform::setClockMode(platform::ClockMode::Real);
        audio::useRealWave();
        voxcapt::resetForTest();
    }
    void TearDown() override {
        voxcapt::resetForTest();
        AudioSetEchoDelay(10);
        host.pumpFor(0.05);
    }

    bool startRecorder(PulseRecorder& recorder, const char* source, double seconds) {
        std::string error;
        const bool started = recorder.start(source, seconds, error);
        EXPECT_TRUE(started) << error;
        return started;
    }
    std::int32_t microphoneSink() {
        const auto device = cvktest::outputNamed("Microphone");
        EXPECT_TRUE(device.has_value()) << "no \"Microphone\" sink on " << std::getenv("PULSE_SERVER");
        return device.value_or(audio::kWaveMapper);
    }
    bool stopRecording() {
        AudioStopRecord();
        return host.pumpUntil([] { return !voxcapt::recordingView().active; }, 5.0);
    }

    cvktest::VoiceHost host;
    platform::ScriptedMessageBoxes boxes;
    testing_support::TempDir dir;
};

// Guards against a voice cut short or stretched (buffers lost, refilled twice, or played at
// the wrong rate), and against the close notification, which the program takes as the end
// of the voice, coming before the voice has been heard to its end.
TEST_F(VoiceOnServer, AVoiceFileIsHeardAtItsPitchAndLengthThenTheDeviceCloses) {
    const std::string path =
        dir.write("tone.wav", testing_support::waveFile(testing_support::pcmFormat(kVoiceRate, 1, 16),
                                                        testing_support::samples16(tone(1000, 1.0))));
    PulseRecorder speakers;
    ASSERT_TRUE(startRecorder(speakers, "speakers.monitor", 4.0));
    ASSERT_EQ(AudioPlayFile(host.window.handle(), path.c_str()), 1);
    ASSERT_TRUE(host.pumpUntil([&] { return host.closeMicros != 0; }, 5.0)) << "the device never closed";
    ASSERT_FALSE(voxcapt::playbackView().playing);
    ASSERT_TRUE(speakers.waitForSound(host.closeMicros + 300'000, 3'000'000));
    speakers.stop();

    const auto starts = cvktest::onsets(speakers, 0, 0.05f, PulseRecorder::kRate / 100);
    ASSERT_EQ(starts.size(), 1u) << "the tone was not heard in one piece";
    std::size_t end = speakers.frames();
    while (end > starts[0] && std::fabs(speakers.sample(end - 1)) < 0.05f) {
        --end;
    }
    EXPECT_NEAR(static_cast<double>(end - starts[0]) * 1000 / PulseRecorder::kRate, 1000.0, 3.0)
        << "the tone's length in ms";
    const std::size_t from = starts[0] + PulseRecorder::kRate / 10;
    const std::size_t to = from + PulseRecorder::kRate / 2;
    const double level = amplitudeAt(speakers, from, to, 1000);
    EXPECT_NEAR(level, 16000.0 / 32768.0, 0.05) << "the tone's level";
    EXPECT_LT(amplitudeAt(speakers, from, to, 1100), level / 20) << "not a clean 1 kHz tone";
    // The frames' times err early by up to a block of the server's, never late.
    EXPECT_GE(static_cast<double>(host.closeMicros) + 30'000, static_cast<double>(speakers.frameMicros(end)))
        << "closed " << (static_cast<double>(speakers.frameMicros(end)) - static_cast<double>(host.closeMicros)) / 1000
        << " ms before the tone's end was heard";
    EXPECT_EQ(host.messages.front(), audio::kWaveOutOpenMessage);
    EXPECT_EQ(host.messages.back(), audio::kWaveOutCloseMessage);
    EXPECT_TRUE(boxes.shown().empty());
}

// Guards against a take that misses what was sung, holds it twice, in pieces, at the wrong
// rate, or from another source than the microphone. A take during which the singer's
// stream ran dry or the server dropped captured frames proves nothing about the library
// (the machine was too busy), so it is sung again, up to three times.
TEST_F(VoiceOnServer, TheTakeHoldsWhatWasSungIntoTheMicrophone) {
    const std::vector<std::int16_t> sung = sweep(1.0);
    std::vector<std::int16_t> signal(kVoiceRate / 4, 0);
    signal.insert(signal.end(), sung.begin(), sung.end());
    // Silence after the sweep, longer than the singer queues: the sweep is over before the
    // last bytes are handed over, so a run dry anywhere in it is counted.
    signal.resize(signal.size() + kVoiceRate / 2, 0);
    const std::string target = dir.path("take.wav");
    std::vector<std::int16_t> take;
    audio::WaveFormat format;
    int disturbed = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        cvktest::Feeder singer(signal);
        ASSERT_EQ(AudioStartRecord(host.window.handle(), target.c_str(), kVoiceRate, 1, 16, 4096, 0, 0), 1);
        const audio::WaveInHandle input = voxcapt::recordingView().inputDevice;
        ASSERT_TRUE(singer.open(microphoneSink()));
        ASSERT_TRUE(host.pumpUntil([&] { return singer.finished(); }, 5.0, &singer));
        host.pumpFor(0.4, &singer);
        const std::uint64_t dropped = singer.underrunsBeforeTheEnd() + audio::waveInOverruns(input);
        ASSERT_TRUE(stopRecording()) << "the take was never finished";
        singer.close();
        EXPECT_TRUE(boxes.shown().empty());
        take = takeSamples(target, format);
        if (dropped == 0) {
            break;
        }
        ++disturbed;
    }
    ASSERT_LT(disturbed, 3) << "the singer ran dry or captured frames were dropped on every take";

    EXPECT_EQ(format.samplesPerSec, kVoiceRate);
    EXPECT_EQ(format.blockAlign, 2);
    std::size_t onset = 0;
    while (onset < take.size() && std::abs(take[onset]) < 2000) {
        ++onset;
    }
    ASSERT_LT(onset + sung.size() + 100, take.size()) << "the sweep is not in the take whole";
    // Align on the best of a few frames around the onset, then compare the whole sweep. The
    // server resamples on the way in and out, which may delay the take by a part of a
    // frame (half a frame costs 3 kHz a 40° turn): quarter frames are tried too.
    double best = 0;
    for (const double delay : {-0.5, -0.25, 0.0, 0.25, 0.5}) {
        const std::vector<std::int16_t> reference = sweep(1.0, delay);
        double referenceEnergy = 0;
        for (const std::int16_t v : reference) {
            referenceEnergy += static_cast<double>(v) * v;
        }
        for (std::size_t start = onset >= 20 ? onset - 20 : 0; start <= onset + 20; ++start) {
            double cross = 0;
            double energy = 0;
            for (std::size_t i = 0; i < reference.size(); ++i) {
                cross += static_cast<double>(take[start + i]) * reference[i];
                energy += static_cast<double>(take[start + i]) * take[start + i];
            }
            best = std::max(best, cross / std::sqrt(energy * referenceEnergy));
        }
    }
    EXPECT_GT(best, 0.98) << "the take does not hold the sweep as it was sung (" << disturbed
                          << " disturbed takes before this one)";
    std::size_t end = take.size();
    while (end > onset && std::abs(take[end - 1]) < 2000) {
        --end;
    }
    EXPECT_NEAR(static_cast<double>(end - onset), static_cast<double>(sung.size()), kVoiceRate / 100.0)
        << "frames of the sweep lost or repeated";
}

// Guards the monitor's echo: a click sung into the microphone is heard on the speakers,
// then once more at 70 % exactly 300 ms of the take's frames later (6614 frames at
// 22050 Hz, 13228 at the speakers' 44100), and never a third time. A run during which the
// singer or the monitor ran dry, or the server dropped captured frames, moves clicks and
// echoes by however long the machine stalled; it proves nothing and is sung again, up to
// three times.
TEST_F(VoiceOnServer, TheMonitorPlaysEachClickAndOneEchoThreeHundredMillisecondsLater) {
    constexpr std::size_t kClicks = 4;
    constexpr std::size_t kSpacing = kVoiceRate * 7 / 10;
    constexpr std::size_t kEchoFrames = 2 * 6614;  // at the speakers' rate
    std::vector<std::size_t> at;
    for (std::size_t k = 0; k < kClicks; ++k) {
        at.push_back(kVoiceRate / 5 + k * kSpacing);
    }
    AudioSetEchoDelay(300);
    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt + 1));
        cvktest::Feeder singer(cvktest::clickTrack(0.2 + 0.7 * kClicks + 0.5, at));
        PulseRecorder speakers;
        ASSERT_TRUE(startRecorder(speakers, "speakers.monitor", 8.0));
        ASSERT_EQ(AudioStartRecord(host.window.handle(), "", kVoiceRate, 1, 16, 2048, -1, 1), 1);
        const audio::WaveOutHandle monitor = voxcapt::recordingView().monitorDevice;
        const audio::WaveInHandle input = voxcapt::recordingView().inputDevice;
        ASSERT_NE(monitor, 0u) << "no monitor";
        host.pumpFor(0.5);  // the monitor's pre-roll
        const std::uint64_t underrunsBefore = audio::waveOutUnderruns(monitor);
        const std::size_t firstFrame = speakers.frames();
        ASSERT_TRUE(singer.open(microphoneSink()));
        ASSERT_TRUE(host.pumpUntil([&] { return singer.finished(); }, 8.0, &singer));
        host.pumpFor(0.6, &singer);
        const bool steady = audio::waveOutUnderruns(monitor) == underrunsBefore &&
                            singer.underrunsBeforeTheEnd() == 0 && audio::waveInOverruns(input) == 0;
        ASSERT_TRUE(stopRecording());
        singer.close();
        speakers.stop();
        EXPECT_TRUE(boxes.shown().empty());
        if (!steady) {
            continue;
        }

        const auto heard = cvktest::onsets(speakers, firstFrame, 0.1f, PulseRecorder::kRate / 20);
        ASSERT_FALSE(heard.empty()) << "nothing was heard on the speakers";
        for (std::size_t k = 0; k < kClicks; ++k) {
            SCOPED_TRACE("click " + std::to_string(k));
            const std::size_t expected = heard[0] + k * 2 * kSpacing;
            const std::size_t peak = cvktest::loudestFrame(speakers, expected - 2000, expected + 2000);
            const float clickPeak = std::fabs(speakers.sample(peak));
            ASSERT_GT(clickPeak, 0.3f) << "the click was not heard";
            const std::size_t from = peak - 100;
            const std::size_t lag = cvktest::bestLag(speakers, from, 200, kEchoFrames - 2000, kEchoFrames + 2000);
            EXPECT_EQ(lag, kEchoFrames) << "click and echo frames apart";
            const float echoPeak =
                std::fabs(speakers.sample(cvktest::loudestFrame(speakers, from + lag, from + lag + 200)));
            EXPECT_NEAR(echoPeak / clickPeak, 0.70, 0.03) << "the echo's level against the click's";
            EXPECT_LT(speakers.peak(peak + 2 * kEchoFrames - 2000, peak + 2 * kEchoFrames + 2000), 0.05f * clickPeak)
                << "the echo came back a second time";
        }
        return;
    }
    // Three runs in a row disturbed is more likely a monitor that never keeps up than a
    // busy machine.
    ADD_FAILURE() << "the monitor, the singer or the recording ran dry on every run";
}

}  // namespace
