// The wave devices on a real sound server (scripts/pulse-server.sh): its null sinks
// "speakers" (the default sink; we record its monitor) and "microphone" (we play into
// it; its monitor is the default source).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SteadyRuns.h"
#include "TestServer.h"
#include "audio/mixer.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "faderlib/faderlib.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"
#include "pulse_support.h"
#include "voice_support.h"

namespace {

using cvktest::voiceFormat;
using audio::WaveError;
using audio::WaveHeader;

constexpr std::uint32_t kRate = 22050;
constexpr double kPi = 3.14159265358979323846;

// A tone of `frequency` at about half scale, `seconds` long, 16-bit mono.
std::vector<std::int16_t> tone(double frequency, double seconds, std::uint32_t rate = kRate) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(16000.0 * std::sin(2 * kPi * frequency * static_cast<double>(i) / rate));
    }
    return samples;
}

// The signal and a quarter second of silence: a run dry anywhere in the signal comes while
// the player still has two buffers or more to play, and is counted.
std::vector<std::int16_t> withTail(std::vector<std::int16_t> samples) {
    samples.resize(samples.size() + kRate / 4, 0);
    return samples;
}

// The lengths, in ms, of the stretches of sound in a recording (10 ms of quiet ends one).
std::vector<double> soundSpans(const cvktest::PulseRecorder& recording) {
    const std::size_t gap = cvktest::PulseRecorder::kRate / 100;
    std::vector<double> spans;
    std::optional<std::size_t> first;
    std::size_t last = 0;
    auto close = [&] {
        spans.push_back(static_cast<double>(last - *first) * 1000 / cvktest::PulseRecorder::kRate);
    };
    for (std::size_t i = 0; i < recording.frames(); ++i) {
        if (std::fabs(recording.sample(i)) < 0.05f) {
            continue;
        }
        if (!first) {
            first = i;
        } else if (i - last > gap) {
            close();
            first = i;
        }
        last = i;
    }
    if (first) {
        close();
    }
    return spans;
}

int deviceIndex(bool input, const std::string& name) {
    const std::uint32_t count = input ? audio::waveInDeviceCount() : audio::waveOutDeviceCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        if ((input ? audio::waveInDeviceName(i) : audio::waveOutDeviceName(i)) == name) {
            return static_cast<int>(i);
        }
    }
    return -2;
}

struct Buffer {
    explicit Buffer(std::uint32_t bytes) : data(bytes) {
        header.lpData = data.data();
        header.dwBufferLength = bytes;
    }
    std::vector<char> data;
    WaveHeader header;
};

// Takes the window's messages until `done` or `seconds` have passed.
bool pump(platform::MessageQueue& window, const std::function<bool(const platform::Message&)>& handle,
          const std::function<bool()>& done, double seconds) {
    const std::uint64_t giveUp = platform::clockMicros() + static_cast<std::uint64_t>(seconds * 1e6);
    platform::Message m;
    while (!done()) {
        if (platform::clockMicros() > giveUp) {
            return false;
        }
        if (window.wait(m, 50)) {
            handle(m);
        }
    }
    return true;
}

void pumpFor(platform::MessageQueue& window, const std::function<bool(const platform::Message&)>& handle,
             double seconds) {
    pump(window, handle, [] { return false; }, seconds);
}

