// The output and input devices: how many, their names, and selecting one, which picks its
// mixer, finds the controls later calls read and write and opens the mixer for change
// notifications. Every control is addressed by its mixer's identifier and its own; the
// open handles only carry notifications.

#include <string>

#include "State.h"
#include "faderlib/faderlib.h"
#include "platform/guarded.h"
#include "platform/profile.h"

namespace faderlib {
namespace {

// The MIDI device's own line on the speakers destination, by its exact full name.
void findMidiControls(audio::MixerId mixer, const std::string& deviceName) {
    State& s = state();
    s.midiVolume = kNone;
    s.midiMute = kNone;
    MixerLineInfo dest;
    if (!deviceName.empty() &&
        audio::mixerDestination(mixer, ComponentType::DstSpeakers, dest) == MixerError::Ok) {
        for (std::uint32_t i = 0; i < dest.connections; ++i) {
            MixerLineInfo line;
            if (audio::mixerSourceLine(mixer, dest.destination, i, line) == MixerError::Ok &&
                line.name == deviceName) {
                s.midiMute = controlOn(mixer, line.lineId, ControlType::Mute);
                s.midiVolume = controlOn(mixer, line.lineId, ControlType::Volume);
                break;
            }
        }
    }
    if (s.midiVolume == kNone) {
        s.midiVolume = sourceControl(mixer, ComponentType::DstSpeakers,
                                     ComponentType::SrcSynthesizer, ControlType::Volume);
    }
    if (s.midiMute == kNone) {
        s.midiMute = sourceControl(mixer, ComponentType::DstSpeakers, ComponentType::SrcSynthesizer,
                                   ControlType::Mute);
    }
}

std::int32_t selectOutputDevice(std::int32_t device) {
    State& s = state();
    if (device < 0 || static_cast<std::uint32_t>(device) > audio::mixerOutputDeviceCount()) {
        return -1;
    }
    s.outputIndex = device;
    // Re-selecting replaces every identifier of this side, found or not.
    s.masterMute = s.masterVolume = s.waveVolume = s.waveMute = kNone;
    s.midiVolume = s.midiMute = s.micVolume = s.micMute = s.micSelect = kNone;
    audio::MixerId mixer = 0;
    if (audio::mixerIdOfOutput(static_cast<std::uint32_t>(device), mixer) != MixerError::Ok) {
        return -1;
    }
    s.outputMixer = mixer;
    s.masterMute = destinationControl(mixer, ComponentType::DstSpeakers, ControlType::Mute);
    s.masterVolume = destinationControl(mixer, ComponentType::DstSpeakers, ControlType::Volume);
    s.waveVolume = sourceControl(mixer, ComponentType::DstSpeakers, ComponentType::SrcWaveOut,
                                 ControlType::Volume);
    s.waveMute = sourceControl(mixer, ComponentType::DstSpeakers, ComponentType::SrcWaveOut,
                               ControlType::Mute);
    findMidiControls(mixer, platform::profileGetString("Selected midi device", "Device name", " ",
                                                       settingsPath()));
    s.micVolume = sourceControl(mixer, ComponentType::DstSpeakers, ComponentType::SrcMicrophone,
                                ControlType::Volume);
    s.micMute = sourceControl(mixer, ComponentType::DstSpeakers, ComponentType::SrcMicrophone,
                              ControlType::Mute);
    s.micSelect = sourceControl(mixer, ComponentType::DstSpeakers, ComponentType::SrcMicrophone,
                                ControlType::OnOff);
    if (!readRange(mixer, s.outputMinimum, s.outputMaximum)) {
        return -1;
    }
    closeHandle(s.outputHandle);
    if (audio::mixerOpen(s.outputHandle, mixer, s.callbackWindow) != MixerError::Ok) {
        return -1;
    }
    // Audible for as long as the device is selected; the user's mute and volume come back
    // when it is let go.
    unmuteOutput(&s.outputBorrowed);
    return 0;
}

std::int32_t selectInputDevice(std::int32_t device) {
    State& s = state();
    audio::MixerId mixer = 0;
    if (device < 0 || static_cast<std::uint32_t>(device) > audio::mixerInputDeviceCount() ||
        audio::mixerIdOfInput(static_cast<std::uint32_t>(device), mixer) != MixerError::Ok) {
        return -1;
    }
    s.inputMixer = mixer;
    s.sourceVolume = s.sourceMute = s.selector = kNone;
    audio::mixerForgetHeldMutes();
    s.recordVolume = destinationControl(mixer, ComponentType::DstWaveIn, ControlType::Volume);
    s.recordMute = destinationControl(mixer, ComponentType::DstWaveIn, ControlType::Mute);
    s.selector = destinationControl(mixer, ComponentType::DstWaveIn, ControlType::Mux);
    if (s.selector == kNone) {
        s.selector = destinationControl(mixer, ComponentType::DstWaveIn, ControlType::Mixer);
    }
    if (s.recordVolume != kNone && !readRange(mixer, s.inputMinimum, s.inputMaximum)) {
        return -1;
    }
    closeHandle(s.inputHandle);
    if (audio::mixerOpen(s.inputHandle, mixer, s.callbackWindow) != MixerError::Ok) {
        return -1;
    }
    s.inputIndex = device;
    return 0;
}

std::int32_t micOnMixerDestination() {
    State& s = state();
    MixerLineInfo dest;
    if (s.outputIndex < 0 || audio::mixerDestination(s.outputMixer, ComponentType::DstSpeakers,
                                                     dest) != MixerError::Ok) {
        return 0;
    }
    for (std::uint32_t i = 0; i < dest.connections; ++i) {
        MixerLineInfo line;
        if (audio::mixerSourceLine(s.outputMixer, dest.destination, i, line) == MixerError::Ok &&
            line.type == ComponentType::SrcMicrophone) {
            // Only the first microphone line counts.
            return containsAny(line.shortName, {"microphone", "mic", "mike"}) ? 1 : 0;
        }
    }
    return 0;
}

}  // namespace
}  // namespace faderlib

