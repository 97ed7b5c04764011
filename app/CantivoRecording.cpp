// The recording workflow's entry points as far as the window has them: the record button,
// the open-file request a later start sends, the performance file and the audio wizard.
// Recording and the voice need the wave library, which is not part of the program yet;
// until then no performance can come into being, so none is waiting here. The mixers are
// selected at start and let go at close.

#include <QApplication>

#include "Cantivo.h"
#include "Vledrow.h"
#include "faderlib/faderlib.h"
#include "platform/atoms.h"
#include "platform/dialogs.h"

namespace cvkapp {

void TCantivo::RecButtonClick() {
    if (MidiInitFailed) {
        platform::showMessageBox("Cannot Initialize the MIDI Driver", kTitle,
                                 platform::MessageButtons::Ok, platform::MessageIcon::None,
                                 Handle());
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

    if (VoicePlaying) {
        RecLedLevel->SetLevel(0);
        VoicePlaying = false;
    }
    StopPlayback();
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

void TCantivo::RunConfigWizard() {
    // The audio wizard comes with the sound-card settings.
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
