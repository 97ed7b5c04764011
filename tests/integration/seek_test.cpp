// A seek through a dense song must leave the built-in synthesizer exactly where playing
// the song up to the same tick leaves it: every controller, program, bank, pitch bend
// and pitch-bend range on every channel, with nothing lost on the way.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

#include "SmfBuilder.h"
#include "TempDir.h"
#include "TestServer.h"
#include "engine.h"
#include "platform/messages.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"
#include "pulsant/pulsant.h"
#include "pulse_support.h"
#include "synth/synthesizer.h"

namespace {

using namespace testing_support;
using Channels = std::array<synth::SynthChannelState, 16>;

constexpr int kEventsPerChannel = 20'000;

// Every channel changes a controller at every tick, and on the way selects pitch-bend
// ranges through registered parameters, banks and programs, and bends.
ByteVector denseSong() {
    std::vector<Track> tracks(16);
    for (int channel = 0; channel < 16; ++channel) {
        Track& track = tracks[static_cast<std::size_t>(channel)];
        for (int k = 0; k < kEventsPerChannel; ++k) {
            const int step = k / 8 + channel;
            switch (k % 8) {
                case 0:
                    track.control(1, channel, 7, step % 128);
                    break;
                case 1:
                    track.control(1, channel, 10, (step * 3) % 128);
                    break;
                case 2:
                    track.control(1, channel, 1, (step * 5) % 128);
                    break;
                case 3:
                    track.control(1, channel, 0, (step / 16) % 2 == 0 ? 0 : 8);
                    break;
                case 4:
                    track.program(1, channel, (step / 4) % 128);
                    break;
                case 5:
                    track.control(1, channel, 101, 0);
                    break;
                case 6:
                    track.control(0, channel, 100, 0).control(0, channel, 6, step % 24);
                    break;
                default:
                    track.event(1, {0xE0u | channel, static_cast<std::uint32_t>(step % 128),
                                    static_cast<std::uint32_t>((step * 7) % 128)});
                    break;
            }
        }
        track.end();
    }
    return smf(1, 96, tracks);
}

class SeekOnSynth : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SERVER();
        std::string error;
        ASSERT_TRUE(m_sink.create(error)) << error;
        ::unsetenv("CVK_MIDI_CAPTURE");
        platform::setClockMode(platform::ClockMode::Manual);
        pulsant::resetForTest();
        m_song = m_dir.write("dense.mid", denseSong());
        m_ini = m_dir.writeText("settings.ini", "");
        m_volumes.fill(0);
        m_instruments.fill(255);
    }

    void TearDown() override { CallStopSong(m_window.handle()); }

    void start() {
        std::uint16_t division = 0;
        ASSERT_EQ(CallStartSong(m_song.c_str(), m_window.handle(), &division, 0, m_volumes.data(),
                                m_instruments.data(), 0, m_ini.c_str()) &
                      0xFF,
                  1);
    }

    // The synthesizer's channels once it has applied everything sent, and nothing lost.
    Channels channels() {
        Channels state{};
        const platform::MidiOutHandle device = pulsant::engine().midiOut.load();
        EXPECT_TRUE(synth::readSynthesizerChannels(device, state));
        EXPECT_EQ(platform::midiOutDroppedCount(device), 0u) << "messages were lost";
        return state;
    }

    TempDir m_dir;
    cvktest::PrivateSink m_sink;
    platform::MessageQueue m_window;
    std::string m_song;
    std::string m_ini;
    std::array<std::int16_t, 64> m_volumes{};
    std::array<std::uint16_t, 64> m_instruments{};
};

// Guards against a seek that floods the synthesizer's queue and loses the last (the
// lasting) values, and against a seek that sends only the last value of each message
// kind where order matters (a bank before its program, a parameter before its data).
TEST_F(SeekOnSynth, FastForwardLeavesTheChannelsAsPlayingThere) {
    start();
    CallFastForward(m_window.handle());
    const std::uint32_t reached = pulsant::engine().songPosition.load();
    ASSERT_GT(reached, 1000u);
    const Channels afterSeek = channels();
    CallStopSong(m_window.handle());

    start();
    while (pulsant::engine().songPosition.load() < reached && !pulsant::engine().songEnded.load()) {
        platform::advanceManualClock(1);
    }
    ASSERT_EQ(pulsant::engine().songPosition.load(), reached);
    const Channels played = channels();

    for (std::size_t channel = 0; channel < 16; ++channel) {
        synth::SynthChannelState seek = afterSeek[channel];
        synth::SynthChannelState straight = played[channel];
        // Channel mode messages (the seek's own all-notes-off) are not state.
        for (std::size_t mode = 120; mode < 128; ++mode) {
            seek.controllers[mode] = straight.controllers[mode] = 0;
        }
        EXPECT_EQ(seek.controllers, straight.controllers) << "channel " << channel;
        EXPECT_EQ(seek.bank, straight.bank) << "channel " << channel;
        EXPECT_EQ(seek.program, straight.program) << "channel " << channel;
        EXPECT_EQ(seek.pitchBend, straight.pitchBend) << "channel " << channel;
        EXPECT_EQ(seek.pitchBendRange, straight.pitchBendRange) << "channel " << channel;
    }
}

}  // namespace
