// The built-in synthesizer against a real sound server (scripts/pulse-server.sh). Each
// test plays into a null sink of its own and records that sink's monitor.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "TempDir.h"
#include "TestServer.h"
#include "audio/mixer.h"
#include "faderlib/faderlib.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"
#include "pulse_support.h"
#include "synth/soundfont.h"

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

class SynthOnServer : public testing::Test {
protected:
    void SetUp() override {
        // A bare ctest has no server to play into; scripts/pulse-server.sh announces its
        // own, and once one is announced it must answer.
        SKIP_WITHOUT_TEST_SERVER();
        platform::setClockMode(platform::ClockMode::Real);
        std::string error;
        ASSERT_TRUE(m_sink.create(error))
            << "sound server at " << std::getenv("PULSE_SERVER") << ": " << error;
        ASSERT_TRUE(m_recording.start(m_sink.monitor().c_str(), 8.0, error)) << error;
    }

    void TearDown() override {
        if (m_handle != 0) {
            platform::midiOutClose(m_handle);
        }
    }

    void open() {
        ASSERT_EQ(platform::midiOutOpen(&m_handle, 0), MidiError::Ok);
        ASSERT_NE(m_handle, 0u);
    }
    void close() {
        ASSERT_EQ(platform::midiOutClose(m_handle), MidiError::Ok);
        m_handle = 0;
    }
    void send(std::uint32_t message) {
        ASSERT_EQ(platform::midiOutShortMessage(m_handle, message), MidiError::Ok);
    }
    // As the sequencer does before a song: the instrument is there when its change comes.
    void prepare(std::uint8_t channel, std::uint8_t program) {
        const platform::MidiProgram programs[] = {{channel, 0, 0, program}};
        ASSERT_EQ(platform::midiOutPreparePrograms(m_handle, programs), MidiError::Ok);
    }
    // Lets `micros` pass and waits until the recording has caught up with it.
    std::uint64_t wait(std::uint64_t micros) {
        const std::uint64_t until = platform::clockMicros() + micros;
        EXPECT_TRUE(m_recording.waitForSound(until, micros + 3'000'000)) << "recording stalled";
        return until;
    }
    float peakBetween(std::uint64_t fromMicros, std::uint64_t toMicros) const {
        return m_recording.peak(m_recording.frameAt(fromMicros), m_recording.frameAt(toMicros));
    }

    cvktest::PrivateSink m_sink;
    cvktest::PulseRecorder m_recording;
    MidiOutHandle m_handle = 0;
};

// Guards against a synthesizer that stays silent, sounds before the note was sent, or
// holds messages back until some later buffer.
TEST_F(SynthOnServer, NoteSoundsShortlyAfterItIsSent) {
    open();
    const std::uint64_t settled = wait(300 * kMs);
    const std::uint64_t sent = platform::clockMicros();
    send(shortMessage(0x90, 60, 100));
    wait(600 * kMs);
    send(shortMessage(0x80, 60));

    EXPECT_LT(peakBetween(settled - 200 * kMs, sent), kSilence) << "sound before the note";
    const auto onset = m_recording.onset(m_recording.frameAt(settled), m_recording.frames(),
                                         kSoundThreshold);
    ASSERT_TRUE(onset.has_value()) << "the note was never heard";
    const std::uint64_t heard = m_recording.frameMicros(*onset);
    EXPECT_GT(heard, sent);
    EXPECT_LT(heard, sent + 300 * kMs) << "heard " << (heard - sent) / kMs << " ms after sending";
}

