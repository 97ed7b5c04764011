#include <QAction>
#include <QFontDatabase>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <optional>

#include "ACWUnit.h"
#include "CantivoHarness.h"
#include "LyricFontCodes.h"
#include "Lyricbox.h"
#include "MonitorBtn.h"
#include "SmBmpBtn.h"
#include "synth/soundfont.h"

using namespace testing_support;
using cvkapp::TCantivo;

namespace {

constexpr const char* kRecent = "Most Recently Used Files";

class SettingsTest : public CantivoTest {
protected:
    std::vector<std::string> recentSettings() {
        std::vector<std::string> entries;
        for (int i = 0; i < 5; ++i) {
            entries.push_back(stringSetting(kRecent, "mru" + std::to_string(i)));
        }
        return entries;
    }
    // The captions of the recent-file items that are shown.
    std::vector<std::string> recentCaptions() {
        std::vector<std::string> captions;
        for (QAction* item : window().MRU) {
            if (item->isVisible()) {
                captions.push_back(item->text().toStdString());
            }
        }
        return captions;
    }
    // The settings file holds only what is given, written by hand.
    void writeIni(const std::string& text) { std::ofstream(ini(), std::ios::trunc) << text; }
    ino_t iniInode() {
        struct stat info {};
        ::stat(ini().c_str(), &info);
        return info.st_ino;
    }
};

// Guards against the recent files losing their order, doubling up or growing past five.
TEST_F(SettingsTest, RecentFilesAreNewestFirstUniqueAndFive) {
    open();
    std::vector<std::string> songs;
    for (int i = 1; i <= 6; ++i) {
        songs.push_back(song("s" + std::to_string(i) + ".kar", noteSong(2)));
        openSong(songs.back());
    }
    EXPECT_EQ(recentCaptions(),
              (std::vector<std::string>{"&1 " + songs[5], "&2 " + songs[4], "&3 " + songs[3],
                                        "&4 " + songs[2], "&5 " + songs[1]}));
    openSong(songs[3]);
    EXPECT_EQ(recentSettings(),
              (std::vector<std::string>{songs[3], songs[5], songs[4], songs[2], songs[1]}));

    // Names that differ only in letter case are two files, and two entries.
    const std::string upper = song("CASE.MID", noteSong(2));
    const std::string lower = song("case.mid", noteSong(2));
    openSong(upper);
    openSong(lower);
    EXPECT_EQ(recentSettings(),
              (std::vector<std::string>{lower, upper, songs[3], songs[5], songs[4]}));
}

// Guards against an empty entry hiding the entries after it, or showing as an empty item.
TEST_F(SettingsTest, AnEmptyEntryHidesOnlyItsOwnItem) {
    setting(kRecent, "mru0", "/songs/first.kar");
    setting(kRecent, "mru1", "");
    setting(kRecent, "mru2", "/songs/third.kar");
    open();
    EXPECT_EQ(recentCaptions(),
              (std::vector<std::string>{"&1 /songs/first.kar", "&3 /songs/third.kar"}));
    EXPECT_FALSE(window().MRU[1]->isVisible());
}

// Guards against a vanished recent file changing the list, or ".midi" missing its lyric rule.
TEST_F(SettingsTest, RecentFileThatIsGoneIsReportedAndAnExistingOneLoads) {
    const std::string missing = path("gone.kar");
    const std::string present = song("here.midi", karaokeSong({"Hel", "lo"}, 96, 0x05));
    setting(kRecent, "mru0", missing);
    setting(kRecent, "mru1", present);
    open();
    const std::vector<std::string> before = recentSettings();
    window().MRU0Click(window().MRU[0]);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"File: " + missing + " does not exist"});
    EXPECT_FALSE(window().SongLoaded);
    EXPECT_EQ(recentSettings(), before);

    window().MRU0Click(window().MRU[1]);
    EXPECT_EQ(window().SongFileName, present);
    EXPECT_NE(window().SongLyrics, nullptr) << "not scanned with the lyric rule of .MID";
    EXPECT_EQ(boxTexts().size(), 1u);
    EXPECT_EQ(stringSetting(kRecent, "mru0"), present);
}

