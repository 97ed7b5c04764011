#include <QAction>
#include <QLabel>

#include <algorithm>
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

// True when a note-on has nothing after it that ends it: its note-off or an All Notes Off.
bool hangingNote(const std::vector<Captured>& messages) {
    for (auto on = messages.begin(); on != messages.end(); ++on) {
        const bool ended =
            !on->isNoteOn() || std::any_of(on + 1, messages.end(), [&](const Captured& m) {
                const int kind = m.status & 0xF0;
                const bool noteOff =
                    (kind == 0x80 || kind == 0x90) && !m.isNoteOn() && m.data1 == on->data1;
                const bool allOff = kind == 0xB0 && m.data1 == 123;
                return m.channel() == on->channel() && (noteOff || allOff);
            });
        if (!ended) {
            return true;
        }
    }
    return false;
}

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
    std::uint32_t position() {
        return window().Sequencer.CallGetLyricCounterDLL(window().Handle());
    }
};

// Guards against a window that loads a song but never gets it to the sequencer.
TEST_F(TransportTest, PlayOpensTheSongAndTheNotesReachTheOutput) {
    open();
    openSong(song("song.kar", karaokeSong({"One", "two", "three", "four"})));
    ASSERT_TRUE(window().SongLoaded);
    window().PlayButtonClick();
    ASSERT_TRUE(window().SongPlaying);
    EXPECT_EQ(window().SongDivision, 96);
    for (int i = 0; i < 60 && window().SongPlaying; ++i) {
        tick();
    }
    EXPECT_FALSE(window().SongPlaying) << "the song's end was not seen";
    const auto messages = captured();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const Captured& c) { return c.isNoteOn(); }),
              4);
}

// Guards against Play without a song starting something or locking the menus.
TEST_F(TransportTest, PlayWithoutSongOnlyDisablesRecord) {
    open();
    window().RecButton->SetEnabled(true);
    window().PlayButtonClick();
    EXPECT_FALSE(window().RecButton->Enabled());
    EXPECT_FALSE(window().SongPlaying);
    EXPECT_TRUE(window().New1->isEnabled());
    EXPECT_TRUE(window().Open1->isEnabled());
    EXPECT_TRUE(window().OpenButton->Enabled());
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_TRUE(captured().empty());
}