// Waits until the recording holds what the speakers played up to now, and 300 ms more.
bool heardUpToNow(const cvktest::PulseRecorder& speakers) {
    return speakers.waitForSound(platform::clockMicros() + 300'000, 30'000'000);
}

// The player's buffers each hold 93 ms; eight of them ride out a stall of the test's
// thread on a busy machine.
constexpr std::uint32_t kPlayerBufferBytes = 4096;
constexpr int kPlayerBuffers = 8;

class WaveOnServer : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SERVER();
        ASSERT_GT(audio::waveOutDeviceCount(), 0u) << "no sinks on " << std::getenv("PULSE_SERVER");
    }

    // Records the default input device while `played` plays on output device `output`,
    // and half a second more; counts what disturbed the player and the recording.
    static std::vector<std::int16_t> recordWhilePlaying(std::int32_t output, std::vector<std::int16_t> played,
                                                        testing_support::Disturbances& disturbed) {
        platform::MessageQueue window;
        audio::WaveInHandle in = 0;
        EXPECT_EQ(audio::waveInOpen(&in, audio::kWaveMapper, voiceFormat(), window.handle()), WaveError::Ok);
        std::vector<std::unique_ptr<Buffer>> buffers;
        for (int i = 0; i < 16; ++i) {  // 740 ms against stalls of the test's thread
            buffers.push_back(std::make_unique<Buffer>(2048));
            audio::waveInPrepareHeader(in, &buffers.back()->header);
            audio::waveInAddBuffer(in, &buffers.back()->header);
        }
        std::vector<std::int16_t> recorded;
        auto record = [&](const platform::Message& m) {
            if (m.message != audio::kWaveInDataMessage) {
                return false;
            }
            auto* header = reinterpret_cast<WaveHeader*>(m.lParam);
            const auto* samples = reinterpret_cast<const std::int16_t*>(header->lpData);
            recorded.insert(recorded.end(), samples, samples + header->dwBytesRecorded / 2);
            audio::waveInAddBuffer(in, header);
            return true;
        };
        EXPECT_EQ(audio::waveInStart(in), WaveError::Ok);

        cvktest::Feeder player(std::move(played), &window, kPlayerBufferBytes, kPlayerBuffers);
        EXPECT_TRUE(player.open(output));
        EXPECT_TRUE(pump(window, [&](const platform::Message& m) { return record(m) || player.take(m); },
                         [&] { return player.finished(); }, 30.0))
            << "the player's buffers did not come back";
        const std::size_t enough = recorded.size() + kRate / 2;
        EXPECT_TRUE(pump(window, record, [&] { return recorded.size() >= enough; }, 30.0)) << "recording stalled";
        disturbed.count("the player ran dry", player.underrunsBeforeTheEnd());
        disturbed.count("captured audio found no buffer", audio::waveInOverruns(in));
        EXPECT_EQ(player.close(), WaveError::Ok);
        EXPECT_TRUE(player.wroteAll()) << "the device refused a buffer";
        EXPECT_EQ(audio::waveInReset(in), WaveError::Ok);
        pump(window, record, [] { return true; }, 0);
        for (auto& buffer : buffers) {
            audio::waveInUnprepareHeader(in, &buffer->header);
        }
        EXPECT_EQ(audio::waveInClose(in), WaveError::Ok);
        return recorded;
    }
};

// Guards against a device list that hides the server's sinks and sources or does not
// put the defaults first (index -1 and index 0 must be the same device).
TEST_F(WaveOnServer, DevicesAreTheServersWithTheDefaultsFirst) {
    EXPECT_EQ(audio::waveOutDeviceName(0), "Speakers");
    EXPECT_GE(deviceIndex(false, "Microphone"), 1);
    // The default source is the microphone sink's monitor, or a source made from it.
    const std::string source = audio::waveInDeviceName(0);
    EXPECT_TRUE(source == "Monitor of Microphone" || source == "Microphone") << source;
    EXPECT_EQ(audio::waveOutQuery(static_cast<std::int32_t>(audio::waveOutDeviceCount()), voiceFormat()),
              WaveError::BadDeviceId);
}

