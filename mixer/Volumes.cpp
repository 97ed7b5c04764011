// Volumes, switches and levels of the selected mixers' controls, and making the output
// audible.

#include <algorithm>
#include <array>
#include <vector>

#include "State.h"
#include "faderlib/faderlib.h"
#include "platform/guarded.h"

namespace faderlib {
namespace {

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
                              static_cast<std::uint32_t>(control), count, read) != MixerError::Ok) {
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

// Writes one value; borrowed when `borrowed` is given.
bool writeFor(std::vector<Borrowed>* borrowed, audio::MixerId mixer, std::int64_t control,
              std::uint32_t value) {
    return borrowed != nullptr ? writeBorrowed(*borrowed, mixer, control, value)
                               : writeOne(mixer, control, value);
}

// Raises a volume below a tenth of the range's maximum to that tenth.
bool raiseToTenth(std::vector<Borrowed>* borrowed, audio::MixerId mixer, std::int64_t control,
                  std::uint32_t maximum) {
    std::uint32_t value = 0;
    if (!readOne(mixer, control, value)) {
        return false;
    }
    if (value < maximum / 10) {
        writeFor(borrowed, mixer, control, maximum / 10);
    }
    return true;
}

}  // namespace

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

std::int32_t unmuteOutput(std::vector<Borrowed>* borrowed) {
    State& s = state();
    if (s.outputIndex < 0) {
        return -1;
    }
    if (s.masterMute == kNone || s.waveMute == kNone) {
        return -2;
    }
    if (!writeFor(borrowed, s.outputMixer, s.masterMute, 0)) {
        return -3;
    }
    if (!raiseToTenth(borrowed, s.outputMixer, s.waveVolume, s.outputMaximum)) {
        return -3;
    }
    s.masterVolume =
        destinationControl(s.outputMixer, ComponentType::DstSpeakers, ControlType::Volume);
    if (!raiseToTenth(borrowed, s.outputMixer, s.masterVolume, s.outputMaximum)) {
        return -3;
    }
    return 0;
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
    return guarded(-3, [] { return faderlib::unmuteOutput(nullptr); });
}
