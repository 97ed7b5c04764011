// The recording sources: counted, named and found by role, selected, and asked which is
// selected, over whatever selector the recording destination has (a single-select one,
// a multiple-select one, or none, where the chosen line is the one left unmuted).

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "State.h"
#include "audio/source_roles.h"
#include "faderlib/faderlib.h"
#include "platform/dialogs.h"
#include "platform/guarded.h"

namespace faderlib {
namespace {

bool hasMux() {
    State& s = state();
    MixerControlInfo control;
    return s.selector != kNone &&
           audio::mixerControlById(s.inputMixer, static_cast<std::uint32_t>(s.selector), control) ==
               MixerError::Ok &&
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
    if (audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) != MixerError::Ok) {
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
    if (audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) != MixerError::Ok ||
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
    if (audio::mixerSourceLine(s.inputMixer, dest.destination, static_cast<std::uint32_t>(source),
                               line) != MixerError::Ok) {
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
    return audio::mixerGetValues(s.inputMixer, static_cast<std::uint32_t>(s.selector), 1, values) ==
           MixerError::Ok;
}

bool writeSelector(const std::vector<std::uint32_t>& values) {
    State& s = state();
    return audio::mixerSetValues(s.inputMixer, static_cast<std::uint32_t>(s.selector), 1, values) ==
           MixerError::Ok;
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
    if (audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) != MixerError::Ok) {
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
        audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) != MixerError::Ok) {
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
    // A microphone the user muted is opened only while something records from it.
    audio::mixerForgetHeldMutes();
    if (s.recordMute != kNone) {
        audio::mixerUnmuteWhileHeld(s.inputMixer, static_cast<std::uint32_t>(s.recordMute));
    }
    if (s.sourceMute != kNone) {
        audio::mixerUnmuteWhileHeld(s.inputMixer, static_cast<std::uint32_t>(s.sourceMute));
    }
    // Loud enough to record, for as long as the device is selected.
    if (getLevel(Side::Input) < 9) {
        writeBorrowed(s.inputBorrowed, s.inputMixer, s.sourceVolume,
                      levelToValue(9, s.inputMinimum, s.inputMaximum));
    }
    std::uint32_t record = 0;
    if (readOne(s.inputMixer, s.recordVolume, record) && record < s.inputMaximum / 10) {
        writeBorrowed(s.inputBorrowed, s.inputMixer, s.recordVolume, s.inputMaximum / 10);
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
    if (audio::mixerDestination(s.inputMixer, ComponentType::DstWaveIn, dest) != MixerError::Ok ||
        audio::mixerSourceLine(s.inputMixer, dest.destination, static_cast<std::uint32_t>(source),
                               line) != MixerError::Ok ||
        !readOne(s.inputMixer, controlOn(s.inputMixer, line.lineId, ControlType::Mute), muted)) {
        return 0;
    }
    return muted == 0 ? 1 : 0;
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
}  // namespace faderlib

using platform::guarded;

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

// A selector item's value (1 selected, 0 not); -1 on failure, told in a message box.
int32_t GetMixMuxSetting(uint32_t mixer, uint32_t control, int32_t item) {
    return guarded(-1, [&] { return faderlib::mixMuxSetting(mixer, control, item); });
}
