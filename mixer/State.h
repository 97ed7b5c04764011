#pragma once

// The mixer library's module-wide state, and what its parts share: finding a control on a
// line, reading and writing one value. Private to the library.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "audio/mixer.h"
#include "platform/messages.h"

namespace faderlib {

using audio::ComponentType;
using audio::ControlType;
using audio::MixerControlInfo;
using audio::MixerError;
using audio::MixerLineInfo;

constexpr std::int64_t kNone = -1;
constexpr std::size_t kDescriptionMax = 63;
constexpr std::size_t kDeviceNameMax = 31;

// A control the selection of a device changed (a mute switched off, a volume raised to
// be heard): its value before, given back when the device is let go unless the user
// changed it since.
struct Borrowed {
    audio::MixerId mixer = 0;
    std::int64_t control = kNone;
    std::uint32_t channels = 1;
    std::array<std::uint32_t, 2> before{};
    std::array<std::uint32_t, 2> written{};
};

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
    std::vector<Borrowed> outputBorrowed;

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
    std::vector<Borrowed> inputBorrowed;
};

State& state();

enum class Side { Output, Input };

// Whether the lower-cased text holds one of the words.
bool containsAny(const std::string& text, std::initializer_list<const char*> words);
// Copies at most `most` characters and a terminator to a caller's buffer.
void copyOut(const std::string& text, char* out, std::size_t most);

// The control of a type on a line; kNone when it has none.
std::int64_t controlOn(audio::MixerId mixer, std::uint32_t lineId, ControlType type);
// The control of a type on a destination line; kNone on any failure.
std::int64_t destinationControl(audio::MixerId mixer, ComponentType destination, ControlType type);
// The control of a type on the first source line of a type under a destination. A line of
// the right type without the control ends the search.
std::int64_t sourceControl(audio::MixerId mixer, ComponentType destination, ComponentType source,
                           ControlType type);
// The range of the speakers' volume.
bool readRange(audio::MixerId mixer, std::uint32_t& minimum, std::uint32_t& maximum);
bool readOne(audio::MixerId mixer, std::int64_t control, std::uint32_t& value);
bool writeOne(audio::MixerId mixer, std::int64_t control, std::uint32_t value);
void closeHandle(audio::MixerHandle& handle);

// Writes one value as the selection of a device does, remembering the value before.
bool writeBorrowed(std::vector<Borrowed>& borrowed, audio::MixerId mixer, std::int64_t control,
                   std::uint32_t value);
// Gives back every borrowed value the user left as the selection wrote it.
void giveBack(std::vector<Borrowed>& borrowed);

// Volumes.cpp
std::int32_t getLevel(Side side);
std::int32_t setLevel(Side side, std::int32_t level);
// Makes the output audible; through `borrowed` when the selection of the device does it.
std::int32_t unmuteOutput(std::vector<Borrowed>* borrowed);

}  // namespace faderlib
