#pragma once

#include <array>
#include <cstdint>

#include "platform/midi_out.h"
#include "synth/export.h"

// The built-in synthesizer: a General MIDI SoundFont played by FluidSynth, rendered in a
// stream of the sound server's, offered as MIDI output device 0.
namespace synth {

// Offers the synthesizer behind MIDI output device 0. Loading the library does it; a
// program calls it too, so that a linker that leaves out unreferenced libraries keeps this
// one. Any thread, any number of times.
CVK_SYNTH_API void install();

// What one channel of the synthesizer has been told.
struct SynthChannelState {
    std::array<int, 128> controllers{};
    int bank = 0;
    int program = 0;
    int pitchBend = 0;
    int pitchBendRange = 0;
    bool operator==(const SynthChannelState&) const = default;
};

// Tests: waits until every message sent to the synthesizer open as `handle` has been
// applied, then reads its channels. False for another device or a stalled one.
CVK_SYNTH_API bool readSynthesizerChannels(platform::MidiOutHandle handle,
                                           std::array<SynthChannelState, 16>& out);

// Tests and benchmarks: what loading instruments has cost the render callback since the
// process started.
struct SynthLoadCounts {
    // SoundFont file opens inside the render callback: each is an instrument loaded (or
    // looked up) there, while every stream of the process waits.
    std::uint64_t opensWhileRendering = 0;
    // Program changes that found their instrument not ready and waited for it.
    std::uint64_t heldPrograms = 0;
};
CVK_SYNTH_API SynthLoadCounts synthesizerLoadCounts();
// Tests and benchmarks: how often the synthesizer's stream has run dry while a song could
// play (a session open) since the process started. Any thread.
CVK_SYNTH_API std::uint64_t synthesizerUnderruns();
// Tests and benchmarks: how often since the process started the synthesizer moved its
// clock or applied a message late — notes after either are heard off their time (a
// machine too busy to judge timing by). Any thread.
CVK_SYNTH_API std::uint64_t synthesizerTimingSlips();

// How long after the time it was due a note sent now is heard: the synthesizer's own
// scheduling latency plus its stream's latency as the sound server reports it (one round
// trip to the server, on the caller's thread). False while no song plays through it.
// `sinkMicros`, when given, gets the latency of the sink it plays on: how long after it
// was handed to the server the first audio of a new stream there is heard.
CVK_SYNTH_API bool synthesizerOutputDelay(std::int64_t& micros, std::int64_t* sinkMicros = nullptr);

}  // namespace synth
