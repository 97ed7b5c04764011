// The library's reading of one song: names, words and length from the bytes, and the
// reason given for every kind of file that is not a song.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LibrarySongs.h"
#include "SongSummary.h"
#include "SongText.h"

namespace {

using testing_support::Bytes;
using testing_support::Track;
using ByteVector = std::vector<std::uint8_t>;

library::SongSummary summarize(const ByteVector& bytes, const std::string& name, std::string& error) {
    return library::summarizeSong(bytes, name, error);
}

// Guards against the karaoke header lines being taken for words, or title and artist swapped.
TEST(SongSummary, KaraokeNamesWordsAndLength) {
    std::string error;
    const auto summary = summarize(librarytest::karaokeSong("Moon River", "Andy Singer", {"Moon", "river", "wider", "than"}),
                                   "x.kar", error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(summary.title, "Moon River");
    EXPECT_EQ(summary.artist, "Andy Singer");
    EXPECT_EQ(summary.lyrics, "Moon river wider than");
    // Five quarters at 120 beats per minute.
    EXPECT_EQ(summary.seconds, 3);
}

// Guards against the song rule's words, a tempo change's effect on the length, or the
// track name as title going missing.
TEST(SongSummary, LyricEventsAndTrackName) {
    std::string error;
    const auto summary = summarize(librarytest::lyricEventSong("Blue Bayou", {"I", "feel", "so", "bad"}), "y.mid", error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(summary.title, "Blue Bayou");
    EXPECT_EQ(summary.artist, "");
    EXPECT_EQ(summary.lyrics, "I feel so bad");
}

// Guards against a long song's length being cut by 32-bit microseconds or a wrong tempo.
TEST(SongSummary, LengthFollowsTempoChanges) {
    Track first;
    // 600 quarters at 1 s, then 600 at 0.5 s: 900 s.
    first.tempo(0, 1'000'000).tempo(600 * 96, 500'000).noteOn(0, 0, 60, 90).noteOff(600 * 96, 0, 60).end(0);
    std::string error;
    const auto summary = summarize(testing_support::smf(0, 96, {first}), "long.mid", error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(summary.seconds, 900);
}

// Guards against a song without names being listed under an empty title.
TEST(SongSummary, NamesFromTheFileName) {
    std::string error;
    auto summary = summarize(librarytest::bareSong(), "The Band - Long Road.mid", error);
    EXPECT_EQ(summary.title, "Long Road");
    EXPECT_EQ(summary.artist, "The Band");
    summary = summarize(librarytest::bareSong(), "instrumental.mid", error);
    EXPECT_EQ(summary.title, "instrumental");
    EXPECT_EQ(summary.artist, "");
}

// Guards against 8-bit texts reaching the database as invalid UTF-8, and UTF-8 being
// decoded twice.
TEST(SongSummary, TextsBecomeUtf8) {
    EXPECT_EQ(library::songTextUtf8("Canci\xF3n"), "Canci\xC3\xB3n");
    EXPECT_EQ(library::songTextUtf8("Canci\xC3\xB3n"), "Canci\xC3\xB3n");
    EXPECT_EQ(library::songTextUtf8("\x93quoted\x94"), "\xE2\x80\x9Cquoted\xE2\x80\x9D");
    // Bytes WINDOWS-1252 leaves undefined, an overlong form and a lone continuation byte.
    EXPECT_EQ(library::songTextUtf8("\x81\x8D"), "\xC2\x81\xC2\x8D");
    EXPECT_EQ(library::songTextUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");
    EXPECT_EQ(library::songTextUtf8("a\tb\x01"), "a b ");
}

struct BadSong {
    const char* name;
    ByteVector bytes;
    const char* error;
};

ByteVector header(int format, int count, int division, std::uint32_t length = 6) {
    Bytes bytes;
    bytes.text("MThd").u32(length).u16(static_cast<std::uint32_t>(format)).u16(static_cast<std::uint32_t>(count)).u16(
        static_cast<std::uint32_t>(division));
    return bytes.bytes();
}

// Guards against a file that is not a song being indexed, or read past its end.
TEST(SongSummary, BadInputsEachGetTheirReason) {
    Track track;
    track.noteOn(0, 0, 60, 90).end(0);
    const ByteVector chunk = testing_support::trackChunk(track);
    ByteVector cut = testing_support::concat({header(1, 1, 96), chunk});
    cut.resize(cut.size() - 2);
    ByteVector alien = testing_support::concat({header(1, 1, 96), chunk});
    alien[14] = 'X';
    const std::vector<BadSong> table = {
        {"empty", {}, "not a Standard MIDI file"},
        {"text", ByteVector{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'},
         "not a Standard MIDI file"},
        {"header cut", ByteVector{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}, "not a Standard MIDI file"},
        {"header length 5", header(1, 1, 96, 5), "damaged file header"},
        {"header length past the end", header(1, 1, 96, 0x7FFFFFFF), "damaged file header"},
        {"format 3", testing_support::concat({header(3, 1, 96), chunk}), "unknown file format or track count"},
        {"no tracks", header(1, 0, 96), "unknown file format or track count"},
        {"format 0, two tracks", testing_support::concat({header(0, 2, 96), chunk, chunk}),
         "unknown file format or track count"},
        {"256 tracks", header(1, 256, 96), "unknown file format or track count"},
        {"SMPTE", testing_support::concat({header(1, 1, 0xE728), chunk}),
         "time in SMPTE frames or a division of 0, which the player does not play"},
        {"division 0", testing_support::concat({header(1, 1, 0), chunk}),
         "time in SMPTE frames or a division of 0, which the player does not play"},
        {"track missing", header(1, 2, 96), "track 1 is missing or not a track"},
        {"second track missing", testing_support::concat({header(1, 2, 96), chunk}),
         "track 2 is missing or not a track"},
        {"not a track chunk", alien, "track 1 is missing or not a track"},
        {"track cut off", cut, "track 1 is cut off"},
    };
    for (const BadSong& bad : table) {
        std::string error;
        summarize(bad.bytes, "bad.mid", error);
        EXPECT_EQ(error, bad.error) << bad.name;
    }
}

// Guards against a track whose last event runs past its chunk stopping the whole song: the
// words before it are kept, as the player's scan keeps them.
TEST(SongSummary, EventCutOffInsideItsTrack) {
    Track first;
    first.meta(0, 3, "Half").meta(10, 5, "la ").meta(10, 5, "la").rawBytes({0x00, 0xFF, 0x05, 0x40, 'x'});
    std::string error;
    const auto summary = summarize(testing_support::smf(0, 96, {first}), "half.mid", error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(summary.title, "Half");
    EXPECT_EQ(summary.lyrics, "la la");
}

}  // namespace
