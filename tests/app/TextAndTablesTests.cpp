#include <gtest/gtest.h>

#include "DisplayText.h"
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

// Guards against the recent-file list reordering, doubling or overflowing wrongly.
TEST(RecentFilesTest, PushKeepsNewestFirstUniqueAndFive) {
    RecentList list{"/x/a.mid", "/x/b.kar", "", "", ""};
    pushRecentFile(list, "");
    EXPECT_EQ(list, (RecentList{"/x/a.mid", "/x/b.kar", "", "", ""}));
    pushRecentFile(list, "/x/B.KAR");
    EXPECT_EQ(list, (RecentList{"/x/B.KAR", "/x/a.mid", "", "", ""}));
    pushRecentFile(list, "/x/A.MID");
    EXPECT_EQ(list, (RecentList{"/x/A.MID", "/x/B.KAR", "", "", ""}));
    list = {"1", "2", "3", "4", "5"};
    pushRecentFile(list, "6");
    EXPECT_EQ(list, (RecentList{"6", "1", "2", "3", "4"}));
    pushRecentFile(list, "3");
    EXPECT_EQ(list, (RecentList{"3", "6", "1", "2", "4"}));
    EXPECT_EQ(recentPath(recentCaption(2, "/songs/my.kar")), "/songs/my.kar");
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
