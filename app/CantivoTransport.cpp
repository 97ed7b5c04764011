// The transport buttons, the tempo/key/volume steps and the 50 ms playback loop.

#include <QAction>
#include <QLabel>
#include <QTimer>

#include <cmath>

#include "BarBox.h"
#include "Cantivo.h"
#include "DisplayText.h"
#include "LibraryWindow.h"
#include "Lyricbox.h"
#include "Recbtn.h"
#include "Recslidr.h"
#include "SmBmpBtn.h"
#include "Timebox.h"
#include "Vledrow.h"
#include "faderlib/faderlib.h"
#include "platform/dialogs.h"
#include "platform/mm_timer.h"
#include "platform/profile.h"

namespace cvkapp {

namespace {

void showMidiInitFailure(platform::WindowHandle window) {
    platform::showMessageBox("Cannot Initialize the MIDI Driver", TCantivo::kTitle,
                             platform::MessageButtons::Ok, platform::MessageIcon::None, window);
}

}  // namespace

void TCantivo::PlayButtonClick() {
    if (MidiInitFailed) {
        showMidiInitFailure(Handle());
        return;
    }
    if (!PlayButton->Enabled()) {
        return;
    }
    if (!Recording) {
        RecButton->SetEnabled(false);
    }
    if (!SongPlaying && !SplitFileName.empty()) {
        setIdleMenus(false);
        if (PauseButton->Paused()) {
            PauseButton->SetPaused(false);
        }
        // The performance's voice starts with the song, moved by the offset in force; lined
        // up with it, just after it, when it is known how late the song is heard.
        const bool voiceAfterSong = !PendingWaveFile.empty() && voiceLinedUp();
        if (!PendingWaveFile.empty() && !voiceAfterSong) {
            startVoice();
        }
        // The volume shown is the volume heard, also when it was stepped while stopped.
        VolumeTable = buildVolumeTable(MasterVolume, TrackMix);
        ApplySoundFontChoice();
        StartFollowingTempo();
        const int result = Sequencer.CallStartSong(
            SplitFileName.c_str(), Handle(), &SongDivision, KeySetting, VolumeTable.data(),
            reinterpret_cast<const std::uint16_t*>(InstrumentOverride.data()), TempoSetting,
            IniPath().c_str());
        if ((result & 0xFF) == 0) {
            platform::showMessageBox("Cannot Start Song", kTitle, platform::MessageButtons::Ok,
                                     platform::MessageIcon::None, Handle());
            // Nothing plays: give back what Play took away, or the window could neither
            // open another song nor save this one.
            setIdleMenus(true);
            if (!Recording && SongLoaded) {
                RecButton->SetEnabled(true);
            }
        } else {
            // The song's first events went out in the call; its time runs from its return.
            m_songStartMicros = platform::clockMicros();
            m_voiceLineUpPending = false;
            if (voiceAfterSong) {
                startVoiceOnTheSong();
            }
            SongPlaying = true;
            UpdateRecentFiles("", false);
            SavePfcButton->SetEnabled(false);
            ShowTempo();
        }
    }
    if (SongPlaying && SongPaused) {
        Sequencer.CallPauseSong(Handle());
        Audio.AudioPause();
        SongPaused = false;
        PauseButton->SetPaused(false);
    }
}

void TCantivo::startVoice() {
    Audio.AudioPlayFile(Handle(), PendingWaveFile.c_str());
    ReapplyVoiceOffset();
    VoicePlaying = true;
    setWaveOutVolume();
}

void TCantivo::PauseButtonClick() {
    if (!PauseButton->Enabled() || !SongPlaying) {
        // The button latched itself down; with nothing playing it must not stay so.
        PauseButton->SetPaused(false);
        return;
    }
    Sequencer.CallPauseSong(Handle());
    SongPaused = !SongPaused;
    Audio.AudioPause();
    PauseButton->SetPaused(SongPaused);
    // The song's start no longer tells where it is: the voice stays as it plays.
    m_voiceLineUpPending = false;
}

void TCantivo::StopButtonClick() {
    if (!StopButton->Enabled()) {
        return;
    }
    if (SongLibraryWindow != nullptr) {
        SongLibraryWindow->holdQueue();
    }
    if (Recording) {
        // The recording's stop ends the song too.
        StopRecording();
        return;
    }
    if (VoicePlaying) {
        stopVoice();
    }
    StopPlayback();
    UpdateRecentFiles("", true);
}

void TCantivo::StopPlayback() {
    if (!SongPlaying && !SongPaused) {
        return;
    }
    Sequencer.CallStopSong(Handle());
    setIdleMenus(true);
    SongPlaying = false;
    SongPaused = false;
    LyricBox1->setTickCount(0);
    LyricBox1->ResetPosition();
    if (PauseButton->Paused()) {
        PauseButton->SetPaused(false);
    }
    RecButton->SetEnabled(true);
    LyricBox1->SetLyrics(SongLyrics, false);
    // Following the song's tempo changes, the display goes back to the tempo it starts at.
    ShowTempo();
}

void TCantivo::RewindButtonClick() {
    if (!RewindButton->Enabled()) {
        return;
    }
    if (!PendingWaveFile.empty() && SongPlaying && !SongPaused) {
        // Starts a voice that has already ended; one still playing goes on.
        Audio.AudioPlayFile(Handle(), PendingWaveFile.c_str());
        VoicePlaying = true;
    }
    if (SongPlaying && !SongPaused) {
        Sequencer.CallRewind(Handle());
    }
    if (VoicePlaying && !SongPaused) {
        moveVoiceToSong(Audio.AudioRewind);
    }
    if (!SongPaused) {
        LyricBox1->SetLyrics(SongLyrics, false);
    }
}

void TCantivo::FForwardButtonClick() {
    if (!FForwardButton->Enabled()) {
        return;
    }
    if (SongPlaying && !SongPaused) {
        Sequencer.CallFastForward(Handle());
    }
    if (VoicePlaying && !SongPaused) {
        moveVoiceToSong(Audio.AudioForward);
    }
}

void TCantivo::moveVoiceToSong(const AudioUnit::Call1& move) {
    std::int32_t minutes = 0;
    std::int32_t seconds = 0;
    Sequencer.CallGetTime(Handle(), &minutes, &seconds);
    move(minutes * 60 + seconds + 1);
    m_voiceLineUpPending = false;
    if (VoiceOffset != 0) {
        Audio.UpdateOffsetForPlayBack(-VoiceOffset);
    }
}

void TCantivo::setWaveOutVolume() {
    const int span = WaveOutSlider->HiLimit() - WaveOutSlider->LoLimit();
    const auto value =
        static_cast<std::uint32_t>(std::lround(WaveOutSlider->CurrentPos() * 65535.0 / span));
    const std::uint32_t values[2] = {value, value};
    SetCurrentOutputVolSetting(1, values);
}

void TCantivo::OpenButtonClick() {
    if (OpenButton->Enabled()) {
        Open1Click();
    }
}

// One unit a click, stopping at the limits.
void TCantivo::stepTempo(int direction) {
    if (SongLoaded) {
        SongModified = true;
    }
    if (FollowsTempoMap()) {
        StepMapTempo(direction);
        ShowTempo();
        updateSongMelody();
        return;
    }
    if (direction < 0 ? TempoSetting > 60 : TempoSetting < 240) {
        TempoSetting += direction;
    }
    if (SongPlaying) {
        Sequencer.CallChangeTempo(Handle(), TempoSetting);
    }
    ShowTempo();
    updateSongMelody();
}

// The key and the volume leave the song unmodified: they are the singer's, not the song's.
void TCantivo::stepKey(int direction) {
    if (direction < 0 ? KeySetting > -127 : KeySetting < 127) {
        KeySetting += direction;
    }
    if (SongPlaying) {
        Sequencer.CallSetTransposition(Handle(), KeySetting);
    }
    ShowKey();
    updateSongMelody();
}

void TCantivo::stepVolume(int direction) {
    if (direction < 0 ? MasterVolume > 50 : MasterVolume < 150) {
        MasterVolume += direction;
    }
    if (SongPlaying) {
        SendVolumeTable();
    }
    ShowVolume();
}

void TCantivo::TempoSpinDownClick() { stepTempo(-1); }
void TCantivo::TempoSpinUpClick() { stepTempo(1); }
void TCantivo::KeySpinDownClick() { stepKey(-1); }
void TCantivo::KeySpinUpClick() { stepKey(1); }
void TCantivo::VolSpinDownClick() { stepVolume(-1); }
void TCantivo::VolSpinUpClick() { stepVolume(1); }

void TCantivo::ShowTempo() {
    ShownTempo = FollowsTempoMap() ? MapTempoShown() : TempoSetting;
    TempoDisplay->setText(QString::fromStdString(tempoText(ShownTempo)));
}

void TCantivo::ShowKey() { KeyDisplay->setText(QString::fromStdString(keyText(KeySetting))); }

void TCantivo::ShowVolume() {
    VolumeDisplay->setText(QString::fromStdString(volumeText(MasterVolume)));
}

void TCantivo::CVKTimerTimer() {
    const std::string ini = IniPath();
    const int runWizard = platform::profileGetInt("Configuration", "RunConfigWizard", 1, ini);
    if (runWizard != 0) {
        // Only a value that is not yet 0 is written: the file is not rewritten 20 times a
        // second for nothing.
        const bool written = writeSetting("Configuration", "RunConfigWizard", 0,
                                          m_wizardWriteReported);
        m_wizardWriteReported = m_wizardWriteReported || !written;
        if (runWizard == 1) {
            RunConfigWizard();
        }
    }

    UpdateTrackLevels();

    if (VoicePlaying || Recording) {
        std::int32_t left = 0;
        std::int32_t right = 0;
        if (VoicePlaying) {
            Audio.AudioGetWavePlayLevels(&left, &right);
        } else {
            // The singer's own level while recording.
            Audio.AudioGetWaveRecLevels(&left, &right);
        }
        RecLedLevel->SetLevel(static_cast<int>(std::lround(right * 3.0)));
    }
    if (Recording && SongPlaying) {
        readTakeClocks();
    }
    if (m_voiceLineUpPending && VoicePlaying && SongPlaying && !SongPaused) {
        lineUpVoice();
    }

    if (SongPlaying) {
        std::int32_t minutes = 0;
        std::int32_t seconds = 0;
        if (Sequencer.CallGetTime(Handle(), &minutes, &seconds) == 0) {
            const bool recorded = Recording;
            // The end of the song: StopPlayback gives the menus, the Record button and the
            // lyric box's start back.
            StopPlayback();
            if (VoicePlaying) {
                Audio.AudioStopPlaying();
                VoicePlaying = false;
            }
            UpdateRecentFiles("", true);
            RecLedLevel->SetLevel(0);
            minutes = 0;
            seconds = 0;
            // A recording ends with its song, and gives the mixer back as Stop does.
            StopRecording();
            if (SongLibraryWindow != nullptr) {
                // The next singer's song opens after this tick, with File > Open's questions.
                QTimer::singleShot(0, SongLibraryWindow, [this, recorded] { SongLibraryWindow->songEnded(recorded); });
            }
        }
        MidiTime->SetTime(seconds, minutes);

        if (SongPlaying) {
            const std::uint32_t counter = Sequencer.CallGetLyricCounterDLL(Handle());
            if (counter != 0xFFFFFFFFu && counter != LastLyricCounter && SongDivision > 0) {
                const BarBeatTick position = barBeatTick(counter, SongDivision);
                BarBox->SetPosition(static_cast<int>(position.bar), static_cast<int>(position.beat),
                                    static_cast<int>(position.tick));
                LastLyricCounter = counter;
                LyricBox1->setTickCount(static_cast<int>(counter));
                if (FollowingTempo && MapTempoShown() != ShownTempo) {
                    ShowTempo();
                }
            }
        }
    }
    if (!SongPlaying) {
        MidiTime->SetTime(0, 0);
        BarBox->SetPosition(0, 0, 0);
    }
    pitchTick(LastLyricCounter);
}

}  // namespace cvkapp
