#include <QAction>
#include <QDialog>

#include <sys/stat.h>

#include <filesystem>

#include "CantivoHarness.h"
#include "FaultGuard.h"
#include "LyricScan.h"
#include "Lyricbox.h"
#include "SmBmpBtn.h"
#include "Recbtn.h"
#include "SpinButton.h"

using namespace testing_support;
using platform::MessageAnswer;

namespace {

namespace fs = std::filesystem;

const char* const kSplitNotice =
    "Since the MIDI file you wish to load contains MIDI events for more than one channels in "
    "a single track, Cantivo Karaoke has split those tracks. This will however not interfere "
    "with the  way this file sounds.";

class SongTest : public CantivoTest {
protected:
    std::string changedQuestion() {
        return "The file " + window().SongFileName + "  has changed. Do you want to save it ?";
    }
    void saveAs(const std::string& name, int filterIndex) {
        dialogs.saveAnswers.push_back({QString::fromStdString(name), filterIndex});
        window().SaveAs1Click();
    }
};

// Guards against songs of other types being loaded, or the wrong types being refused.
TEST_F(SongTest, OpenAcceptsOnlySongTypesInAnyCaseAndAsksAgain) {
    const std::string refusal = "Must Choose A Cantivo Karaoke File Type ";
    open();
    long refusals = 0;
    for (const char* name : {"a.kar", "b.MID", "c.Pfc", "d.KaR"}) {
        const std::string accepted = songFile(name, noteSong(2));
        for (const char* other : {"e.txt", "f", "g.midi"}) {
            dialogs.openAnswers.push_back(
                {QString::fromStdString(songFile(other, noteSong(2))), 0});
        }
        openSong(accepted);
        refusals += 3;
        EXPECT_EQ(boxCount(refusal), refusals) << name;
        EXPECT_EQ(window().SongFileName, accepted);
        EXPECT_TRUE(dialogs.openAnswers.empty());
    }
    EXPECT_EQ(boxTexts().size(), static_cast<std::size_t>(refusals));
}

// Guards against a missing file being loaded, or a load that fails going unexplained.
TEST_F(SongTest, MissingAndBrokenFilesAreReportedAndNotLoaded) {
    open();
    const std::string missing = path("songs/missing.kar");
    openSong(missing);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"File not found : " + missing});
    EXPECT_FALSE(window().SongLoaded);

    openSong(songFile("broken.kar", ByteVector{'n', 'o', 't', ' ', 'a', ' ', 's', 'o', 'n', 'g'}));
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[1].title, "Message Box");
    EXPECT_FALSE(boxes.shown()[1].text.empty());
    EXPECT_FALSE(window().SongLoaded);
    EXPECT_EQ(window().windowTitle().toStdString(), "Cantivo Karaoke");
    EXPECT_EQ(tempFiles(), 0u);
}

// Guards against Save and the spin buttons staying live when a failed load has closed the
// song before it.
TEST_F(SongTest, FailedLoadAfterASongLeavesNothingToSaveOrStep) {
    open();
    openSong(songFile("good.kar", noteSong(2)));
    ASSERT_TRUE(window().Save1->isEnabled());
    ASSERT_TRUE(window().VolSpin->isEnabled());
    openSong(songFile("broken.kar", ByteVector{'M', 'T', 'h', 'd'}));
    EXPECT_FALSE(window().SongLoaded);
    EXPECT_FALSE(window().Save1->isEnabled());
    EXPECT_FALSE(window().SaveAs1->isEnabled());
    for (const auto* spin : {window().TempoSpin, window().KeySpin, window().VolSpin}) {
        EXPECT_FALSE(spin->isEnabled());
    }
    EXPECT_FALSE(window().RecButton->Enabled());
}

// Guards against a split song loading silently or under the wrong title.
TEST_F(SongTest, SplitSongIsAnnouncedAndTheTitleNamesTheFile) {
    Track mixed;
    mixed.tempo(0, 500000).noteOn(96, 0, 60, 100).noteOn(0, 1, 64, 100);
    mixed.noteOff(96, 0, 60).noteOff(0, 1, 64).end();
    open();
    openSong(songFile("song.kar", smf(0, 96, {mixed})));
    EXPECT_TRUE(window().SongLoaded);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{kSplitNotice});
    EXPECT_EQ(window().windowTitle().toStdString(), "Cantivo Karaoke - song.kar");
}