struct StyleCase {
    const char* name;
    std::optional<int> stored;
    bool bold, italic, underline, strikeOut;
    int savedCode;
};

class FontStyleTest : public SettingsTest, public ::testing::WithParamInterface<StyleCase> {};

// Guards against stored style codes read as bit masks, or unknown codes wiping the style.
TEST_P(FontStyleTest, StoredCodeGivesTheStyleAndIsWrittenBack) {
    const StyleCase& c = GetParam();
    open();
    QFont start = window().LyricBox1->font();
    start.setBold(true);
    start.setItalic(true);
    window().LyricBox1->setFont(start);
    if (c.stored) {
        setting("FONT", "Font_Style", std::to_string(*c.stored));
    }
    window().LoadLyricFont();
    const QFont font = window().LyricBox1->font();
    EXPECT_EQ(font.bold(), c.bold);
    EXPECT_EQ(font.italic(), c.italic);
    EXPECT_EQ(font.underline(), c.underline);
    EXPECT_EQ(font.strikeOut(), c.strikeOut);
    window().SaveLyricFont();
    EXPECT_EQ(intSetting("FONT", "Font_Style"), c.savedCode);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FontStyleTest,
    ::testing::Values(StyleCase{"BoldUnderline", 4, true, false, true, false, 4},
                      StyleCase{"Underline", 13, false, false, true, false, 13},
                      StyleCase{"Unknown", 16, true, true, false, false, 3},
                      StyleCase{"Negative", -1, true, true, false, false, 3},
                      StyleCase{"Missing", std::nullopt, true, true, false, false, 3}),
    CaseName());

// Guards against zero colour and character set values overriding what the box has.
TEST_F(SettingsTest, ZeroColoursAndCharSetAreNotApplied) {
    open();
    window().LyricBox1->setFontColor(Qt::red);
    window().LyricBox1->setCharSet(161);
    window().LyricBox1->setColor(Qt::yellow);
    setting("FONT", "Font_Color", "0");
    setting("FONT", "Char_Set", "0");
    setting("Background", "Background_color", "0");
    window().LoadLyricFont();
    EXPECT_EQ(window().LyricBox1->fontColor(), QColor(Qt::red));
    EXPECT_EQ(window().LyricBox1->charSet(), 161);
    EXPECT_EQ(window().LyricBox1->color(), QColor(218, 176, 152));
}

// Guards against the lyric font chosen by the user being lost at the next song or start.
TEST_F(SettingsTest, ChosenLyricFontSurvivesASongChangeAndARestart) {
    QFont chosen("DejaVu Serif", 20);
    chosen.setItalic(true);
    auto expectChosen = [&](const char* when) {
        const QFont font = window().LyricBox1->font();
        EXPECT_EQ(font.family().toStdString(), chosen.family().toStdString()) << when;
        EXPECT_EQ(font.pointSize(), chosen.pointSize()) << when;
        EXPECT_TRUE(font.italic()) << when;
    };
    open();
    openSong(song("one.kar", karaokeSong({"la", "la"})));
    dialogs.fonts.push_back(chosen);
    window().FontButtonClick();
    expectChosen("after the choice");
    openSong(song("two.kar", karaokeSong({"do", "re"})));
    expectChosen("after a song change");

    destroyWindow();
    open();
    expectChosen("after a restart");
    openSong(path("one.kar"));
    expectChosen("after a restart and a song");
}

struct StoredFontCase {
    const char* name;
    const char* stored;  // nullptr: nothing stored yet
    const char* expected;  // nullptr: any installed serif
};

class StoredFontTest : public SettingsTest, public ::testing::WithParamInterface<StoredFontCase> {};

