// Every walker of track bytes must agree on where each event ends: the sequencer's loader
// (which decides the song's length), its player and its instrument override, the channel
// split, the lyric and track scan, and the song writer. A walker that reads one event a
// byte too short or too long takes data for a delta time (or a delta for data) and from
// there on plays, copies or rewrites the wrong bytes.

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "LyricScan.h"
#include "MidiSplit.h"
#include "SequencerHarness.h"
#include "SongWriter.h"

using namespace testing_support;

namespace {

constexpr std::uint32_t kMarkerTick = 16;
constexpr int kMarkerChannel = 1;
constexpr int kMarkerProgram = 5;
constexpr int kOverride = 40;

struct MeasureCase {
    std::string name;
    ByteVector event;  // the event under test, without its delta time
    bool followedByRunningNote = false;

    friend void PrintTo(const MeasureCase& c, std::ostream* out) { *out << c.name; }
};

// A note that sets the running status, the event under test, for system events a note
// under the running status they must leave alone, then the marker: a program change on
// channel 1 at tick 16.
Track trackWith(const MeasureCase& c) {
    Track track;
    track.noteOn(0, 0, 60, 64);
    if (!c.event.empty()) {
        track.rawBytes(Bytes().varLen(0).raw(c.event).bytes());
    }
    if (c.followedByRunningNote) {
        track.event(0, {62, 64});
    }
    track.program(kMarkerTick, kMarkerChannel, kMarkerProgram).end();
    return track;
}

std::vector<MeasureCase> everyStatusByte() {
    std::vector<MeasureCase> cases;
    for (int status = 0x80; status <= 0xEF; ++status) {
        const bool oneDataByte = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0;
        ByteVector event{static_cast<std::uint8_t>(status), 0x01};
        if (!oneDataByte) {
            event.push_back(0x01);
        }
        char name[16];
        std::snprintf(name, sizeof name, "Status%02X", status);
        cases.push_back({name, event, false});
    }
    // System bytes with the data the loader reads after them; none of them may end the
    // note's running status unless it is one of the undefined ones, which take it over.
    const std::vector<std::pair<std::string, ByteVector>> system{
        {"SysEx", {0xF0, 0x01, 0x02, 0xF7}},
        {"StatusF1", {0xF1, 0x01}},
        {"StatusF2", {0xF2, 0x01, 0x01}},
        {"StatusF3", {0xF3, 0x01}},
        {"StatusF4", {0xF4, 0x01, 0x01}},
        {"StatusF5", {0xF5, 0x01, 0x01}},
        {"StatusF6", {0xF6}},
        {"StatusF7", {0xF7, 0x01, 0x01}},
        {"StatusF8", {0xF8}},
        {"StatusF9", {0xF9, 0x01, 0x01}},
        {"StatusFA", {0xFA}},
        {"StatusFB", {0xFB}},
        {"StatusFC", {0xFC}},
        {"StatusFD", {0xFD, 0x01, 0x01}},
        {"StatusFE", {0xFE}},
        {"Meta", {0xFF, 0x01, 0x02, 0x01, 0x01}},
        {"EndOfTrackWithData", {0xFF, 0x2F, 0x01, 0x01}},
    };
    for (const auto& [name, event] : system) {
        cases.push_back({name, event, true});
    }
    return cases;
}

bool undefinedStatus(std::uint8_t b) {
    return b == 0xF4 || b == 0xF5 || b == 0xF7 || b == 0xF9 || b == 0xFD;
}

class EventMeasure : public SequencerTest, public testing::WithParamInterface<MeasureCase> {
protected:
    // Plays `file` through the sequencer to its end; everything it sent.
    std::vector<Captured> play(const std::string& file) {
        EXPECT_EQ(CallStartSong(file.c_str(), window(), &m_division, 0, m_volumes.data(),
                                m_instruments.data(), 0, m_ini.c_str()) &
                      0xFF,
                  1);
        runToEnd(10'000);
        return stopAndRead();
    }

    // The last program change on `channel`: the marker, whatever comes before it.
    static std::optional<Captured> programChangeOn(const std::vector<Captured>& all, int channel) {
        std::optional<Captured> last;
        for (const Captured& c : all) {
            if (c.status == (0xC0 | channel)) {
                last = c;
            }
        }
        return last;
    }

    // When the marker sounds in a song without the event under test.
    std::uint64_t markerMicros() {
        MeasureCase none{"None", {}, false};
        const std::string file = m_dir.write("plain.mid", smf(0, 96, {trackWith(none)}));
        const auto marker = programChangeOn(play(file), kMarkerChannel);
        return marker ? marker->micros : 0;
    }
};

TEST_P(EventMeasure, EveryWalkerFindsTheEventThatFollows) {
    const MeasureCase& c = GetParam();
    const std::uint64_t expectedMicros = markerMicros();
    ASSERT_GT(expectedMicros, 0u);
    const std::string song = m_dir.write("song.mid", smf(0, 96, {trackWith(c)}));

    // The loader: the song is as long as the marker's tick.
    const auto all = play(song);
    ASSERT_EQ(pulsant::LoadSong(song.c_str()), "");
    EXPECT_EQ(engineOf().songLength, kMarkerTick) << "loader";
    pulsant::resetForTest();

    // The player: the marker at its time, and the note under the running status that a
    // system event leaves alone.
    const auto marker = programChangeOn(all, kMarkerChannel);
    ASSERT_TRUE(marker.has_value()) << "player lost the marker";
    EXPECT_EQ(marker->data1, kMarkerProgram);
    EXPECT_EQ(marker->micros, expectedMicros) << "player";
    if (c.followedByRunningNote) {
        const std::uint8_t b = c.event[0];
        const bool noteFollows = !undefinedStatus(b);
        const bool noteSent = std::any_of(all.begin(), all.end(), [](const Captured& m) {
            return m.status == 0x90 && m.data1 == 62 && m.data2 == 64;
        });
        EXPECT_EQ(noteSent, noteFollows) << "running status after the system event";
        EXPECT_TRUE(std::none_of(all.begin(), all.end(), [](const Captured& m) {
            return m.status >= 0xF4;
        })) << "an undefined system message was sent";
    }

    // The instrument override rewrites the first program change with its own status.
    m_instruments[0] = kOverride;
    const auto overridden = play(song);
    m_instruments[0] = 255;
    const std::uint8_t tested = c.event[0];
    const bool testedIsProgram = (tested & 0xF0) == 0xC0;
    const bool testedIsMarkerProgram = tested == (0xC0 | kMarkerChannel);
    const auto overriddenMarker = programChangeOn(overridden, kMarkerChannel);
    ASSERT_TRUE(overriddenMarker.has_value());
    EXPECT_EQ(overriddenMarker->data1, testedIsProgram ? kMarkerProgram : kOverride)
        << "override walk";

    // The split keeps the marker in a track of channel 1 at the same tick, and the scan
    // finds it there.
    const std::string split = m_dir.path("split.mid");
    const songfile::SplitResult result = songfile::SplitMidiFile(song, split);
    ASSERT_EQ(result.message, "") << "split";
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    songfile::FreeLyricList(songfile::ExtractLyrics(split, ".MID", tempo, offset));
    ASSERT_TRUE(offset.has_value()) << "scan";
    int markerTrack = -1;
    for (std::size_t t = 0; t < songfile::kTrackInfoCount; ++t) {
        if (songfile::TrackInfoTable[t].Channel == kMarkerChannel) {
            markerTrack = static_cast<int>(t);
        }
    }
    ASSERT_GE(markerTrack, 0) << "the scan did not find the marker in the split file";
    EXPECT_EQ(songfile::TrackInfoTable[static_cast<std::size_t>(markerTrack)].FileProgram,
              testedIsMarkerProgram ? 0x01 : kMarkerProgram)
        << "scan";
    const auto fromSplit = programChangeOn(play(split), kMarkerChannel);
    ASSERT_TRUE(fromSplit.has_value());
    EXPECT_EQ(fromSplit->micros, expectedMicros) << "split";

    // The writer rewrites the marker track's program and nothing else moves.
    std::array<std::int16_t, 64> instruments;
    instruments.fill(0xFF);
    instruments[static_cast<std::size_t>(markerTrack)] = kOverride;
    std::array<std::int16_t, 64> velocities{};
    const std::string written = m_dir.path("written.mid");
    ASSERT_TRUE(songfile::WriteEditedSong(split, 120, instruments.data(), written, 0,
                                          velocities.data(), true));
    const auto fromWriter = programChangeOn(play(written), kMarkerChannel);
    ASSERT_TRUE(fromWriter.has_value());
    EXPECT_EQ(fromWriter->data1, kOverride) << "writer";
    EXPECT_EQ(fromWriter->micros, expectedMicros) << "writer";
}

INSTANTIATE_TEST_SUITE_P(Table, EventMeasure, testing::ValuesIn(everyStatusByte()),
                         [](const testing::TestParamInfo<MeasureCase>& param) {
                             return param.param.name;
                         });

}  // namespace
