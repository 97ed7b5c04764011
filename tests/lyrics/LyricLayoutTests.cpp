#include <gtest/gtest.h>

#include <QStringList>

#include "LyricLayout.h"
#include "LyricList.h"
#include "SmfBuilder.h"
#include "TempDir.h"

using namespace lyrics;

namespace {

// A font whose every character is as wide in pixels as its point size: layouts can be
// worked out by hand.
int fixedWidth(const QString& text, int pointSize) {
    return static_cast<int>(text.size()) * pointSize;
}

LyricLayout layOut(const LyricList& list, int boxWidth, int pointSize = 10,
                   bool nonEnglish = false, int charSet = 0) {
    const LyricDecoder decoder(list.first(), charSet, nonEnglish);
    return layoutLyrics(list.first(), decoder, pointSize, boxWidth, fixedWidth);
}

QStringList texts(const LyricLayout& layout) {
    QStringList result;
    for (const LaidOutLine& line : layout.lines) {
        result.append(line.text);
    }
    return result;
}

std::vector<int> positions(const LaidOutLine& line) {
    return {line.syllables->Positions.begin(), line.syllables->Positions.begin() + line.syllables->Count};
}

std::vector<int> ticks(const LaidOutLine& line) {
    return {line.syllables->Ticks.begin(), line.syllables->Ticks.begin() + line.syllables->Count};
}

}  // namespace

// Guards against the karaoke "/" staying visible, starting a line of its own or marking
// the first syllable of the next line.
TEST(LyricLayoutBreaks, SlashEndsTheLineAndIsRemoved) {
    const LyricList list{{100, "/"}, {200, "Twin"}, {300, "kle "}, {400, "star"},
                         {500, "/"}, {600, "How "}, {700, "I"}};
    const LyricLayout layout = layOut(list, 1000);
    ASSERT_EQ(texts(layout), (QStringList{"Twinkle star", "How I"}));
    EXPECT_EQ(ticks(layout.lines[0]), (std::vector<int>{200, 300, 400, 500}));
    EXPECT_EQ(positions(layout.lines[0]), (std::vector<int>{0, 4, 8, 12}));
    EXPECT_EQ(layout.lines[0].syllables->FirstTick, 200);
    EXPECT_EQ(layout.lines[0].syllables->LastTick, 500);
    EXPECT_EQ(ticks(layout.lines[1]), (std::vector<int>{600, 700}));
    EXPECT_EQ(positions(layout.lines[1]), (std::vector<int>{0, 4}));
}

// Guards against punctuation disappearing or the line breaking after the wrong item,
// trailing blanks included.
TEST(LyricLayoutBreaks, CommaPeriodSemicolonEndTheLineAndStay) {
    const LyricList list{{1, "One, "}, {2, "two. "}, {3, "three;"}, {4, "four"}, {5, "five"}};
    EXPECT_EQ(texts(layOut(list, 1000)), (QStringList{"One, ", "two. ", "three;", "fourfive"}));

    const LyricList everyItem{{1, "a."}, {2, "b."}, {3, "c."}};
    const LyricLayout layout = layOut(everyItem, 1000);
    ASSERT_EQ(texts(layout), (QStringList{"a.", "b.", "c."}));
    EXPECT_EQ(layout.lines[2].syllables->Count, 1);
    EXPECT_EQ(layout.lines[2].syllables->FirstTick, 3);
}

// Guards against a carriage return being shown, or its word going to the next line
// instead of ending this one as its last syllable.
TEST(LyricLayoutBreaks, CarriageReturnEndsTheLineAfterItsWord) {
    const LyricList list{{1, "Hold "}, {2, "on\r"}, {3, "now"}};
    const LyricLayout layout = layOut(list, 1000);
    ASSERT_EQ(texts(layout), (QStringList{"Hold on", "now"}));
    EXPECT_EQ(ticks(layout.lines[0]), (std::vector<int>{1, 2}));
    EXPECT_EQ(positions(layout.lines[0]), (std::vector<int>{0, 5}));
    EXPECT_EQ(layout.lines[1].syllables->FirstTick, 3);
}

// Guards against empty items becoming syllables (they would mark nothing and shift the
// syllables after them).
TEST(LyricLayoutBreaks, EmptyItemsArePassedOver) {
    const LyricList list{{1, "la "}, {2, ""}, {3, "la"}};
    const LyricLayout layout = layOut(list, 1000);
    ASSERT_EQ(layout.lines.size(), 1u);
    EXPECT_EQ(ticks(layout.lines[0]), (std::vector<int>{1, 3}));
}

// Guards against lines wider than the box, or wrapping one item too early.
TEST(LyricLayoutWidth, WrapsBeforeTheItemThatDoesNotFit) {
    // 10 points: 10 pixels a character; room for 8 characters in 92 - 12 pixels.
    const LyricList list{{1, "abc "}, {2, "defg"}, {3, "hi "}, {4, "jk"}};
    const LyricLayout layout = layOut(list, 92);
    EXPECT_EQ(texts(layout), (QStringList{"abc defg", "hi jk"}));
    EXPECT_EQ(layout.pointSize, 10);
    EXPECT_EQ(layout.lines[1].syllables->FirstTick, 3);
}

