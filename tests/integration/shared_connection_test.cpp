// The synthesizer, the wave devices and the mixer on one connection to a sound server of
// the test's own (scripts/pulse-server.sh), which the test kills and starts again.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TestServer.h"
#include "own_server.h"
#include "audio/mixer.h"
#include "audio/wave_out.h"
#include "platform/messages.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"
#include "pulse_support.h"

namespace {

using platform::MidiError;
using audio::MixerError;
using audio::WaveError;

using cvktest::run;

// Clients of this process that call themselves ours, on `server`.
int clientsOfOurs(const cvktest::OwnServer& server) {
    const std::string pid = "application.process.id = \"" + std::to_string(::getpid()) + "\"";
    int count = 0;
    std::istringstream listing(server.pactl("list clients"));
    std::string line;
    bool named = false;
    bool mine = false;
    auto close = [&] {
        count += named && mine ? 1 : 0;
        named = mine = false;
    };
    while (std::getline(listing, line)) {
        if (line.rfind("Client #", 0) == 0) {
            close();
        }
        named = named || line.find("application.name = \"Cantivo\"") != std::string::npos;
        mine = mine || line.find(pid) != std::string::npos;
    }
    close();
    return count;
}

// The three modules open at once, as the window has them while a performance plays.
struct Opened {
    platform::MidiOutHandle synth = 0;
    audio::WaveOutHandle voice = 0;
    audio::MixerHandle mixer = 0;
    audio::MixerId mixerId = 0;
    std::uint32_t masterVolume = 0;  // the control's identifier
    std::vector<std::int16_t> samples = std::vector<std::int16_t>(441, 1000);  // 20 ms
    audio::WaveHeader header;

    void close() {
        if (synth != 0) {
            EXPECT_EQ(platform::midiOutClose(synth), MidiError::Ok);
        }
        if (voice != 0) {
            audio::waveOutReset(voice);
            audio::waveOutUnprepareHeader(voice, &header);
            EXPECT_EQ(audio::waveOutClose(voice), WaveError::Ok);
        }
        if (mixer != 0) {
            EXPECT_EQ(audio::mixerClose(mixer), MixerError::Ok);
        }
        synth = 0;
        voice = 0;
        mixer = 0;
    }
};

// Each test runs against a server of its own, which it may kill and start again.
class SharedConnection : public testing::Test {
protected:
    void SetUp() override {
        if (!testing_support::testServerGiven() || std::getenv("CVK_SOURCE_DIR") == nullptr) {
            GTEST_SKIP() << "run under scripts/pulse-server.sh, from ctest";
        }
        ASSERT_TRUE(server.start()) << "no server of the test's own";
        scoped.emplace(server.address());
    }

