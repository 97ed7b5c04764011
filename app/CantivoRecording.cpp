// The recording workflow: the record button with the mixer set for the monitoring mode,
// the ways a recording ends, the voice column's mutes and sliders, the echo, clearing and
// saving a performance, the open-file request a later start sends, and the mixers chosen
// at start and let go at close.

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "Cantivo.h"
#include "ACWUnit.h"
#include "Filestat.h"
#include "Ledbuton.h"
#include "LibraryWindow.h"
#include "MonitorBtn.h"
#include "Process.h"
#include "Recbtn.h"
#include "Recslidr.h"
#include "SmBmpBtn.h"
#include "SpinButton.h"
#include "TakeRecovery.h"
#include "Trkbar.h"
#include "Vledrow.h"
#include "faderlib/faderlib.h"
#include "platform/atoms.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace cvkapp {

namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

constexpr int kRecordRate = 22050;
constexpr int kRecordChannels = 1;
constexpr int kRecordBits = 16;
constexpr int kHardwareBufferBytes = 4096;
const QColor kEchoCaption(0xd8, 0xd8, 0xdc);
const QColor kEchoCaptionLocked(0x80, 0x80, 0x80);

// A slider's position as a mixer value: 0..63 onto 0..65535.
std::uint32_t mixerValue(int position) {
    return static_cast<std::uint32_t>(std::lround(position * 65535.0 / 63.0));
}

void setOneChannel(std::int32_t (*set)(std::int32_t, const std::uint32_t*), std::uint32_t value) {
    const std::uint32_t values[2] = {value, value};
    set(1, values);
}

void paintCaption(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

// Buffer bytes for a recording in software processing: whole 16-bit frames, at least 16.
int softwareBufferBytes(int configured) { return std::max(16, configured - configured % 4); }

}  // namespace

TCantivo::MicrophonePath TCantivo::microphonePath() {
    if (GetMicOutMuteSetting() != -1) {
        return MicrophonePath::Mute;
    }
    if (GetMicOutSelectSetting() != -1) {
        return MicrophonePath::Switch;
    }
    return MicrophonePath::Volume;
}

void TCantivo::setHardwareMonitor(bool on) {
    switch (microphonePath()) {
        case MicrophonePath::Mute:
            SetMicOutMuteSetting(on ? 0 : 1);
            break;
        case MicrophonePath::Switch:
            SetMicOutSelectSetting(on ? 1 : 0);
            break;
        case MicrophonePath::Volume:
            setOneChannel(SetMicOutputVolSetting, on ? mixerValue(RecVolSlider->CurrentPos()) : 0);
            break;
    }
}

bool TCantivo::ShowProcessingModeDialog() {
    if (ProcessForm == nullptr) {
        return false;
    }
    ProcessForm->exec();
    return true;
}

