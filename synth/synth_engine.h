#pragma once

// The built-in synthesizer's FluidSynth instance with its SoundFont.
//
// Loading a General MIDI SoundFont whole means reading and copying well over 100 MB, most
// of a second even from the page cache; a song needs a handful of its instruments. So
// samples are loaded per instrument, when a channel first selects it, and kept: the first
// sound of a song comes after tens of milliseconds, and each instrument costs its load
// once per process.

#include <fluidsynth.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "synth/synthesizer.h"

namespace synth::detail {

class SynthEngine {
public:
    static constexpr int kSampleRate = 44100;

    ~SynthEngine();
    SynthEngine(const SynthEngine&) = delete;
    SynthEngine& operator=(const SynthEngine&) = delete;

    // Creates the synthesizer and reads the SoundFont's instruments; nullptr on failure.
    static std::unique_ptr<SynthEngine> load(const std::string& path);

    const std::string& path() const { return m_path; }

    // Loads and keeps the samples of an instrument (a missing one is passed over). The
    // render thread must be kept out meanwhile.
    void prepare(int bank, int program);

    // Render thread only, like everything below.
    void apply(std::uint32_t message);
    // Every channel back to its defaults, every voice cut, reverb and chorus emptied.
    void reset();
    void render(float* interleaved, int frames);
    void readChannels(std::array<SynthChannelState, 16>& out);

private:
    SynthEngine() = default;
    void keepChannelInstrument(int channel);
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

}  // namespace synth::detail
