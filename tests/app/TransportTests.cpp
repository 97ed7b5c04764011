#include <QAction>
#include <QLabel>

#include <filesystem>

#include "BarBox.h"
#include "CantivoHarness.h"
#include "Lyricbox.h"
#include "Recbtn.h"
#include "SmBmpBtn.h"
#include "SpinButton.h"
#include "Timebox.h"

using namespace testing_support;
using cvkapp::TCantivo;

namespace {

class TransportTest : public CantivoTest {
protected:
    // The items that Play takes away and Stop gives back.
    void expectIdleMenus(bool enabled) {
        EXPECT_EQ(window().Save1->isEnabled(), enabled);
        EXPECT_EQ(window().SaveAs1->isEnabled(), enabled);
        EXPECT_EQ(window().New1->isEnabled(), enabled);
        EXPECT_EQ(window().Open1->isEnabled(), enabled);
        EXPECT_EQ(window().OpenButton->Enabled(), enabled);
    }
    std::uint32_t position() { return window().Sequencer.CallGetLyricCounterDLL(window().Handle()); }
};

// Guards against a window that loads a song but never gets it to the sequencer.
TEST_F(TransportTest, PlayOpensTheSongAndTheNotesReachTheOutput) {
    open();
    openSong(song("song.kar", karaokeSong({"One", "two", "three", "four"})));
    ASSERT_TRUE(window().SongLoaded);
    window().PlayButtonClick();
    ASSERT_TRUE(window().SongPlaying);
    EXPECT_EQ(window().SongDivision, 96);
    EXPECT_FALSE(window().Open1->isEnabled());
    EXPECT_FALSE(window().OpenButton->Enabled());
    for (int i = 0; i < 60 && window().SongPlaying; ++i) {
        tick();
    }
    EXPECT_FALSE(window().SongPlaying) << "the song's end was not seen";
    EXPECT_TRUE(window().Open1->isEnabled());
    int notes = 0;
    for (const Captured& c : captured()) {
        notes += c.isNoteOn() ? 1 : 0;
    }
    EXPECT_EQ(notes, 4);
}

// Guards against Play without a song starting something or locking the menus.
TEST_F(TransportTest, PlayWithoutSongOnlyDisablesRecord) {
    open();
    window().RecButton->SetEnabled(true);
    window().PlayButtonClick();
    EXPECT_FALSE(window().RecButton->Enabled());
    EXPECT_FALSE(window().SongPlaying);
    EXPECT_FALSE(window().SongPaused);
    EXPECT_TRUE(window().Open1->isEnabled());
    EXPECT_TRUE(window().New1->isEnabled());
    EXPECT_TRUE(window().OpenButton->Enabled());
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_TRUE(captured().empty());
}

// Guards against pause, resume and stop leaving the transport, the menus or notes hanging.
TEST_F(TransportTest, PauseResumeAndStopKeepStateMenusAndOutputConsistent) {
    open();
    const std::string first = song("first.kar", karaokeSong({"la", "la"}));
    openSong(song("second.kar", noteSong(40)));
    openSong(first);
    openSong(path("second.kar"));
    window().PlayButtonClick();
    ASSERT_TRUE(window().SongPlaying);
    expectIdleMenus(false);
    for (QAction* item : {window().MRU[0], window().MRU[1]}) {
        EXPECT_TRUE(item->isVisible());
        EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    }
    play(1250);

    window().PauseButtonClick();
    EXPECT_TRUE(window().SongPaused);
    EXPECT_TRUE(window().PauseButton->Paused());
    const std::uint32_t paused = position();
    play(1000);
    EXPECT_EQ(position(), paused);

    window().PlayButtonClick();
    EXPECT_TRUE(window().SongPlaying);
    EXPECT_FALSE(window().SongPaused);
    EXPECT_FALSE(window().PauseButton->Paused());
    play(1000);
    EXPECT_GT(position(), paused);

    window().StopButtonClick();
    EXPECT_FALSE(window().SongPlaying);
    EXPECT_FALSE(window().SongPaused);
    expectIdleMenus(true);
    EXPECT_TRUE(window().RecButton->Enabled());
    for (QAction* item : {window().MRU[0], window().MRU[1]}) {
        EXPECT_TRUE(item->isEnabled()) << item->text().toStdString();
    }

    // Every note that sounded was ended: by its note-off or by an All Notes Off after it.
    const auto messages = captured();
    ASSERT_FALSE(messages.empty());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (!messages[i].isNoteOn()) continue;
        bool ended = false;
        for (std::size_t j = i + 1; j < messages.size() && !ended; ++j) {
            const Captured& m = messages[j];
            const bool sameChannel = m.channel() == messages[i].channel();
            const bool noteOff = ((m.status & 0xF0) == 0x80 || ((m.status & 0xF0) == 0x90 &&
                                                                 m.data2 == 0)) &&
                                 m.data1 == messages[i].data1;
            const bool allOff = (m.status & 0xF0) == 0xB0 && m.data1 == 123;
            ended = sameChannel && (noteOff || allOff);
        }
        EXPECT_TRUE(ended) << "note " << messages[i].data1 << " at " << messages[i].micros;
    }
}

