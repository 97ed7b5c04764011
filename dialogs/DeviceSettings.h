#pragma once

// What the preference dialogs need from their window beyond their own controls: the
// settings file, and the MIDI output devices the system offers. The window fills these in;
// a test may put its own in their place.

#include <functional>
#include <string>
#include <vector>

namespace dialogs {

struct SettingsFile {
    std::function<int(const std::string& section, const std::string& key, int fallback)> readInt;
    std::function<std::string(const std::string& section, const std::string& key)> readString;
    std::function<void(const std::string& section, const std::string& key, int value)> writeInt;
    std::function<void(const std::string& section, const std::string& key,
                       const std::string& value)>
        writeString;
};

// The product name of every MIDI output device, in device order.
using MidiOutDeviceList = std::function<std::vector<std::string>()>;

inline constexpr const char* kDefaultMidiDevice = "Default MIDI Device";
inline constexpr const char* kMidiDeviceSection = "Selected midi device";
inline constexpr const char* kMidiDeviceKey = "Device name";

}  // namespace dialogs