// Guards against the lyrics falling back to a sans font for a family the system lacks,
// the font dialog starting on a family it does not list, and an unchanged font dialog
// replacing the stored name with the stand-in.
TEST_P(StoredFontTest, DrawnWithAnInstalledStandInAndStoredAsNamed) {
    const StoredFontCase& c = GetParam();
    const std::string stored = c.stored != nullptr ? c.stored : "Times New Roman";
    if (c.stored != nullptr) {
        setting("FONT", "Font Name", c.stored);
    }
    open();
    openSong(song("one.kar", karaokeSong({"la", "la"})));
    const QString used = window().LyricBox1->font().family();
    const QStringList listed = QFontDatabase::families();
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const QString& family) {
        return family == used || family.startsWith(used + " [");
    })) << used.toStdString();
    if (c.expected != nullptr) {
        EXPECT_EQ(used.toStdString(), c.expected);
    } else {
        const QStringList serifs = {"DejaVu Serif", "Liberation Serif", "Nimbus Roman",
                                    "Tinos",        "FreeSerif",        "Noto Serif",
                                    "Times New Roman", "Times", "C059", "P052"};
        EXPECT_TRUE(serifs.contains(used)) << used.toStdString();
    }

    window().FontButtonClick();  // OK without a change
    ASSERT_EQ(dialogs.fontRequests.size(), 1u);
    EXPECT_EQ(dialogs.fontRequests[0].family(), used);
    EXPECT_EQ(stringSetting("FONT", "Font Name"), stored);
    EXPECT_EQ(window().LyricBox1->font().family(), used);

    QFont other = window().LyricBox1->font();
    other.setFamily("DejaVu Sans Mono");
    dialogs.fonts.push_back(other);
    window().FontButtonClick();
    EXPECT_EQ(stringSetting("FONT", "Font Name"), "DejaVu Sans Mono");
}

INSTANTIATE_TEST_SUITE_P(
    Names, StoredFontTest,
    ::testing::Values(StoredFontCase{"defaultTimes", nullptr, nullptr},
                      StoredFontCase{"storedTimes", "Times New Roman", nullptr},
                      StoredFontCase{"installedSerif", "DejaVu Serif", "DejaVu Serif"},
                      StoredFontCase{"installedInOtherCase", "dejavu serif", "DejaVu Serif"}),
    CaseName{});

struct CreationCase {
    const char* name;
    const char* section;
    const char* key;
    std::optional<std::string> stored;
    std::function<int(TCantivo&)> read;
    int expected;
    int written;  // at close
};

class CreationSettingTest : public SettingsTest,
                            public ::testing::WithParamInterface<CreationCase> {};

