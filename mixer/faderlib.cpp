// The mixer library: picks the output and input mixers, finds the controls later calls
// read and write, lists and selects the recording source. Every control is addressed by
// its mixer's identifier and its own; the open handles only carry change notifications.

#include "faderlib/faderlib.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "audio/mixer.h"
#include "audio/source_roles.h"
#include "platform/dialogs.h"
#include "platform/guarded.h"
#include "platform/profile.h"
#include "platform/system.h"

namespace faderlib {
namespace {

using audio::ComponentType;
using audio::ControlType;
using audio::MixerControlInfo;
using audio::MixerError;
using audio::MixerLineInfo;

constexpr std::int64_t kNone = -1;
constexpr std::size_t kDescriptionMax = 63;
constexpr std::size_t kDeviceNameMax = 31;

// Module-wide state; all of it belongs to the window's thread.
struct State {
    platform::WindowHandle callbackWindow = 0;

    std::int32_t outputIndex = -1;
    audio::MixerId outputMixer = 0;
    audio::MixerHandle outputHandle = 0;
    std::int64_t masterMute = kNone;
    std::int64_t masterVolume = kNone;
    std::int64_t waveVolume = kNone;
    std::int64_t waveMute = kNone;
    std::int64_t midiVolume = kNone;
    std::int64_t midiMute = kNone;
    std::int64_t micVolume = kNone;
    std::int64_t micMute = kNone;
    std::int64_t micSelect = kNone;
    std::uint32_t outputMinimum = 0;
    std::uint32_t outputMaximum = 0;