// Guards against the cached synthesizer carrying a closed device's notes (or reverb) into
// the next song, and against a cached synthesizer that no longer plays once reopened.
TEST_F(SynthOnServer, ReopenedSynthesizerStartsSilentAndPlays) {
    open();
    prepare(0, 19);
    send(shortMessage(0xC0, 19));  // church organ: sounds for as long as the key is down
    send(shortMessage(0x90, 60, 100));
    const std::uint64_t held = wait(400 * kMs);
    EXPECT_GT(peakBetween(held - 200 * kMs, held), kSoundThreshold);
    close();

    open();
    const std::uint64_t reopened = platform::clockMicros();
    const std::uint64_t quietUntil = wait(400 * kMs);
    EXPECT_LT(peakBetween(reopened + 100 * kMs, quietUntil), kSilence) << "the old note lives on";
    send(shortMessage(0x91, 64, 100));
    const std::uint64_t played = wait(400 * kMs);
    EXPECT_GT(peakBetween(quietUntil, played), kSoundThreshold) << "silent after reopening";
}

// Guards against a reset that sends all-notes-off while the sustain pedal still holds the
// notes, and against the reset overtaking messages sent before it.
TEST_F(SynthOnServer, ResetSilencesNotesHeldByThePedal) {
    open();
    prepare(3, 19);
    send(shortMessage(0xC3, 19));
    send(shortMessage(0xB3, 64, 127));
    send(shortMessage(0x93, 67, 100));
    send(shortMessage(0x83, 67));
    const std::uint64_t held = wait(400 * kMs);
    const float sustained = peakBetween(held - 200 * kMs, held);
    ASSERT_GT(sustained, kSoundThreshold) << "the pedal did not hold the note";

    ASSERT_EQ(platform::midiOutReset(m_handle), MidiError::Ok);
    // The organ's release and the reverberation take a while; a held note would not fade.
    const std::uint64_t after = wait(700 * kMs);
    EXPECT_LT(peakBetween(after - 200 * kMs, after), sustained / 4) << "still sounding";
}

// Guards against the user's SoundFont losing to the system's, and against a chosen file
// that has gone away leaving the synthesizer without any.
TEST_F(SynthOnServer, OpensWithTheChosenSoundFont) {
    struct ClearChoice {
        ~ClearChoice() { synth::setSoundFontChoice(""); }
    } clearChoice;
    testing_support::TempDir dir;
    // No SoundFont inside: loading it fails, which only the chosen file can make happen.
    synth::setSoundFontChoice(dir.writeText("broken.sf2", "RIFF"));
    MidiOutHandle handle = 1234;
    EXPECT_EQ(platform::midiOutOpen(&handle, 0), MidiError::SynthFailed);
    EXPECT_EQ(handle, 0u);

    synth::setSoundFontChoice(dir.path("removed.sf2"));
    open();
    send(shortMessage(0x90, 60, 100));
    const std::uint64_t played = wait(400 * kMs);
    EXPECT_GT(peakBetween(played - 300 * kMs, played), kSoundThreshold);
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
// does to the stream's own volume.
TEST_F(SynthOnServer, MixerFaderScalesTheSynthesizer) {
    audio::useRealMixer();
    faderlib::resetForTest();
    ASSERT_EQ(SelectOutputDevice(0), 0);
    open();
    prepare(0, 19);
    send(shortMessage(0xC0, 19));  // church organ: steady for as long as the key is down
    send(shortMessage(0x90, 60, 100));
    const std::uint64_t full = wait(500 * kMs);
    const float loud = peakBetween(full - 200 * kMs, full);
    ASSERT_GT(loud, kSoundThreshold);

    const std::uint32_t half[2] = {32767, 32767};
    ASSERT_EQ(SetCurrentMidiOutputVolSetting(1, half), 0);
    const std::uint64_t halved = wait(500 * kMs);
    const float quieter = peakBetween(halved - 200 * kMs, halved);
    EXPECT_GT(quieter, loud * 0.35f);
    EXPECT_LT(quieter, loud * 0.65f);

    ASSERT_EQ(SetMidiOutMuteSetting(1), 0);
    const std::uint64_t muted = wait(500 * kMs);
    EXPECT_LT(peakBetween(muted - 200 * kMs, muted), kSilence);

    const std::uint32_t whole[2] = {65535, 65535};
    SetCurrentMidiOutputVolSetting(1, whole);
    SetMidiOutMuteSetting(0);
    DeSelectOutputDevice();
    faderlib::resetForTest();
}

}  // namespace