void TCantivo::RecButtonClick() {
    if (!RecButton->Enabled()) {
        return;
    }
    if (MidiInitFailed) {
        platform::showMessageBox("Cannot Initialize the MIDI Driver", kTitle, MessageButtons::Ok,
                                 MessageIcon::None, Handle());
        return;
    }
    if (platform::profileGetInt("Configuration", "Configured", -1, IniPath()) == -1 &&
        ShowProcessingModeDialog()) {
        writeSetting("Configuration", "Configured", 1);
    }

    // A recording starts with both mutes off; they come back when it ends.
    if (!Recording) {
        SavedMixer.voiceMuteWasOn = WaveOutMuteButton->State();
        SavedMixer.midiMuteWasOn = MidiOutMuteButton->State();
    }
    if (WaveOutMuteButton->State()) {
        WaveOutMuteButtonChange();
        WaveOutMuteButton->SetState(false);
    }
    if (MidiOutMuteButton->State()) {
        MidiOutMuteButtonChange();
        MidiOutMuteButton->SetState(false);
    }

    if (Recording) {
        StopRecording();
        return;
    }

    while (PerformanceUnsaved) {
        const MessageAnswer answer = platform::showMessageBox(
            "The current performance will be lost if you record again.  Do you want to save "
            "this performance?",
            kTitle, MessageButtons::YesNo, MessageIcon::Error, Handle());
        if (answer != MessageAnswer::Yes) {
            break;
        }
        if (SavePerformance()) {
            PerformanceUnsaved = false;
        }
    }

    // The hardware monitor path is silenced or opened, and the mixer readied.
    const bool monitor = MonitorButton->StateOn();
    SavedMixer.microphone = microphonePath();
    SavedMixer.microphoneSwitch = -1;
    SavedMixer.software = SoftwareProcessing;
    SavedMixer.echoLocked = false;
    if (SoftwareProcessing) {
        std::uint32_t values[2] = {0, 0};
        if (GetCurrentOutputVolSetting(2, values) != 0) {
            GetCurrentOutputVolSetting(1, values);
        }
        SavedMixer.waveVolume = {values[0], values[1]};
        setOneChannel(SetCurrentOutputVolSetting, mixerValue(63));
        switch (SavedMixer.microphone) {
            case MicrophonePath::Mute:
                SavedMixer.microphoneSwitch = GetMicOutMuteSetting();
                SetMicOutMuteSetting(1);
                break;
            case MicrophonePath::Switch:
                SavedMixer.microphoneSwitch = GetMicOutSelectSetting();
                SetMicOutSelectSetting(0);
                break;
            case MicrophonePath::Volume:
                GetMicOutputVolSetting(1, values);
                SavedMixer.microphoneVolume = {values[0], values[1]};
                setOneChannel(SetMicOutputVolSetting, 0);
                break;
        }
        Audio.AudioSuppressWave(monitor ? 1 : 0);
    } else {
        Audio.AudioSuppressWave(0);
        switch (SavedMixer.microphone) {
            case MicrophonePath::Mute:
                SavedMixer.microphoneSwitch = GetMicOutMuteSetting();
                break;
            case MicrophonePath::Switch:
                SavedMixer.microphoneSwitch = GetMicOutSelectSetting();
                break;
            case MicrophonePath::Volume: {
                std::uint32_t values[2] = {0, 0};
                GetMicOutputVolSetting(1, values);
                SavedMixer.microphoneVolume = {values[0], values[1]};
                break;
            }
        }
        setHardwareMonitor(monitor);
    }
    SelectMicrophoneSource();

    // The previous performance's voice gives way to the new one.
    deleteFileAndForget(PendingWaveFile);
    RecordingFile = platform::createTempFile(platform::tempFolder(), "CW");
    const int bufferBytes =
        SoftwareProcessing ? softwareBufferBytes(RecordBufferSize) : kHardwareBufferBytes;
    if (SoftwareProcessing) {
        RecordBufferSize = bufferBytes;
    }
    const bool started =
        !RecordingFile.empty() &&
        Audio.AudioStartRecord(Handle(), RecordingFile.c_str(), kRecordRate, kRecordChannels,
                               kRecordBits, bufferBytes, -1, 0) != 0;
    if (!started) {
        if (RecordingFile.empty()) {
            platform::showMessageBox("Cannot create a temporary file in " + platform::tempFolder(),
                                     kTitle, MessageButtons::Ok, MessageIcon::Error, Handle());
        }
        deleteFileAndForget(RecordingFile);
        // Nothing was recorded: the mixer and the mutes are the user's again.
        restoreMixer();
        restoreMuteButtons();
        return;
    }
    WriteTakeNote({RecordingFile, voxcapt::recordingView().temporaryName, SongFileName,
                   static_cast<long>(::getpid())});

    UpdateRecentFiles("", false);
    Recording = true;
    if (SongLibraryWindow != nullptr) {
        SongLibraryWindow->holdQueue();
    }
    PerformanceUnsaved = true;
    RecButton->SetRecording(true);
    PlayButtonClick();
    startTakeLineUp(kRecordRate);
    setRecordingControls(false);
    SavedMixer.midiLineMute = -1;
    if (!keepMidiWhileRecording) {
        SavedMixer.midiLineMute = GetMidiOutMuteSetting();
        SetMidiOutMuteSetting(1);
    }
    if (!SoftwareProcessing) {
        SavedMixer.delayPosition = DelayBar->CurrentPos();
        SavedMixer.echoLocked = true;
        paintCaption(EchoLabel, kEchoCaptionLocked);
        DelayBar->SetCurrentPos(0);
    }
}

void TCantivo::setRecordingControls(bool enabled) {
    for (TSimpleBmpButton* button : {FForwardButton, RewindButton, PlayButton, PauseButton,
                                     OpenButton, SavePfcButton, ClearButton}) {
        button->SetEnabled(enabled);
    }
    for (QAction* item : {Save1, SaveAs1, New1, Open1, AudioConfigurationWizard1}) {
        item->setEnabled(enabled);
    }
    TempoSpin->setEnabled(enabled);
}

void TCantivo::StopRecording() {
    if (!Recording) {
        return;
    }
    UpdateRecentFiles("", true);
    endTakeLineUp();
    Audio.AudioStopRecord();
    if (VoicePlaying) {
        stopVoice();
    }
    RecLedLevel->SetLevel(0);
    FileStatusDisplay->SetFileLoaded(TFileStatusBox::performance);
    PendingWaveFile = RecordingFile;
    analyseTake(RecordingFile);
    StopPlayback();
    Recording = false;
    setRecordingControls(true);
    RecButton->SetRecording(false);
    restoreMuteButtons();
    restoreMixer();
    BitBtn1->setEnabled(true);
    BitBtn2->setEnabled(true);
}