    std::int32_t inputIndex = -1;
    audio::MixerId inputMixer = 0;
    audio::MixerHandle inputHandle = 0;
    std::int64_t recordVolume = kNone;
    std::int64_t recordMute = kNone;
    std::int64_t selector = kNone;
    std::int64_t sourceVolume = kNone;
    std::int64_t sourceMute = kNone;
    std::uint32_t inputMinimum = 0;
    std::uint32_t inputMaximum = 0;
};

State& state() {
    static State s;
    return s;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool containsAny(const std::string& text, std::initializer_list<const char*> words) {
    const std::string lower = lowered(text);
    return std::any_of(words.begin(), words.end(),
                       [&](const char* word) { return lower.find(word) != std::string::npos; });
}

void copyOut(const std::string& text, char* out, std::size_t most) {
    const std::size_t length = std::min(text.size(), most);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

std::int64_t controlOn(audio::MixerId mixer, std::uint32_t lineId, ControlType type) {
    MixerControlInfo control;
    if (audio::mixerLineControl(mixer, lineId, type, control) != MixerError::Ok) {
        return kNone;
    }
    return control.controlId;
}

// The control of a type on a destination line; kNone on any failure.
std::int64_t destinationControl(audio::MixerId mixer, ComponentType destination,
                                ControlType type) {
    MixerLineInfo line;
    if (audio::mixerDestination(mixer, destination, line) != MixerError::Ok) {
        return kNone;
    }
    return controlOn(mixer, line.lineId, type);
}

// The control of a type on the first source line of a type under a destination. A line of
// the right type without the control ends the search.
std::int64_t sourceControl(audio::MixerId mixer, ComponentType destination, ComponentType source,
                           ControlType type) {
    MixerLineInfo dest;
    if (audio::mixerDestination(mixer, destination, dest) != MixerError::Ok) {
        return kNone;
    }
    for (std::uint32_t s = 0; s < dest.connections; ++s) {
        MixerLineInfo line;
        if (audio::mixerSourceLine(mixer, dest.destination, s, line) != MixerError::Ok ||
            line.type != source) {
            continue;
        }
        if (type == ControlType::Mux) {
            // A selector belongs to the destination, not to its sources.
            const std::int64_t mux = controlOn(mixer, dest.lineId, ControlType::Mux);
            return mux != kNone ? mux : controlOn(mixer, dest.lineId, ControlType::Mixer);
        }
        return controlOn(mixer, line.lineId, type);
    }
    return kNone;
}

bool readRange(audio::MixerId mixer, std::uint32_t& minimum, std::uint32_t& maximum) {
    const std::int64_t volume =
        destinationControl(mixer, ComponentType::DstSpeakers, ControlType::Volume);
    MixerControlInfo control;
    if (volume == kNone || audio::mixerControlById(mixer, static_cast<std::uint32_t>(volume),
                                                      control) != MixerError::Ok) {
        return false;
    }
    minimum = control.minimum;
    maximum = control.maximum;
    return true;
}

bool readOne(audio::MixerId mixer, std::int64_t control, std::uint32_t& value) {
    if (control == kNone) {
        return false;
    }
    std::array<std::uint32_t, 1> values{};
    if (audio::mixerGetValues(mixer, static_cast<std::uint32_t>(control), 1, values) !=
        MixerError::Ok) {
        return false;
    }
    value = values[0];
    return true;
}

bool writeOne(audio::MixerId mixer, std::int64_t control, std::uint32_t value) {
    const std::array<std::uint32_t, 1> values{value};
    return control != kNone && audio::mixerSetValues(mixer, static_cast<std::uint32_t>(control),
                                                        1, values) == MixerError::Ok;
}

void closeHandle(audio::MixerHandle& handle) {
    if (handle != 0) {
        audio::mixerClose(handle);
        handle = 0;
    }
}

// --- recording sources -----------------------------------------------------------------

bool hasMux() {
    State& s = state();
    MixerControlInfo control;
    return s.selector != kNone &&
           audio::mixerControlById(s.inputMixer, static_cast<std::uint32_t>(s.selector),
                                      control) == MixerError::Ok &&
           control.type == ControlType::Mux;
}

// Sources: the items of a single-select selector, else the recording destination's lines.
std::int32_t countSources() {
    State& s = state();
    if (s.inputIndex < 0) {
        return -1;
    }
    if (hasMux()) {
        MixerControlInfo control;
        audio::mixerControlById(s.inputMixer, static_cast<std::uint32_t>(s.selector), control);
        return static_cast<std::int32_t>(control.items);
    }
    MixerLineInfo dest;
    if (audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) !=
        MixerError::Ok) {
        return -2;
    }
    return static_cast<std::int32_t>(dest.connections);
}

std::int32_t describeSource(std::int32_t source, std::string& name) {
    State& s = state();
    if (s.inputIndex < 0) {
        return -1;
    }
    MixerLineInfo dest;
    if (audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) !=
            MixerError::Ok ||
        source < 0 || static_cast<std::uint32_t>(source) >= dest.connections) {
        return -2;
    }
    if (hasMux()) {
        std::vector<std::string> texts;
        if (audio::mixerItemTexts(s.inputMixer, static_cast<std::uint32_t>(s.selector), texts) !=
                MixerError::Ok ||
            static_cast<std::size_t>(source) >= texts.size()) {
            return -2;
        }
        name = texts[static_cast<std::size_t>(source)];
        return 0;
    }
    MixerLineInfo line;
    if (audio::mixerSourceLine(s.inputMixer, dest.destination,
                                  static_cast<std::uint32_t>(source), line) != MixerError::Ok) {
        return -2;
    }
    name = line.name;
    return 0;
}

// The first source whose lower-cased name holds one of the words; -2 when none does.
std::int32_t findSource(audio::SourceRole role) {
    const std::int32_t count = countSources();
    if (count < 0) {
        return count;
    }
    for (std::int32_t k = 0; k < count; ++k) {
        std::string name;
        if (describeSource(k, name) == 0 && audio::nameShowsRole(name, role)) {
            return k;
        }
    }
    return -2;
}

bool selectorValues(std::vector<std::uint32_t>& values) {
    State& s = state();
    MixerControlInfo control;
    if (audio::mixerControlById(s.inputMixer, static_cast<std::uint32_t>(s.selector), control) !=
        MixerError::Ok) {
        return false;
    }
    values.assign(control.items, 0);
    return audio::mixerGetValues(s.inputMixer, static_cast<std::uint32_t>(s.selector), 1,
                                    values) == MixerError::Ok;
}

bool writeSelector(const std::vector<std::uint32_t>& values) {
    State& s = state();
    return audio::mixerSetValues(s.inputMixer, static_cast<std::uint32_t>(s.selector), 1,
                                    values) == MixerError::Ok;
}

bool selectSource(std::int32_t source, std::int32_t count) {
    State& s = state();
    std::vector<std::uint32_t> values;
    if (s.selector != kNone && hasMux()) {
        if (source < 0 || source >= count || !selectorValues(values) ||
            static_cast<std::size_t>(source) >= values.size()) {
            return false;
        }
        std::fill(values.begin(), values.end(), 0);
        values[static_cast<std::size_t>(source)] = 1;
        return writeSelector(values);
    }
    if (s.selector != kNone) {
        // A multiple-select selector: every item written on its own, the chosen one on.
        if (!selectorValues(values)) {
            return false;
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::vector<std::uint32_t> current;
            if (!selectorValues(current)) {
                return false;
            }
            current[i] = static_cast<std::int32_t>(i) == source ? 1 : 0;
            if (!writeSelector(current)) {
                return false;
            }
        }
        return true;
    }
    // No selector: the chosen line is the one left unmuted.
    MixerLineInfo dest;
    if (audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) !=
        MixerError::Ok) {
        return false;
    }
    for (std::uint32_t i = 0; i < dest.connections; ++i) {
        MixerLineInfo line;
        if (audio::mixerSourceLine(s.inputMixer, dest.destination, i, line) != MixerError::Ok) {
            return false;
        }
        const std::int64_t mute = controlOn(s.inputMixer, line.lineId, ControlType::Mute);
        if (mute != kNone &&
            !writeOne(s.inputMixer, mute, static_cast<std::int32_t>(i) == source ? 0 : 1)) {
            return false;
        }
    }
    return true;
}

// The recording destination's line that carries source k: by name, trying line k first.
bool sourceLineOf(std::int32_t source, MixerLineInfo& found) {
    State& s = state();
    std::string name;
    MixerLineInfo dest;
    if (describeSource(source, name) != 0 ||
        audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) !=
            MixerError::Ok) {
        return false;
    }
    MixerLineInfo line;
    const auto lineAt = [&](std::uint32_t index) {
        return index < dest.connections && audio::mixerSourceLine(s.inputMixer, dest.destination,
                                                                     index, line) == MixerError::Ok;
    };
    if (lineAt(static_cast<std::uint32_t>(source)) && line.name == name) {
        found = line;
        return true;
    }
    for (std::uint32_t i = 0; i < dest.connections; ++i) {
        if (lineAt(i) && line.name == name) {
            found = line;
            return true;
        }
    }
    if (lineAt(static_cast<std::uint32_t>(source))) {
        found = line;
        return true;
    }
    return false;
}