// Guards against missing or out-of-range settings giving wrong defaults, or being lost at close.
TEST_P(CreationSettingTest, ReadAtCreationAndWrittenAtClose) {
    const CreationCase& c = GetParam();
    if (c.stored) {
        setting(c.section, c.key, *c.stored);
    }
    open();
    EXPECT_EQ(c.read(window()), c.expected);
    EXPECT_TRUE(window().FormClose());
    EXPECT_EQ(intSetting(c.section, c.key), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CreationSettingTest,
    ::testing::Values(
        CreationCase{"MonitorMissing", "Monitor", "Status", std::nullopt,
                     [](TCantivo& w) { return int{w.MonitorButton->StateOn()}; }, 1, 1},
        CreationCase{"MonitorOff", "Monitor", "Status", "0",
                     [](TCantivo& w) { return int{w.MonitorButton->StateOn()}; }, 0, 0},
        CreationCase{"SoftwareMissing", "Configuration", "Software", std::nullopt,
                     [](TCantivo& w) { return int{w.SoftwareProcessing}; }, 1, 1},
        CreationCase{"NonEnglishMissing", "Enable non english charecters", "Enabled", std::nullopt,
                     [](TCantivo& w) { return int{w.NonEnglishCharacters}; }, 0, 0},
        CreationCase{"SliderOutOfRange", "Configuration", "Slider Position", "11",
                     [](TCantivo& w) { return w.OffsetSliderPosition; }, 0, 0},
        CreationCase{"BufferNegative", "Configuration", "Buffer Size (bytes) of each buffer", "-5",
                     [](TCantivo& w) { return w.RecordBufferSize; }, 4096, 4096}),
    CaseName());

class WizardFlagTest : public SettingsTest,
                       public ::testing::WithParamInterface<std::optional<int>> {};

// Guards against the timer rewriting the settings file on every tick, or never clearing it.
TEST_P(WizardFlagTest, TheFlagIsClearedOnceAndTheFileThenLeftAlone) {
    const std::optional<int> stored = GetParam();
    writeIni("[Selected midi device]\nDevice name=Capture\n" +
             (stored ? "[Configuration]\nRunConfigWizard=" + std::to_string(*stored) + "\n"
                     : std::string()));
    open();
    ino_t inode = iniInode();
    const auto wizardShown = whileShown(window().AudioConfigWelcomeForm, [] {});
    tick();
    EXPECT_EQ(*wizardShown, stored.value_or(1) == 1) << "the wizard runs when the flag reads 1";
    EXPECT_EQ(intSetting("Configuration", "RunConfigWizard"), 0);
    EXPECT_EQ(iniInode() != inode, stored != 0) << "first tick";
    for (int i = 0; i < 3; ++i) {
        inode = iniInode();
        tick();
        EXPECT_EQ(iniInode(), inode) << "tick " << i + 2;
    }
}

INSTANTIATE_TEST_SUITE_P(Stored, WizardFlagTest,
                         ::testing::Values(std::optional<int>{0}, std::optional<int>{1},
                                           std::nullopt),
                         [](const ::testing::TestParamInfo<std::optional<int>>& param) {
                             return param.param ? "Is" + std::to_string(*param.param)
                                                : std::string("Missing");
                         });

// Guards against the update check showing in the menu, or its click not being recorded.
TEST_F(SettingsTest, CheckForUpdatesIsHiddenAndItsClickRecorded) {
    open();
    EXPECT_FALSE(window().CheckForUpdates1->isVisible());
    EXPECT_FALSE(window().CheckForUpdatesSeparator->isVisible());
    window().CheckForUpdatesClick();
    EXPECT_EQ(intSetting("CheckedForUpdate", "CheckforUpdateClicked"), 1);
}

// Guards against the lyric background not being applied or kept at once.
TEST_F(SettingsTest, BackgroundColourIsAppliedAndWrittenAtOnce) {
    open();
    const QColor chosen(10, 200, 30);
    dialogs.colors.push_back(chosen);
    window().BackgroundColor1Click();
    EXPECT_EQ(window().LyricBox1->color(), chosen);
    EXPECT_EQ(intSetting("Background", "Background_color"), cvkapp::colorValue(chosen));

    // A cancelled dialog gives back the colour it started with, which is written all the same.
    setting("Background", "Background_color", "<none>");
    window().PaintButtonClick();
    EXPECT_EQ(dialogs.colorDialogs, 2);
    EXPECT_EQ(window().LyricBox1->color(), chosen);
    EXPECT_EQ(intSetting("Background", "Background_color"), cvkapp::colorValue(chosen));
}

// Guards against the SoundFont key being read once and kept (a choice made while the window
// is open must reach the next song), and against a cleared key leaving the old choice.
TEST_F(SettingsTest, SoundFontChoiceIsHandedOverBeforeEveryOpen) {
    setting("Preferences", "SoundFont", "/fonts/first.sf2");
    open();
    EXPECT_EQ(synth::soundFontChoice(), "/fonts/first.sf2");
    openSong(song("song.kar", noteSong(4)));
    for (const char* chosen : {"/fonts/second.sf2", ""}) {
        setting("Preferences", "SoundFont", chosen);
        window().PlayButtonClick();
        ASSERT_TRUE(window().SongPlaying);
        EXPECT_EQ(synth::soundFontChoice(), chosen);
        window().StopButtonClick();
    }
}

}  // namespace
