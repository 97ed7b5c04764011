// The track panel: sixteen strips over the 64 tracks, their mute, solo and volume turned
// into the sequencer's volume table, the activity meters, and the instrument and track
// information dialogs.

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>

#include "AboutIns.h"
#include "Aboutinf.h"
#include "Bevel.h"
#include "Cantivo.h"
#include "DisplayText.h"
#include "InstrumentNames.h"
#include "Ledbuton.h"
#include "LyricScan.h"
#include "Ownbuton.h"
#include "SongText.h"
#include "Vledrow.h"
#include "Vslider.h"

namespace cvkapp {

namespace {

constexpr int kNoProgram = 0xFF;
constexpr int kLastFirstTrack = kTrackCount - TCantivo::kStripCount;  // 48

int tagOf(const QObject* control) { return control->property("Tag").toInt(); }

void setTag(QWidget* control, int strip) { control->setProperty("Tag", strip); }

// Track numbers are shown in two characters, right-aligned: " 1" ... "64".
QString numberCaption(int track) { return QString("%1").arg(track + 1, 2); }

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Keeps a widget outside the mixer panel shown exactly while the panel is: the lyric
// layouts hide the panel, and its scroll bar must go with it.
class FollowVisibility : public QObject {
public:
    FollowVisibility(QWidget* leader, QWidget* follower)
        : QObject(follower), m_leader(leader), m_follower(follower) {
        leader->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Only the panel's own show() and hide(); the window's showing and hiding passes.
        if (watched == m_leader &&
            (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)) {
            m_follower->setVisible(event->type() == QEvent::ShowToParent);
        }
        return false;
    }

private:
    QWidget* m_leader;
    QWidget* m_follower;
};

}  // namespace

int TCantivo::stripTrack(int strip) const {
    if (strip < 0 || strip >= kStripCount || RowHidden[static_cast<std::size_t>(strip)]) {
        return -1;
    }
    const int track = FirstVisibleTrack + strip;
    return track < kTrackCount ? track : -1;
}

void TCantivo::playSilenceWave(int flag) {
    if (Audio.AudioPlaySilenceWave) {
        Audio.AudioPlaySilenceWave(flag);
    }
}

void TCantivo::BuildTrackStrips() {
    for (QWidget* control : std::initializer_list<QWidget*>{Bevel1, MuteTrack01, SoloTrack01, InfoTrack01,
                                                            volLEDTrack01, volTrack01, MasterTrack01}) {
        control->hide();
    }
    for (int r = 0; r < kStripCount; ++r) {
        TrackStrip& strip = TrackStrips[static_cast<std::size_t>(r)];
        const int shift = kStripStep * r;
        const auto place = [&](QWidget* control, const QWidget* from) {
            control->setGeometry(from->geometry().translated(shift, 0));
            setTag(control, r);
            control->show();
        };

        strip.StripBevel = new TBevel(Panel5);
        place(strip.StripBevel, Bevel1);

        const auto led = [&](const TLedButton* from) {
            auto* button = new TLedButton(Panel5);
            button->SetLedPosX(from->LedPosX());
            button->SetLedPosY(from->LedPosY());
            button->SetLedType(from->LedType());
            button->SetState(false);
            place(button, from);
            return button;
        };
        strip.MuteLed = led(MuteTrack01);
        connect(strip.MuteLed, &TLedButton::OnChange, this, [this, button = strip.MuteLed] { TrackMuteChange(button); });
        strip.SoloLed = led(SoloTrack01);
        connect(strip.SoloLed, &TLedButton::OnChange, this, [this, button = strip.SoloLed] { TrackSoloChange(button); });

        strip.InstrumentButton = new TOwnButton(Panel5);
        strip.InstrumentButton->SetBitPosX(InfoTrack01->BitPosX());
        strip.InstrumentButton->SetBitPosY(InfoTrack01->BitPosY());
        strip.InstrumentButton->SetOwnType(InfoTrack01->OwnType());
        place(strip.InstrumentButton, InfoTrack01);
        connect(strip.InstrumentButton, &TOwnButton::OnClick, this,
                [this, button = strip.InstrumentButton] { TrackInstrumentClick(button); });

        strip.ActivityMeter = new TVLEDRow(Panel5);
        strip.ActivityMeter->SetLevel(volLEDTrack01->Level());
        place(strip.ActivityMeter, volLEDTrack01);

        // Limits and position first: no handler may run while the strip is being made.
        strip.VolumeSlider = new TVSlider(Panel5);
        strip.VolumeSlider->SetLoLimit(-32);
        strip.VolumeSlider->SetHiLimit(31);
        strip.VolumeSlider->SetCurrentPos(0);
        place(strip.VolumeSlider, volTrack01);
        connect(strip.VolumeSlider, &TVSlider::OnChange, this,
                [this, slider = strip.VolumeSlider] { TrackVolumeChange(slider); });

        strip.NumberButton = new QPushButton(numberCaption(r), Panel5);
        strip.NumberButton->setFont(MasterTrack01->font());
        strip.NumberButton->setStyleSheet(MasterTrack01->styleSheet());
        strip.NumberButton->setFocusPolicy(Qt::NoFocus);
        place(strip.NumberButton, MasterTrack01);
        connect(strip.NumberButton, &QPushButton::clicked, this,
                [this, button = strip.NumberButton] { TrackNumberClick(button); });
    }

    TrackView->setMinimum(0);
    TrackView->setMaximum(kLastFirstTrack);
    TrackView->setSingleStep(1);
    TrackView->setPageStep(8);
    new FollowVisibility(Panel5, TrackView);
    TrackMix.fill({});
    RowHidden.fill(false);
    ShowTrackStrips();
    VolumeTable.fill(0);
    InstrumentOverride.fill(kNoProgram);
    m_stripsBuilt = true;
}

void TCantivo::ShowTrackStrips() {
    for (int r = 0; r < kStripCount; ++r) {
        TrackStrip& strip = TrackStrips[static_cast<std::size_t>(r)];
        const int t = FirstVisibleTrack + r;
        QWidget* const controls[] = {strip.StripBevel,    strip.MuteLed,      strip.SoloLed,     strip.InstrumentButton,
                                     strip.ActivityMeter, strip.VolumeSlider, strip.NumberButton};
        if (t >= kTrackCount) {
            RowHidden[static_cast<std::size_t>(r)] = true;
            for (QWidget* control : controls) control->hide();
            continue;
        }
        if (RowHidden[static_cast<std::size_t>(r)]) {
            RowHidden[static_cast<std::size_t>(r)] = false;
            for (QWidget* control : controls) control->show();
        }
        const TTrackMix& mix = TrackMix[static_cast<std::size_t>(t)];
        strip.NumberButton->setText(numberCaption(t));
        // While the whole song is muted the mute LEDs keep what they showed before.
        if (!MidiMuted) {
            strip.MuteLed->SetState(mix.Mute);
        }
        strip.SoloLed->SetState(mix.Solo);
        // A new position runs TrackVolumeChange, which stores it back and resends the table.
        strip.VolumeSlider->SetCurrentPos(mix.VolumeOffset);
    }
}

void TCantivo::UpdateTrackHints() {
    for (int r = 0; r < kStripCount && FirstVisibleTrack + r < kTrackCount; ++r) {
        const TrackStrip& strip = TrackStrips[static_cast<std::size_t>(r)];
        const songfile::trackInfo& info = songfile::TrackInfoTable[static_cast<std::size_t>(FirstVisibleTrack + r)];
        QString instrument = info.Program == kNoProgram ? QString("No Instrument Availiable")
                                                        : latin1(resources::instrumentName(info.Program));
        if (info.MorePrograms) {
            instrument += " and Others";
        }
        strip.InstrumentButton->setToolTip(instrument);
        strip.NumberButton->setToolTip(info.TrackName.empty() ? QString("No Track Name Availiable")
                                                              : dialogs::songText(info.TrackName));
    }
}

void TCantivo::TrackViewChange() {
    const int position = TrackView->value();
    if (position == FirstVisibleTrack) {
        return;
    }
    FirstVisibleTrack = position;
    ShowTrackStrips();
    UpdateTrackHints();
}

void TCantivo::TrackMuteChange(TLedButton* sender) {
    const int r = tagOf(sender);
    const int t = stripTrack(r);
    if (t < 0) {
        // A strip without a track: its LED switched itself, and goes back.
        sender->SetState(!sender->State());
        return;
    }
    TTrackMix& mix = TrackMix[static_cast<std::size_t>(t)];
    mix.Mute = sender->State();
    if (mix.Mute && mix.Solo) {
        mix.Solo = false;
        TrackStrips[static_cast<std::size_t>(r)].SoloLed->SetState(false);
        if (VoiceSilenced && (!RecordingFile.empty() || !Recording)) {
            playSilenceWave(0);
            VoiceSilenced = false;
        }
    }
    TrackVolumeChange(TrackStrips[static_cast<std::size_t>(r)].VolumeSlider);
}

void TCantivo::TrackSoloChange(TLedButton* sender) {
    const int r = tagOf(sender);
    const int t = stripTrack(r);
    if (t < 0) {
        sender->SetState(!sender->State());
        return;
    }
    if (MidiMuted) {
        // The first solo ends the song's mute; the tracks' own mute flags stay as they are.
        for (TTrackMix& mix : TrackMix) mix.Solo = false;
        MidiOutMuteButton->SetState(false);
        MidiMuted = false;
        playSilenceWave(1);
        VoiceSilenced = true;
    }
    TTrackMix& mix = TrackMix[static_cast<std::size_t>(t)];
    mix.Solo = sender->State();
    if (mix.Solo) {
        if (mix.Mute) {
            mix.Mute = false;
            TrackStrips[static_cast<std::size_t>(r)].MuteLed->SetState(false);
        }
        // One solo at a time.
        for (int other = 0; other < kTrackCount; ++other) {
            TTrackMix& track = TrackMix[static_cast<std::size_t>(other)];
            if (other == t || !track.Solo) continue;
            track.Solo = false;
            if (other >= FirstVisibleTrack && other < FirstVisibleTrack + kStripCount) {
                TrackStrips[static_cast<std::size_t>(other - FirstVisibleTrack)].SoloLed->SetState(false);
            }
        }
    }
    TrackVolumeChange(TrackStrips[static_cast<std::size_t>(r)].VolumeSlider);

    // A solo silences the recorded voice; releasing the last one brings it back.
    if (!WaveOutMuteButton->State()) {
        if (VoiceSilenced) {
            const bool anySolo = std::any_of(TrackMix.begin(), TrackMix.end(), [](const TTrackMix& m) { return m.Solo; });
            if (!anySolo) {
                playSilenceWave(0);
                VoiceSilenced = false;
            }
        } else {
            playSilenceWave(1);
            VoiceSilenced = true;
        }
    }
}

void TCantivo::TrackVolumeChange(TVSlider* sender) {
    const int t = stripTrack(tagOf(sender));
    // Without a song the position is not kept; the next refresh puts the slider back.
    if (!SongFileName.empty() && t >= 0) {
        TrackMix[static_cast<std::size_t>(t)].VolumeOffset = sender->CurrentPos();
    }
    SendVolumeTable();
}

void TCantivo::SendVolumeTable() {
    VolumeTable = buildVolumeTable(MasterVolume, TrackMix);
    // Sent with or without a song: the sequencer keeps it for the next start.
    if (Sequencer.CallSetVolumeDLL != nullptr) {
        Sequencer.CallSetVolumeDLL(Handle(), VolumeTable.data());
    }
}

void TCantivo::UpdateTrackLevels() {
    if (!m_stripsBuilt) {
        return;
    }
    std::array<std::uint16_t, kTrackCount> activity{};
    if (SongPlaying && Sequencer.CallCheckActivity != nullptr) {
        Sequencer.CallCheckActivity(Handle(), activity.data());
    }
    // A meter repaints only when its level changes, so a quiet song costs nothing here.
    for (int r = 0; r < kStripCount; ++r) {
        const int t = FirstVisibleTrack + r;
        if (t < kTrackCount) {
            TrackStrips[static_cast<std::size_t>(r)].ActivityMeter->SetLevel(
                activityLevel(activity[static_cast<std::size_t>(t)]));
        }
    }
}

void TCantivo::TrackInstrumentClick(TOwnButton* sender) {
    const int t = stripTrack(tagOf(sender));
    if (!SongLoaded || t < 0) {
        return;
    }
    songfile::trackInfo& info = songfile::TrackInfoTable[static_cast<std::size_t>(t)];
    AboutBox->ShowForTrack(t, info);
    if (AboutBox->accepted) {
        SongModified = SongModified || info.Program != AboutBox->instrument;
        info.Program = static_cast<std::uint8_t>(AboutBox->instrument);
        InstrumentOverride[static_cast<std::size_t>(t)] = static_cast<std::int16_t>(AboutBox->instrument);
    }
    UpdateTrackHints();
}

void TCantivo::TrackNumberClick(QPushButton* sender) {
    const int t = stripTrack(tagOf(sender));
    if (!SongLoaded || t < 0) {
        return;
    }
    AboutTrack->ShowForTrack(t, songfile::TrackInfoTable[static_cast<std::size_t>(t)],
                             pitchStripOn() && t == melodyTrack());
}

void TCantivo::BitBtn1Click() { AboutBox->ShowVoiceForm(); }

void TCantivo::BitBtn2Click() { AboutBox->ShowVoiceForm(); }

void TCantivo::ResetSongState() {
    SongPlaying = false;
    TempoSetting = 120;
    SongTempoMap.reset();
    TempoScale = {};
    KeySetting = 0;
    MasterVolume = 100;
    TrackMix.fill({});
    FirstVisibleTrack = 0;
    ShowTempo();
    ShowKey();
    ShowVolume();
}

}  // namespace cvkapp