// --- volumes ---------------------------------------------------------------------------

enum class Side { Output, Input };

std::int32_t getVolume(Side side, std::int64_t control, std::int32_t channels,
                       std::uint32_t* values) {
    const State& s = state();
    if ((side == Side::Output ? s.outputIndex : s.inputIndex) < 0 || values == nullptr) {
        return -1;
    }
    if (control == kNone) {
        return -2;
    }
    std::array<std::uint32_t, 2> read{};
    const std::uint32_t count = channels > 1 ? 2 : 1;
    if (audio::mixerGetValues(side == Side::Output ? s.outputMixer : s.inputMixer,
                                 static_cast<std::uint32_t>(control), count,
                                 read) != MixerError::Ok) {
        return -1;
    }
    values[0] = read[0];
    values[1] = count > 1 ? read[1] : 0;
    return 0;
}

std::int32_t setVolume(Side side, std::int64_t control, std::int32_t channels,
                       const std::uint32_t* values) {
    const State& s = state();
    if ((side == Side::Output ? s.outputIndex : s.inputIndex) < 0 || values == nullptr) {
        return -1;
    }
    if (control == kNone) {
        return -2;
    }
    const std::uint32_t count = channels > 1 ? 2 : 1;
    const std::array<std::uint32_t, 2> written{values[0], count > 1 ? values[1] : 0};
    return audio::mixerSetValues(side == Side::Output ? s.outputMixer : s.inputMixer,
                                    static_cast<std::uint32_t>(control), count,
                                    written) == MixerError::Ok
               ? 0
               : -1;
}

std::int32_t getSwitch(std::int64_t control) {
    const State& s = state();
    std::uint32_t value = 0;
    if (s.outputIndex < 0 || !readOne(s.outputMixer, control, value)) {
        return -1;
    }
    return value != 0 ? 1 : 0;
}

std::int32_t setSwitch(std::int64_t control, std::int32_t on) {
    const State& s = state();
    return s.outputIndex >= 0 && writeOne(s.outputMixer, control, on != 0 ? 1 : 0) ? 0 : -1;
}