// Guards against the position display splitting the song position wrongly.
TEST_F(TransportTest, BarBoxShowsTheSongPositionAsBarBeatAndTick) {
    // At 125 bpm and division 96 tick 1000 falls on exactly 5 s, when a note is due.
    Track conductor;
    conductor.tempo(0, 480000).end();
    Track notes;
    notes.noteOn(1000, 0, 60, 100).noteOff(96, 0, 60).end();
    open();
    openSong(song("bar.kar", smf(1, 96, {conductor, notes})));
    window().PlayButtonClick();
    ASSERT_EQ(window().SongDivision, 96);
    play(5000);
    ASSERT_EQ(window().LastLyricCounter, 1000u);
    EXPECT_EQ(window().BarBox->bar(), 2);
    EXPECT_EQ(window().BarBox->beat(), 2);
    EXPECT_EQ(window().BarBox->tick(), 40);
}

// Guards against a song without a division feeding the displays (or dividing by zero).
TEST_F(TransportTest, WithoutDivisionThePositionDisplaysAreNotFed) {
    open();
    openSong(song("song.kar", karaokeSong({"a", "b", "c", "d", "e", "f", "g", "h"})));
    window().PlayButtonClick();
    play(1300);
    const int bar = window().BarBox->bar();
    const int beat = window().BarBox->beat();
    const int ticks = window().BarBox->tick();
    const int lyricTicks = window().LyricBox1->tickCount();
    ASSERT_GT(lyricTicks, 0);
    window().SongDivision = 0;
    play(1000);
    ASSERT_TRUE(window().SongPlaying);
    EXPECT_EQ(window().BarBox->bar(), bar);
    EXPECT_EQ(window().BarBox->beat(), beat);
    EXPECT_EQ(window().BarBox->tick(), ticks);
    EXPECT_EQ(window().LyricBox1->tickCount(), lyricTicks);
}

// Guards against the time display not following the song or keeping its time after Stop.
TEST_F(TransportTest, TimeDisplayFollowsThePlayAndShowsZeroWhenStopped) {
    open();
    openSong(song("long.kar", noteSong(150)));
    window().PlayButtonClick();
    play(65250);
    EXPECT_EQ(window().MidiTime->minutes(), 1);
    EXPECT_EQ(window().MidiTime->seconds(), 5);
    window().StopButtonClick();
    tick();
    EXPECT_EQ(window().MidiTime->minutes(), 0);
    EXPECT_EQ(window().MidiTime->seconds(), 0);
}

// Guards against the end of a song going unnoticed.
TEST_F(TransportTest, SongEndStopsPlaybackAndGivesTheWindowBack) {
    open();
    openSong(song("short.kar", karaokeSong({"one", "two"})));
    window().PlayButtonClick();
    play(1000);
    ASSERT_GT(window().LyricBox1->tickCount(), 0);
    for (int i = 0; i < 100 && window().SongPlaying; ++i) tick();
    EXPECT_FALSE(window().SongPlaying);
    expectIdleMenus(true);
    EXPECT_TRUE(window().RecButton->Enabled());
    EXPECT_EQ(window().LyricBox1->tickCount(), 0);
    EXPECT_TRUE(window().MRU[0]->isEnabled());
}

