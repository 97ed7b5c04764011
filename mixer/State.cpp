// The mixer library's state and the control lookups every part of it makes.

#include "State.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "faderlib/faderlib.h"
#include "platform/system.h"

namespace faderlib {

State& state() {
    static State s;
    return s;
}

void resetForTest() {
    State& s = state();
    closeHandle(s.outputHandle);
    closeHandle(s.inputHandle);
    audio::mixerForgetHeldMutes();
    s = State{};
}

// The program's settings file: $XDG_CONFIG_HOME/cantivo/CANTIVO.INI (~/.config without
// it), or beside the program where there is no home, as the window keeps it.
std::string settingsPath() {
    const std::string folder = platform::userSettingsFolder();
    return (folder.empty() ? platform::programFolder() : folder) + "CANTIVO.INI";
}

bool containsAny(const std::string& text, std::initializer_list<const char*> words) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
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

std::int64_t destinationControl(audio::MixerId mixer, ComponentType destination, ControlType type) {
    MixerLineInfo line;
    if (audio::mixerDestination(mixer, destination, line) != MixerError::Ok) {
        return kNone;
    }
    return controlOn(mixer, line.lineId, type);
}

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
    return control != kNone && audio::mixerSetValues(mixer, static_cast<std::uint32_t>(control), 1,
                                                     values) == MixerError::Ok;
}

void closeHandle(audio::MixerHandle& handle) {
    if (handle != 0) {
        audio::mixerClose(handle);
        handle = 0;
    }
}

}  // namespace faderlib
