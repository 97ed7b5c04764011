#include "synth/offline.h"

#include "synth/soundfont.h"
#include "synth_engine.h"

namespace synth {

std::unique_ptr<OfflineSynth> OfflineSynth::open(std::string& error) {
    const std::string path = findSoundFont();
    if (path.empty()) {
        error = "no General MIDI SoundFont found (install fluid-soundfont-gm or choose one)";
        return nullptr;
    }
    std::unique_ptr<OfflineSynth> synth(new OfflineSynth);
    synth->m_engine = detail::SynthEngine::load(path);
    if (synth->m_engine == nullptr) {
        error = "cannot load the SoundFont " + path;
        return nullptr;
    }
    return synth;
}

OfflineSynth::~OfflineSynth() = default;

const std::string& OfflineSynth::soundFont() const { return m_engine->path(); }

void OfflineSynth::apply(std::uint32_t message) { m_engine->apply(message); }

void OfflineSynth::render(float* interleaved, int frames) { m_engine->render(interleaved, frames); }

}  // namespace synth
