// The notes reader over the bytes a song file can really hold.

#include <gtest/gtest.h>

#include "SmfBuilder.h"
#include "SongNotes.h"
#include "TempDir.h"

namespace {

using testing_support::Bytes;
using testing_support::ByteVector;
using testing_support::Track;

ByteVector oneNoteSong(const Track& track, int division = 96) {
    return testing_support::smf(1, division, {track});
}

struct BadInput {
    const char* name;
    ByteVector bytes;
    pitch::NotesError error;
};

void PrintTo(const BadInput& row, std::ostream* out) { *out << row.name; }

class SongNotesRefuses : public testing::TestWithParam<BadInput> {};

// Each row a file that reaches the reader: it is refused with its own reason, never read.
TEST_P(SongNotesRefuses, WithItsReason) {
    const BadInput& row = GetParam();
    const pitch::NotesResult result = pitch::ReadSongNotes(row.bytes.data(), row.bytes.size());
    EXPECT_EQ(result.error, row.error);
    EXPECT_TRUE(result.song.tracks.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SongNotesRefuses,
    testing::Values(BadInput{"Empty", {}, pitch::NotesError::NotSmf},
                    BadInput{"WaveFile", Bytes().text("RIFF").u32(36).text("WAVEfmt ").bytes(), pitch::NotesError::NotSmf},
                    BadInput{"HeaderCutShort", Bytes().text("MThd").u32(6).u16(1).u16(1).bytes(), pitch::NotesError::NotSmf},
                    BadInput{"HeaderLengthFive", Bytes().text("MThd").u32(5).u16(1).u16(1).u16(96).bytes(), pitch::NotesError::NotSmf},
                    BadInput{"DivisionZero", testing_support::smfHeader(1, 0, 0), pitch::NotesError::BadDivision},
                    BadInput{"SmpteDivision", testing_support::smfHeader(1, 0, 0xE728), pitch::NotesError::BadDivision}),
    [](const auto& row) { return std::string(row.param.name); });

struct CutCase {
    const char* name;
    std::size_t keepBytes;  // of the one-note song below; the rest is cut off
    std::size_t notes;
};

void PrintTo(const CutCase& row, std::ostream* out) { *out << row.name; }

class SongNotesCutShort : public testing::TestWithParam<CutCase> {};

// A file cut off anywhere (a download stopped, a disk full) gives the notes it holds
// whole; the reader never reads beyond the bytes it has.
TEST_P(SongNotesCutShort, KeepsWhatIsWhole) {
    const ByteVector whole = oneNoteSong(Track().noteOn(0, 0, 60, 100).noteOff(96, 0, 60).noteOn(0, 0, 62, 100).end(96));
    const ByteVector cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(GetParam().keepBytes));
    const pitch::NotesResult result = pitch::ReadSongNotes(cut.data(), cut.size());
    ASSERT_EQ(result.error, pitch::NotesError::None);
    std::size_t notes = 0;
    for (const auto& track : result.song.tracks) {
        notes += track.size();
    }
    EXPECT_EQ(notes, GetParam().notes);
}

INSTANTIATE_TEST_SUITE_P(Files, SongNotesCutShort,
                         testing::Values(CutCase{"HeaderOnly", 14, 0}, CutCase{"InsideTrackHeader", 18, 0},
                                         CutCase{"InsideFirstNoteOn", 24, 0}, CutCase{"AfterFirstNoteOn", 26, 1},
                                         CutCase{"InsideSecondNoteOn", 32, 1}, CutCase{"BeforeEnd", 35, 2}),
                         [](const auto& row) { return std::string(row.param.name); });

// Note-on with velocity 0 ends a note; a note never ended lasts to the track's last event;
// a key struck again over itself ends the earlier note there; running status carries on.
TEST(SongNotes, NoteEndsAsPlayersHearThem) {
    const ByteVector bytes = oneNoteSong(Track()
                                             .noteOn(0, 3, 60, 100)
                                             .event(48, {60, 0})  // running status, velocity 0
                                             .noteOn(0, 3, 64, 100)
                                             .noteOn(24, 3, 64, 90)
                                             .noteOn(0, 3, 67, 80)
                                             .end(200));
    const pitch::NotesResult result = pitch::ReadSongNotes(bytes.data(), bytes.size());
    ASSERT_EQ(result.error, pitch::NotesError::None);
    ASSERT_EQ(result.song.tracks.size(), 1u);
    const auto& notes = result.song.tracks[0];
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[0].endTick, 48u);
    EXPECT_EQ(notes[1].endTick, 72u);
    EXPECT_EQ(notes[2].endTick, 272u);
    EXPECT_EQ(notes[3].endTick, 272u);
    EXPECT_EQ(notes[3].channel, 3);
}

// A chunk claiming more bytes than the file holds is read to the file's end.
TEST(SongNotes, ChunkLengthBeyondTheFile) {
    ByteVector bytes = testing_support::smfHeader(1, 1, 96);
    const ByteVector body = Track().noteOn(0, 0, 60, 100).noteOff(10, 0, 60).end().body();
    const ByteVector chunk = Bytes().text("MTrk").u32(0xFFFFFFF0u).raw(body).bytes();
    bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    const pitch::NotesResult result = pitch::ReadSongNotes(bytes.data(), bytes.size());
    ASSERT_EQ(result.error, pitch::NotesError::None);
    ASSERT_EQ(result.song.tracks.size(), 1u);
    EXPECT_EQ(result.song.tracks[0].size(), 1u);
}

// Deltas adding up past 2^32 ticks would wrap time and end a note before its start.
TEST(SongNotes, TicksPastTheirRangeEndTheTrack) {
    Track track;
    track.noteOn(0, 0, 60, 100);
    for (int i = 0; i < 17; ++i) {
        track.meta(0x0FFFFFFF, 0x01, "x");
    }
    track.noteOff(0, 0, 60).noteOn(0, 0, 62, 100).end();
    const ByteVector bytes = oneNoteSong(track);
    const pitch::NotesResult result = pitch::ReadSongNotes(bytes.data(), bytes.size());
    ASSERT_EQ(result.error, pitch::NotesError::None);
    ASSERT_EQ(result.song.tracks[0].size(), 1u);
    EXPECT_EQ(result.song.tracks[0][0].endTick, 16u * 0x0FFFFFFFu);
}

TEST(SongNotes, MissingFileNamesIt) {
    const testing_support::TempDir dir;
    const std::string path = dir.path("gone.mid");
    const pitch::NotesResult result = pitch::ReadSongNotesFile(path);
    EXPECT_EQ(result.error, pitch::NotesError::CannotOpen);
    EXPECT_NE(pitch::NotesErrorText(result.error, path).find(path), std::string::npos);
}

}  // namespace