// Guards against a box too narrow for one word looping forever or shrinking by the wrong
// step, and against shrinking below the smallest size.
TEST(LyricLayoutWidth, ShrinksTwoPointsPerPassDownToSix) {
    const LyricList word{{1, "abcdefghij"}, {2, " k"}};
    // 10 characters: 14 pt needs 140 px, 12 pt 120, 10 pt 100.
    EXPECT_EQ(layOut(word, 12 + 125, 14).pointSize, 12);
    EXPECT_EQ(layOut(word, 12 + 100, 14).pointSize, 10);
    EXPECT_EQ(layOut(word, 12 + 99, 14).pointSize, 8);

    // Nothing fits even at 6 points: the item is let overflow on a line of its own.
    const LyricLayout tiny = layOut(word, 12 + 20, 9);
    EXPECT_EQ(tiny.pointSize, 6);
    EXPECT_EQ(texts(tiny), (QStringList{"abcdefghij", " k"}));
}

// Guards against overrunning the 30 syllable slots of a line.
TEST(LyricLayoutWidth, ThirtyFirstSyllableStartsANewLine) {
    LyricList::Items items;
    for (int i = 0; i < 31; ++i) {
        items.emplace_back(10 * (i + 1), "la");
    }
    const LyricList list(items);
    const LyricLayout layout = layOut(list, 100000);
    ASSERT_EQ(layout.lines.size(), 2u);
    EXPECT_EQ(layout.lines[0].syllables->Count, 30);
    EXPECT_EQ(layout.lines[0].text.size(), 60);
    EXPECT_EQ(layout.lines[1].syllables->Count, 1);
    EXPECT_EQ(layout.lines[1].syllables->FirstTick, 310);
}

// Guards against syllable positions counted in bytes or before filtering, which puts the
// red mark beside the syllable being sung.
TEST(LyricLayoutPositions, CountShownCharacters) {
    const LyricList hyphen{{1, "Hap-"}, {2, "py "}, {3, "day"}};
    const LyricLayout plain = layOut(hyphen, 1000);
    ASSERT_EQ(texts(plain), (QStringList{"Happy day"}));
    EXPECT_EQ(positions(plain.lines[0]), (std::vector<int>{0, 3, 6}));

    // UTF-8: "Grüß" is 6 bytes but 4 characters.
    const LyricList utf8{{1, "Gr\xC3\xBC\xC3\x9F "}, {2, "Gott"}};
    const LyricLayout german = layOut(utf8, 1000, 10, true);
    ASSERT_EQ(texts(german), (QStringList{QString::fromUtf8("Gr\xC3\xBC\xC3\x9F Gott")}));
    EXPECT_EQ(positions(german.lines[0]), (std::vector<int>{0, 5}));
    // The same bytes with the plain filter: "Gr" and the blank are what is shown.
    EXPECT_EQ(positions(layOut(utf8, 1000).lines[0]), (std::vector<int>{0, 3}));

    // Windows-1255: "shalom " "olam" one byte a letter, right to left.
    const LyricList hebrew{{1, "\xF9\xEC\xE5\xED "}, {2, "\xF2\xE5\xEC\xED"}};
    const LyricLayout rtl = layOut(hebrew, 1000, 10, true, 177);
    EXPECT_EQ(rtl.lines[0].text.size(), 9);
    EXPECT_EQ(positions(rtl.lines[0]), (std::vector<int>{0, 5}));

    // Shift-JIS: two bytes a character.
    const LyricList japanese{{1, "\x82\xB1\x82\xF1"}, {2, "\x82\xC9\x82\xBF\x82\xCD"}};
    const LyricLayout kana = layOut(japanese, 1000, 10, true, 128);
    EXPECT_EQ(kana.lines[0].text, QString::fromUtf8("\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB"
                                                    "\xE3\x81\xA1\xE3\x81\xAF"));
    EXPECT_EQ(positions(kana.lines[0]), (std::vector<int>{0, 2}));
}

// Guards against the position search stopping at the first match, ignoring lines out of
// tick order, or marking a syllable before the song reaches the first line.
TEST(LyricPosition, LastReachedLineAndSyllableWin) {
    const LyricList list{{100, "a "}, {200, "b."}, {300, "c "}, {400, "d"}};
    const LyricLayout layout = layOut(list, 1000);
    ASSERT_EQ(layout.lines.size(), 2u);
    EXPECT_EQ(positionForTick(layout.lines, 50, {0, -1}), (LyricPosition{0, -1}));
    EXPECT_EQ(positionForTick(layout.lines, 100, {0, -1}), (LyricPosition{0, 0}));
    EXPECT_EQ(positionForTick(layout.lines, 299, {0, -1}), (LyricPosition{0, 1}));
    EXPECT_EQ(positionForTick(layout.lines, 450, {0, 1}), (LyricPosition{1, 1}));

    // Items out of tick order are laid out in tick order.
    const LyricList unsorted{{500, "x."}, {100, "y."}};
    const LyricLayout twoTracks = layOut(unsorted, 1000);
    EXPECT_EQ(positionForTick(twoTracks.lines, 600, {0, -1}), (LyricPosition{1, 0}));
}