struct FallbackCase {
    const char* name;
    const char* file;
    int textType;
    MessageAnswer answer;
    const char* question;
};

class LyricFallbackTest : public SongTest, public ::testing::WithParamInterface<FallbackCase> {};

// Guards against lyrics of the other file type being lost, or kept against the answer.
TEST_P(LyricFallbackTest, TheOtherLyricRuleIsOfferedAndTheAnswerKept) {
    const FallbackCase& c = GetParam();
    open();
    boxes.answerNext(c.answer);
    openSong(songFile(c.file, karaokeSong({"Hel", "lo"}, 96, c.textType)));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, c.question);
    EXPECT_EQ(boxes.shown()[0].title, "CVK Message");
    const bool kept = c.answer == MessageAnswer::Yes;
    EXPECT_EQ(window().SongLyrics != nullptr, kept);
    EXPECT_EQ(window().MagnifyButton->Enabled(), kept);
    EXPECT_EQ(window().FontButton->Enabled(), kept);
    if (kept) {
        EXPECT_TRUE(window().Font1->isEnabled());
    }
}

const char* const kMidQuestion =
    "This file does not contain lyrics in the standard MID format.Do you want CVK to try to "
    "extract lyrics as if this file were a KAR file ?";
const char* const kKarQuestion =
    "This file does not contain lyrics in the standard KAR format.Do you want CVK to try to "
    "extract lyrics as if this file were a MID file ?";

INSTANTIATE_TEST_SUITE_P(
    Rules, LyricFallbackTest,
    ::testing::Values(FallbackCase{"MidYes", "words.mid", 0x01, MessageAnswer::Yes, kMidQuestion},
                      FallbackCase{"MidNo", "words.mid", 0x01, MessageAnswer::No, kMidQuestion},
                      FallbackCase{"KarYes", "words.kar", 0x05, MessageAnswer::Yes, kKarQuestion},
                      FallbackCase{"KarNo", "words.kar", 0x05, MessageAnswer::No, kKarQuestion}),
    CaseName());

// Guards against a song keeping its words as text events of its first track showing "No
// Lyrics Available", or showing them without the line break of its "/".
TEST_F(SongTest, WordsOutsideBothRulesAreShownWithTheirLineBreaks) {
    Track words;
    words.tempo(0, 500000).meta(0, 1, "@TTitle").meta(96, 1, "Hel").meta(96, 1, "lo").meta(96, 1, "/wor")
        .meta(96, 1, "ld").end();
    Track notes;
    notes.noteOn(96, 0, 60, 100).noteOff(384, 0, 60).end();
    open();
    openSong(songFile("words.mid", smf(1, 96, {words, notes})));
    EXPECT_TRUE(boxTexts().empty()) << "asked to take words no rule found";
    ASSERT_NE(window().SongLyrics, nullptr);
    EXPECT_EQ(window().SongLyricsSource, songfile::LyricSource::TextTrack);
    EXPECT_EQ(window().LyricBox1->lines(), (QStringList{"Hello", "world"}));
    EXPECT_TRUE(window().MagnifyButton->Enabled());
}

struct CloseCase {
    const char* name;
    MessageAnswer answer;
    bool closed;
    bool fileChanged;
};

class CloseChangedTest : public SongTest, public ::testing::WithParamInterface<CloseCase> {};

// Guards against a changed song lost, saved against the user's word, or closed on Cancel.
TEST_P(CloseChangedTest, TheAnswerDecidesSavingAndClosing) {
    const CloseCase& c = GetParam();
    open();
    const std::string file = songFile("song.kar", noteSong(4));
    const ByteVector before = fileBytes(file);
    openSong(file);
    window().TempoSpinUpClick();
    const std::string question = changedQuestion();
    boxes.answerNext(c.answer);
    EXPECT_EQ(window().CloseSong(), c.closed);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{question});
    EXPECT_EQ(window().SongLoaded, !c.closed);
    EXPECT_EQ(fileBytes(file) != before, c.fileChanged);
    EXPECT_EQ(tempFiles(), c.closed ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Answers, CloseChangedTest,
                         ::testing::Values(CloseCase{"Yes", MessageAnswer::Yes, true, true},
                                           CloseCase{"No", MessageAnswer::No, true, false},
                                           CloseCase{"Cancel", MessageAnswer::Cancel, false,
                                                     false}),
                         CaseName());