void TCantivo::restoreMuteButtons() {
    if (SavedMixer.voiceMuteWasOn) {
        SavedMixer.voiceMuteWasOn = false;
        WaveOutMuteButtonChange();
        WaveOutMuteButton->SetState(VoiceSilenced);
    }
    if (SavedMixer.midiMuteWasOn) {
        SavedMixer.midiMuteWasOn = false;
        MidiOutMuteButtonChange();
        MidiOutMuteButton->SetState(MidiMuted);
    }
}

void TCantivo::restoreMixer() {
    if (SavedMixer.software) {
        setOneChannel(SetCurrentOutputVolSetting, SavedMixer.waveVolume[0]);
    }
    switch (SavedMixer.microphone) {
        case MicrophonePath::Mute:
            SetMicOutMuteSetting(SavedMixer.microphoneSwitch);
            break;
        case MicrophonePath::Switch:
            SetMicOutSelectSetting(SavedMixer.microphoneSwitch);
            break;
        case MicrophonePath::Volume:
            setOneChannel(SetMicOutputVolSetting, SavedMixer.microphoneVolume[0]);
            break;
    }
    if (SavedMixer.midiLineMute != -1) {
        SetMidiOutMuteSetting(SavedMixer.midiLineMute);
        SavedMixer.midiLineMute = -1;
    }
    if (SavedMixer.echoLocked) {
        SavedMixer.echoLocked = false;
        DelayBar->SetCurrentPos(SavedMixer.delayPosition);
        paintCaption(EchoLabel, kEchoCaption);
    }
}

void TCantivo::stopVoice() {
    Audio.AudioStopPlaying();
    VoicePlaying = false;
    RecLedLevel->SetLevel(0);
    if (PerformanceUnsaved) {
        SavePfcButton->SetEnabled(true);
    }
}

void TCantivo::waitForTake() {
    // The take is put in place once the library has had its last buffers back, which
    // arrive as the window's messages.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (voxcapt::recordingView().active && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{MessageNotifyFd(), POLLIN, 0};
        ::poll(&ready, 1, 20);
        PumpMessages();
    }
}

void TCantivo::VoicePlaybackClosed() {
    // A close left over from a voice stopped earlier says nothing about one started since.
    if (voxcapt::playbackView().playing) {
        return;
    }
    VoicePlaying = false;
    RecLedLevel->SetLevel(0);
    if (AudioConfigWelcomeForm != nullptr) {
        AudioConfigWelcomeForm->TestPlaybackFinished();
    }
}

void TCantivo::MonitorButtonClick() {
    const bool on = !MonitorButton->StateOn();
    MonitorButton->SetStateOn(on);
    if (!Recording) {
        return;
    }
    if (SoftwareProcessing) {
        Audio.AudioSuppressWave(on ? 1 : 0);
    } else {
        setHardwareMonitor(on);
    }
}

void TCantivo::DelayBarChange() {
    if (SoftwareProcessing || !Recording) {
        Audio.AudioSetEchoDelay(DelayBar->CurrentPos());
    } else {
        // The pass-through has no echo: the bar stays where the recording put it.
        DelayBar->SetCurrentPos(0);
    }
}

void TCantivo::RecVolSliderChange() {
    if (!Recording) {
        return;
    }
    const std::uint32_t value = mixerValue(RecVolSlider->CurrentPos());
    if (!SoftwareProcessing && GetMicOutMuteSetting() != -1) {
        setOneChannel(SetMicOutputVolSetting, value);
    }
    setOneChannel(SetCurrentInputVolSetting, value);
}

void TCantivo::WaveOutSliderChange() {
    if (VoicePlaying) {
        setWaveOutVolume();
    }
}

void TCantivo::clearSongMute() {
    for (TTrackMix& mix : TrackMix) {
        mix.Solo = false;
        mix.Mute = false;
    }
    MidiMuted = false;
    ShowTrackStrips();
    SendVolumeTable();
}

