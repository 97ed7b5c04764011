#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/export.h"

// MIDI output devices by index, as the sequencer expects them.
//
// Devices, in index order: the built-in synthesizer (0), the ALSA sequencer's output
// ports when the ALSA sequencer exists, and "Capture" when CVK_MIDI_CAPTURE names a
// file. Device kMidiMapper (-1) is the default device, the built-in synthesizer.
namespace platform {

using MidiOutHandle = std::uint32_t;  // 0 = none
constexpr std::int32_t kMidiMapper = -1;
constexpr std::size_t kMidiProductNameMax = 31;

enum class MidiError : std::uint32_t {
    Ok = 0,
    Error = 1,
    BadDeviceId = 2,
    Allocated = 4,
    InvalidHandle = 5,
    NoMemory = 7,
    NoSoundFont = 64,
    NoSoundServer = 65,
    SynthFailed = 66,
    PortFailed = 67,
    CaptureFile = 68,
};

CVK_PLATFORM_API std::uint32_t midiOutDeviceCount();
// Product name of a device, at most 31 characters; empty for a bad index.
CVK_PLATFORM_API std::string midiOutDeviceName(std::uint32_t deviceId);
// The first device whose product name is exactly `name`, letter case and all; kMidiMapper
// when the name is empty or no device has it. The devices are listed once.
CVK_PLATFORM_API std::int32_t midiOutDeviceNamed(const std::string& name);

CVK_PLATFORM_API MidiError midiOutOpen(MidiOutHandle* handle, std::int32_t deviceId);
// A program a song selects: the channel, the bank select in force there (controllers 0
// and 32) and the program number.
struct MidiProgram {
    std::uint8_t channel = 0;
    std::uint8_t bankMsb = 0;
    std::uint8_t bankLsb = 0;
    std::uint8_t program = 0;
    bool operator==(const MidiProgram&) const = default;
};
// Gets the device ready to switch to each of `programs` without a pause in the sound (the
// built-in synthesizer loads their instruments' samples); a device with nothing to load
// returns at once. Before a song plays, on the thread that starts it (never the timer's):
// it may take a second or more the first time. Any program change may still be sent
// without it; the device then catches up as it can.
CVK_PLATFORM_API MidiError midiOutPreparePrograms(MidiOutHandle handle,
                                                  std::span<const MidiProgram> programs);
// Sends a one- to three-byte message packed as status | data1 << 8 | data2 << 16.
// Real-time safe on the timer thread: no allocation, no lock, no waiting. On any other
// thread a device that cannot keep up may make the caller wait for room.
CVK_PLATFORM_API MidiError midiOutShortMessage(MidiOutHandle handle, std::uint32_t message) noexcept;
// Messages the device could not take since it was opened (0 for a bad handle). A sender
// on the timer thread never waits, so a device that cannot keep up loses messages; any
// other sender waits for room and loses nothing unless the device has stalled.
CVK_PLATFORM_API std::uint64_t midiOutDroppedCount(MidiOutHandle handle) noexcept;
// Turns every note off on every channel.
CVK_PLATFORM_API MidiError midiOutReset(MidiOutHandle handle);
CVK_PLATFORM_API MidiError midiOutClose(MidiOutHandle handle);
CVK_PLATFORM_API std::string midiOutErrorText(MidiError error);

}  // namespace platform