// Guards against a fast forward past the end leaving the window believing the song plays.
TEST_F(TransportTest, FastForwardWithinTheLastTenthEndsTheSong) {
    open();
    openSong(song("ten.kar", noteSong(20)));
    window().PlayButtonClick();
    play(9500);
    ASSERT_TRUE(window().SongPlaying);
    window().FForwardButtonClick();
    tick();
    EXPECT_FALSE(window().SongPlaying);
    expectIdleMenus(true);
}

// Guards against rewind and fast forward moving a paused song.
TEST_F(TransportTest, RewindAndFastForwardDoNothingWhilePaused) {
    open();
    openSong(song("ten.kar", noteSong(20)));
    window().PlayButtonClick();
    play(3000);
    window().PauseButtonClick();
    tick();
    const std::uint32_t counter = window().LastLyricCounter;
    ASSERT_GT(counter, 0u);
    window().FForwardButtonClick();
    tick();
    window().RewindButtonClick();
    tick();
    EXPECT_EQ(position(), counter);
    EXPECT_EQ(window().LastLyricCounter, counter);
    EXPECT_TRUE(window().SongPaused);
}

struct StepCase {
    const char* name;
    void (TCantivo::*step)();
    int times;
    int TCantivo::*setting;
    QLabel* TCantivo::*display;
    int value;
    const char* text;
    bool modifiesSong;
};

class StepTest : public TransportTest, public ::testing::WithParamInterface<StepCase> {};

// Guards against steps running past their limits, wrong display texts, or key and volume
// asking to save the song.
TEST_P(StepTest, StepsStopAtTheLimitsAndShowTheSetting) {
    const StepCase& c = GetParam();
    open();
    openSong(song("song.kar", noteSong(4)));
    ASSERT_FALSE(window().SongModified);
    for (int i = 0; i < c.times; ++i) (window().*c.step)();
    EXPECT_EQ(window().*c.setting, c.value);
    EXPECT_EQ(((window().*c.display)->text()).toStdString(), c.text);
    EXPECT_EQ(window().SongModified, c.modifiesSong);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, StepTest,
    ::testing::Values(
        StepCase{"TempoDown", &TCantivo::TempoSpinDownClick, 100, &TCantivo::TempoSetting,
                 &TCantivo::TempoDisplay, 60, " 60", true},
        StepCase{"TempoUp", &TCantivo::TempoSpinUpClick, 200, &TCantivo::TempoSetting,
                 &TCantivo::TempoDisplay, 240, "240", true},
        StepCase{"KeyMinus14", &TCantivo::KeySpinDownClick, 14, &TCantivo::KeySetting,
                 &TCantivo::KeyDisplay, -14, "-01:02", false},
        StepCase{"KeyZero", &TCantivo::KeySpinUpClick, 0, &TCantivo::KeySetting,
                 &TCantivo::KeyDisplay, 0, " 00:00", false},
        StepCase{"KeyPlus5", &TCantivo::KeySpinUpClick, 5, &TCantivo::KeySetting,
                 &TCantivo::KeyDisplay, 5, "+00:05", false},
        StepCase{"KeyLowest", &TCantivo::KeySpinDownClick, 300, &TCantivo::KeySetting,
                 &TCantivo::KeyDisplay, -127, "-10:07", false},
        StepCase{"KeyHighest", &TCantivo::KeySpinUpClick, 300, &TCantivo::KeySetting,
                 &TCantivo::KeyDisplay, 127, "+10:07", false},
        StepCase{"VolumeDown", &TCantivo::VolSpinDownClick, 100, &TCantivo::MasterVolume,
                 &TCantivo::VolumeDisplay, 50, " 50", false},
        StepCase{"VolumeUp", &TCantivo::VolSpinUpClick, 100, &TCantivo::MasterVolume,
                 &TCantivo::VolumeDisplay, 150, "150", false}),
    [](const ::testing::TestParamInfo<StepCase>& param) { return param.param.name; });