void TCantivo::WaveOutMuteButtonChange() {
    if (PendingWaveFile.empty() || Recording) {
        WaveOutMuteButton->SetState(false);
        return;
    }
    if (MidiOutMuteButton->State()) {
        MidiOutMuteButton->SetState(false);
        if (MidiMuted) {
            clearSongMute();
        }
    }
    if (std::any_of(TrackMix.begin(), TrackMix.end(), [](const TTrackMix& m) { return m.Solo; })) {
        // A solo already silences the voice; the LED keeps what it showed.
        WaveOutMuteButton->SetState(false);
        return;
    }
    if (VoiceSilenced) {
        playSilenceWave(0);
        VoiceSilenced = false;
    } else {
        playSilenceWave(1);
        VoiceSilenced = true;
    }
    WaveOutMuteButton->SetState(VoiceSilenced);
}

void TCantivo::MidiOutMuteButtonChange() {
    if (PendingWaveFile.empty() || Recording) {
        MidiOutMuteButton->SetState(false);
        return;
    }
    if (VoiceSilenced) {
        playSilenceWave(0);
        VoiceSilenced = false;
        WaveOutMuteButton->SetState(false);
    }
    if (MidiMuted) {
        clearSongMute();
    } else {
        for (int t = 0; t < kTrackCount; ++t) {
            TTrackMix& mix = TrackMix[static_cast<std::size_t>(t)];
            mix.Mute = true;
            if (mix.Solo) {
                mix.Solo = false;
                if (t >= FirstVisibleTrack && t < FirstVisibleTrack + kStripCount) {
                    TrackStrips[static_cast<std::size_t>(t - FirstVisibleTrack)].SoloLed->SetState(false);
                }
            }
        }
        MidiMuted = true;
        SendVolumeTable();
    }
    MidiOutMuteButton->SetState(MidiMuted);
}

void TCantivo::ClearButtonClick() {
    if (!ClearButton->Enabled() || PendingWaveFile.empty()) {
        return;
    }
    if (platform::showMessageBox("Are you sure you want to clear your performance from memory !",
                                 "CVK Message", MessageButtons::YesNo, MessageIcon::Question,
                                 Handle()) != MessageAnswer::Yes) {
        return;
    }
    if (MidiOutMuteButton->State()) {
        MidiOutMuteButtonChange();
    }
    if (VoiceSilenced) {
        playSilenceWave(0);
        VoiceSilenced = false;
        WaveOutMuteButton->SetState(false);
    }
    if (VoicePlaying) {
        Audio.AudioStopPlaying();
        VoicePlaying = false;
        RecLedLevel->SetLevel(0);
    }
    // The take was recorded under RecordingFile; with it gone there is nothing to save.
    if (RecordingFile == PendingWaveFile) {
        RecordingFile.clear();
    }
    deleteFileAndForget(PendingWaveFile);
    ClearButton->SetEnabled(false);
    SavePfcButton->SetEnabled(false);
    FileStatusDisplay->SetFileLoaded(TFileStatusBox::midiKaraoke);
    TempoSpin->setEnabled(true);
    PerformanceUnsaved = false;
}

void TCantivo::SavePfcButtonClick() {
    if (SavePfcButton->Enabled() && SongLoaded) {
        waitForTake();
        SavePerformance();
    }
}

void TCantivo::OpenFileRequest(std::uint16_t atom) {
    const std::string path = platform::takeAtom(atom);
    if (path.empty() || m_closed) {
        return;  // a hand-over that arrives while the window closes opens nothing
    }
    // The user started the program again with this song: bring the window forward.
    if (isMinimized()) {
        showNormal();
    }
    show();
    raise();
    activateWindow();

    if (Recording) {
        StopRecording();
        waitForTake();
    } else {
        if (VoicePlaying) {
            stopVoice();
        }
        StopPlayback();
    }
    UpdateRecentFiles("", true);
    if (PerformanceUnsaved) {
        if (askToSavePerformance() && !SavePerformance()) {
            return;
        }
        deleteFileAndForget(PendingWaveFile);
        PerformanceUnsaved = false;
    }
    if (CloseSong()) {
        LoadSongFile(path);
    }
}

void TCantivo::SelectAudioDevices() {
    SetCallbackWindow(Handle());
    for (int32_t device = 0; device < GetNumberOfOutputDevices(); ++device) {
        if (SelectOutputDevice(device) == 0) {
            break;
        }
    }
    for (int32_t device = 0; device < GetNumberOfInputDevices(); ++device) {
        if (SelectInputDevice(device) == 0) {
            break;
        }
    }
    SelectMicrophoneSource();
}

void TCantivo::DeselectAudioDevices() {
    DeSelectInputDevice();
    DeSelectOutputDevice();
}

void TCantivo::SelectMicrophoneSource() {
    // Without a source named like a microphone nothing is selected.
    const int32_t microphone = GetMicrophoneSourceIndex();
    if (microphone != -1 && microphone != -2) {
        SelectInputSource(microphone);
    }
}

}  // namespace cvkapp