using audio::MixerError;
using platform::guarded;

// Stores the window that the next opened mixers notify of changes; returns it.
uint32_t SetCallbackWindow(uint32_t window) {
    faderlib::state().callbackWindow = window;
    return window;
}

// Number of wave output devices (the sound server's sinks).
int32_t GetNumberOfOutputDevices() {
    return guarded(0, [] { return static_cast<int32_t>(audio::mixerOutputDeviceCount()); });
}

// The output device's name, trimmed ("Unknown Device" when blank): 0, or -1 and an empty
// string when the device cannot be queried.
int32_t GetOutputDeviceDescription(int32_t device, char* description) {
    if (description == nullptr) {
        return -1;
    }
    description[0] = '\0';
    return guarded(-1, [&] {
        std::string name;
        if (device < 0 ||
            audio::mixerOutputDeviceName(static_cast<uint32_t>(device), name) != MixerError::Ok) {
            return -1;
        }
        const std::size_t first = name.find_first_not_of(" \t\r\n");
        name = first == std::string::npos
                   ? std::string("Unknown Device")
                   : name.substr(first, name.find_last_not_of(" \t\r\n") - first + 1);
        faderlib::copyOut(name, description, faderlib::kDeviceNameMax);
        return 0;
    });
}

// Selects the output device's mixer and finds its controls; makes the output audible.
// 0, or -1 when the device, its mixer or its speakers' volume cannot be had.
int32_t SelectOutputDevice(int32_t device) {
    return guarded(-1, [&] { return faderlib::selectOutputDevice(device); });
}

// Closes the output mixer's notification handle; the controls stay usable. 0.
int32_t DeSelectOutputDevice() {
    return guarded(0, [] {
        faderlib::giveBack(faderlib::state().outputBorrowed);
        faderlib::closeHandle(faderlib::state().outputHandle);
        return 0;
    });
}

// Number of wave input devices (the sound server's sources).
int32_t GetNumberOfInputDevices() {
    return guarded(0, [] { return static_cast<int32_t>(audio::mixerInputDeviceCount()); });
}

// The input device's name as reported: 0, or -1 and an empty string.
int32_t GetInputDeviceDescription(int32_t device, char* description) {
    if (description == nullptr) {
        return -1;
    }
    description[0] = '\0';
    return guarded(-1, [&] {
        std::string name;
        if (device < 0 ||
            audio::mixerInputDeviceName(static_cast<uint32_t>(device), name) != MixerError::Ok) {
            return -1;
        }
        faderlib::copyOut(name, description, faderlib::kDeviceNameMax);
        return 0;
    });
}

// Selects the input device's mixer and its recording controls. 0, or -1.
int32_t SelectInputDevice(int32_t device) {
    return guarded(-1, [&] { return faderlib::selectInputDevice(device); });
}

// Closes the input mixer's notification handle; the controls stay usable. 0.
int32_t DeSelectInputDevice() {
    return guarded(0, [] {
        audio::mixerForgetHeldMutes();
        faderlib::giveBack(faderlib::state().inputBorrowed);
        faderlib::closeHandle(faderlib::state().inputHandle);
        return 0;
    });
}

// 1 when the speakers' first microphone line is named like a microphone, else 0.
int32_t IsMicSourceAvailableOnMixerDest() {
    return guarded(0, [] { return faderlib::micOnMixerDestination(); });
}

// The identifiers change notifications carry: wave volume, record volume, selector, source volume.
void GetVolumeIDs(int32_t* waveVolume, int32_t* recordVolume, int32_t* selector,
                  int32_t* sourceVolume) {
    const faderlib::State& s = faderlib::state();
    const auto put = [](int32_t* out, std::int64_t id) {
        if (out != nullptr) {
            *out = static_cast<int32_t>(id);
        }
    };
    put(waveVolume, s.waveVolume);
    put(recordVolume, s.recordVolume);
    put(selector, s.selector);
    put(sourceVolume, s.sourceVolume);
}
