#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/midi_out.h"

// What each kind of MIDI output device provides to the device table in midi_out.cpp.
namespace platform::detail {

class MidiOutBackend {
public:
    virtual ~MidiOutBackend() = default;
    // Called from the timer thread and, while the timer stands still, from the caller's
    // thread. Must not allocate, lock or block.
    virtual void shortMessage(std::uint32_t message) noexcept = 0;
    // Every note off on every channel.
    virtual void reset() = 0;
    // Messages lost since the open (a full queue on the timer thread, a stalled device).
    virtual std::uint64_t dropped() const noexcept { return 0; }
};

// Built-in synthesizer (midi_synth.cpp).
extern const char* const kSynthesizerName;  // "Built-in Synthesizer"
// Loads the SoundFont platform::findSoundFont() names (soundfont.cpp).
MidiError openSynthesizer(std::unique_ptr<MidiOutBackend>& out);

// ALSA sequencer output ports (midi_alsa.cpp). Empty, and silent, without the sequencer.
std::vector<std::string> alsaOutputPortNames();
MidiError openAlsaPort(std::uint32_t port, std::unique_ptr<MidiOutBackend>& out);
// Bytes a short message with this status byte occupies on the wire (1 to 3).
CVK_PLATFORM_API std::size_t shortMessageLength(std::uint8_t status);

// Capture device (midi_capture.cpp): present when CVK_MIDI_CAPTURE names a file.
extern const char* const kCaptureName;  // "Capture"
MidiError openCapture(const std::string& path, std::unique_ptr<MidiOutBackend>& out);

}  // namespace platform::detail
