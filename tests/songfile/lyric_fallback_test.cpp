#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "LyricFallback.h"
#include "LyricScan.h"
#include "SmfBuilder.h"
#include "TempDir.h"

namespace {

using songfile::CollectSongTexts;
using songfile::ExtractLyrics;
using songfile::FreeLyricList;
using songfile::LyricSourceName;
using songfile::ScanShownLyrics;
using songfile::SongText;
using songfile::TlyricList;
using songfile::TrackInfoTable;
using testing_support::Bytes;
using testing_support::ByteVector;
using testing_support::concat;
using testing_support::smf;
using testing_support::smfHeader;
using testing_support::TempDir;
using testing_support::Track;
using testing_support::trackChunk;

struct Item {
    int start;
    int end;
    std::string text;
    int track;
    bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
    return out << "{" << item.start << ", " << item.end << ", \"" << item.text << "\", track " << item.track << "}";
}

std::vector<Item> itemsOf(const TlyricList* first) {
    std::vector<Item> items;
    for (const TlyricList* item = first; item != nullptr; item = item->Next) {
        items.push_back({item->StartTick, item->EndTick, item->Text, item->Track});
    }
    return items;
}

Track notes(int channel) { return Track().noteOn(0, channel, 60, 100).noteOff(1920, channel, 60).end(); }

// A karaoke header as other programs write it: "@" lines and copyrights beside the words.
Track headerLines(Track track) {
    return track.meta(0, 1, "@KMIDI KARAOKE FILE").meta(0, 1, "@TTwinkle").meta(10, 1, "(C) 1999 Example Songs")
        .meta(0, 1, "@LENGL").meta(0, 1, "Copyright 2001 Someone");
}

// Five texts that look sung, for songs whose own rule must win over them.
Track sungTexts(Track track) {
    return track.meta(480, 1, "la").meta(120, 1, "la ").meta(120, 1, "la").meta(120, 1, "la ").meta(120, 1, "la");
}

struct Song {
    const char* name;
    const char* ext;
    std::vector<Track> tracks;
    bool answer;           // to the offer of the other rule's words
    bool asked;
    const char* rule;
    std::vector<Item> items;
    const char* lastMode;  // the scan whose tempo, offset and track information must stand
};

void PrintTo(const Song& song, std::ostream* out) { *out << song.name; }

class ShownLyrics : public ::testing::TestWithParam<Song> {};

// Guards against the further rules taking a song either rule finds words in, picking the
// wrong track (headers, copyrights, a few remarks), breaking lines unlike the karaoke rule,
// overriding the user's No, or changing the tempo, offset or track information the scans
// leave.
TEST_P(ShownLyrics, RuleAndItems) {
    const Song& song = GetParam();
    TempDir dir;
    const std::string path = dir.write("split.mid", smf(1, 480, song.tracks));
    bool asked = false;
    const songfile::ShownLyrics shown = ScanShownLyrics(path, song.ext, [&](const char*) {
        asked = true;
        return song.answer;
    });
    const std::vector<Item> items = itemsOf(shown.first);
    FreeLyricList(shown.first);
    EXPECT_EQ(std::string(LyricSourceName(shown.source)), song.rule);
    EXPECT_EQ(items, song.items);
    EXPECT_EQ(asked, song.asked);

    std::vector<std::string> info;
    for (const auto& entry : TrackInfoTable) {
        info.push_back(entry.Info + "|" + entry.TrackName + "|" + entry.Copyright);
    }
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    TlyricList* last = ExtractLyrics(path, song.lastMode, tempo, offset);
    if (shown.source == songfile::LyricSource::Karaoke || shown.source == songfile::LyricSource::Song) {
        EXPECT_EQ(items, itemsOf(last)) << "not the scan's own list";
    }
    FreeLyricList(last);
    EXPECT_EQ(shown.tempo, tempo);
    EXPECT_EQ(shown.offset, offset);
    for (std::size_t index = 0; index < info.size(); ++index) {
        EXPECT_EQ(info[index], TrackInfoTable[index].Info + "|" + TrackInfoTable[index].TrackName + "|" +
                                   TrackInfoTable[index].Copyright)
            << "track " << index;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Songs, ShownLyrics,
    ::testing::Values(
        Song{"WordsInTrack0", ".KAR",
             {headerLines(Track().tempo(0, 600000).meta(0, 3, "Words"))
                  .meta(470, 1, "\\Twin").meta(240, 1, "kle ").meta(240, 1, "twin").meta(240, 1, "kle\r")
                  .meta(240, 1, "Star").end(),
              notes(0), notes(1)},
             true, false, "text-track",
             {{480, 480, "/", 0}, {480, 720, "Twin", 0}, {720, 960, "kle ", 0}, {960, 1200, "twin", 0},
              {1200, 1440, "kle\r", 0}, {1440, 1440, "Star", 0}},
             ".MID"},
        Song{"WordsInTrack1BesideRemarks", ".MID",
             {Track().tempo(0, 500000).meta(0, 1, "@KMIDI KARAOKE FILE").meta(0, 2, "(c) owner")
                  .meta(100, 1, "Intro").meta(100, 1, "Verse").end(),
              Track().meta(0, 3, "Words").meta(0, 1, "@LENGL").meta(0, 1, "@TSong title").meta(480, 1, "Hel")
                  .meta(120, 1, "lo ").meta(0, 1, "lo ").meta(120, 1, "world/").meta(240, 1, "%remark")
                  .meta(0, 1, "Copyright 2001 X").meta(240, 1, "\r\nAgain").end(),
              notes(2)},
             true, false, "text-track",
             {{480, 600, "Hel", 1}, {600, 720, "lo ", 1}, {720, 720, "/", 1}, {720, 1200, "world", 1},
              {1200, 1200, "/", 1}, {1200, 1200, "Again", 1}},
             ".KAR"},
        Song{"WordsInTrack5", ".PFC",
             {headerLines(Track().tempo(0, 500000)).end(), notes(0), notes(1),
              Track().meta(480, 1, "Oh").meta(240, 1, "Yeah").meta(240, 1, "Ooh").end(), notes(3),
              Track().meta(10, 1, "Sequenced for general MIDI players by somebody who likes to write long notes")
                  .meta(0, 1, "\xA9 2003 Latin-1 owner").meta(470, 1, "Twin").meta(240, 1, "kle")
                  .meta(240, 1, "Star\r").meta(240, 1, "@Iinfo").meta(0, 1, "How").meta(240, 1, "caf\xC3\xA9").end()},
             true, false, "text-track",
             {{480, 720, "Twin", 5}, {720, 960, "kle", 5}, {960, 1200, "Star\r", 5}, {1200, 1440, "How", 5},
              {1440, 1440, "caf\xC3\xA9", 5}},
             ".MID"},
        Song{"LyricEventsInTwoTracks", ".KAR",
             {sungTexts(Track()).end(), Track().meta(480, 5, "Hel").meta(120, 5, "lo").end(), notes(1),
              Track().meta(240, 5, "world").meta(120, 5, "again").end()},
             true, true, "song",
             {{480, 600, "Hel", 1}, {600, 240, "lo", 1}, {240, 360, "world", 3}, {360, 360, "again", 3}},
             ".MID"},
        Song{"KaraokeRuleKept", ".KAR",
             {sungTexts(Track()).end(), notes(0), Track().meta(0, 1, "@TTitle").meta(480, 1, "\\Twin").meta(240, 1, "kle").end()},
             true, false, "karaoke", {{480, 480, "/", 2}, {480, 720, "Twin", 2}, {720, 720, "kle", 2}}, ".KAR"},
        Song{"LyricEventsAtTickZero", ".MID",
             {headerLines(Track()).end(), Track().meta(0, 5, "Title line").end(), notes(1),
              Track().meta(0, 5, "Twinkle twinkle\r").meta(0, 5, "").meta(0, 5, "little star").end()},
             true, false, "lyric-events", {{0, 0, "Twinkle twinkle\r", 3}, {0, 0, "little star", 3}}, ".KAR"},
        Song{"NoWordsAnywhere", ".KAR",
             {headerLines(Track().meta(0, 3, "Song").meta(0, 2, "(c) 1998")).end(),
              Track().meta(480, 1, "Intro").meta(480, 1, "Verse").meta(480, 1, "Chorus").noteOn(0, 0, 60, 90).end(),
              notes(1)},
             true, false, "none", {}, ".MID"},
        Song{"OtherRuleDeclined", ".MID",
             {sungTexts(Track()).end(), notes(0), sungTexts(Track()).end()}, false, true, "none", {}, ".KAR"},
        Song{"NoRuleForTheExtension", ".SMF", {sungTexts(Track()).end(), notes(0)}, true, false, "none", {}, ".SMF"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct BadTexts {
    const char* name;
    ByteVector bytes;
    bool scanned;
    std::vector<std::string> texts;  // "track tick type text"
};

void PrintTo(const BadTexts& value, std::ostream* out) { *out << value.name; }

class CollectMalformed : public ::testing::TestWithParam<BadTexts> {};

ByteVector header(int format, int count) { return Bytes().text("MThd").u32(6).u16(format).u16(count).u16(480).bytes(); }

ByteVector wordTrack() { return trackChunk(Track().meta(480, 1, "Hel").meta(0, 5, "lo").end()); }

ByteVector cutTrack(const ByteVector& tail) {
    const ByteVector body = concat({Track().meta(480, 1, "Hel").body(), tail});
    return concat({Bytes().text("MTrk").u32(static_cast<std::uint32_t>(body.size())).bytes(), body});
}

// Guards against texts read from a file the scan refuses, and against a walk past a cut
// event (into the next chunk or beyond the file) instead of ending that track.
TEST_P(CollectMalformed, TextsOfTheWalkOnly) {
    TempDir dir;
    std::vector<SongText> texts{{9, 9, 1, "stale"}};
    TrackInfoTable[3].TrackName = "kept";
    EXPECT_EQ(CollectSongTexts(dir.write("bad.mid", GetParam().bytes), texts), GetParam().scanned);
    std::vector<std::string> found;
    for (const SongText& text : texts) {
        found.push_back(std::to_string(text.Track) + " " + std::to_string(text.Tick) + " " +
                        std::to_string(text.Type) + " " + text.Text);
    }
    EXPECT_EQ(found, GetParam().texts);
    EXPECT_EQ(TrackInfoTable[3].TrackName, "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Files, CollectMalformed,
    ::testing::Values(
        BadTexts{"Empty", {}, false, {}},
        BadTexts{"NotMThd", concat({Bytes().text("MThx").u32(6).u16(1).u16(1).u16(480).bytes(), wordTrack()}), false, {}},
        BadTexts{"CountLowByteZero", concat({header(1, 0x0100), wordTrack()}), false, {}},
        BadTexts{"ChunkNotMTrk", concat({header(1, 1), Bytes().text("MTrx").u32(4).raw({0, 0xFF, 0x2F, 0}).bytes()}),
                 false, {}},
        BadTexts{"LengthPastEnd", concat({header(1, 1), Bytes().text("MTrk").u32(500).raw(wordTrack()).bytes()}),
                 false, {}},
        BadTexts{"SecondTrackMissing", concat({header(1, 2), wordTrack()}), false, {}},
        BadTexts{"TextCutByTheChunk", concat({header(1, 2), cutTrack({0, 0xFF, 0x01, 0x05, 'l', 'o'}), wordTrack()}),
                 true, {"0 480 1 Hel", "1 480 1 Hel", "1 480 5 lo"}},
        BadTexts{"LengthCutByTheChunk", concat({header(1, 2), cutTrack({0, 0xFF, 0x05, 0x81}), wordTrack()}), true,
                 {"0 480 1 Hel", "1 480 1 Hel", "1 480 5 lo"}},
        BadTexts{"TypeCutByTheChunk", concat({header(1, 1), cutTrack({0, 0xFF})}), true, {"0 480 1 Hel"}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