// Guards against a stream that stays silent, plays at the wrong rate or loses buffers:
// the tone must come out of the speakers at its pitch and level, every buffer come back;
// and against a close at the last done that cuts off the end (the click after the tone).
TEST_F(WaveOnServer, PlaysAToneIntoTheSpeakers) {
    const std::vector<std::int16_t> played = cvktest::endingInAClick(tone(1000, 1.0), kRate / 4);
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        platform::MessageQueue window;
        cvktest::PulseRecorder speakers;
        std::string error;
        ASSERT_TRUE(speakers.start("speakers.monitor", 8.0, error)) << error;
        cvktest::Feeder player(played, &window, kPlayerBufferBytes, kPlayerBuffers);
        ASSERT_TRUE(player.open(audio::kWaveMapper));
        ASSERT_TRUE(pump(window, [&](const platform::Message& m) { return player.take(m); },
                         [&] { return player.finished(); }, 30.0))
            << "buffers did not come back";
        disturbed.count("the player ran dry", player.underrunsBeforeTheEnd());
        // Closed at once, as a player does at the last done: nothing may be cut off.
        EXPECT_EQ(player.close(), WaveError::Ok);
        EXPECT_TRUE(player.wroteAll()) << "the device refused a buffer";
        ASSERT_TRUE(heardUpToNow(speakers)) << "the recording stalled";
        speakers.stop();
        disturbed.count("the speakers' recording had a hole", speakers.holes());
        const std::vector<double> spans = soundSpans(speakers);
        ASSERT_EQ(spans.size(), 2u) << "not the tone, then the click that ends it";
        EXPECT_NEAR(spans[0], 1000.0, 3.0) << "the tone's length in ms";

        std::vector<float> heard(speakers.frames());
        for (std::size_t i = 0; i < heard.size(); ++i) {
            heard[i] = speakers.sample(i);
        }
        const auto onset = speakers.onset(0, heard.size(), 0.1f);
        ASSERT_TRUE(onset.has_value()) << "the tone was never heard";
        const std::size_t from = *onset + 4410;
        const std::size_t to = from + 22050;  // half a second of the middle of the tone
        ASSERT_LE(to, heard.size());
        const double rate = cvktest::PulseRecorder::kRate;
        const double level = cvktest::amplitudeAt(heard, from, to, 1000, rate);
        EXPECT_NEAR(level, 16000.0 / 32768.0, 0.05) << "the tone's level";
        EXPECT_LT(cvktest::amplitudeAt(heard, from, to, 1100, rate), level / 20) << "not a clean 1 kHz tone";
    });
}

struct FaderCase {
    const char* name;
    std::uint32_t volume;  // the mixer's "Wave" volume, 0..65535
    bool muted;
    double level;  // of the tone played at 16000 / 32768
};

class WaveFaderOnServer : public WaveOnServer, public testing::WithParamInterface<FaderCase> {};

// Guards against the mixer's voice fader and mute being shown to the user but not heard:
// the voice streams apply them.
TEST_P(WaveFaderOnServer, TheVoiceFollowsTheMixersWaveLine) {
    const FaderCase& c = GetParam();
    ASSERT_EQ(SelectOutputDevice(0), 0);
    ASSERT_EQ(SetCurrentOutputVolSetting(1, &c.volume), 0);
    ASSERT_EQ(SetWaveOutMuteSetting(c.muted ? 1 : 0), 0);

    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        platform::MessageQueue window;
        cvktest::PulseRecorder speakers;
        std::string error;
        ASSERT_TRUE(speakers.start("speakers.monitor", 8.0, error)) << error;
        cvktest::Feeder player(withTail(tone(1000, 1.0)), &window, kPlayerBufferBytes, kPlayerBuffers);
        ASSERT_TRUE(player.open(audio::kWaveMapper));
        ASSERT_TRUE(pump(window, [&](const platform::Message& m) { return player.take(m); },
                         [&] { return player.finished(); }, 30.0));
        disturbed.count("the player ran dry", player.underrunsBeforeTheEnd());
        EXPECT_EQ(player.close(), WaveError::Ok);
        EXPECT_TRUE(player.wroteAll()) << "the device refused a buffer";
        ASSERT_TRUE(heardUpToNow(speakers)) << "the recording stalled";
        speakers.stop();
        disturbed.count("the speakers' recording had a hole", speakers.holes());
        std::vector<float> heard(speakers.frames());
        for (std::size_t i = 0; i < heard.size(); ++i) {
            heard[i] = speakers.sample(i);
        }
        if (c.level == 0.0) {
            EXPECT_TRUE(soundSpans(speakers).empty()) << "a muted voice was heard";
            return;
        }
        const auto onset = speakers.onset(0, heard.size(), 0.02f);
        ASSERT_TRUE(onset.has_value()) << "the tone was never heard";
        const std::size_t from = *onset + 4410;
        ASSERT_LE(from + 22050, heard.size());
        EXPECT_NEAR(cvktest::amplitudeAt(heard, from, from + 22050, 1000, cvktest::PulseRecorder::kRate),
                    c.level, 0.03);
    });
}