    cvktest::OwnServer server;
    std::optional<cvktest::ScopedServer> scoped;  // goes before the server does
};

// Guards the one connection: the synthesizer, a voice and the mixer in one process are one
// client of the server, not three; and a server that died under them leaves each failing
// as it would without a server, after which one new connection serves them all again.
TEST_F(SharedConnection, OneClientForEveryModuleAndANewOneAfterTheServerCameBack) {
    platform::setClockMode(platform::ClockMode::Real);
    audio::useRealWave();
    audio::useRealMixer();
    platform::MessageQueue window;

    for (const char* when : {"first start", "after the server was killed and started again"}) {
        SCOPED_TRACE(when);
        Opened open;
        ASSERT_EQ(platform::midiOutOpen(&open.synth, 0), MidiError::Ok);
        ASSERT_EQ(audio::waveOutOpen(&open.voice, audio::kWaveMapper, audio::WaveFormat(),
                                        window.handle()),
                  WaveError::Ok);
        ASSERT_EQ(audio::mixerIdOfOutput(0, open.mixerId), MixerError::Ok);
        ASSERT_EQ(audio::mixerOpen(open.mixer, open.mixerId, window.handle()), MixerError::Ok);
        audio::MixerLineInfo speakers;
        audio::MixerControlInfo volume;
        ASSERT_EQ(audio::mixerDestination(open.mixerId, audio::ComponentType::DstSpeakers, speakers),
                  MixerError::Ok);
        ASSERT_EQ(audio::mixerLineControl(open.mixerId, speakers.lineId, audio::ControlType::Volume,
                                             volume),
                  MixerError::Ok);
        open.masterVolume = volume.controlId;
        EXPECT_EQ(clientsOfOurs(server), 1);

        // The voice's stream plays: its buffer comes back.
        open.header.lpData = reinterpret_cast<char*>(open.samples.data());
        open.header.dwBufferLength = static_cast<std::uint32_t>(open.samples.size() * 2);
        ASSERT_EQ(audio::waveOutPrepareHeader(open.voice, &open.header), WaveError::Ok);
        ASSERT_EQ(audio::waveOutWrite(open.voice, &open.header), WaveError::Ok);
        platform::Message done;
        bool returned = false;
        const std::uint64_t giveUp = platform::clockMicros() + 30'000'000;
        while (!returned && platform::clockMicros() < giveUp) {
            returned = window.wait(done, 100) && done.message == audio::kWaveOutDoneMessage;
        }
        EXPECT_TRUE(returned) << "the voice's buffer never came back";
        if (std::string(when) != "first start") {
            open.close();
            break;
        }

        server.kill();
        // Once the connection has noticed (however long a busy machine takes to tell it).
        std::uint32_t read[1] = {};
        MixerError readDead = audio::mixerGetValues(open.mixerId, open.masterVolume, 1, read);
        const std::uint64_t noticeBy = platform::clockMicros() + 30'000'000;
        while (readDead != MixerError::NoSoundServer && platform::clockMicros() < noticeBy) {
            cvktest::pauseMicros(20'000);
            readDead = audio::mixerGetValues(open.mixerId, open.masterVolume, 1, read);
        }
        EXPECT_EQ(readDead, MixerError::NoSoundServer);
        open.close();  // nothing hangs on a dead server
        platform::MidiOutHandle synth = 0;
        EXPECT_EQ(platform::midiOutOpen(&synth, 0), MidiError::NoSoundServer);
        audio::WaveOutHandle voice = 0;
        EXPECT_EQ(audio::waveOutOpen(&voice, audio::kWaveMapper, audio::WaveFormat(), window.handle()),
                  WaveError::NoSoundServer);
        ASSERT_TRUE(server.restart()) << "the server did not come back";
        while (window.peek(done)) {
        }
    }
}

// Guards the pass-through across a server's restart: the line reads off, and switching it
// off does not unload the module the new server numbered as the lost pass-through was.
TEST_F(SharedConnection, APassThroughTheServerLostIsForgotten) {
    audio::useRealMixer();
    audio::MixerId mixer = 0;
    audio::MixerLineInfo microphone;
    audio::MixerControlInfo mute;
    ASSERT_EQ(audio::mixerIdOfOutput(0, mixer), MixerError::Ok);
    ASSERT_EQ(audio::mixerSourceLine(mixer, 0, 2, microphone), MixerError::Ok);
    ASSERT_EQ(audio::mixerLineControl(mixer, microphone.lineId, audio::ControlType::Mute, mute),
              MixerError::Ok);
    const std::uint32_t on[1] = {0};
    ASSERT_EQ(audio::mixerSetValues(mixer, mute.controlId, 1, on), MixerError::Ok);
    ASSERT_NE(server.pactl("list short modules").find("module-loopback"), std::string::npos);

    server.kill();
    ASSERT_TRUE(server.restart()) << "the server did not come back";
    // The first module loaded now has the number the pass-through had.
    server.pactl("load-module module-null-sink sink_name=bystander");
    std::uint32_t read[1] = {0};
    ASSERT_EQ(audio::mixerGetValues(mixer, mute.controlId, 1, read), MixerError::Ok);
    EXPECT_EQ(read[0], 1u) << "claims a pass-through the server lost";
    const std::uint32_t off[1] = {1};
    EXPECT_EQ(audio::mixerSetValues(mixer, mute.controlId, 1, off), MixerError::Ok);
    EXPECT_NE(server.pactl("list short modules").find("bystander"), std::string::npos)
        << "another module was unloaded in the pass-through's place";
    audio::useRealMixer();
}

}  // namespace
