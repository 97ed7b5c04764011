// The built-in synthesizer's instruments against a real sound server: a song's program
// changes never make the render callback load samples (which stalls every stream of the
// process), and an instrument chosen while the song plays comes in from the side.
//
// Each test plays through a SoundFont path of its own (a link to the system's font): the
// synthesizer keeps what it has loaded for the path it plays, so a path no earlier test
// used starts with nothing loaded, whatever ran before in this process.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
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
#include "synth/soundfont.h"
#include "synth/synthesizer.h"

namespace {

using namespace testing_support;

// Programs no channel plays by default, one every beat on channel 0, one with a bank
// select on channel 1, a drum kit on channel 9.
constexpr int kSongPrograms[] = {70, 71, 72, 73, 74, 75};
constexpr int kLastProgram = 75;
constexpr int kBankedProgram = 81;
constexpr int kDrumKit = 25;
// Chosen while the song plays, as from the instrument dialog: the song never selects it.
constexpr int kTriedProgram = 90;

ByteVector programSong() {
    Track track;
    for (const int program : kSongPrograms) {
        track.program(0, 0, program).noteOn(0, 0, 60, 100).noteOff(48, 0, 60).event(48, {0x90, 62, 0});
    }
    track.end();
    Track other;
    other.control(0, 1, 0, 8).program(0, 1, kBankedProgram).program(0, 9, kDrumKit).noteOn(96, 9, 36, 100);
    other.noteOff(96, 9, 36).end();
    return smf(1, 96, {track, other});
}

class ProgramLoading : public testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SERVER();
        const std::string font = synth::findSoundFont();
        if (font.empty()) {
            GTEST_SKIP() << "no SoundFont installed";
        }
        std::string error;
        ASSERT_TRUE(m_sink.create(error)) << error;
        const std::string link = m_dir.path("font" + std::filesystem::path(font).extension().string());
        std::filesystem::create_symlink(font, link);
        synth::setSoundFontChoice(link);
        ::unsetenv("CVK_MIDI_CAPTURE");
        platform::setClockMode(platform::ClockMode::Manual);
        pulsant::resetForTest();
        m_song = m_dir.write("programs.mid", programSong());
        m_ini = m_dir.writeText("settings.ini", "");
        m_volumes.fill(0);
        m_instruments.fill(pulsant::kKeepProgram);
        m_before = synth::synthesizerLoadCounts();
    }

    void TearDown() override {
        CallStopSong(m_window.handle());
        synth::setSoundFontChoice("");
    }

    void start() {
        std::uint16_t division = 0;
        ASSERT_EQ(CallStartSong(m_song.c_str(), m_window.handle(), &division, 0, m_volumes.data(),
                                m_instruments.data(), 0, m_ini.c_str()) &
                      0xFF,
                  1);
    }

    std::array<synth::SynthChannelState, 16> channels() {
        std::array<synth::SynthChannelState, 16> state{};
        EXPECT_TRUE(synth::readSynthesizerChannels(pulsant::engine().midiOut.load(), state))
            << "the synthesizer did not take what it was sent";
        return state;
    }

    TempDir m_dir;
    cvktest::PrivateSink m_sink;
    platform::MessageQueue m_window;
    std::string m_song;
    std::string m_ini;
    std::array<std::int16_t, 64> m_volumes{};
    std::array<std::uint16_t, 64> m_instruments{};
    synth::SynthLoadCounts m_before;
};

// Guards against a song's program changes loading their instruments in the render
// callback, with the sound server's lock held: the sequencer must have every one of
// them prepared before Play, in its bank, the drum kit included.
TEST_F(ProgramLoading, ASongsProgramChangesLoadNothingWhileRendering) {
    start();
    while (!pulsant::engine().songEnded.load()) {
        platform::advanceManualClock(1);
    }
    const auto state = channels();
    EXPECT_EQ(state[0].program, kLastProgram);
    EXPECT_EQ(state[1].program, kBankedProgram);
    EXPECT_EQ(state[9].program, kDrumKit);
    const synth::SynthLoadCounts after = synth::synthesizerLoadCounts();
    EXPECT_EQ(after.opensWhileRendering - m_before.opensWhileRendering, 0u)
        << "instruments were loaded inside the render callback";
    EXPECT_EQ(after.heldPrograms - m_before.heldPrograms, 0u)
        << "program changes waited for instruments the song had announced";
}

// Guards against an instrument tried out while the song plays (one the song never
// selects) being loaded in the render callback, or never taking effect.
TEST_F(ProgramLoading, AnInstrumentChosenWhilePlayingIsLoadedAside) {
    start();
    platform::advanceManualClock(5);
    CallChangeInstrumentDLL(0, 0, kTriedProgram);
    platform::advanceManualClock(1);  // the timer sends it
    // The channel takes it once loaded: the song itself changes channel 0's program only
    // at the next beat, which the stopped clock keeps away.
    EXPECT_EQ(channels()[0].program, kTriedProgram);
    const synth::SynthLoadCounts after = synth::synthesizerLoadCounts();
    EXPECT_EQ(after.opensWhileRendering - m_before.opensWhileRendering, 0u)
        << "the instrument was loaded inside the render callback";
    EXPECT_EQ(after.heldPrograms - m_before.heldPrograms, 1u)
        << "the change did not wait for its instrument";
}

}  // namespace