INSTANTIATE_TEST_SUITE_P(Faders, WaveFaderOnServer,
                         testing::Values(FaderCase{"full", 65535, false, 16000.0 / 32768.0},
                                         FaderCase{"half", 32768, false, 8000.0 / 32768.0},
                                         FaderCase{"muted", 65535, true, 0.0}),
                         [](const auto& param) { return std::string(param.param.name); });

// Guards against a pause that lets the server play on, or drops what it holds so that the
// restart skips a piece of the voice: two pieces of sound, together the whole tone.
TEST_F(WaveOnServer, PauseSilencesAndRestartLosesNothing) {
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        platform::MessageQueue window;
        cvktest::PulseRecorder speakers;
        std::string error;
        ASSERT_TRUE(speakers.start("speakers.monitor", 8.0, error)) << error;
        cvktest::Feeder player(withTail(tone(1000, 1.0)), &window, kPlayerBufferBytes, kPlayerBuffers);
        ASSERT_TRUE(player.open(audio::kWaveMapper));
        auto refill = [&](const platform::Message& m) { return player.take(m); };
        // Paused once the tone is being heard, and well before its end.
        ASSERT_TRUE(pump(window, refill, [&] { return speakers.peak(0, speakers.frames()) > 0.1f; }, 30.0))
            << "the tone was never heard";
        pumpFor(window, refill, 0.2);
        ASSERT_EQ(audio::waveOutPause(player.device()), WaveError::Ok);
        pumpFor(window, refill, 0.4);
        ASSERT_EQ(audio::waveOutRestart(player.device()), WaveError::Ok);
        ASSERT_TRUE(pump(window, refill, [&] { return player.finished(); }, 30.0));
        disturbed.count("the player ran dry", player.underrunsBeforeTheEnd());
        EXPECT_EQ(player.close(), WaveError::Ok);
        EXPECT_TRUE(player.wroteAll()) << "the device refused a buffer";
        ASSERT_TRUE(heardUpToNow(speakers)) << "the recording stalled";
        speakers.stop();
        disturbed.count("the speakers' recording had a hole", speakers.holes());
        const std::vector<double> spans = soundSpans(speakers);
        ASSERT_EQ(spans.size(), 2u);
        EXPECT_NEAR(spans[0] + spans[1], 1000.0, 6.0) << "sound lost or repeated at the pause";
    });
}

// Guards against a recording stream that records nothing, the wrong source, or loses or
// repeats what it hands over: a tone played into the microphone sink comes back in the
// recorded buffers at its pitch and level, in one piece.
TEST_F(WaveOnServer, RecordsWhatIsPlayedIntoTheMicrophone) {
    const int microphone = deviceIndex(false, "Microphone");
    ASSERT_GE(microphone, 0);
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        const std::vector<std::int16_t> recorded = recordWhilePlaying(microphone, withTail(tone(440, 1.0)), disturbed);

        std::size_t onset = 0;
        while (onset < recorded.size() && std::abs(recorded[onset]) < 3000) {
            ++onset;
        }
        std::size_t end = recorded.size();
        while (end > onset && std::abs(recorded[end - 1]) < 3000) {
            --end;
        }
        // A second of tone: nothing lost, nothing repeated.
        EXPECT_NEAR(static_cast<double>(end - onset), kRate, kRate / 100.0);
        const std::size_t from = onset + kRate / 10;
        const std::size_t to = from + kRate / 2;
        ASSERT_LE(to, recorded.size()) << "the tone was not recorded whole";
        const double level = cvktest::amplitudeAt(recorded, from, to, 440, kRate);
        EXPECT_NEAR(level, 16000.0, 1600.0) << "the tone's level";
        EXPECT_LT(cvktest::amplitudeAt(recorded, from, to, 500, kRate), level / 20) << "not a clean 440 Hz tone";
    });
}

