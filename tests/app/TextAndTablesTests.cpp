#include <gtest/gtest.h>

#include "DisplayText.h"
#include "HostDialogs.h"
#include "LyricFontCodes.h"
#include "RecentFiles.h"
#include "VolumeTable.h"

using namespace cvkapp;

namespace {

// Guards against misaligned or wrongly signed setting displays.
TEST(DisplayTextTest, SettingsShowAsThePanelPrintsThem) {
    struct Case {
        std::string (*format)(int);
        int value;
        const char* text;
    };
    const Case cases[] = {
        {tempoText, 60, " 60"},   {tempoText, 240, "240"}, {volumeText, 50, " 50"},
        {volumeText, 150, "150"}, {keyText, 0, " 00:00"},  {keyText, 5, "+00:05"},
        {keyText, -14, "-01:02"}, {keyText, 12, "+01:00"}, {keyText, -127, "-10:07"},
        {keyText, 127, "+10:07"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.format(c.value), c.text) << c.value;
    }
}

// Guards against the recent-file list reordering, doubling or overflowing wrongly, and
// against two files whose names differ only in letter case counting as one.
TEST(RecentFilesTest, PushKeepsNewestFirstUniqueAndFive) {
    struct Case {
        RecentList before;
        const char* pushed;
        RecentList after;
    };
    const Case cases[] = {
        {{"/x/a.mid", "/x/b.kar", "", "", ""}, "", {"/x/a.mid", "/x/b.kar", "", "", ""}},
        {{"/x/a.mid", "/x/b.kar", "", "", ""}, "/x/b.kar", {"/x/b.kar", "/x/a.mid", "", "", ""}},
        {{"/x/a.mid", "/x/b.kar", "", "", ""}, "/x/B.kar", {"/x/B.kar", "/x/a.mid", "/x/b.kar", "", ""}},
        {{"/x/song.mid", "", "", "", ""}, "/x/song.MID", {"/x/song.MID", "/x/song.mid", "", "", ""}},
        {{"1", "2", "3", "4", "5"}, "6", {"6", "1", "2", "3", "4"}},
        {{"6", "1", "2", "3", "4"}, "3", {"3", "6", "1", "2", "4"}},
    };
    for (const Case& c : cases) {
        RecentList list = c.before;
        pushRecentFile(list, c.pushed);
        EXPECT_EQ(list, c.after) << c.pushed;
    }
}

// Guards against an "&" in a recent path becoming a shortcut mark in the File menu (the
// character vanishes and the next one is underlined), or not surviving the way back.
TEST(RecentFilesTest, CaptionShowsAmpersandsAndGivesThePathBack) {
    struct Case {
        int index;
        const char* path;
        const char* caption;
    };
    const Case cases[] = {
        {2, "/songs/my.kar", "&3 /songs/my.kar"},
        {0, "/songs/Rock & Roll.kar", "&1 /songs/Rock && Roll.kar"},
        {4, "/a&&b/&x.mid", "&5 /a&&&&b/&&x.mid"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(recentCaption(c.index, c.path), c.caption);
        EXPECT_EQ(recentPath(c.caption), c.path);
    }
}

// Guards against Save As changing the letter case of a typed extension (on a file system
// that tells cases apart that is another file, which then escapes the overwrite question),
// or keeping an extension of the other type.
TEST(SaveAsNameTest, TypedExtensionOfTheFilterStaysAsTyped) {
    struct Case {
        const char* typed;
        int filterIndex;  // 0 MIDI, 1 karaoke
        const char* saved;
    };
    const Case cases[] = {
        {"/s/song.mid", 0, "/s/song.mid"}, {"/s/song.MID", 0, "/s/song.MID"},
        {"/s/song.Kar", 1, "/s/song.Kar"}, {"/s/song", 0, "/s/song.mid"},
        {"/s/song", 1, "/s/song.kar"},     {"/s/song.mid", 1, "/s/song.kar"},
        {"/s/song.KAR", 0, "/s/song.mid"}, {"/s/v1.2/song.txt", 0, "/s/v1.2/song.mid"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(songFileName(c.typed, c.filterIndex).toStdString(), c.saved)
            << c.typed << " with filter " << c.filterIndex;
    }
}

// Guards against style codes that do not survive a save and a load, or a wrong code table.
TEST(FontCodeTest, EveryCodeRoundTripsAndUnknownCodesChangeNothing) {
    for (int code = 0; code < 16; ++code) {
        QFont font;
        ASSERT_TRUE(applyFontStyleCode(code, font));
        EXPECT_EQ(fontStyleCode(font), code);
    }
    QFont font;
    applyFontStyleCode(4, font);
    EXPECT_TRUE(font.bold() && font.underline() && !font.italic() && !font.strikeOut());
    applyFontStyleCode(13, font);
    EXPECT_TRUE(!font.bold() && font.underline() && !font.italic() && !font.strikeOut());
    for (int code : {-1, 16}) {
        EXPECT_FALSE(applyFontStyleCode(code, font));
        EXPECT_EQ(fontStyleCode(font), 13);
    }
}

// Guards against the master volume's velocity offset rounding or silencing wrongly.
TEST(VolumeTableTest, MasterOffsetAndSoloAndMute) {
    const std::pair<int, int> offsets[] = {{50, -64}, {99, -1}, {100, 0}, {101, 1}, {150, 64}};
    for (const auto& [volume, offset] : offsets) {
        EXPECT_EQ(masterVelocityOffset(volume), offset) << volume;
    }
    TrackMixTable mix{};
    mix[1].Mute = true;
    mix[2].VolumeOffset = -3;
    VelocityTable table = buildVolumeTable(101, mix);
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(table[1], -128);
    EXPECT_EQ(table[2], -5);
    mix[3].Solo = true;
    table = buildVolumeTable(100, mix);
    EXPECT_EQ(table[0], -128);
    EXPECT_EQ(table[2], -128);
    EXPECT_EQ(table[3], 0);
}

// Guards against the zoom steps leaving the size table at its ends.
TEST(ZoomSizeTest, StepsStayWithinTheTable) {
    EXPECT_EQ(magnifiedSize(8), 9);
    EXPECT_EQ(magnifiedSize(72), 72);
    EXPECT_EQ(magnifiedSize(73), 0);
    EXPECT_EQ(demagnifiedSize(8), 8);
    EXPECT_EQ(demagnifiedSize(73), 0);
    EXPECT_EQ(demagnifiedSize(19), 18);
}

}  // namespace
