#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "LyricScan.h"
#include "SmfBuilder.h"
#include "SongWriter.h"
#include "TempDir.h"

namespace {

using songfile::TransposeNote;
using songfile::WriteEditedSong;
using testing_support::Bytes;
using testing_support::ByteVector;
using testing_support::fileBytes;
using testing_support::smf;
using testing_support::TempDir;
using testing_support::Track;

using Table = std::array<std::int16_t, 64>;

Table filled(std::int16_t value) {
    Table table;
    table.fill(value);
    return table;
}

struct TransposeCase {
    int channel;
    int note;
    int key;
    int result;
};

// Guards against notes leaving 0..127, folding by other than whole octaves, or moving
// percussion.
TEST(WriterTranspose, FoldsByOctaves) {
    const TransposeCase cases[] = {{0, 126, 3, 117},  {9, 126, 3, 126}, {0, 60, 0, 60},      {0, 0, -1, 11},
                                   {0, 127, 1, 116},  {0, 2, -5, 9},    {15, 60, -130, 2},   {0, 60, 1200, 120},
                                   {0, 127, -127, 0}, {9, 5, -20, 5},   {0, 120, 12, 120}};
    for (const TransposeCase& c : cases) {
        EXPECT_EQ(TransposeNote(c.channel, c.note, c.key), c.result)
            << "channel " << c.channel << " note " << c.note << " key " << c.key;
    }
}

struct EditCase {
    const char* name;
    int key;
    std::int16_t velocity;
    std::int16_t instrument;
    Track source;
    Track expected;
};

void PrintTo(const EditCase& value, std::ostream* out) { *out << value.name; }

class WriterEdit : public ::testing::TestWithParam<EditCase> {};

// Guards against edits applied to the wrong bytes: a walk out of step with the events
// (system messages, long metas, running status) edits data that is not a note.
TEST_P(WriterEdit, EditsInPlace) {
    const EditCase& c = GetParam();
    TempDir dir;
    const std::string source = dir.write("split", smf(1, 480, {c.source}));
    const std::string target = dir.path("out.mid");
    const Table instruments = filled(c.instrument);
    const Table velocities = filled(c.velocity);
    ASSERT_TRUE(WriteEditedSong(source, 100, instruments.data(), target, c.key, velocities.data()));
    EXPECT_EQ(fileBytes(target), smf(1, 480, {c.expected}));
}

const std::string kLyric200 = std::string(100, '\x90') + std::string(100, '\x3C');

INSTANTIATE_TEST_SUITE_P(
    WriterCases, WriterEdit,
    ::testing::Values(
        EditCase{"FoldUp", 3, 0, 255, Track().noteOn(0, 0, 126, 100), Track().noteOn(0, 0, 117, 100)},
        EditCase{"DrumsStay", 3, 0, 255, Track().noteOn(0, 9, 126, 100).noteOff(5, 9, 126),
                 Track().noteOn(0, 9, 126, 100).noteOff(5, 9, 126)},
        EditCase{"NoteOffVelocityKept", 2, 50, 255, Track().noteOff(0, 1, 60, 64), Track().noteOff(0, 1, 62, 64)},
        EditCase{"RunningStatusNotes", 1, -20, 255, Track().event(0, {0x90, 60, 100}).event(10, {62, 0}),
                 Track().event(0, {0x90, 61, 80}).event(10, {63, 0})},
        EditCase{"VelocityFloor", 0, -20, 255, Track().noteOn(0, 0, 60, 10).noteOn(0, 0, 61, 0),
                 Track().noteOn(0, 0, 60, 0).noteOn(0, 0, 61, 0)},
        EditCase{"VelocityCeiling", 0, 50, 255, Track().noteOn(0, 0, 60, 100).noteOn(0, 0, 61, 0),
                 Track().noteOn(0, 0, 60, 127).noteOn(0, 0, 61, 0)},
        EditCase{"ProgramKept", 0, 0, 255, Track().program(0, 0, 5), Track().program(0, 0, 5)},
        EditCase{"ProgramOverride", 0, 0, 40, Track().program(0, 0, 5).event(5, {7}), Track().program(0, 0, 40).event(5, {40})},
        EditCase{"OverrideLowByteOnly", 0, 0, 0x0128, Track().program(0, 0, 5), Track().program(0, 0, 40)},
        EditCase{"OverrideLowByteFF", 0, 0, 0x01FF, Track().program(0, 0, 5), Track().program(0, 0, 5)},
        EditCase{"OverrideNotAProgram", 0, 0, 0x90, Track().program(0, 0, 5), Track().program(0, 0, 5)},
        EditCase{"LongLyricSkipped", 5, 10, 255, Track().meta(0, 5, kLyric200).noteOn(0, 0, 60, 100),
                 Track().meta(0, 5, kLyric200).noteOn(0, 0, 65, 110)},
        EditCase{"SysExSkipped", 5, 10, 255, Track().event(0, {0xF0, 0x90, 60, 100, 0xF7}).event(0, {0x90, 60, 100}),
                 Track().event(0, {0xF0, 0x90, 60, 100, 0xF7}).event(0, {0x90, 65, 110})},
        EditCase{"SystemMessagesSkipped", 5, 0, 255,
                 Track().event(0, {0x90, 60, 100}).event(0, {0xF2, 60, 60}).event(0, {0xF1, 60}).event(0, {0xF8}).event(0, {60, 100}),
                 Track().event(0, {0x90, 65, 100}).event(0, {0xF2, 60, 60}).event(0, {0xF1, 60}).event(0, {0xF8}).event(0, {65, 100})},
        EditCase{"UndefinedTakesRunningStatus", 5, 0, 255,
                 Track().event(0, {0x90, 60, 100}).event(0, {0xF4, 60, 100}).event(0, {60, 100}),
                 Track().event(0, {0x90, 65, 100}).event(0, {0xF4, 60, 100}).event(0, {60, 100})},
        EditCase{"OtherMessagesUnchanged", 5, 10, 40,
                 Track().event(0, {0xA0, 60, 100}).event(0, {0xB0, 7, 100}).event(0, {0xE0, 0, 64}).event(0, {0xD0, 100}).event(0, {90}).noteOn(0, 0, 60, 100),
                 Track().event(0, {0xA0, 60, 100}).event(0, {0xB0, 7, 100}).event(0, {0xE0, 0, 64}).event(0, {0xD0, 100}).event(0, {90}).noteOn(0, 0, 65, 110)},
        EditCase{"NoteCutOffAtEnd", 5, 10, 255, Track().event(0, {0x90, 60}), Track().event(0, {0x90, 60})},
        EditCase{"HighDataBytesLeft", 5, 10, 255, Track().event(0, {0x90, 60, 0x85}), Track().event(0, {0x90, 65, 0x85})},
        EditCase{"ShortTempoLeft", 0, 0, 255, Track().meta(0, 0x51, "\x07\xA1"), Track().meta(0, 0x51, "\x07\xA1")}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Guards against tempo events of later tracks left alone, or a tempo below 4 BPM
// wrapping into a fast one.
TEST(WriterTempo, EveryTempoEventOfEveryTrack) {
    TempDir dir;
    const std::string source =
        dir.write("split", smf(1, 480, {Track().tempo(0, 500000).tempo(960, 400000).end(), Track().tempo(0, 300000).end()}));
    const Table keep = filled(255);
    const Table zero = filled(0);
    const std::string target = dir.path("out.mid");
    ASSERT_TRUE(WriteEditedSong(source, 100, keep.data(), target, 0, zero.data()));
    EXPECT_EQ(fileBytes(target), smf(1, 480, {Track().tempo(0, 600000).tempo(960, 600000).end(), Track().tempo(0, 600000).end()}));
    ASSERT_TRUE(WriteEditedSong(source, 1, keep.data(), target, 0, zero.data()));
    EXPECT_EQ(fileBytes(target), smf(1, 480, {Track().tempo(0, 0xFFFFFF).tempo(960, 0xFFFFFF).end(), Track().tempo(0, 0xFFFFFF).end()}));
}

// Following the song's own tempo changes, a save keeps the map and scales it: each event
// its own value times the ratio (rounded), never one tempo everywhere, never a value
// wrapping past three bytes or falling to 0.
TEST(WriterTempo, ScaledSaveKeepsEveryTempoEventsOwnValue) {
    TempDir dir;
    const std::string source = dir.write(
        "split", smf(1, 480, {Track().tempo(0, 500000).tempo(960, 400001).end(), Track().tempo(0, 0xF00000).tempo(10, 1).end()}));
    const Table keep = filled(255);
    const Table zero = filled(0);
    const std::string target = dir.path("out.mid");
    ASSERT_TRUE(WriteEditedSong(source, 100, keep.data(), target, 0, zero.data(), false, {3, 2}));
    EXPECT_EQ(fileBytes(target), smf(1, 480, {Track().tempo(0, 750000).tempo(960, 600002).end(),
                                              Track().tempo(0, 0xFFFFFF).tempo(10, 2).end()}));
    ASSERT_TRUE(WriteEditedSong(source, 100, keep.data(), target, 0, zero.data(), false, {1, 3}));
    EXPECT_EQ(fileBytes(target), smf(1, 480, {Track().tempo(0, 166667).tempo(960, 133334).end(),
                                              Track().tempo(0, 0x500000).tempo(10, 1).end()}));
}

// Guards against track k using another track's velocity offset or instrument.
TEST(WriterTracks, EachTrackItsOwnEntry) {
    TempDir dir;
    const auto track = [](int channel) { return Track().program(0, channel, 5).noteOn(0, channel, 60, 100).end(); };
    const std::string source = dir.write("split", smf(1, 480, {track(0), track(1), track(2)}));
    Table instruments = filled(255);
    Table velocities = filled(0);
    instruments[1] = 30;
    velocities[0] = 10;
    velocities[1] = -10;
    const std::string target = dir.path("out.mid");
    ASSERT_TRUE(WriteEditedSong(source, 120, instruments.data(), target, 0, velocities.data()));
    EXPECT_EQ(fileBytes(target), smf(1, 480, {Track().program(0, 0, 5).noteOn(0, 0, 60, 110).end(),
                                             Track().program(0, 1, 30).noteOn(0, 1, 60, 90).end(), track(2)}));
}

// Guards against a save that truncates the target (losing a performance's voice chunk
// behind the song) or leaves old bytes inside the song.
TEST(WriterLength, KeepsBytesBehindTheSong) {
    TempDir dir;
    const ByteVector song = smf(1, 96, {Track().noteOn(0, 0, 60, 100).end()});
    const std::string source = dir.write("split", song);
    const Table keep = filled(255);
    const Table zero = filled(0);

    ByteVector performance(song.size(), 0xEE);
    const ByteVector voice = Bytes().text("Rvpf").raw({4, 0, 0, 0}).text("RIFF").bytes();
    performance.insert(performance.end(), voice.begin(), voice.end());
    const std::string pfc = dir.write("song.pfc", performance);
    ASSERT_TRUE(WriteEditedSong(source, 120, keep.data(), pfc, 0, zero.data()));
    ByteVector expected = song;
    expected.insert(expected.end(), voice.begin(), voice.end());
    EXPECT_EQ(fileBytes(pfc), expected);

    const std::string shorter = dir.write("short.mid", {1, 2, 3});
    ASSERT_TRUE(WriteEditedSong(source, 120, keep.data(), shorter, 0, zero.data()));
    EXPECT_EQ(fileBytes(shorter), song);
}

// Guards against a long header shifting the output (the length field is written as 6,
// its extra bytes are read as the header words) or the source's trailing bytes copied.
TEST(WriterLength, LongHeaderAndTrailingBytes) {
    TempDir dir;
    const ByteVector body = Track().end().body();
    const ByteVector source = Bytes().text("MThd").u32(8).u16(1).u16(1).u16(480).text("MTrk")
                                  .u32(static_cast<std::uint32_t>(body.size())).raw(body).text("junk").bytes();
    const Table keep = filled(255);
    const Table zero = filled(0);
    const std::string target = dir.path("out.mid");
    ASSERT_TRUE(WriteEditedSong(dir.write("split", source), 120, keep.data(), target, 0, zero.data()));
    ByteVector expected(source.begin(), source.end() - 4);
    expected[7] = 6;
    EXPECT_EQ(fileBytes(target), expected);
}

// Guards against a written song that its own scan reads differently: new tempo, same
// lyrics, offset at the song's end.
TEST(WriterRoundTrip, RescanSeesSettings) {
    TempDir dir;
    const ByteVector song = smf(1, 480, {Track().tempo(0, 500000).end(), Track().end(),
                                         Track().meta(480, 1, "Twin").meta(240, 1, "kle").end()});
    const std::string path = dir.write("song.kar", song);
    const Table keep = filled(255);
    const Table zero = filled(0);
    ASSERT_TRUE(WriteEditedSong(path, 90, keep.data(), path, 2, zero.data()));
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    songfile::TlyricList* first = songfile::ExtractLyrics(path, ".KAR", tempo, offset);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->Next, nullptr);
    EXPECT_EQ(first->Text, "Twin");
    EXPECT_EQ(first->Next->Text, "kle");
    songfile::FreeLyricList(first);
    EXPECT_EQ(tempo, 90);
    EXPECT_EQ(offset, song.size());
}

}  // namespace