// Guards against the mixer's recording selector being shown but not obeyed: the default
// input records the source chosen there, not the desktop's default.
TEST_F(WaveOnServer, TheDefaultInputRecordsTheMixersChosenSource) {
    ASSERT_EQ(SelectInputDevice(0), 0);
    const int stereoMix = GetOutputMixSourceIndex();
    ASSERT_GE(stereoMix, 0);
    ASSERT_EQ(SelectInputSource(stereoMix), 0);
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        const std::vector<std::int16_t> recorded = recordWhilePlaying(audio::kWaveMapper, withTail(tone(440, 1.0)), disturbed);
        const std::size_t loud = static_cast<std::size_t>(std::count_if(
            recorded.begin(), recorded.end(), [](std::int16_t v) { return std::abs(v) > 3000; }));
        EXPECT_GT(loud, static_cast<std::size_t>(kRate / 4)) << "the speakers' mix was not recorded";
    });
}

}  // namespace

namespace {

// Guards against runs dry and lost input going uncounted, or counted once per server
// request instead of once per stretch (the figures benchmarks report); and against a
// buffer written after the speakers ran dry losing its start.
TEST_F(WaveOnServer, UnderrunsAndOverrunsCountEachStretchOnce) {
    platform::MessageQueue window;
    cvktest::PulseRecorder speakers;
    std::string error;
    ASSERT_TRUE(speakers.start("speakers.monitor", 8.0, error)) << error;
    audio::WaveOutHandle out = 0;
    ASSERT_EQ(audio::waveOutOpen(&out, audio::kWaveMapper, voiceFormat(), window.handle()), WaveError::Ok);
    Buffer played(1024);  // shorter than the stream's start level
    const std::vector<std::int16_t> burst = tone(1000, 512.0 / kRate);
    std::memcpy(played.data.data(), burst.data(), played.data.size());
    audio::waveOutPrepareHeader(out, &played.header);
    audio::WaveInHandle in = 0;
    ASSERT_EQ(audio::waveInOpen(&in, audio::kWaveMapper, voiceFormat(), window.handle()), WaveError::Ok);
    Buffer recorded(1024);
    audio::waveInPrepareHeader(in, &recorded.header);
    audio::waveInStart(in);
    auto nothing = [](const platform::Message&) { return true; };
    for (std::uint64_t stretch = 1; stretch <= 2; ++stretch) {
        SCOPED_TRACE("stretch " + std::to_string(stretch));
        ASSERT_EQ(audio::waveOutWrite(out, &played.header), WaveError::Ok);
        ASSERT_EQ(audio::waveInAddBuffer(in, &recorded.header), WaveError::Ok);
        // A 23 ms buffer each, then nothing: once both have run out, the counts stay.
        EXPECT_TRUE(pump(window, nothing, [&] {
            return audio::waveOutUnderruns(out) >= stretch && audio::waveInOverruns(in) >= stretch;
        }, 30.0)) << "a stretch was not counted";
        pumpFor(window, nothing, 0.3);
        EXPECT_EQ(audio::waveOutUnderruns(out), stretch);
        EXPECT_EQ(audio::waveInOverruns(in), stretch);
    }
    audio::waveOutReset(out);
    audio::waveInReset(in);
    EXPECT_EQ(audio::waveOutClose(out), WaveError::Ok);
    EXPECT_EQ(audio::waveInClose(in), WaveError::Ok);
    ASSERT_TRUE(heardUpToNow(speakers)) << "the recording stalled";
    speakers.stop();

    // Each burst heard whole: 512 frames at 22050 Hz.
    const std::vector<double> spans = soundSpans(speakers);
    ASSERT_EQ(spans.size(), 2u);
    for (double span : spans) {
        EXPECT_NEAR(span, 23.2, 2.0);
    }
}

}  // namespace
