#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "platform/export.h"
#include "platform/midi_out.h"

// What a MIDI output device provides to the device table of midi_out.h, for devices that
// live in a library of their own (the built-in synthesizer).
namespace platform {

class MidiOutDevice {
public:
    virtual ~MidiOutDevice() = default;
    // Called from the timer thread, where it must not allocate, lock or wait, and, while
    // the timer stands still, from the caller's thread, where a device that cannot keep
    // up may make it wait for room.
    virtual void shortMessage(std::uint32_t message) noexcept = 0;
    // Every note off on every channel.
    virtual void reset() = 0;
    // See midiOutPreparePrograms: the caller's thread, never the timer's.
    virtual void preparePrograms(std::span<const MidiProgram> /*programs*/) {}
    // Messages lost since the open (a full queue on the timer thread, a stalled device).
    virtual std::uint64_t dropped() const noexcept { return 0; }
};

// Device 0 and the default device.
inline constexpr const char* kBuiltInSynthesizerName = "Built-in Synthesizer";

// Opens the built-in synthesizer; a result other than Ok leaves `out` empty.
using MidiDeviceOpener = MidiError (*)(std::unique_ptr<MidiOutDevice>& out);

// Installs the built-in synthesizer behind device 0. Until one is installed, device 0 is
// listed all the same and opening it fails with SynthFailed. Any thread.
CVK_PLATFORM_API void setBuiltInSynthesizer(MidiDeviceOpener opener);

// Runs `use` on the device open as `handle`, keeping it open meanwhile; InvalidHandle when
// nothing is open as `handle`.
CVK_PLATFORM_API MidiError useMidiOutDevice(MidiOutHandle handle,
                                            const std::function<void(MidiOutDevice&)>& use);

}  // namespace platform