std::int32_t getLevel(Side side) {
    const State& s = state();
    const bool output = side == Side::Output;
    if ((output ? s.outputIndex : s.inputIndex) < 0) {
        return -1;
    }
    const std::int64_t control = output ? s.waveVolume : s.sourceVolume;
    if (control == kNone) {
        return -2;
    }
    std::uint32_t value = 0;
    if (!readOne(output ? s.outputMixer : s.inputMixer, control, value)) {
        return -3;
    }
    return output ? valueToLevel(value, s.outputMinimum, s.outputMaximum)
                  : valueToLevel(value, s.inputMinimum, s.inputMaximum);
}

std::int32_t setLevel(Side side, std::int32_t level) {
    const State& s = state();
    const bool output = side == Side::Output;
    if ((output ? s.outputIndex : s.inputIndex) < 0) {
        return -1;
    }
    const std::int64_t control = output ? s.waveVolume : s.sourceVolume;
    if (control == kNone) {
        return -2;
    }
    const std::uint32_t value = output ? levelToValue(level, s.outputMinimum, s.outputMaximum)
                                       : levelToValue(level, s.inputMinimum, s.inputMaximum);
    return writeOne(output ? s.outputMixer : s.inputMixer, control, value) ? 0 : -3;
}

// Raises a volume below a tenth of the range's maximum to that tenth.
bool raiseToTenth(audio::MixerId mixer, std::int64_t control, std::uint32_t maximum) {
    std::uint32_t value = 0;
    if (!readOne(mixer, control, value)) {
        return false;
    }
    if (value < maximum / 10) {
        writeOne(mixer, control, maximum / 10);
    }
    return true;
}

std::int32_t unmuteOutput() {
    State& s = state();
    if (s.outputIndex < 0) {
        return -1;
    }
    if (s.masterMute == kNone || s.waveMute == kNone) {
        return -2;
    }
    if (!writeOne(s.outputMixer, s.masterMute, 0)) {
        return -3;
    }
    if (!raiseToTenth(s.outputMixer, s.waveVolume, s.outputMaximum)) {
        return -3;
    }
    s.masterVolume =
        destinationControl(s.outputMixer, ComponentType::DstSpeakers, ControlType::Volume);
    if (!raiseToTenth(s.outputMixer, s.masterVolume, s.outputMaximum)) {
        return -3;
    }
    return 0;
}

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
    unmuteOutput();
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

std::int32_t selectInputSource(std::int32_t source) {
    State& s = state();
    if (s.inputIndex < 0) {
        return -1;
    }
    const std::int32_t count = countSources();
    if (count < 0 || !selectSource(source, count)) {
        return -2;
    }
    MixerLineInfo line;
    if (sourceLineOf(source, line)) {
        s.sourceVolume = controlOn(s.inputMixer, line.lineId, ControlType::Volume);
        s.sourceMute = controlOn(s.inputMixer, line.lineId, ControlType::Mute);
    }
    if (s.recordMute != kNone) {
        writeOne(s.inputMixer, s.recordMute, 0);
    }
    if (s.sourceMute != kNone) {
        writeOne(s.inputMixer, s.sourceMute, 0);
    }
    if (getLevel(Side::Input) < 9) {
        setLevel(Side::Input, 9);
    }
    std::uint32_t record = 0;
    if (readOne(s.inputMixer, s.recordVolume, record) && record < s.inputMaximum / 10) {
        writeOne(s.inputMixer, s.recordVolume, s.inputMaximum / 10);
    }
    return 0;
}

std::int32_t isSourceSelected(std::int32_t source) {
    State& s = state();
    if (s.inputIndex < 0 || source < 0) {
        return 0;
    }
    if (s.selector != kNone) {
        std::vector<std::uint32_t> values;
        return selectorValues(values) && static_cast<std::size_t>(source) < values.size() &&
                       values[static_cast<std::size_t>(source)] == 1
                   ? 1
                   : 0;
    }
    MixerLineInfo dest;
    MixerLineInfo line;
    std::uint32_t muted = 1;
    if (audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) !=
            MixerError::Ok ||
        audio::mixerSourceLine(s.inputMixer, dest.destination,
                                  static_cast<std::uint32_t>(source), line) != MixerError::Ok ||
        !readOne(s.inputMixer, controlOn(s.inputMixer, line.lineId, ControlType::Mute), muted)) {
        return 0;
    }
    return muted == 0 ? 1 : 0;
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

