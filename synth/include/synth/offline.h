#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "synth/export.h"

// The built-in synthesizer without a sound server: the same SoundFont and settings as
// the live device, its samples computed when the caller asks (rendering a song to a file).
// One thread at a time; instruments load when a program change selects them.
namespace synth {

namespace detail {
class SynthEngine;
}

class CVK_SYNTH_API OfflineSynth {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;

    // The synthesizer with the SoundFont the live device would load now (the choice made
    // with setSoundFontChoice first); nullptr, with `error` saying why, when there is none
    // or it cannot be read.
    static std::unique_ptr<OfflineSynth> open(std::string& error);
    ~OfflineSynth();
    OfflineSynth(const OfflineSynth&) = delete;
    OfflineSynth& operator=(const OfflineSynth&) = delete;

    const std::string& soundFont() const;
    // A one- to three-byte message packed as status | data1 << 8 | data2 << 16.
    void apply(std::uint32_t message);
    // The next `frames` stereo frames, interleaved.
    void render(float* interleaved, int frames);

private:
    OfflineSynth() = default;
    std::unique_ptr<detail::SynthEngine> m_engine;
};

}  // namespace synth