// Guards against the steps being usable, or a tempo step asking to save, with no song.
TEST_F(TransportTest, SpinsWaitForASongAndTempoAloneMarksNothingWithoutOne) {
    open();
    EXPECT_FALSE(window().TempoSpin->isEnabled());
    EXPECT_FALSE(window().KeySpin->isEnabled());
    EXPECT_FALSE(window().VolSpin->isEnabled());
    window().TempoSpinUpClick();
    EXPECT_FALSE(window().SongModified);
    openSong(song("song.kar", noteSong(4)));
    EXPECT_TRUE(window().TempoSpin->isEnabled());
    EXPECT_TRUE(window().KeySpin->isEnabled());
    EXPECT_TRUE(window().VolSpin->isEnabled());
}

// Guards against tempo, key and volume steps during play not reaching the sequencer.
TEST_F(TransportTest, StepsWhilePlayingChangeWhatIsPlayed) {
    open();
    openSong(song("song.kar", noteSong(8)));
    window().PlayButtonClick();
    play(1250);  // the notes at 0, 0.5 and 1 s have sounded
    window().TempoSpinUpClick();
    window().TempoSpinUpClick();
    EXPECT_EQ(window().Sequencer.CallGetTempo(window().Handle()), 122);
    window().KeySpinUpClick();
    window().KeySpinUpClick();
    window().VolSpinUpClick();
    for (int i = 0; i < 200 && window().SongPlaying; ++i) tick();
    ASSERT_FALSE(window().SongPlaying);

    std::vector<Captured> notes;
    for (const Captured& c : captured()) {
        if (c.isNoteOn()) notes.push_back(c);
    }
    ASSERT_EQ(notes.size(), 8u);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const bool later = i >= 3;
        EXPECT_EQ(notes[i].data1, later ? 62 : 60) << "note " << i;
        EXPECT_EQ(notes[i].data2, later ? 101 : 100) << "note " << i;
    }
    // 122 bpm: a quarter lasts 491.8 ms instead of 500.
    const std::uint64_t quarter = notes[7].micros - notes[6].micros;
    EXPECT_NEAR(static_cast<double>(quarter), 60e6 / 122, 1000.0);
}

// Guards against a song that cannot start leaving the window without its menus.
TEST_F(TransportTest, FailedStartReportsAndGivesTheMenusBack) {
    open();
    openSong(song("song.kar", noteSong(4)));
    // The output device cannot be opened any more: its capture file's folder is gone.
    setenv("CVK_MIDI_CAPTURE", path("gone/capture.csv").c_str(), 1);
    window().PlayButtonClick();
    EXPECT_EQ(boxCount("Cannot Start Song"), 1);
    EXPECT_FALSE(window().SongPlaying);
    expectIdleMenus(true);
    EXPECT_TRUE(window().RecButton->Enabled());
}

class MidiInitFailureTest : public TransportTest,
                            public ::testing::WithParamInterface<const char*> {};

// Guards against a missing or incomplete sequencer library crashing the window.
TEST_P(MidiInitFailureTest, EveryHandlerIsSafeAndPlayExplains) {
    const std::string library = GetParam();
    if (library != "libmissing.so" &&
        !std::filesystem::exists(std::filesystem::read_symlink("/proc/self/exe").parent_path() /
                                 library)) {
        GTEST_SKIP() << library << " is not built beside the tests";
    }
    open({}, library);
    EXPECT_TRUE(window().MidiInitFailed);
    const std::string text = "Cannot Initialize the MIDI Driver";
    EXPECT_EQ(boxCount(text), 1);
    openSong(song("song.kar", karaokeSong({"la", "la"})));
    ASSERT_TRUE(window().SongLoaded);
    window().PlayButtonClick();
    window().PlayButtonClick();
    EXPECT_EQ(boxCount(text), 3);
    EXPECT_FALSE(window().SongPlaying);
    window().PauseButtonClick();
    window().StopButtonClick();
    window().RewindButtonClick();
    window().FForwardButtonClick();
    window().TempoSpinUpClick();
    window().KeySpinUpClick();
    window().VolSpinUpClick();
    window().LargeButtonClick();
    window().SmallButtonClick();
    tick();
    boxes.answerNext(platform::MessageAnswer::No);
    EXPECT_TRUE(window().FormClose());
}

INSTANTIATE_TEST_SUITE_P(Libraries, MidiInitFailureTest,
                         ::testing::Values("libmissing.so", "libcvkplatform.so"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             return param.index == 0 ? "Missing" : "WithoutTheNames";
                         });

}  // namespace