// Guards against pause, resume and stop leaving the transport, the menus or notes hanging.
TEST_F(TransportTest, PauseResumeAndStopKeepStateMenusAndOutputConsistent) {
    open();
    openSong(song("first.kar", noteSong(2)));
    openSong(song("second.kar", noteSong(40)));
    window().PlayButtonClick();
    ASSERT_TRUE(window().SongPlaying);
    expectIdleMenus(false);
    for (QAction* item : {window().MRU[0], window().MRU[1]}) {
        EXPECT_TRUE(item->isVisible());
        EXPECT_FALSE(item->isEnabled());
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
    play(900);  // a note is sounding now
    EXPECT_GT(position(), paused);

    window().StopButtonClick();
    EXPECT_FALSE(window().SongPlaying);
    EXPECT_FALSE(window().SongPaused);
    expectIdleMenus(true);
    EXPECT_TRUE(window().RecButton->Enabled());
    EXPECT_TRUE(window().MRU[0]->isEnabled());
    EXPECT_TRUE(window().MRU[1]->isEnabled());
    EXPECT_FALSE(hangingNote(captured()));
}

// Guards against the position display splitting the song position wrongly.
TEST_F(TransportTest, BarBoxShowsTheSongPositionAsBarBeatAndTick) {
    // At 125 bpm and division 96, ticks 1000 and 1300 fall on exactly 5 and 6.5 s, when
    // notes are due.
    Track conductor;
    conductor.tempo(0, 480000).end();
    Track notes;
    notes.noteOn(1000, 0, 60, 100).noteOff(96, 0, 60).noteOn(204, 0, 62, 100);
    notes.noteOff(96, 0, 62).end();
    open();
    openSong(song("bar.kar", smf(1, 96, {conductor, notes})));
    window().PlayButtonClick();
    ASSERT_EQ(window().SongDivision, 96);
    play(5000);
    ASSERT_EQ(window().LastLyricCounter, 1000u);
    EXPECT_EQ(window().BarBox->bar(), 2);
    EXPECT_EQ(window().BarBox->beat(), 2);
    EXPECT_EQ(window().BarBox->tick(), 40);
    play(1500);
    ASSERT_EQ(window().LastLyricCounter, 1300u);
    EXPECT_EQ(window().BarBox->bar(), 3);
    EXPECT_EQ(window().BarBox->beat(), 1);
    EXPECT_EQ(window().BarBox->tick(), 52);
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

// Guards against a time display that lags the song, or the end of a song going unnoticed.
TEST_F(TransportTest, TimeFollowsThePlayAndTheSongEndGivesTheWindowBack) {
    open();
    openSong(song("long.kar", karaokeSong(std::vector<std::string>(135, "la"))));
    window().PlayButtonClick();
    play(65250);
    EXPECT_EQ(window().MidiTime->minutes(), 1);
    EXPECT_EQ(window().MidiTime->seconds(), 5);
    ASSERT_GT(window().LyricBox1->tickCount(), 0);
    for (int i = 0; i < 100 && window().SongPlaying; ++i) {
        tick();
    }
    EXPECT_FALSE(window().SongPlaying);
    expectIdleMenus(true);
    EXPECT_TRUE(window().RecButton->Enabled());
    EXPECT_TRUE(window().MRU[0]->isEnabled());
    EXPECT_EQ(window().LyricBox1->tickCount(), 0);
    EXPECT_EQ(window().MidiTime->minutes(), 0);
    EXPECT_EQ(window().MidiTime->seconds(), 0);
}

// Guards against winding a paused song, or a fast forward past the end going unnoticed.
TEST_F(TransportTest, WindingWaitsWhilePausedAndTheLastTenthEndsTheSong) {
    open();
    openSong(song("ten.kar", noteSong(20)));
    window().PlayButtonClick();
    play(3000);
    window().PauseButtonClick();
    tick();
    const std::uint32_t counter = window().LastLyricCounter;
    ASSERT_GT(counter, 0u);
    window().FForwardButtonClick();
    window().RewindButtonClick();
    tick();
    EXPECT_EQ(position(), counter);
    EXPECT_EQ(window().LastLyricCounter, counter);

    window().PlayButtonClick();
    play(6500);
    ASSERT_TRUE(window().SongPlaying);
    window().FForwardButtonClick();
    tick();
    EXPECT_FALSE(window().SongPlaying);
    expectIdleMenus(true);
}

struct StepCase {
    const char* name;
    void (TCantivo::*step)();
    int times;
    QLabel* TCantivo::*display;
    const char* text;
    bool modifiesSong;
};

class StepTest : public TransportTest, public ::testing::WithParamInterface<StepCase> {};

// Guards against steps past their limits, wrong texts, or key and volume marking the song.
TEST_P(StepTest, StepsStopAtTheLimitsAndShowTheSetting) {
    const StepCase& c = GetParam();
    open();
    openSong(song("song.kar", noteSong(4)));
    for (int i = 0; i < c.times; ++i) {
        (window().*c.step)();
    }
    EXPECT_EQ(((window().*c.display)->text()).toStdString(), c.text);
    EXPECT_EQ(window().SongModified, c.modifiesSong);
}

using T = TCantivo;
const StepCase kSteps[] = {
    {"TempoDown", &T::TempoSpinDownClick, 100, &T::TempoDisplay, " 60", true},
    {"TempoUp", &T::TempoSpinUpClick, 200, &T::TempoDisplay, "240", true},
    {"KeyMinus14", &T::KeySpinDownClick, 14, &T::KeyDisplay, "-01:02", false},
    {"KeyZero", &T::KeySpinUpClick, 0, &T::KeyDisplay, " 00:00", false},
    {"KeyPlus5", &T::KeySpinUpClick, 5, &T::KeyDisplay, "+00:05", false},
    {"KeyLowest", &T::KeySpinDownClick, 300, &T::KeyDisplay, "-10:07", false},
    {"KeyHighest", &T::KeySpinUpClick, 300, &T::KeyDisplay, "+10:07", false},
    {"VolumeDown", &T::VolSpinDownClick, 100, &T::VolumeDisplay, " 50", false},
    {"VolumeUp", &T::VolSpinUpClick, 100, &T::VolumeDisplay, "150", false},
};
INSTANTIATE_TEST_SUITE_P(Steps, StepTest, ::testing::ValuesIn(kSteps), CaseName());

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
    for (int i = 0; i < 200 && window().SongPlaying; ++i) {
        tick();
    }
    ASSERT_FALSE(window().SongPlaying);

    std::vector<Captured> notes = captured();
    notes.erase(
        std::remove_if(notes.begin(), notes.end(), [](const Captured& c) { return !c.isNoteOn(); }),
        notes.end());
    ASSERT_EQ(notes.size(), 8u);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(notes[i].data1, i < 3 ? 60 : 62) << "note " << i;
        EXPECT_EQ(notes[i].data2, i < 3 ? 100 : 101) << "note " << i;
    }
    // 122 bpm: a quarter lasts 491.8 ms of the song's clock instead of 500.
    EXPECT_NEAR(static_cast<double>(notes[7].micros - notes[6].micros), 60e6 / 122, 1000.0);
}

// Guards against a volume stepped while stopped that the next Play ignores.
TEST_F(TransportTest, VolumeSteppedWhileStoppedIsHeardAtPlay) {
    open();
    openSong(song("song.kar", noteSong(2)));
    for (int i = 0; i < 10; ++i) {
        window().VolSpinUpClick();  // 110: +12.8, rounded to 13
    }
    window().PlayButtonClick();
    for (int i = 0; i < 100 && window().SongPlaying; ++i) {
        tick();
    }
    ASSERT_FALSE(window().SongPlaying);
    int notes = 0;
    for (const Captured& c : captured()) {
        if (c.isNoteOn()) {
            ++notes;
            EXPECT_EQ(c.data2, 113);
        }
    }
    EXPECT_EQ(notes, 2);
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
    const auto folder = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    if (library != "libmissing.so") {
        ASSERT_TRUE(std::filesystem::exists(folder / library))
            << library << " is not built beside the tests";
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
    for (auto handler :
         {&T::PauseButtonClick, &T::StopButtonClick, &T::RewindButtonClick, &T::FForwardButtonClick,
          &T::TempoSpinUpClick, &T::KeySpinUpClick, &T::VolSpinUpClick, &T::LargeButtonClick,
          &T::SmallButtonClick, &T::CVKTimerTimer}) {
        (window().*handler)();
    }
    boxes.answerNext(platform::MessageAnswer::No);
    EXPECT_TRUE(window().FormClose());
}

INSTANTIATE_TEST_SUITE_P(Libraries, MidiInitFailureTest,
                         ::testing::Values("libmissing.so", "libcvkplatform.so"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             return param.index == 0 ? "Missing" : "WithoutTheNames";
                         });

}  // namespace