// Guards against Cancel at the window's close losing the song or writing the settings.
TEST_F(SongTest, CancelledCloseKeepsTheWindowAsItWas) {
    open();
    openSong(songFile("song.kar", noteSong(4)));
    window().TempoSpinUpClick();
    boxes.answerNext(MessageAnswer::Cancel);
    EXPECT_FALSE(window().FormClose());
    EXPECT_TRUE(window().SongLoaded);
    EXPECT_EQ(stringSetting("Monitor", "Status"), "<missing>");
    boxes.answerNext(MessageAnswer::No);
    EXPECT_TRUE(window().FormClose());
    EXPECT_EQ(intSetting("Monitor", "Status"), 1);
}

// Guards the close for a stop signal: with a changed song and a dialog in front nothing is
// asked; the dialog is cancelled, the song left unsaved and the window closed.
TEST_F(SongTest, AStopSignalsCloseAsksNothing) {
    open();
    const std::string file = songFile("song.kar", noteSong(4));
    openSong(file);
    const ByteVector before = fileBytes(file);
    window().TempoSpinUpClick();
    bool closed = false;
    QDialog inFront(&window());
    QTimer::singleShot(0, &window(), [&] { window().CloseWithoutQuestions([&] { closed = true; }); });
    EXPECT_EQ(inFront.exec(), QDialog::Rejected);
    for (int turn = 0; turn < 100 && !closed; ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_TRUE(closed);
    EXPECT_FALSE(window().SongLoaded);
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_EQ(fileBytes(file), before);
}

// Guards against Save not writing the changed tempo or not taking the saved file up again.
TEST_F(SongTest, SaveWritesTheNewTempoAndReloadsTheSong) {
    open();
    const std::string file = songFile("song.kar", noteSong(4));
    const ByteVector before = fileBytes(file);
    openSong(file);
    for (int i = 0; i < 5; ++i) {
        window().TempoSpinUpClick();
    }
    window().Save1Click();
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_NE(fileBytes(file), before);
    EXPECT_TRUE(window().SongLoaded);
    EXPECT_FALSE(window().SongModified);
    EXPECT_EQ(window().TempoSetting, 125);
    EXPECT_EQ(tempFiles(), 1u);
    EXPECT_EQ(songFolder(), std::vector<std::string>{"song.kar"});
}

struct FailedSaveCase {
    const char* name;
    bool saveAs;
    bool readOnly;  // otherwise every write fails as on a full disk
    bool targetExists;
};

class FailedSaveTest : public SongTest, public ::testing::WithParamInterface<FailedSaveCase> {};

// Guards against a failed save leaving a half-written or emptied file, or failing silently.
TEST_P(FailedSaveTest, TheTargetStaysAsItWasAndTheUserIsTold) {
    const FailedSaveCase& c = GetParam();
    FaultGuard faults;
    open();
    const std::string source = songFile("song.MID", noteSong(4));
    const std::string target = c.saveAs ? path("songs/other.MID") : source;
    if (c.targetExists && c.saveAs) {
        songFile("other.MID", noteSong(12, 400000));
    }
    openSong(source);
    window().TempoSpinUpClick();
    const std::vector<std::string> folder = songFolder();
    const ByteVector before = c.targetExists ? fileBytes(target) : ByteVector{};
    if (c.readOnly) {
        ::chmod(target.c_str(), 0444);
    } else {
        platform::setWriteFaultAfter(0);
    }
    if (c.saveAs) {
        if (c.targetExists) {
            boxes.answerNext(MessageAnswer::Yes);
        }
        saveAs(target, 0);
    } else {
        window().Save1Click();
    }
    platform::setWriteFaultAfter(std::nullopt);
    const std::string expected =
        c.readOnly ? target +
                         " This file exists with read only attribute, please Save As with "
                         "a different file name."
                   : "Cannot Save File";
    EXPECT_EQ(boxTexts().back(), expected);
    EXPECT_EQ(songFolder(), folder);
    if (c.targetExists) {
        EXPECT_EQ(fileBytes(target), before);
    }
    EXPECT_TRUE(window().SongLoaded);
    EXPECT_TRUE(window().SongModified);
    // A failed Save As leaves the song under its own name for the next Save.
    EXPECT_EQ(window().SongFileName, source);
}

INSTANTIATE_TEST_SUITE_P(Failures, FailedSaveTest,
                         ::testing::Values(FailedSaveCase{"SaveDiskFull", false, false, true},
                                           FailedSaveCase{"SaveReadOnly", false, true, true},
                                           FailedSaveCase{"SaveAsOverDiskFull", true, false, true},
                                           FailedSaveCase{"SaveAsOverReadOnly", true, true, true},
                                           FailedSaveCase{"SaveAsNewDiskFull", true, false, false}),
                         CaseName());

// Guards against Save As ignoring the chosen file type.
TEST_F(SongTest, SaveAsGivesTheNameTheChosenFilterExtension) {
    open();
    openSong(songFile("song.mid", noteSong(4)));
    saveAs(path("songs/copy.mid"), 1);
    const std::string saved = path("songs/copy.kar");
    EXPECT_TRUE(fs::exists(saved));
    EXPECT_FALSE(fs::exists(path("songs/copy.mid")));
    EXPECT_EQ(window().SongFileName, saved);
    EXPECT_EQ(window().windowTitle().toStdString(), "Cantivo Karaoke - copy.kar");
    EXPECT_EQ(dialogs.saveRequests.at(0).filterIndex, 0);
}

// Guards against Save As overwriting unasked, or leaving an old file's tail behind the song.
TEST_F(SongTest, SaveAsOntoAnExistingFileAsksAndLeavesOnlyTheNewSong) {
    open();
    openSong(songFile("song.kar", noteSong(4)));
    saveAs(path("songs/fresh.kar"), 1);
    const ByteVector fresh = fileBytes(path("songs/fresh.kar"));
    const std::string longer = songFile("long.kar", noteSong(200));
    ASSERT_GT(fileBytes(longer).size(), fresh.size());
    ASSERT_EQ(::chmod(longer.c_str(), 0640), 0);
    boxes.answerNext(MessageAnswer::No);
    boxes.answerNext(MessageAnswer::Yes);
    dialogs.saveAnswers.push_back({QString::fromStdString(path("songs/long.mid")), 1});
    saveAs(path("songs/long.kar"), 1);
    const std::string question = "File: " + longer + " already exists, Overwrite it?";
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{question, question}));
    EXPECT_EQ(dialogs.saveRequests.size(), 3u);
    EXPECT_EQ(fileBytes(longer), fresh);
    struct stat info {};
    ASSERT_EQ(::stat(longer.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << "the replaced file lost its permissions";
}

// Guards against New leaving the old song's panel or its save and step controls.
TEST_F(SongTest, NewClosesTheSongAndItsControls) {
    open();
    openSong(songFile("song.kar", karaokeSong({"la", "la"})));
    ASSERT_TRUE(window().LyricPanel->isVisibleTo(&window()));
    window().New1Click();
    EXPECT_FALSE(window().SongLoaded);
    EXPECT_TRUE(window().LyricPanel->isHidden());
    EXPECT_FALSE(window().Save1->isEnabled());
    EXPECT_FALSE(window().SaveAs1->isEnabled());
    EXPECT_FALSE(window().TempoSpin->isEnabled());
    EXPECT_FALSE(window().KeySpin->isEnabled());
    EXPECT_FALSE(window().VolSpin->isEnabled());
    EXPECT_EQ(window().windowTitle().toStdString(), "Cantivo Karaoke");
}

class SplitFileTest;

struct LeaveCase {
    const char* name;
    void (SplitFileTest::*leave)();
};

class SplitFileTest : public SongTest, public ::testing::WithParamInterface<LeaveCase> {
public:
    void closeWindow() { EXPECT_TRUE(window().FormClose()); }
    void newSong() { window().New1Click(); }
    void openBroken() { openSong(songFile("broken.kar", ByteVector(40, 0x4D))); }
    void destroy() { destroyWindow(); }
};

// Guards against temporary split files piling up in the temporary folder.
TEST_P(SplitFileTest, NoTemporaryFileOutlivesTheSong) {
    open();
    openSong(songFile("song.kar", karaokeSong({"la", "la"})));
    window().PlayButtonClick();
    tick();
    ASSERT_EQ(tempFiles(), 1u);
    (this->*GetParam().leave)();
    EXPECT_EQ(tempFiles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Endings, SplitFileTest,
                         ::testing::Values(LeaveCase{"Close", &SplitFileTest::closeWindow},
                                           LeaveCase{"New", &SplitFileTest::newSong},
                                           LeaveCase{"FailedLoad", &SplitFileTest::openBroken},
                                           LeaveCase{"Destruction", &SplitFileTest::destroy}),
                         CaseName());

}  // namespace
