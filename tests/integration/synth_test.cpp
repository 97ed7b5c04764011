// The built-in synthesizer against a real sound server (scripts/pulse-server.sh). Each
// test plays into a null sink of its own and records that sink's monitor.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "SteadyRuns.h"
#include "TempDir.h"
#include "TestServer.h"
#include "audio/mixer.h"
#include "faderlib/faderlib.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"
#include "pulse_support.h"
#include "synth/soundfont.h"
#include "synth/synthesizer.h"

namespace {

using platform::MidiError;
using platform::MidiOutHandle;

constexpr std::uint64_t kMs = 1000;
// A note at velocity 100 peaks around 0.03; an idle synthesizer's output stays below 1e-5.
constexpr float kSoundThreshold = 0.003f;
constexpr float kSilence = 1e-4f;

constexpr std::uint32_t shortMessage(std::uint32_t status, std::uint32_t data1,
                                     std::uint32_t data2 = 0) {
    return status | data1 << 8 | data2 << 16;
}

// Sets an environment variable for one scope and puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// A run of a test: the synthesizer open, its sink's monitor recorded.
class SynthRun {
public:
    explicit SynthRun(const std::string& monitor) : m_underrunsBefore(synth::synthesizerUnderruns()) {
        std::string error;
        m_recording = m_heard.start(monitor.c_str(), 20.0, error);
        EXPECT_TRUE(m_recording) << error;
    }
    ~SynthRun() { close(); }
    SynthRun(const SynthRun&) = delete;
    SynthRun& operator=(const SynthRun&) = delete;

    bool recording() const { return m_recording; }
    const cvktest::PulseRecorder& heard() const { return m_heard; }

    bool open() {
        EXPECT_EQ(platform::midiOutOpen(&m_handle, 0), MidiError::Ok);
        return m_handle != 0;
    }
    void close() {
        if (m_handle != 0) {
            EXPECT_EQ(platform::midiOutClose(m_handle), MidiError::Ok);
            m_handle = 0;
        }
    }
    void send(std::uint32_t message) {
        EXPECT_EQ(platform::midiOutShortMessage(m_handle, message), MidiError::Ok);
    }
    // As the sequencer does before a song: the instrument is there when its change comes.
    void prepare(std::uint8_t channel, std::uint8_t program) {
        const platform::MidiProgram programs[] = {{channel, 0, 0, program}};
        EXPECT_EQ(platform::midiOutPreparePrograms(m_handle, programs), MidiError::Ok);
    }
    platform::MidiOutHandle handle() const { return m_handle; }

    // Lets `micros` pass and waits until the recording has caught up with it.
    std::uint64_t wait(std::uint64_t micros) {
        const std::uint64_t until = platform::clockMicros() + micros;
        EXPECT_TRUE(m_heard.waitForSound(until, micros + kWatchdogMicros)) << "the recording stalled";
        return until;
    }
    float peakBetween(std::uint64_t fromMicros, std::uint64_t toMicros) const {
        return m_heard.peak(m_heard.frameAt(fromMicros), m_heard.frameAt(toMicros));
    }
    // When the recording first rises above kSoundThreshold after `fromMicros`: waits for
    // it, as long as the watchdog allows.
    std::optional<std::uint64_t> heardAfter(std::uint64_t fromMicros) const {
        const std::uint64_t giveUp = platform::clockMicros() + kWatchdogMicros;
        for (;;) {
            if (const auto onset = m_heard.onset(m_heard.frameAt(fromMicros), m_heard.frames(), kSoundThreshold)) {
                return m_heard.frameMicros(*onset);
            }
            if (platform::clockMicros() > giveUp) {
                return std::nullopt;
            }
            cvktest::pauseMicros(5000);
        }
    }
    // Waits until the loudest sample of the last 200 ms recorded satisfies `wanted`, as
    // long as the watchdog allows; that level either way.
    float waitForLevel(const std::function<bool(float)>& wanted) const {
        constexpr std::size_t kWindow = cvktest::PulseRecorder::kRate / 5;
        const std::uint64_t giveUp = platform::clockMicros() + kWatchdogMicros;
        const std::size_t from = m_heard.frames();
        for (;;) {
            const std::size_t now = m_heard.frames();
            const float level = now >= from + kWindow ? m_heard.peak(now - kWindow, now) : -1.0f;
            if ((level >= 0.0f && wanted(level)) || platform::clockMicros() > giveUp) {
                return level;
            }
            cvktest::pauseMicros(5000);
        }
    }

