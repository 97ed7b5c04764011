#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "SmfBuilder.h"
#include "TempDir.h"
#include "engine.h"

using namespace testing_support;
using platform::MidiProgram;

namespace {

struct SongCase {
    const char* fault;
    std::vector<Track> tracks;
    std::array<std::uint16_t, 64> instruments;
    std::vector<MidiProgram> programs;  // ordered by channel, bank, program
};

std::array<std::uint16_t, 64> keepAll() {
    std::array<std::uint16_t, 64> all{};
    all.fill(pulsant::kKeepProgram);
    return all;
}

std::array<std::uint16_t, 64> firstTrackPlays(std::uint16_t program) {
    std::array<std::uint16_t, 64> all = keepAll();
    all[0] = program;
    return all;
}

std::vector<SongCase> cases() {
    std::vector<SongCase> all;
    {
        Track banks;
        banks.control(0, 0, 0, 8).control(0, 0, 32, 3).end();
        Track programs;
        programs.program(10, 0, 5).end();
        all.push_back({"a bank selected earlier in a later track", {programs, banks}, keepAll(),
                       {{0, 8, 3, 5}}});
    }
    {
        Track track;
        track.program(0, 0, 5).control(10, 0, 0, 8).program(10, 0, 6).end();
        all.push_back({"a bank select after a change taken for it", {track}, keepAll(),
                       {{0, 0, 0, 5}, {0, 8, 0, 6}}});
    }
    {
        Track first;
        first.program(0, 1, 5).end();
        Track second;
        second.control(0, 1, 0, 8).program(0, 1, 7).end();
        all.push_back({"a later slot's bank select at the same tick taken for an earlier slot",
                       {first, second}, keepAll(), {{1, 0, 0, 5}, {1, 8, 0, 7}}});
    }
    {
        Track track;
        track.event(0, {0xC2, 1}).event(0, {2}).end();
        all.push_back({"a program change under running status missed", {track}, keepAll(),
                       {{2, 0, 0, 1}, {2, 0, 0, 2}}});
    }
    {
        Track track;
        track.program(0, 9, 16).noteOn(0, 9, 36, 100).program(96, 0, 5).program(96, 0, 5).end();
        all.push_back({"the caller's instrument on the wrong change, or the song's own dropped",
                       {track}, firstTrackPlays(40), {{0, 0, 0, 5}, {9, 0, 0, 16}, {9, 0, 0, 40}}});
    }
    {
        Track track;
        track.program(0, 0, 5).end();
        all.push_back({"a replacement that is no program number prepared",
                       {track}, firstTrackPlays(200), {{0, 0, 0, 5}}});
    }
    return all;
}

// Guards against the device being asked for the wrong instruments before Play: one
// missed is loaded while the song plays, where it stalls the sound.
TEST(SongPrograms, EveryProgramTheSongSelectsInItsBank) {
    for (const SongCase& c : cases()) {
        TempDir dir;
        pulsant::resetForTest();
        ASSERT_EQ(pulsant::LoadSong(dir.write("song.mid", smf(1, 96, c.tracks)).c_str()), "") << c.fault;
        EXPECT_EQ(pulsant::SongPrograms(c.instruments.data()), c.programs) << c.fault;
    }
    pulsant::resetForTest();
}

}  // namespace
