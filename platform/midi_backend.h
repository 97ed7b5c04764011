#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi_sender.h"
#include "platform/midi_out.h"

// What each kind of MIDI output device provides to the device table in midi_out.cpp.
namespace platform::detail {

class MidiOutBackend {
public:
    virtual ~MidiOutBackend() = default;
    // Called from the timer thread, where it must not allocate, lock or wait, and, while
    // the timer stands still, from the caller's thread, where a device that cannot keep
    // up may make it wait for room.
    virtual void shortMessage(std::uint32_t message) noexcept = 0;
    // Every note off on every channel.
    virtual void reset() = 0;
    // Messages lost since the open (a full queue on the timer thread, a stalled device).
    virtual std::uint64_t dropped() const noexcept { return 0; }
};

// Built-in synthesizer (midi_synth.cpp).
struct SynthChannelState {
    std::array<int, 128> controllers{};
    int bank = 0;
    int program = 0;
    int pitchBend = 0;
    int pitchBendRange = 0;
    bool operator==(const SynthChannelState&) const = default;
};
extern const char* const kSynthesizerName;  // "Built-in Synthesizer"
// Loads the SoundFont platform::findSoundFont() names (soundfont.cpp).
MidiError openSynthesizer(std::unique_ptr<MidiOutBackend>& out);

bool readSynthChannels(MidiOutBackend& backend, std::array<SynthChannelState, 16>& out);
// Tests: waits until every message sent to the built-in synthesizer open as `handle` has
// been applied, then reads its channels. False for another device or a stalled one.
CVK_PLATFORM_API bool readSynthesizerChannels(MidiOutHandle handle,
                                              std::array<SynthChannelState, 16>& out);

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