    // What the machine did to this run.
    void count(testing_support::Disturbances& disturbed) const {
        disturbed.count("the synthesizer ran dry", synth::synthesizerUnderruns() - m_underrunsBefore);
        disturbed.count("the recording had a hole", m_heard.holes());
    }

private:
    static constexpr std::uint64_t kWatchdogMicros = 10'000'000;

    const std::uint64_t m_underrunsBefore;
    cvktest::PulseRecorder m_heard;
    bool m_recording = false;
    MidiOutHandle m_handle = 0;
};

class SynthOnServer : public testing::Test {
protected:
    void SetUp() override {
        // A bare ctest has no server to play into; scripts/pulse-server.sh announces its
        // own, and once one is announced it must answer.
        SKIP_WITHOUT_TEST_SERVER();
        std::string error;
        ASSERT_TRUE(m_sink.create(error))
            << "sound server at " << std::getenv("PULSE_SERVER") << ": " << error;
    }

    cvktest::PrivateSink m_sink;
};

// Guards against a synthesizer that stays silent, sounds before the note was sent, or
// holds a message back until another one comes. How soon it sounds is synth_onset's
// figure.
TEST_F(SynthOnServer, ANoteIsHeardOnceSentAndNotBefore) {
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        SynthRun run(m_sink.monitor());
        ASSERT_TRUE(run.recording());
        ASSERT_TRUE(run.open());
        const std::uint64_t settled = run.wait(300 * kMs);
        const std::uint64_t sent = platform::clockMicros();
        run.send(shortMessage(0x90, 60, 100));
        const std::optional<std::uint64_t> heard = run.heardAfter(settled);
        run.send(shortMessage(0x80, 60));
        run.count(disturbed);

        EXPECT_LT(run.peakBetween(settled - 200 * kMs, sent), kSilence) << "sound before the note";
        ASSERT_TRUE(heard.has_value()) << "the note was never heard";
        EXPECT_GT(*heard, sent) << "heard before it was sent";
    });
}

// Guards against the cached synthesizer carrying a closed device's notes (or reverb) into
// the next song, and against a cached synthesizer that no longer plays once reopened.
TEST_F(SynthOnServer, ReopenedSynthesizerStartsSilentAndPlays) {
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        SynthRun run(m_sink.monitor());
        ASSERT_TRUE(run.recording());
        ASSERT_TRUE(run.open());
        run.prepare(0, 19);
        run.send(shortMessage(0xC0, 19));  // church organ: sounds for as long as the key is down
        const std::uint64_t sent = platform::clockMicros();
        run.send(shortMessage(0x90, 60, 100));
        const std::optional<std::uint64_t> held = run.heardAfter(sent);
        ASSERT_TRUE(held.has_value()) << "the note was never heard";
        run.wait(400 * kMs);
        EXPECT_GT(run.peakBetween(*held + 200 * kMs, *held + 400 * kMs), kSoundThreshold) << "the organ did not hold";
        run.close();

        ASSERT_TRUE(run.open());
        const std::uint64_t quietUntil = run.wait(400 * kMs);
        const std::uint64_t resent = platform::clockMicros();
        run.send(shortMessage(0x91, 64, 100));
        const std::optional<std::uint64_t> played = run.heardAfter(resent);
        run.count(disturbed);
        // The 200 ms before the new note: the old one, had it lived on, would sound there.
        EXPECT_LT(run.peakBetween(quietUntil - 200 * kMs, quietUntil), kSilence) << "the old note lives on";
        EXPECT_TRUE(played.has_value()) << "silent after reopening";
    });
}

// Guards against a reset that sends all-notes-off while the sustain pedal still holds the
// notes, and against the reset overtaking messages sent before it.
TEST_F(SynthOnServer, ResetSilencesNotesHeldByThePedal) {
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        SynthRun run(m_sink.monitor());
        ASSERT_TRUE(run.recording());
        ASSERT_TRUE(run.open());
        run.prepare(3, 19);
        run.send(shortMessage(0xC3, 19));
        run.send(shortMessage(0xB3, 64, 127));
        const std::uint64_t sent = platform::clockMicros();
        run.send(shortMessage(0x93, 67, 100));
        run.send(shortMessage(0x83, 67));
        const std::optional<std::uint64_t> heard = run.heardAfter(sent);
        ASSERT_TRUE(heard.has_value()) << "the note was never heard";
        run.wait(400 * kMs);
        const float sustained = run.peakBetween(*heard + 200 * kMs, *heard + 400 * kMs);
        ASSERT_GT(sustained, kSoundThreshold) << "the pedal did not hold the note";

        ASSERT_EQ(platform::midiOutReset(run.handle()), MidiError::Ok);
        // The organ's release and the reverberation take a while; a held note never fades.
        const float after = run.waitForLevel([&](float level) { return level < sustained / 4; });
        run.count(disturbed);
        EXPECT_LT(after, sustained / 4) << "still sounding";
    });
}

