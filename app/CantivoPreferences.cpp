// File > Preferences and the dialogs it reaches: lyric characters, the processing mode with
// its buffer test, the MIDI output device and the offset between song and voice; and the
// audio configuration wizard.

#include "Cantivo.h"
#include "ACWUnit.h"
#include "Config.h"
#include "HelpWindow.h"
#include "HelpsForm.h"
#include "Lyricbox.h"
#include "OffsetSlider.h"
#include "Prefrenc.h"
#include "Process.h"
#include "Recslidr.h"
#include "SetMidiDeviceUnit.h"
#include "faderlib/faderlib.h"
#include "platform/midi_out.h"
#include "platform/profile.h"
#include "platform/system.h"

namespace cvkapp {

namespace {

std::vector<std::string> midiOutDevices() {
    std::vector<std::string> names;
    const std::uint32_t count = platform::midiOutDeviceCount();
    for (std::uint32_t device = 0; device < count; ++device) {
        names.push_back(platform::midiOutDeviceName(device));
    }
    return names;
}

}  // namespace

void TCantivo::CreatePreferenceDialogs() {
    // Every access opens the file anew; nothing of it is kept here.
    dialogs::SettingsFile settings;
    settings.readInt = [](const std::string& section, const std::string& key, int fallback) {
        return platform::profileGetInt(section, key, fallback, IniPath());
    };
    settings.readString = [](const std::string& section, const std::string& key) {
        return platform::profileGetString(section, key, "", IniPath());
    };
    settings.writeInt = [this](const std::string& section, const std::string& key, int value) {
        writeSetting(section, key, value);
    };
    settings.writeString = [this](const std::string& section, const std::string& key,
                                  const std::string& value) { writeSetting(section, key, value); };

    OffsetForm = new TOffsetForm(this);
    OffsetForm->SetHooks({
        .voiceOffset = [this] { return VoiceOffset; },
        .setVoiceOffset = [this](int offset) { VoiceOffset = offset; },
        .updateOffsetForPlayBack = [this](int units) { Audio.UpdateOffsetForPlayBack(units); },
        .positionChanged = [this](int position) { OffsetSliderPosition = position; },
        .help = [this] { showHelpText(OffsetForm, ProgramFolder() + "OffsetHelp.txt"); },
    });
    OffsetForm->FormCreate(settings);

    ConfigSoftwareForm = new TConfigSoftwareForm(this);
    ConfigSoftwareForm->SetOwner(Handle());
    ConfigSoftwareForm->SetHooks({
        .recordBufferSize = [this] { return RecordBufferSize; },
        .setRecordBufferSize = [this](int bytes) { RecordBufferSize = bytes; },
        .startMonitorTest = [this](int bytes, bool monitor) { return StartMonitorTest(bytes, monitor); },
        .stopMonitorTest = [this] { StopMonitorTest(); },
        .help = [this] { showHelp(ConfigSoftwareForm, HelpPage::BufferTest); },
    });

    ProcessForm = new TProcessForm(this);
    ProcessForm->SetConfigForm(ConfigSoftwareForm);
    ProcessForm->SetHooks({
        .softwareProcessing = [this] { return SoftwareProcessing; },
        .setSoftwareProcessing = [this](bool software) { SoftwareProcessing = software; },
        .micOutMuteSetting = [] { return GetMicOutMuteSetting(); },
        .help = [this] { showHelp(ProcessForm, HelpPage::ProcessingMode); },
    });
    // Without the microphone on the output mix there is nothing to pass through.
    if (IsMicSourceAvailableOnMixerDest() == 0) {
        ProcessForm->DisableHardware();
    }

    MidiOutDeviceSelectForm = new TMidiOutDeviceSelectForm(this);
    MidiOutDeviceSelectForm->SetHooks({
        .settings = settings,
        .devices = midiOutDevices,
        .deviceChanged =
            [this] {
                // The sequencer opens and closes the new device once and says so itself
                // when it cannot; the mixers follow the device's card.
                if (Sequencer.CallInitMIDIOut != nullptr) {
                    ApplySoundFontChoice();
                    Sequencer.CallInitMIDIOut(Handle(), IniPath().c_str());
                }
                DeselectAudioDevices();
                SelectAudioDevices();
            },
        .help =
            [this] {
                showHelpText(MidiOutDeviceSelectForm, ProgramFolder() + "SelectMIDIDevice.txt");
            },
    });

    Preference = new TPreference(this);
    Preference->SetForms(ProcessForm, MidiOutDeviceSelectForm, OffsetForm);
    Preference->SetHooks({
        .settings = settings,
        .devices = midiOutDevices,
        .busy = [this] { return SongPlaying || Recording; },
        .nonEnglishCharacters = [this] { return NonEnglishCharacters; },
        .setNonEnglishCharacters =
            [this](bool on) {
                NonEnglishCharacters = on;
                LyricBox1->setNonEnglishCharacters(on);
            },
        .softwareProcessing = [this] { return SoftwareProcessing; },
        .help = [this] { showHelp(Preference, HelpPage::Contents); },
    });

    AudioConfigWelcomeForm = new TAudioConfigWelcomeForm(this);
    AudioConfigWelcomeForm->SetOwner(Handle());
    AudioConfigWelcomeForm->SetHooks({
        .settings = settings,
        .programFolder = [this] { return ProgramFolder(); },
        .playFile = [this](const std::string& path) { return Audio.AudioPlayFile(Handle(), path.c_str()) != 0; },
        .stopPlaying = [this] { Audio.AudioStopPlaying(); },
        .startMonitorTest = [this](int bytes, bool monitor) { return StartMonitorTest(bytes, monitor); },
        .stopMonitorTest = [this] { StopMonitorTest(); },
        .recordLevels = [this](std::int32_t* left, std::int32_t* right) { Audio.AudioGetWaveRecLevels(left, right); },
        .voiceSliderPosition = [this] { return WaveOutSlider->CurrentPos(); },
        .selectMidiDevice = [this] { MidiOutDeviceSelectForm->exec(); },
        .configureProcessingMode = [this] { Preference->ProcessButtonClick(); },
        .help = [this](const std::string& name) { showHelpText(AudioConfigWelcomeForm, ProgramFolder() + name); },
    });
}

std::string TCantivo::ProgramFolder() const {
    return m_options.programFolder.empty() ? platform::programFolder() : m_options.programFolder;
}

void TCantivo::RunConfigWizard() {
    if (AudioConfigWelcomeForm == nullptr || Recording || AudioConfigWelcomeForm->isVisible()) {
        return;
    }
    // The tests need the MIDI device and the voice's output to themselves.
    StopButtonClick();
    if (VoicePlaying) {
        stopVoice();
    }
    AudioConfigWelcomeForm->PrepareToShow(this);
    AudioConfigWelcomeForm->exec();
}

void TCantivo::PreferencesClick() {
    if (Preference == nullptr) {
        return;
    }
    Preference->exec();
    // The character setting may have changed the lyrics' lines; while the song goes on the
    // marked syllable is found again.
    RelayoutLyrics();
    // Following the song's tempo changes or not shows another tempo (from the next start),
    // and times the melody another way.
    ShowTempo();
    updateSongMelody();
}

void TCantivo::ReapplyVoiceOffset() {
    VoiceOffset = 0;
    if (OffsetForm != nullptr) {
        OffsetForm->PlaybackDistanceSliderChange();
    }
}

bool TCantivo::StartMonitorTest(int bufferBytes, bool monitor) {
    SelectMicrophoneSource();
    // The card's own path stays shut: the voice comes back through the program only.
    SetMicOutMuteSetting(1);
    Audio.AudioSuppressWave(1);
    return Audio.AudioStartRecord(Handle(), "", 22050, 1, 16, bufferBytes, monitor ? -1 : 0, -1) != 0;
}

void TCantivo::StopMonitorTest() { Audio.AudioStopRecord(); }

}  // namespace cvkapp
