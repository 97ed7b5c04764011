// The wave library on the test server (scripts/pulse-server.sh): a voice file heard on the
// speakers, a take of what is sung into the microphone, and the monitor with its echo.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SteadyRuns.h"
#include "TempDir.h"
#include "TestServer.h"
#include "WaveBuilder.h"
#include "WaveFile.h"
#include "audio/capture_tap.h"
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
    void SetUp() override { SKIP_WITHOUT_TEST_SERVER(); }

    static bool startRecorder(PulseRecorder& recorder, const char* source, double seconds) {
        std::string error;
        const bool started = recorder.start(source, seconds, error);
        EXPECT_TRUE(started) << error;
        return started;
    }
    static std::int32_t microphoneSink() {
        const auto device = cvktest::outputNamed("Microphone");
        EXPECT_TRUE(device.has_value()) << "no \"Microphone\" sink on " << std::getenv("PULSE_SERVER");
        return device.value_or(audio::kWaveMapper);
    }
    static bool stopRecording(cvktest::VoiceHost& host) {
        AudioStopRecord();
        return host.pumpUntil([] { return !voxcapt::recordingView().active; }, 30.0);
    }

    testing_support::TempDir dir;
};

// Guards against a voice cut short or stretched (buffers lost, refilled twice, or played at
// the wrong rate), and against the close notification, which the program takes as the end
// of the voice, coming before the voice has been heard to its end (the click that ends
// the file, 0.3 s after the tone).
TEST_F(VoiceOnServer, AVoiceFileIsHeardAtItsPitchAndLengthThenTheDeviceCloses) {
    const std::string path = dir.write(
        "tone.wav", testing_support::waveFile(testing_support::pcmFormat(kVoiceRate, 1, 16),
                                              testing_support::samples16(cvktest::endingInAClick(
                                                  tone(1000, 1.0), kVoiceRate * 3 / 10))));
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        voxcapt::resetForTest();
        cvktest::VoiceHost host;
        platform::ScriptedMessageBoxes boxes;
        PulseRecorder speakers;
        ASSERT_TRUE(startRecorder(speakers, "speakers.monitor", 8.0));
        ASSERT_EQ(AudioPlayFile(host.window.handle(), path.c_str()), 1);
        ASSERT_TRUE(host.pumpUntil([&] { return host.closeMicros != 0; }, 30.0)) << "the device never closed";
        disturbed.count("the voice ran dry", voxcapt::playbackView().underrunsBeforeTheEnd);
        ASSERT_FALSE(voxcapt::playbackView().playing);
        ASSERT_TRUE(speakers.waitForSound(host.closeMicros + 300'000, 30'000'000)) << "the recording stalled";
        speakers.stop();
        disturbed.count("the speakers' recording had a hole", speakers.holes());

        const auto starts = cvktest::onsets(speakers, 0, 0.05f, PulseRecorder::kRate / 100);
        ASSERT_EQ(starts.size(), 2u) << "not the tone in one piece, then the click";
        std::size_t toneEnd = starts[1];
        while (toneEnd > starts[0] && std::fabs(speakers.sample(toneEnd - 1)) < 0.05f) {
            --toneEnd;
        }
        EXPECT_NEAR(static_cast<double>(toneEnd - starts[0]) * 1000 / PulseRecorder::kRate, 1000.0, 3.0)
            << "the tone's length in ms";
        std::size_t end = speakers.frames();
        while (end > starts[1] && std::fabs(speakers.sample(end - 1)) < 0.05f) {
            --end;
        }
        const std::size_t from = starts[0] + PulseRecorder::kRate / 10;
        const std::size_t to = from + PulseRecorder::kRate / 2;
        const double level = amplitudeAt(speakers, from, to, 1000);
        EXPECT_NEAR(level, 16000.0 / 32768.0, 0.05) << "the tone's level";
        EXPECT_LT(amplitudeAt(speakers, from, to, 1100), level / 20) << "not a clean 1 kHz tone";
        // An order, not a delay: the close may not come before the click was heard. The
        // recording's clock errs early by up to a block of the server's (30 ms at most),
        // never late; how long after the end the close comes is voice_bench's figure.
        EXPECT_GE(static_cast<double>(host.closeMicros) + 30'000, static_cast<double>(speakers.frameMicros(end)))
            << "closed " << (static_cast<double>(speakers.frameMicros(end)) - static_cast<double>(host.closeMicros)) / 1000
            << " ms before the voice's end was heard";
        ASSERT_FALSE(host.messages.empty());
        EXPECT_EQ(host.messages.front(), audio::kWaveOutOpenMessage);
        EXPECT_EQ(host.messages.back(), audio::kWaveOutCloseMessage);
        EXPECT_TRUE(boxes.shown().empty());
    });
}

// Guards against a take that misses what was sung, holds it twice, in pieces, at the wrong
// rate, or from another source than the microphone.
TEST_F(VoiceOnServer, TheTakeHoldsWhatWasSungIntoTheMicrophone) {
    const std::vector<std::int16_t> sung = sweep(1.0);
    std::vector<std::int16_t> signal(kVoiceRate / 4, 0);
    signal.insert(signal.end(), sung.begin(), sung.end());
    // A second of silence after the sweep, so that a run dry anywhere in it is counted.
    signal.resize(signal.size() + kVoiceRate, 0);
    const std::string target = dir.path("take.wav");
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        voxcapt::resetForTest();
        cvktest::VoiceHost host;
        platform::ScriptedMessageBoxes boxes;
        cvktest::Feeder singer(signal);
        // The live trail's tap, read on this thread while the server's thread writes it.
        auto tap = std::make_unique<audio::CaptureTap>();
        std::vector<std::uint8_t> heard;
        const auto listen = [&] {
            tap->read([&](const std::uint8_t* bytes, std::size_t size, bool lost) {
                if (lost) {
                    heard.insert(heard.end(), size, 0x55);
                } else {
                    heard.insert(heard.end(), bytes, bytes + size);
                }
            });
        };
        voxcapt::setCaptureTap(tap.get());
        ASSERT_EQ(AudioStartRecord(host.window.handle(), target.c_str(), kVoiceRate, 1, 16, 4096, 0, 0), 1);
        const audio::WaveInHandle input = voxcapt::recordingView().inputDevice;
        ASSERT_TRUE(singer.open(microphoneSink()));
        ASSERT_TRUE(host.pumpUntil([&] { listen(); return singer.finished(); }, 30.0, &singer))
            << "the singer never finished";
        disturbed.count("the singer ran dry", singer.underrunsBeforeTheEnd());
        disturbed.count("captured audio found no buffer", audio::waveInOverruns(input));
        ASSERT_TRUE(stopRecording(host)) << "the take was never finished";
        voxcapt::setCaptureTap(nullptr);
        listen();
        singer.close();
        EXPECT_TRUE(boxes.shown().empty());
        audio::WaveFormat format;
        const std::vector<std::int16_t> take = takeSamples(target, format);
        // The trail hears what the take holds, from its first sample on, as it arrives.
        ASSERT_GE(heard.size(), take.size() * 2);
        EXPECT_EQ(std::memcmp(heard.data(), take.data(), take.size() * 2), 0)
            << "the tap did not hear what the take holds";

        EXPECT_EQ(format.samplesPerSec, kVoiceRate);
        EXPECT_EQ(format.blockAlign, 2);
        std::size_t onset = 0;
        while (onset < take.size() && std::abs(take[onset]) < 2000) {
            ++onset;
        }
        ASSERT_LT(onset + sung.size() + 100, take.size()) << "the sweep is not in the take whole";
        // Align on the best of a few frames around the onset, then compare the whole sweep.
        // The server resamples on the way in and out, which may delay the take by a part of
        // a frame (half a frame costs 3 kHz a 40° turn): quarter frames are tried too.
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
        EXPECT_GT(best, 0.98) << "the take does not hold the sweep as it was sung";
        std::size_t end = take.size();
        while (end > onset && std::abs(take[end - 1]) < 2000) {
            --end;
        }
        EXPECT_NEAR(static_cast<double>(end - onset), static_cast<double>(sung.size()), kVoiceRate / 100.0)
            << "frames of the sweep lost or repeated";
    });
}