// Guards against the user's SoundFont losing to the system's, and against a chosen file
// that has gone away leaving the synthesizer without any.
TEST_F(SynthOnServer, OpensWithTheChosenSoundFont) {
    testing_support::TempDir dir;
    // No SoundFont inside: loading it fails, which only the chosen file can make happen.
    synth::setSoundFontChoice(dir.writeText("broken.sf2", "RIFF"));
    MidiOutHandle handle = 1234;
    EXPECT_EQ(platform::midiOutOpen(&handle, 0), MidiError::SynthFailed);
    EXPECT_EQ(handle, 0u);

    synth::setSoundFontChoice(dir.path("removed.sf2"));
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        SynthRun run(m_sink.monitor());
        ASSERT_TRUE(run.recording());
        ASSERT_TRUE(run.open());
        const std::uint64_t sent = platform::clockMicros();
        run.send(shortMessage(0x90, 60, 100));
        const std::optional<std::uint64_t> heard = run.heardAfter(sent);
        run.count(disturbed);
        EXPECT_TRUE(heard.has_value()) << "silent with the system's SoundFont";
    });
}

// Guards against hanging, crashing or reporting the wrong failure without a sound server,
// and against a failed open leaving the device marked as in use.
TEST(SynthWithoutServer, OpenFailsWithNoSoundServer) {
    ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/socket");
    for (int attempt = 0; attempt < 2; ++attempt) {
        MidiOutHandle handle = 1234;
        EXPECT_EQ(platform::midiOutOpen(&handle, 0), MidiError::NoSoundServer);
        EXPECT_EQ(handle, 0u);
    }
    EXPECT_FALSE(platform::midiOutErrorText(MidiError::NoSoundServer).empty());
}

}  // namespace

namespace {

// Guards the mixer's synthesizer fader: a gain on what the synthesizer renders, so the
// mute silences a held note and half the volume halves it, whatever the session manager
// does to the stream's own volume. The recording must go loud, then half as loud, then
// silent, in that order.
TEST_F(SynthOnServer, MixerFaderScalesTheSynthesizer) {
    ASSERT_EQ(SelectOutputDevice(0), 0);
    testing_support::retryWhileDisturbed([&](testing_support::Disturbances& disturbed) {
        const std::uint32_t whole[2] = {65535, 65535};
        ASSERT_EQ(SetCurrentMidiOutputVolSetting(1, whole), 0);
        ASSERT_EQ(SetMidiOutMuteSetting(0), 0);
        SynthRun run(m_sink.monitor());
        ASSERT_TRUE(run.recording());
        ASSERT_TRUE(run.open());
        run.prepare(0, 19);
        run.send(shortMessage(0xC0, 19));  // church organ: steady for as long as the key is down
        const std::uint64_t sent = platform::clockMicros();
        run.send(shortMessage(0x90, 60, 100));
        ASSERT_TRUE(run.heardAfter(sent).has_value()) << "the note was never heard";
        run.wait(500 * kMs);
        const float loud = run.waitForLevel([](float) { return true; });
        ASSERT_GT(loud, kSoundThreshold);

        const std::uint32_t half[2] = {32767, 32767};
        ASSERT_EQ(SetCurrentMidiOutputVolSetting(1, half), 0);
        const float quieter = run.waitForLevel([&](float level) { return level < loud * 0.65f; });
        run.wait(300 * kMs);
        const float halved = run.waitForLevel([](float) { return true; });

        ASSERT_EQ(SetMidiOutMuteSetting(1), 0);
        const float muted = run.waitForLevel([](float level) { return level < kSilence; });
        run.count(disturbed);
        EXPECT_LT(quieter, loud * 0.65f) << "half the volume never came through";
        EXPECT_GT(halved, loud * 0.35f);
        EXPECT_LT(halved, loud * 0.65f);
        EXPECT_LT(muted, kSilence) << "the mute never came through";
    });
}

}  // namespace