std::int32_t mixMuxSetting(std::uint32_t mixer, std::uint32_t controlId, std::int32_t item) {
    MixerControlInfo control;
    if (audio::mixerControlById(mixer, controlId, control) != MixerError::Ok) {
        platform::showMessageBox("Cannot Get Mixer Information", "", platform::MessageButtons::Ok,
                                 platform::MessageIcon::None);
        return -1;
    }
    if (item < 0 || static_cast<std::uint32_t>(item) >= control.items) {
        return -1;
    }
    std::vector<std::uint32_t> values;
    try {
        values.assign(control.items, 0);
    } catch (const std::bad_alloc&) {
        platform::showMessageBox("Cannot Allocate Memory for Mixer", "",
                                 platform::MessageButtons::Ok, platform::MessageIcon::None);
        return -1;
    }
    if (audio::mixerGetValues(mixer, controlId, 1, values) != MixerError::Ok) {
        platform::showMessageBox("Cannot Get Mixer Information", "", platform::MessageButtons::Ok,
                                 platform::MessageIcon::None);
        return -1;
    }
    return static_cast<std::int32_t>(values[static_cast<std::size_t>(item)]);
}

}  // namespace

void resetForTest() {
    State& s = state();
    closeHandle(s.outputHandle);
    closeHandle(s.inputHandle);
    s = State{};
}

// The program's settings file: $XDG_CONFIG_HOME/cantivo/CANTIVO.INI (~/.config without
// it), or beside the program where there is no home, as the window keeps it.
std::string settingsPath() {
    const std::string folder = platform::userSettingsFolder();
    return (folder.empty() ? platform::programFolder() : folder) + "CANTIVO.INI";
}

// The scale divides by the maximum, not by the width of the range, so a range that does
// not start at 0 still reads 99 at its top.
std::int32_t valueToLevel(std::uint32_t value, std::uint32_t minimum, std::uint32_t maximum) {
    if (value <= minimum) {
        return 0;
    }
    if (value >= maximum) {
        return 99;
    }
    const std::uint64_t level = std::uint64_t{value} * 100 / maximum + 1;
    return static_cast<std::int32_t>(std::min<std::uint64_t>(level, 99));
}

std::uint32_t levelToValue(std::int32_t level, std::uint32_t minimum, std::uint32_t maximum) {
    if (level <= 0) {
        return minimum;
    }
    if (level > 98) {
        return maximum;
    }
    return static_cast<std::uint32_t>(std::uint64_t{static_cast<std::uint32_t>(level)} * maximum /
                                      100);
}

}  // namespace faderlib

using platform::guarded;
using audio::MixerError;

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
        if (device < 0 || audio::mixerOutputDeviceName(static_cast<uint32_t>(device), name) !=
                              MixerError::Ok) {
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
        faderlib::closeHandle(faderlib::state().inputHandle);
        return 0;
    });
}

// Number of recording sources; -1 no input device, -2 the mixer could not say.
int32_t GetNumberOfInputSources() {
    return guarded(-2, [] { return faderlib::countSources(); });
}

// A recording source's name: 0, -1 no input device, -2 no such source.
int32_t GetInputSourceDescription(int32_t source, char* description) {
    if (description == nullptr) {
        return -2;
    }
    description[0] = '\0';
    return guarded(-2, [&] {
        std::string name;
        const int32_t result = faderlib::describeSource(source, name);
        if (result == 0) {
            faderlib::copyOut(name, description, faderlib::kDescriptionMax);
        }
        return result;
    });
}

// The first source named like a microphone; -2 none, -1/-2 as GetNumberOfInputSources.
int32_t GetMicrophoneSourceIndex() {
    return guarded(-2, [] { return faderlib::findSource(audio::SourceRole::Microphone); });
}

// The first source that records what the speakers play; -2 none, -1/-2 as the count.
int32_t GetOutputMixSourceIndex() {
    return guarded(-2, [] { return faderlib::findSource(audio::SourceRole::OutputMix); });
}

// Makes source k the recording source, unmuted and audible. 0, -1 no input device, -2 failed.
int32_t SelectInputSource(int32_t source) {
    return guarded(-2, [&] { return faderlib::selectInputSource(source); });
}

// 1 when source k is the recording source, else 0.
int32_t IsCurrentInputSourceSelected(int32_t source) {
    return guarded(0, [&] { return faderlib::isSourceSelected(source); });
}

// 1 when the speakers' first microphone line is named like a microphone, else 0.
int32_t IsMicSourceAvailableOnMixerDest() {
    return guarded(0, [] { return faderlib::micOnMixerDestination(); });
}