// Guards the monitor's echo: a click sung into the microphone is heard on the speakers,
// then once more at 70 % exactly 300 ms of the take's frames later (6614 frames at
// 22050 Hz, 13228 at the speakers' 44100), and never a third time; the clicks keep their
// spacing. A singer or a monitor that ran dry, or captured frames dropped, move clicks and
// echoes by however long the machine stalled.
TEST_F(VoiceOnServer, TheMonitorPlaysEachClickAndOneEchoThreeHundredMillisecondsLater) {
    constexpr std::size_t kClicks = 4;
    constexpr std::size_t kSpacing = kVoiceRate * 7 / 10;
    constexpr std::size_t kEchoFrames = 2 * 6614;  // at the speakers' rate
    std::vector<std::size_t> at;
    for (std::size_t k = 0; k < kClicks; ++k) {
        at.push_back(kVoiceRate / 5 + k * kSpacing);
    }
    // A second of silence after the last click, so that a run dry anywhere among the
    // clicks is counted.
    const std::vector<std::int16_t> clicks = cvktest::clickTrack(0.2 + 0.7 * kClicks + 1.0, at);
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        voxcapt::resetForTest();
        AudioSetEchoDelay(300);
        cvktest::VoiceHost host;
        platform::ScriptedMessageBoxes boxes;
        cvktest::Feeder singer(clicks);
        PulseRecorder speakers;
        ASSERT_TRUE(startRecorder(speakers, "speakers.monitor", 12.0));
        // Buffers of 4096 bytes: the monitor's pre-roll of three is 280 ms against stalls.
        ASSERT_EQ(AudioStartRecord(host.window.handle(), "", kVoiceRate, 1, 16, 4096, -1, 1), 1);
        const audio::WaveOutHandle monitor = voxcapt::recordingView().monitorDevice;
        const audio::WaveInHandle input = voxcapt::recordingView().inputDevice;
        ASSERT_NE(monitor, 0u) << "no monitor";
        host.pumpFor(0.5);  // the monitor's pre-roll: three buffers captured before it plays
        const std::uint64_t underrunsBefore = audio::waveOutUnderruns(monitor);
        const std::size_t firstFrame = speakers.frames();
        ASSERT_TRUE(singer.open(microphoneSink()));
        ASSERT_TRUE(host.pumpUntil([&] { return singer.finished(); }, 60.0, &singer)) << "the singer never finished";
        disturbed.count("the singer ran dry", singer.underrunsBeforeTheEnd());
        disturbed.count("the monitor ran dry", audio::waveOutUnderruns(monitor) - underrunsBefore);
        disturbed.count("captured audio found no buffer", audio::waveInOverruns(input));
        ASSERT_TRUE(stopRecording(host));
        singer.close();
        ASSERT_TRUE(speakers.waitForSound(platform::clockMicros() + 300'000, 30'000'000)) << "the recording stalled";
        speakers.stop();
        disturbed.count("the speakers' recording had a hole", speakers.holes());
        EXPECT_TRUE(boxes.shown().empty());

        const auto heard = cvktest::onsets(speakers, firstFrame, 0.1f, PulseRecorder::kRate / 20);
        ASSERT_FALSE(heard.empty()) << "nothing was heard on the speakers";
        for (std::size_t k = 0; k < kClicks; ++k) {
            SCOPED_TRACE("click " + std::to_string(k));
            const std::size_t expected = heard[0] + k * 2 * kSpacing;
            ASSERT_LT(expected + kEchoFrames * 2 + 2000, speakers.frames()) << "the recording ends before the click";
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
    });
}

// Guards the monitor at small buffers: each click sung is heard, all of them the same
// time later, and after the window's thread stalls for 150 ms (the monitor runs dry, then
// gets the stalled audio at once) the delay is no longer than it was. Faults it catches:
// a monitor that keeps the stall, or part of it (its delay grows by that), and audio lost
// without running dry (every click after the loss comes earlier).
TEST_F(VoiceOnServer, AtSmallBuffersTheMonitorKeepsItsDelayAndFindsItAgainAfterAStall) {
    constexpr std::int32_t kBuffer = 256;
    constexpr double kBufferMs = 1000.0 * kBuffer / 2 / kVoiceRate;
    constexpr std::size_t kGroup = 10;  // clicks before the stall, and as many after it
    constexpr double kStallAt = 2.0;    // seconds into the singing, in the silence between
    std::vector<std::size_t> at;
    for (std::size_t k = 0; k < 2 * kGroup; ++k) {
        const double second = 0.2 + 0.13 * static_cast<double>(k) + (k < kGroup ? 0.0 : 1.2);
        at.push_back(static_cast<std::size_t>(second * kVoiceRate));
    }
    const std::vector<std::int16_t> clicks = cvktest::clickTrack(4.5, at);
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        voxcapt::resetForTest();
        AudioSetEchoDelay(0);
        cvktest::VoiceHost host;
        platform::ScriptedMessageBoxes boxes;
        cvktest::Feeder singer(clicks);
        PulseRecorder sung;
        PulseRecorder speakers;
        ASSERT_TRUE(startRecorder(sung, "microphone.monitor", 15.0));
        ASSERT_TRUE(startRecorder(speakers, "speakers.monitor", 15.0));
        ASSERT_EQ(AudioStartRecord(host.window.handle(), "", kVoiceRate, 1, 16, kBuffer, -1, 1), 1);
        const audio::WaveOutHandle monitor = voxcapt::recordingView().monitorDevice;
        ASSERT_NE(monitor, 0u) << "no monitor";
        host.pumpFor(0.5);
        const std::size_t firstSung = sung.frames();
        const std::size_t firstHeard = speakers.frames();
        const std::uint64_t dryAtFirst = audio::waveOutUnderruns(monitor);
        ASSERT_TRUE(singer.open(microphoneSink()));
        host.pumpFor(kStallAt, &singer);
        const std::uint64_t dryBeforeTheStall = audio::waveOutUnderruns(monitor);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // nothing handed back
        host.pumpFor(0.4, &singer);  // the burst, still before the second group
        const std::uint64_t dryAfterTheStall = audio::waveOutUnderruns(monitor);
        ASSERT_TRUE(host.pumpUntil([&] { return singer.finished(); }, 60.0, &singer)) << "the singer never finished";
        host.pumpFor(0.2, &singer);
        // The monitor runs dry in the stall and captured audio waits for buffers: what is
        // counted against the machine is what the test does not cause.
        disturbed.count("the singer ran dry", singer.underrunsBeforeTheEnd());
        disturbed.count("the monitor ran dry away from the stall", dryBeforeTheStall - dryAtFirst +
                                                                      audio::waveOutUnderruns(monitor) - dryAfterTheStall);
        ASSERT_TRUE(stopRecording(host));
        singer.close();
        sung.stop();
        speakers.stop();
        disturbed.count("the microphone's recording had a hole", sung.holes());
        disturbed.count("the speakers' recording had a hole", speakers.holes());
        EXPECT_TRUE(boxes.shown().empty());

        constexpr std::size_t kQuiet = PulseRecorder::kRate / 20;
        const auto sungAt = cvktest::onsets(sung, firstSung, 0.1f, kQuiet);
        const auto heardAt = cvktest::onsets(speakers, firstHeard, 0.1f, kQuiet);
        ASSERT_EQ(sungAt.size(), 2 * kGroup) << "clicks on the microphone";
        ASSERT_EQ(heardAt.size(), 2 * kGroup) << "clicks heard on the speakers";
        std::vector<double> before;
        std::vector<double> after;
        for (std::size_t k = 0; k < 2 * kGroup; ++k) {
            const double ms = (static_cast<double>(speakers.frameMicros(heardAt[k])) -
                               static_cast<double>(sung.frameMicros(sungAt[k]))) / 1000.0;
            (k < kGroup ? before : after).push_back(ms);
        }
        for (const auto* group : {&before, &after}) {
            const auto [least, most] = std::minmax_element(group->begin(), group->end());
            EXPECT_LT(*most - *least, 2.0) << (group == &before ? "before" : "after")
                                           << " the stall the delay moved (ms) from " << *least << " to " << *most;
        }
        // Where the delay settles at the start varies by more (the server's first moments
        // with a new stream); after the stall it may be shorter, never longer.
        EXPECT_LT(after.front(), before.back() + kBufferMs + 1.0) << "the delay after the stall against before (ms)";
    });
}

}  // namespace
