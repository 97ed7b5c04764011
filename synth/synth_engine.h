#pragma once

// The built-in synthesizer's FluidSynth instance with its SoundFont.
//
// Loading a General MIDI SoundFont whole means reading and copying well over 100 MB, most
// of a second even from the page cache (and decoding it all, for an .sf3); a song needs a
// handful of its instruments. So samples are loaded per instrument, and kept once loaded
// ("pinned"): each instrument costs its load once per process. The loads happen off the
// render thread (program_loader.h); the render thread only selects instruments whose
// samples are there, which costs it nothing but a few counters.
//
// FluidSynth keeps loaded samples in one cache for the whole process, shared by every
// instance that plays the same file: once one instance has loaded an instrument, pinning
// it in another takes a file open and a look-up per sample, no reading or decoding.

#include <fluidsynth.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "synth/synthesizer.h"

namespace synth::detail {

inline constexpr int kDrumChannel = 9;
inline constexpr int kDrumBank = 128;

// A preset of the SoundFont.
struct Instrument {
    int bank = 0;
    int program = 0;
};

class SynthEngine {
public:
    static constexpr int kSampleRate = 44100;

    ~SynthEngine();
    SynthEngine(const SynthEngine&) = delete;
    SynthEngine& operator=(const SynthEngine&) = delete;

    // Creates the synthesizer and reads the SoundFont's instruments (not their samples);
    // nullptr on failure.
    static std::unique_ptr<SynthEngine> load(const std::string& path);

    const std::string& path() const { return m_path; }

    // The preset a program change to `program` selects from `bank` (128 on the drum
    // channel), as FluidSynth chooses it: a melodic program missing from its bank is
    // taken from bank 0, then bank 0's first preset; a missing drum kit is the standard
    // one. Empty when the SoundFont has none of them. Reads only what load() built, so
    // any thread may ask.
    std::optional<Instrument> resolve(int bank, int program) const;

    // Loads and keeps the samples of `instrument`. The render thread must be kept out.
    void pin(const Instrument& instrument);

    // Render thread only, like everything below.
    void apply(std::uint32_t message);
    // A program change as `bankMsb` (the channel's controller 0 when it was sent) chose
    // it, with the channel's bank select left at `currentBankMsb`.
    void changeProgram(int channel, int bankMsb, int program, int currentBankMsb);
    // Every channel back to its defaults, every voice cut, reverb and chorus emptied.
    void reset();
    void render(float* interleaved, int frames);
    void readChannels(std::array<SynthChannelState, 16>& out);

private:
    SynthEngine() = default;
    void selectDefaultInstrument(int channel);

    static constexpr int kFadeFrames = 1024;

    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
    int m_font = 0;  // the SoundFont's identifier in the synthesizer
    bool m_fresh = true;  // no message applied since the load: no channel holds anything
    std::string m_path;
    std::vector<float> m_scratch;  // where a reset's fade is rendered
};

// Routes FluidSynth's own log to stderr when CVK_DEBUG is set, else nowhere.
void quietFluidSynth();

// Marks the calling thread as the render thread for as long as it lives.
class RenderingScope {
public:
    RenderingScope();
    ~RenderingScope();
    RenderingScope(const RenderingScope&) = delete;
    RenderingScope& operator=(const RenderingScope&) = delete;
};

// How often a SoundFont was opened on a thread inside a RenderingScope since the process
// started. FluidSynth opens the file for every instrument it loads (or finds in its
// cache), so anything but 0 means a render callback waited for samples.
std::uint64_t fontOpensWhileRendering();

}  // namespace synth::detail