// A selector item's value (1 selected, 0 not); -1 on failure, told in a message box.
int32_t GetMixMuxSetting(uint32_t mixer, uint32_t control, int32_t item) {
    return guarded(-1, [&] { return faderlib::mixMuxSetting(mixer, control, item); });
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

// Raw volumes of (channels, values[2]): 0; -1 no device on that side or the mixer failed;
// -2 no such control. A getter writes both entries (the second 0 for one channel).
#define FADERLIB_VOLUME_PAIR(getter, setter, side, field)                                       \
    int32_t getter(int32_t channels, uint32_t* values) {                                        \
        return guarded(-1, [&] {                                                                \
            return faderlib::getVolume(faderlib::Side::side, faderlib::state().field, channels, \
                                       values);                                                 \
        });                                                                                     \
    }                                                                                           \
    int32_t setter(int32_t channels, const uint32_t* values) {                                  \
        return guarded(-1, [&] {                                                                \
            return faderlib::setVolume(faderlib::Side::side, faderlib::state().field, channels, \
                                       values);                                                 \
        });                                                                                     \
    }

FADERLIB_VOLUME_PAIR(GetCurrentOutputVolSetting, SetCurrentOutputVolSetting, Output, waveVolume)
FADERLIB_VOLUME_PAIR(GetCurrentMidiOutputVolSetting, SetCurrentMidiOutputVolSetting, Output,
                     midiVolume)
FADERLIB_VOLUME_PAIR(GetMicOutputVolSetting, SetMicOutputVolSetting, Output, micVolume)
FADERLIB_VOLUME_PAIR(GetCurrentMasterOutputVolSetting, SetCurrentMasterOutputVolSetting, Output,
                     masterVolume)
FADERLIB_VOLUME_PAIR(GetCurrentInputVolSetting, SetCurrentInputVolSetting, Input, sourceVolume)

// The voice's volume as a level 0..99; -1 no output device, -2 no wave volume, -3 unreadable.
int32_t GetCurrentOutputLevel() {
    return guarded(-3, [] { return faderlib::getLevel(faderlib::Side::Output); });
}

// Sets the voice's volume from a level 0..99: 0, -1, -2 as above, -3 unwritable.
int32_t SetCurrentOutputLevel(int32_t level) {
    return guarded(-3, [&] { return faderlib::setLevel(faderlib::Side::Output, level); });
}

// The recording source's volume as a level 0..99; -1 no input device, -2 none, -3 unreadable.
int32_t GetCurrentInputLevel() {
    return guarded(-3, [] { return faderlib::getLevel(faderlib::Side::Input); });
}

// Sets the recording source's volume from a level 0..99: 0, -1, -2, -3.
int32_t SetCurrentInputLevel(int32_t level) {
    return guarded(-3, [&] { return faderlib::setLevel(faderlib::Side::Input, level); });
}

// Switches of the output mixer: getters 1 on, 0 off, -1 missing or unreadable; setters 0 or -1.
#define FADERLIB_SWITCH_PAIR(getter, setter, field)                                           \
    int32_t getter() {                                                                        \
        return guarded(-1, [] { return faderlib::getSwitch(faderlib::state().field); });      \
    }                                                                                         \
    int32_t setter(int32_t on) {                                                              \
        return guarded(-1, [&] { return faderlib::setSwitch(faderlib::state().field, on); }); \
    }

FADERLIB_SWITCH_PAIR(GetWaveOutMuteSetting, SetWaveOutMuteSetting, waveMute)
FADERLIB_SWITCH_PAIR(GetMidiOutMuteSetting, SetMidiOutMuteSetting, midiMute)
FADERLIB_SWITCH_PAIR(GetMicOutMuteSetting, SetMicOutMuteSetting, micMute)
FADERLIB_SWITCH_PAIR(GetMicOutSelectSetting, SetMicOutSelectSetting, micSelect)
FADERLIB_SWITCH_PAIR(GetMasterOutMuteSetting, SetMasterOutMuteSetting, masterMute)

// Mutes the master output: 0 or -1.
int32_t MuteOutput() {
    return guarded(-1, [] { return faderlib::setSwitch(faderlib::state().masterMute, 1); });
}

// Unmutes the master and raises wave and master volumes to at least a tenth of the range:
// 0; -1 no output device; -2 no master or wave mute; -3 a read failed.
int32_t UnmuteOutput() {
    return guarded(-3, [] { return faderlib::unmuteOutput(); });
}
