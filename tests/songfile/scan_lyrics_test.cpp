#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "LyricScan.h"
#include "SmfBuilder.h"
#include "TempDir.h"

namespace {

using songfile::ExtractLyrics;
using songfile::FreeLyricList;
using songfile::TlyricList;
using testing_support::Bytes;
using testing_support::smf;
using testing_support::TempDir;
using testing_support::Track;

struct Item {
    int start;
    int end;
    std::string text;
    bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
    return out << "{" << item.start << ", " << item.end << ", \"" << item.text << "\"}";
}

struct Scan {
    std::vector<Item> items;
    int tempo = -1;
    std::optional<std::uint64_t> offset;
};

// Runs the scan, checks the list's links both ways and frees it.
Scan scan(const std::string& path, const std::string& mode) {
    Scan result;
    TlyricList* first = ExtractLyrics(path, mode, result.tempo, result.offset);
    const TlyricList* previous = nullptr;
    for (const TlyricList* item = first; item != nullptr; item = item->Next) {
        EXPECT_EQ(item->Prev, previous);
        result.items.push_back({item->StartTick, item->EndTick, item->Text});
        previous = item;
    }
    FreeLyricList(first);
    return result;
}

// A karaoke song: lyric texts live in the third track.
std::vector<std::uint8_t> karSong(const Track& lyrics) {
    return smf(1, 480, {Track().meta(0, 3, "Song").end(), Track().meta(0, 1, "@LENGL").end(), lyrics});
}

std::vector<std::string> texts(const Scan& result) {
    std::vector<std::string> out;
    for (const Item& item : result.items) {
        out.push_back(item.text);
    }
    return out;
}

// Guards against header texts (tick 0 or containing "@") showing up as lyrics.
TEST(ScanKar, SkipsTickZeroAndAtTexts) {
    TempDir dir;
    Track lyrics;
    lyrics.meta(0, 1, "@KMIDI KARAOKE FILE").meta(0, 1, "Title at zero").meta(480, 1, "@TTwinkle")
        .meta(480, 1, "Twin").meta(240, 1, "kle@x").meta(240, 1, "Star").end();
    const Scan result = scan(dir.write("a.kar", karSong(lyrics)), ".KAR");
    EXPECT_EQ(result.items, (std::vector<Item>{{960, 1440, "Twin"}, {1440, 1440, "Star"}}));
}

// Guards against a second text at one tick, or a text after an empty one at that tick,
// being taken as another syllable.
TEST(ScanKar, OnlyFirstTextOfATick) {
    TempDir dir;
    Track lyrics;
    lyrics.meta(480, 1, "One").meta(0, 1, "Two").meta(480, 1, "").meta(0, 1, "Three").meta(480, 1, "Four").end();
    const Scan result = scan(dir.write("a.kar", karSong(lyrics)), ".KAR");
    EXPECT_EQ(result.items, (std::vector<Item>{{480, 1440, "One"}, {1440, 1440, "Four"}}));
}

// Guards against text events of other tracks being read as lyrics in karaoke files.
TEST(ScanKar, OnlyTheThirdTrack) {
    TempDir dir;
    const auto song = smf(1, 480, {Track().meta(480, 1, "zero").end(), Track().meta(480, 1, "one").end(),
                                   Track().meta(480, 1, "two").end(), Track().meta(480, 1, "three").end()});
    EXPECT_EQ(texts(scan(dir.write("a.kar", song), ".KAR")), std::vector<std::string>{"two"});
}

struct TextCase {
    const char* name;
    std::string mode;
    std::string text;
    std::vector<std::string> items;
};

void PrintTo(const TextCase& value, std::ostream* out) { *out << value.name; }

class ScanText : public ::testing::TestWithParam<TextCase> {};

// Guards against wrong splitting of one text event into items: line breaks, the
// right-to-left marker, header texts, and bytes that must pass untouched.
TEST_P(ScanText, ItemsOfOneEvent) {
    const TextCase& c = GetParam();
    TempDir dir;
    Track lyrics;
    lyrics.meta(480, c.mode == ".KAR" ? 1 : 5, c.text).end();
    const Scan result = scan(dir.write("a.kar", karSong(lyrics)), c.mode);
    EXPECT_EQ(texts(result), c.items);
    for (const Item& item : result.items) {
        EXPECT_EQ(item.start, 480);
        EXPECT_EQ(item.end, 480);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ScanCases, ScanText,
    ::testing::Values(
        TextCase{"BackslashThenWord", ".KAR", "\\Word", {"/", "Word"}},
        TextCase{"SlashAlone", ".KAR", "/", {"/", ""}},
        TextCase{"BreakInsideWord", ".KAR", "Hel/lo", {"/", "Hello"}},
        TextCase{"MarkerAnyCase", ".KAR", "cvkHebrewWord", {"Word"}},
        TextCase{"MarkerAlone", ".KAR", "CVKHEBREW", {""}},
        TextCase{"MarkerNotAtStart", ".KAR", "xCVKHEBREW", {"xCVKHEBREW"}},
        TextCase{"MarkerTwice", ".KAR", "CVKHEBREWcvkhebrewa", {"a"}},
        TextCase{"AtDropsWordKeepsBreak", ".KAR", "a@b/", {"/"}},
        TextCase{"RawBytes", ".KAR", std::string("\xE9t\xE9\0x\xFF", 6), {std::string("\xE9t\xE9\0x\xFF", 6)}},
        TextCase{"MidKeepsSlashAndAt", ".MID", "\\a/@b", {"\\a/@b"}},
        TextCase{"MidMarker", ".MID", "CVKHEBREWword", {"word"}},
        TextCase{"MidEmpty", ".MID", "", {}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Guards against sorting lyrics across tracks, dropping items that share a tick, or
// taking a lyric at tick 0.
TEST(ScanMid, TracksInFileOrder) {
    TempDir dir;
    const auto song = smf(1, 480, {Track().meta(0, 5, "zero").end(),
                                   Track().meta(100, 5, "a").meta(100, 5, "b").end(),
                                   Track().meta(50, 5, "c").meta(0, 5, "d").meta(10, 5, "").end()});
    const Scan result = scan(dir.write("a.mid", song), ".MID");
    EXPECT_EQ(result.items, (std::vector<Item>{{100, 200, "a"}, {200, 50, "b"}, {50, 50, "c"}, {50, 50, "d"}}));
}

struct ModeCase {
    const char* name;
    std::string mode;
    std::vector<std::string> items;
};

void PrintTo(const ModeCase& value, std::ostream* out) { *out << value.name; }

class ScanMode : public ::testing::TestWithParam<ModeCase> {};

// Guards against a mode compared with its letter case, or a lookalike selecting a rule.
TEST_P(ScanMode, SelectsRule) {
    TempDir dir;
    const auto song = smf(1, 480, {Track().tempo(0, 600000).meta(10, 5, "mid").end(), Track().end(),
                                   Track().meta(10, 1, "kar").end()});
    const Scan result = scan(dir.write("a", song), GetParam().mode);
    EXPECT_EQ(texts(result), GetParam().items);
    EXPECT_EQ(result.tempo, 100);
}

INSTANTIATE_TEST_SUITE_P(ScanModes, ScanMode,
                         ::testing::Values(ModeCase{"KarUpper", ".KAR", {"kar"}}, ModeCase{"KarLower", ".kar", {"kar"}},
                                           ModeCase{"MidMixed", ".Mid", {"mid"}}, ModeCase{"Pfc", ".PFC", {}},
                                           ModeCase{"Empty", "", {}}, ModeCase{"Longer", ".KARA", {}},
                                           ModeCase{"NoDot", "MID", {}}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// Guards against an offset that counts bytes behind the song (a performance's voice
// chunk) or stops short of the last track.
TEST(ScanOffset, EndOfLastTrackChunk) {
    TempDir dir;
    const auto song = karSong(Track().meta(480, 1, "la").end());
    Bytes file;
    file.raw(song).text("Rvpf").raw({4, 0, 0, 0}).text("RIFF");
    const Scan result = scan(dir.write("a.pfc", file.bytes()), ".KAR");
    ASSERT_TRUE(result.offset.has_value());
    EXPECT_EQ(*result.offset, song.size());
    EXPECT_EQ(result.items.size(), 1u);
}

// Guards against the twinkle example losing its lyrics (a real file from a karaoke editor).
TEST(ScanKar, ExampleSong) {
    const char* source = std::getenv("CVK_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "CVK_SOURCE_DIR is not set; run through ctest";
    const Scan result = scan(std::string(source) + "/examples/twinkle.kar", ".KAR");
    ASSERT_FALSE(result.items.empty());
    EXPECT_EQ(result.items.front().text, "/");
    EXPECT_EQ(result.items[1].text, "Twin");
    EXPECT_EQ(result.tempo, 100);
}

}  // namespace
