#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include <functional>
#include <memory>
#include <optional>

#include "AboutIns.h"
#include "Aboutinf.h"
#include "CantivoHarness.h"
#include "Trecesed.h"
#include "Ledbuton.h"
#include "LyricScan.h"
#include "Ownbuton.h"
#include "Vledrow.h"
#include "Vslider.h"

using namespace testing_support;
using cvkapp::TCantivo;

namespace {

// Track 1 ("  Lead", Rhodes Piano then Music Box on channel 0, two text events) and
// track 2 (Hammond Organ on channel 1, with a copyright) strike a note on every quarter.
// Track 0 has no instrument and nothing to tell; one lyric keeps the song a plain .mid.
ByteVector mixerSong(int quarters = 40) {
    Track conductor;
    conductor.tempo(0, 500000).meta(1, 5, "la").end();
    Track lead;
    lead.meta(0, 3, "  Lead").meta(0, 1, "first line").meta(0, 1, "second line").program(0, 0, 4);
    Track organ;
    organ.meta(0, 2, "(c) Us").program(0, 1, 16);
    for (int i = 0; i < quarters; ++i) {
        lead.noteOn(i == 0 ? 0 : 48, 0, 60, 100).noteOff(48, 0, 60);
        organ.noteOn(i == 0 ? 0 : 48, 1, 48, 100).noteOff(48, 1, 48);
        if (i == 0) lead.program(0, 0, 10);
    }
    return smf(1, 96, {conductor, lead.end(), organ.end()});
}

void press(QWidget* widget) {
    const QPointF at(10, 10);
    QMouseEvent down(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                   Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &up);
}

// The user picks list item `program` with the keyboard, as a choice of their own.
void choose(TAboutBox* box, int program) {
    box->ComboBox1->setCurrentIndex(program - 1);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(box->ComboBox1, &down);
    platform::advanceManualClock(2);  // the sequencer sends the program change on its next tick
}

std::vector<int> programChanges(const std::vector<Captured>& messages, int channel) {
    std::vector<int> programs;
    for (const Captured& m : messages) {
        if ((m.status & 0xF0) == 0xC0 && m.channel() == channel) programs.push_back(m.data1);
    }
    return programs;
}

class TrackPanelTest : public CantivoTest {
protected:
    void load(const ByteVector& bytes = mixerSong()) {
        open();
        openSong(song("mixer.mid", bytes));
        ASSERT_TRUE(window().SongLoaded);
    }
    cvkapp::TrackStrip& strip(int r) { return window().TrackStrips[static_cast<std::size_t>(r)]; }
    const cvkapp::TTrackMix& mix(int t) { return window().TrackMix[static_cast<std::size_t>(t)]; }
    void scrollTo(int position) { window().TrackView->setValue(position); }
};

// Guards against two solos at once, and against a released solo whose LED stays lit.
TEST_F(TrackPanelTest, SoloIsExclusiveAcrossScrolling) {
    load();
    press(strip(2).SoloLed);
    press(strip(5).SoloLed);
    EXPECT_FALSE(mix(2).Solo);
    EXPECT_FALSE(strip(2).SoloLed->State());
    EXPECT_TRUE(mix(5).Solo && strip(5).SoloLed->State());

    scrollTo(40);  // track 5 is out of sight when track 41 takes the solo
    press(strip(1).SoloLed);
    EXPECT_FALSE(mix(5).Solo);
    scrollTo(0);
    EXPECT_FALSE(strip(5).SoloLed->State());
    scrollTo(40);
    EXPECT_TRUE(strip(1).SoloLed->State());
}

// Guards against a track both soloed and muted, which the volume table cannot express.
TEST_F(TrackPanelTest, SoloReleasesMuteAndMuteReleasesSolo) {
    load();
    press(strip(3).MuteLed);
    press(strip(3).SoloLed);
    EXPECT_FALSE(mix(3).Mute || strip(3).MuteLed->State());
    EXPECT_TRUE(mix(3).Solo);
    press(strip(3).MuteLed);
    EXPECT_FALSE(mix(3).Solo || strip(3).SoloLed->State());
    EXPECT_TRUE(mix(3).Mute && strip(3).MuteLed->State());
}

struct VolumeCase {
    const char* name;
    int masterSteps;  // Volume spin clicks from 100
    int offset;       // track 1's slider
    bool muteTrack2;
    bool soloTrack1;
    std::int16_t track1;
    std::int16_t track2;
};

class VolumeTableTest : public TrackPanelTest, public ::testing::WithParamInterface<VolumeCase> {};

// Guards against the master and slider arithmetic leaving the silent and loudest ends,
// and against mutes counting (or not) while a solo is in force.
TEST_P(VolumeTableTest, TableReachesTheSequencer) {
    const VolumeCase& c = GetParam();
    load();
    for (int i = 0; i < std::abs(c.masterSteps); ++i) {
        c.masterSteps < 0 ? window().VolSpinDownClick() : window().VolSpinUpClick();
    }
    if (c.muteTrack2) press(strip(2).MuteLed);
    if (c.soloTrack1) press(strip(1).SoloLed);
    strip(1).VolumeSlider->SetCurrentPos(c.offset);
    EXPECT_EQ(window().VolumeTable[1], c.track1);
    EXPECT_EQ(window().VolumeTable[2], c.track2);

    // What the sequencer applies: track 2's notes sound only when its entry lets them.
    window().PlayButtonClick();
    play(400);
    window().StopButtonClick();  // the capture device has written everything once closed
    const auto messages = captured();
    const bool organSounds = std::any_of(messages.begin(), messages.end(),
                                         [](const Captured& m) { return m.isNoteOn() && m.channel() == 1; });
    EXPECT_EQ(organSounds, c.track2 != -128);
}

INSTANTIATE_TEST_SUITE_P(
    Mixes, VolumeTableTest,
    ::testing::Values(VolumeCase{"QuietestIsSilent", -50, -32, false, false, -128, -64},
                      VolumeCase{"LoudestIs126", 50, 31, false, false, 126, 64},
                      VolumeCase{"SoloSilencesTheRest", 0, 5, false, true, 10, -128},
                      VolumeCase{"MuteSilences", 0, 0, true, false, 0, -128}),
    CaseName());

// Guards against scrolling that loses the mix of tracks out of sight or stops short of 64.
TEST_F(TrackPanelTest, ScrollingKeepsEveryTracksState) {
    load();
    press(strip(0).MuteLed);
    press(strip(1).SoloLed);
    strip(2).VolumeSlider->SetCurrentPos(-7);
    scrollTo(48);
    EXPECT_EQ(strip(0).NumberButton->text(), "49");
    EXPECT_EQ(strip(15).NumberButton->text(), "64");
    EXPECT_FALSE(strip(0).MuteLed->State() || strip(1).SoloLed->State());
    EXPECT_EQ(strip(2).VolumeSlider->CurrentPos(), 0);
    EXPECT_EQ(strip(15).InstrumentButton->toolTip(), "No Instrument Availiable");
    scrollTo(0);
    EXPECT_TRUE(strip(0).MuteLed->State() && strip(1).SoloLed->State());
    EXPECT_EQ(strip(2).VolumeSlider->CurrentPos(), -7);
    EXPECT_EQ(strip(1).InstrumentButton->toolTip(), "Rhodes Piano and Others");
    EXPECT_EQ(strip(1).NumberButton->toolTip(), "  Lead");
    EXPECT_EQ(strip(0).NumberButton->toolTip(), "No Track Name Availiable");
}

// Guards against the scroll bar staying over the lyrics when a lyric layout hides the mixer.
TEST_F(TrackPanelTest, ScrollBarGoesWithTheMixer) {
    load();
    window().MediumButtonClick();
    EXPECT_TRUE(window().Panel5->isHidden() && window().TrackView->isHidden());
    window().SmallButtonClick();
    EXPECT_FALSE(window().Panel5->isHidden() || window().TrackView->isHidden());
}

// Guards against the song's mute being lost or doubled when the strips scroll or a solo
// ends it.
TEST_F(TrackPanelTest, MidiMuteWithScrollingAndTheFirstSolo) {
    load();
    std::vector<int> silence;
    window().Audio.AudioPlaySilenceWave = [&](std::int32_t flag) {
        silence.push_back(flag);
        return flag;
    };
    press(strip(0).MuteLed);
    scrollTo(8);
    strip(0).VolumeSlider->SetCurrentPos(5);  // track 8
    scrollTo(0);
    // The voice column's song mute, as it leaves the panel: every track muted.
    window().MidiMuted = true;
    window().MidiOutMuteButton->SetState(true);
    for (auto& track : window().TrackMix) track.Mute = true;

    scrollTo(8);
    EXPECT_TRUE(strip(0).MuteLed->State());   // the LEDs keep what they showed
    EXPECT_FALSE(strip(1).MuteLed->State());
    EXPECT_EQ(strip(0).VolumeSlider->CurrentPos(), 5);  // the sliders follow the tracks

    press(strip(2).SoloLed);  // track 10
    EXPECT_FALSE(window().MidiMuted || window().MidiOutMuteButton->State());
    EXPECT_TRUE(window().VoiceSilenced);
    EXPECT_EQ(silence, std::vector<int>{1});
    EXPECT_TRUE(mix(9).Mute && mix(11).Mute);
    for (int t = 0; t < cvkapp::kTrackCount; ++t) {
        EXPECT_EQ(window().VolumeTable[static_cast<std::size_t>(t)], t == 10 ? 0 : -128) << t;
    }
    press(strip(2).SoloLed);  // the last solo ends: the voice comes back
    EXPECT_EQ(silence, (std::vector<int>{1, 0}));
    EXPECT_EQ(window().VolumeTable[10], 0);    // the solo took its mute away
    EXPECT_EQ(window().VolumeTable[9], -128);  // the others' mutes count again
}

// Guards against meters that miss the pairs of LEDs, the thresholds or a full meter.
TEST_F(TrackPanelTest, MetersFollowTheNotes) {
    // At tick 0: one note on track 1, two on track 2, ten on track 3; nothing on track 4.
    std::vector<Track> tracks{Track().tempo(0, 500000).meta(1, 5, "la").end()};
    for (const int notes : {1, 2, 10}) {
        Track track;
        const int channel = static_cast<int>(tracks.size()) - 1;
        for (int n = 0; n < notes; ++n) track.noteOn(0, channel, 60 + n, 100);
        for (int n = 0; n < notes; ++n) track.noteOff(n == 0 ? 960 : 0, channel, 60 + n);
        tracks.push_back(track.end());
    }
    tracks.push_back(Track().program(0, 3, 1).end(960));
    load(smf(1, 96, tracks));
    const auto levels = [&] {
        std::vector<int> out;
        for (int r = 1; r <= 4; ++r) out.push_back(strip(r).ActivityMeter->Level());
        return out;
    };
    window().PlayButtonClick();
    window().UpdateTrackLevels();
    EXPECT_EQ(levels(), (std::vector<int>{2, 4, 19, 0}));  // counts 16, 32, 160
    tick(80);
    EXPECT_EQ(levels(), (std::vector<int>{2, 4, 14, 0}));  // 8, 24, 119
    tick(10);
    EXPECT_EQ(levels(), (std::vector<int>{0, 2, 14, 0}));  // 7, 23, 118
    window().StopButtonClick();
    tick();
    EXPECT_EQ(levels(), (std::vector<int>{0, 0, 0, 0}));
}

struct InstrumentCase {
    const char* name;
    std::vector<int> choices;  // list items picked one after the other
    enum Exit { Cancel, CloseBox, RestoreAndOk, Ok } exit;
    std::vector<int> sent;     // program changes on the track's channel while open
    std::int16_t overrideEntry;
    bool modified;
    const char* hint;
};

class InstrumentDialogTest : public TrackPanelTest, public ::testing::WithParamInterface<InstrumentCase> {};

// Guards against a preview that outlives Cancel, a close box that undoes or commits, and
// an override or modified flag that disagrees with what the sequencer plays.
TEST_P(InstrumentDialogTest, WhatEachWayOutLeaves) {
    const InstrumentCase& c = GetParam();
    load();
    window().PlayButtonClick();
    tick();
    TAboutBox* box = window().AboutBox;
    const auto shown = whileShown(box, [&] {
        EXPECT_EQ(box->windowTitle(), "Track No. 2");
        EXPECT_EQ(box->Memo1->toPlainText(), "Rhodes Piano and Others");
        EXPECT_EQ(box->ComboBox1->currentIndex(), 4);
        for (const int program : c.choices) choose(box, program);
        switch (c.exit) {
            case InstrumentCase::Cancel: box->Button1->click(); break;
            case InstrumentCase::CloseBox: box->close(); break;
            case InstrumentCase::RestoreAndOk: box->Default->click(); box->Ok->click(); break;
            case InstrumentCase::Ok: box->Ok->click(); break;
        }
    });
    press(strip(1).InstrumentButton);
    ASSERT_TRUE(*shown);
    tick();
    window().StopButtonClick();
    // The song's own program 4 at its start, then what the dialog sent.
    std::vector<int> sent{4};
    sent.insert(sent.end(), c.sent.begin(), c.sent.end());
    EXPECT_EQ(programChanges(captured(), 0), sent);
    EXPECT_EQ(window().InstrumentOverride[1], c.overrideEntry);
    EXPECT_EQ(window().SongModified, c.modified);
    EXPECT_EQ(strip(1).InstrumentButton->toolTip(), c.hint);
}

INSTANTIATE_TEST_SUITE_P(
    Exits, InstrumentDialogTest,
    ::testing::Values(
        InstrumentCase{"CancelTakesPreviewsBack", {20, 30}, InstrumentCase::Cancel, {20, 30, 4}, 255, false,
                       "Rhodes Piano and Others"},
        InstrumentCase{"CloseBoxSendsNothing", {20}, InstrumentCase::CloseBox, {20}, 255, false,
                       "Rhodes Piano and Others"},
        InstrumentCase{"RestoreOriginalThenOk", {20}, InstrumentCase::RestoreAndOk, {20, 4}, 4, false,
                       "Rhodes Piano and Others"},
        InstrumentCase{"OkUnchanged", {}, InstrumentCase::Ok, {4}, 4, false, "Rhodes Piano and Others"},
        InstrumentCase{"OkWithAnotherInstrument", {20, 56}, InstrumentCase::Ok, {20, 56, 56}, 56, true,
                       "Trumpet and Others"}),
    CaseName());

std::vector<std::int32_t> g_programsSent;
void recordInstrument(std::int32_t, std::int32_t, std::int32_t program) { g_programsSent.push_back(program); }

// Guards against "no instrument" (255) or an emptied list reaching the sequencer as a
// program byte, and against a track without instrument gaining an override.
TEST_F(TrackPanelTest, TrackWithoutInstrumentSendsNoProgram255) {
    load();
    g_programsSent.clear();
    window().Sequencer.CallChangeInstrumentDLL = &recordInstrument;
    TAboutBox* box = window().AboutBox;
    for (QPushButton* way : {box->Ok, box->Button1}) {
        const auto shown = whileShown(box, [&] {
            EXPECT_EQ(box->Memo1->toPlainText(), " ");
            box->Default->click();
            EXPECT_EQ(box->ComboBox1->currentIndex(), 0);
            way->click();
        });
        press(strip(0).InstrumentButton);  // track 0: no program at all
        ASSERT_TRUE(*shown);
    }
    EXPECT_EQ(g_programsSent, std::vector<std::int32_t>{0});  // Cancel's program 0 only
    EXPECT_EQ(window().InstrumentOverride[0], 255);
    EXPECT_FALSE(window().SongModified);
}

// Guards against a strip whose row is hidden reaching past track 64.
TEST_F(TrackPanelTest, HiddenRowDoesNothing) {
    load();
    window().FirstVisibleTrack = 56;
    window().ShowTrackStrips();
    ASSERT_TRUE(window().RowHidden[12] && strip(12).SoloLed->isHidden());
    const auto table = window().VolumeTable;
    const auto shown = whileShown(window().AboutTrack, [] {});
    const auto shownBox = whileShown(window().AboutBox, [] {});
    press(strip(12).SoloLed);
    press(strip(12).MuteLed);
    press(strip(12).InstrumentButton);
    strip(12).NumberButton->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(*shown || *shownBox);
    EXPECT_FALSE(strip(12).SoloLed->State() || strip(12).MuteLed->State());
    EXPECT_EQ(window().VolumeTable, table);
    EXPECT_TRUE(std::none_of(window().TrackMix.begin(), window().TrackMix.end(),
                             [](const cvkapp::TTrackMix& m) { return m.Solo || m.Mute; }));
}

// Guards against lines in the wrong order or form, a lost leading blank of a name, and
// an empty memo for a track with nothing to tell.
TEST_F(TrackPanelTest, TrackInformationLines) {
    load();
    const struct {
        int strip;
        QString caption;
        QString text;
    } cases[] = {
        {1, "Track No. 2",
         "Sequence/Track Name :   Lead\nCurrent Instrument(s) : Rhodes Piano\nInfo. : \tfirst line\n\tsecond line"},
        {2, "Track No. 3", "Copyright Notice : (c) Us\nCurrent Instrument(s) : Hammond Organ"},
        {0, "Track No. 1", "No Information avilable for this track"},
    };
    TAboutTrack* dialog = window().AboutTrack;
    for (const auto& c : cases) {
        const auto shown = whileShown(dialog, [&] {
            EXPECT_EQ(dialog->windowTitle(), c.caption);
            EXPECT_EQ(dialog->Memo1->toPlainText().toStdString(), c.text.toStdString());
            dialog->Button1->click();
        });
        strip(c.strip).NumberButton->click();
        EXPECT_TRUE(*shown) << c.caption.toStdString();
    }
}

// Guards against the voice form leaving the instrument dialog shrunk or without its list.
TEST_F(TrackPanelTest, VoiceFormIsUndoneAfterwards) {
    load();
    TAboutBox* box = window().AboutBox;
    const QSize size = box->size();
    const QPoint ok = box->Ok->pos();
    const auto shown = whileShown(box, [&] {
        EXPECT_EQ(box->windowTitle(), "Voice");
        EXPECT_EQ(box->Memo1->toPlainText(), "Performance");
        EXPECT_FALSE(box->Memo1->isEnabled() || box->ComboBox1->isVisible() || box->Button1->isVisible());
        EXPECT_EQ(box->height(), size.height() - 70);
        EXPECT_EQ(box->Ok->pos(), ok + QPoint(35, -70));
        box->Ok->click();
    });
    window().BitBtn1Click();
    ASSERT_TRUE(*shown);
    EXPECT_EQ(box->size(), size);
    EXPECT_EQ(box->Ok->pos(), ok);
    EXPECT_EQ(box->GroupBox1->height(), 139);
    EXPECT_TRUE(box->Memo1->isEnabled() && !box->ComboBox1->isHidden() && !box->Default->isHidden() &&
                !box->Label2->isHidden() && !box->Button1->isHidden());
    EXPECT_FALSE(box->voiceForm);
}

// Guards against a save that drops the chosen instrument or the track's volume.
TEST_F(TrackPanelTest, SavedSongCarriesInstrumentAndVolume) {
    load();
    const auto shown = whileShown(window().AboutBox, [&] {
        choose(window().AboutBox, 56);
        window().AboutBox->Ok->click();
    });
    press(strip(1).InstrumentButton);
    ASSERT_TRUE(*shown);
    strip(1).VolumeSlider->SetCurrentPos(10);
    window().Save1Click();
    ASSERT_FALSE(window().SongModified);

    int tempo = 0;
    std::optional<std::uint64_t> offset;
    songfile::FreeLyricList(songfile::ExtractLyrics(path("mixer.mid"), ".MID", tempo, offset));
    EXPECT_EQ(songfile::TrackInfoTable[1].FileProgram, 56);
    EXPECT_EQ(songfile::TrackInfoTable[2].FileProgram, 16);

    // Reloaded with a neutral mix, the saved song plays its notes 2 x 10 louder.
    window().PlayButtonClick();
    play(200);
    window().StopButtonClick();
    const auto messages = captured();
    const auto note = std::find_if(messages.begin(), messages.end(),
                                   [](const Captured& m) { return m.isNoteOn() && m.channel() == 0; });
    ASSERT_NE(note, messages.end());
    EXPECT_EQ(note->data2, 120);
}

}  // namespace
