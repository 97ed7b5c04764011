#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi_sender.h"
#include "platform/midi_device.h"
#include "platform/midi_out.h"

// What each kind of MIDI output device provides to the device table in midi_out.cpp.
namespace platform::detail {

using MidiOutBackend = MidiOutDevice;

// ALSA sequencer output ports (midi_alsa.cpp). Empty, and silent, without the sequencer.
std::vector<std::string> alsaOutputPortNames();
MidiError openAlsaPort(std::uint32_t port, std::unique_ptr<MidiOutBackend>& out);
// Bytes a short message with this status byte occupies on the wire (1 to 3).
CVK_PLATFORM_API std::size_t shortMessageLength(std::uint8_t status);

// A port taking messages at its own pace through a sender thread of its own (an ALSA
// port, a test's stand-in): `sink` is its wire.
std::unique_ptr<MidiOutBackend> openQueuedPort(MidiSink sink);

// Tests and benchmarks: lists a port named `name` after every other device, with `sink`
// as its wire. An empty sink takes it off the list; a port already open keeps its sink.
CVK_PLATFORM_API void setTestPort(const std::string& name, MidiSink sink);

// Capture device (midi_capture.cpp): present when CVK_MIDI_CAPTURE names a file.
extern const char* const kCaptureName;  // "Capture"
MidiError openCapture(const std::string& path, std::unique_ptr<MidiOutBackend>& out);

}  // namespace platform::detail