// Guards against the last syllable's mark stopping short of the end of the line, and
// against a "/" syllable marking anything.
TEST(LyricPosition, SyllableRangeRunsToTheNextOrTheEnd) {
    const LyricList list{{1, "Twin"}, {2, "kle"}, {3, "/"}, {4, "x"}};
    const LyricLayout layout = layOut(list, 1000);
    const TlyricLine& line = *layout.lines[0].syllables;
    const int length = static_cast<int>(layout.lines[0].text.size());
    EXPECT_EQ(syllableRange(line, 0, length), (std::pair{0, 4}));
    EXPECT_EQ(syllableRange(line, 1, length), (std::pair{4, 7}));
    EXPECT_EQ(syllableRange(line, 2, length), (std::pair{7, 7}));
}

namespace {

using testing_support::Track;

struct Sung {
    std::int32_t tick;
    std::string text;
};

// A melody track with a lyric event on each note, as songs carry their words.
Track sungTrack(int channel, const std::vector<Sung>& words) {
    Track track;
    track.program(0, channel, 0);
    std::int32_t at = 0;
    for (const Sung& word : words) {
        track.meta(static_cast<std::uint32_t>(word.tick - at), 5, word.text)
            .noteOn(0, channel, 60, 100)
            .noteOff(40, channel, 60);
        at = word.tick + 40;
    }
    return track.end(480);
}

Track accompaniment(int channel) {
    return Track().program(0, channel, 33).noteOn(480, channel, 40, 90).noteOff(1920, channel, 40).end();
}

const std::vector<Sung> kWords{{480, "Twin"},  {720, "kle, "},  {960, "lit"}, {1200, "tle "},
                               {1440, "star."}, {1920, "How "}, {2160, "I "}, {2400, "won"},
                               {2640, "der"}};
// Six stray lyric events of a backing track, a second into the song.
const std::vector<Sung> kStray{{2176, "y "}, {2272, "y "}, {2368, "y "},
                               {2464, "y "}, {2560, "y "}, {2656, "y "}};
const QStringList kWordLines{"Twinkle, ", "little star.", "How I wonder"};

struct TrackLayoutCase {
    const char* name;
    std::vector<Track> tracks;  // after the conductor track
    QStringList lines;
    QString lineAt2500;
};

}  // namespace

// Guards against lyric events of several tracks being laid out together: stray events of
// a backing track then hold the last line from their first tick to the end of the song.
TEST(LyricLayoutTracks, OnlyTheTrackWithMostItemsIsShown) {
    const std::vector<TrackLayoutCase> cases{
        {"one track", {sungTrack(0, kWords), accompaniment(1)}, kWordLines, "How I wonder"},
        {"stray few after", {sungTrack(0, kWords), sungTrack(1, kStray)}, kWordLines, "How I wonder"},
        {"stray few before", {sungTrack(1, kStray), sungTrack(0, kWords)}, kWordLines, "How I wonder"},
        {"tie goes to the first",
         {sungTrack(0, {{960, "One "}, {1200, "two "}, {1440, "three"}}),
          sungTrack(1, {{240, "Un "}, {480, "deux "}, {720, "trois"}})},
         {"One two three"},
         "One two three"},
        {"words only in a later track",
         {accompaniment(1), accompaniment(2), sungTrack(0, kWords)},
         kWordLines,
         "How I wonder"},
    };
    for (const TrackLayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Track> tracks{Track().meta(0, 3, "Song").tempo(0, 500000).end()};
        tracks.insert(tracks.end(), c.tracks.begin(), c.tracks.end());
        const testing_support::TempDir folder;
        const std::string path = folder.write("song.mid", testing_support::smf(1, 480, tracks));
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        songfile::TlyricList* list = songfile::ExtractLyrics(path, ".MID", tempo, offset);
        ASSERT_NE(list, nullptr);

        const LyricDecoder decoder(list, 0, false);
        const LyricLayout layout = layoutLyrics(list, decoder, 10, 1000, fixedWidth);
        songfile::FreeLyricList(list);
        EXPECT_EQ(texts(layout).join('|').toStdString(), c.lines.join('|').toStdString());
        const LyricPosition at = positionForTick(layout.lines, 2500, {0, -1});
        ASSERT_LT(static_cast<std::size_t>(at.line), layout.lines.size());
        EXPECT_EQ(layout.lines[static_cast<std::size_t>(at.line)].text.toStdString(),
                  c.lineAt2500.toStdString());
    }
}
