#include "synth_engine.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace synth::detail {
namespace {

constexpr int kPolyphony = 256;

std::atomic<bool> g_debug{false};

void fluidLog(int level, const char* message, void*) {
    if (g_debug.load(std::memory_order_relaxed)) {
        std::fprintf(stderr, "synth: fluidsynth (%d): %s\n", level, message);
    }
}

thread_local bool t_rendering = false;
std::atomic<std::uint64_t> g_opensWhileRendering{0};

// FluidSynth's own file access, but counting the opens made inside a render callback.
void* openFont(const char* path) {
    if (t_rendering) {
        g_opensWhileRendering.fetch_add(1, std::memory_order_relaxed);
    }
    return std::fopen(path, "rb");
}

int readFont(void* buffer, fluid_long_long_t count, void* file) {
    return std::fread(buffer, static_cast<std::size_t>(count), 1, static_cast<std::FILE*>(file)) == 1
               ? FLUID_OK
               : FLUID_FAILED;
}

int seekFont(void* file, fluid_long_long_t offset, int origin) {
    return fseeko(static_cast<std::FILE*>(file), static_cast<off_t>(offset), origin) == 0 ? FLUID_OK
                                                                                         : FLUID_FAILED;
}

fluid_long_long_t tellFont(void* file) {
    return static_cast<fluid_long_long_t>(ftello(static_cast<std::FILE*>(file)));
}

int closeFont(void* file) {
    return std::fclose(static_cast<std::FILE*>(file)) == 0 ? FLUID_OK : FLUID_FAILED;
}

}  // namespace

RenderingScope::RenderingScope() { t_rendering = true; }
RenderingScope::~RenderingScope() { t_rendering = false; }

std::uint64_t fontOpensWhileRendering() {
    return g_opensWhileRendering.load(std::memory_order_relaxed);
}

void quietFluidSynth() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* debug = std::getenv("CVK_DEBUG");
        g_debug.store(debug != nullptr && *debug != '\0');
        for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level) {
            fluid_set_log_function(level, fluidLog, nullptr);
        }
    });
}

SynthEngine::~SynthEngine() {
    if (m_synth != nullptr) {
        delete_fluid_synth(m_synth);
    }
    if (m_settings != nullptr) {
        delete_fluid_settings(m_settings);
    }
}

std::unique_ptr<SynthEngine> SynthEngine::load(const std::string& path) {
    quietFluidSynth();
    std::unique_ptr<SynthEngine> engine(new SynthEngine);
    engine->m_path = path;
    engine->m_settings = new_fluid_settings();
    if (engine->m_settings == nullptr) {
        return nullptr;
    }
    fluid_settings_t* settings = engine->m_settings;
    fluid_settings_setnum(settings, "synth.sample-rate", kSampleRate);
    fluid_settings_setint(settings, "synth.polyphony", kPolyphony);
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    // One thread drives the synthesizer at a time (the stream's callback, or the opening
    // thread while the stream waits): the API mutex would be pure cost in the callback.
    fluid_settings_setint(settings, "synth.threadsafe-api", 0);
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(settings, "synth.lock-memory", 0);
    engine->m_scratch.assign(2 * kFadeFrames, 0.0f);
    engine->m_synth = new_fluid_synth(settings);
    if (engine->m_synth == nullptr) {
        return nullptr;
    }
    // Tried before the synthesizer's own loader: the same SoundFont reader, with file
    // access that counts.
    fluid_sfloader_t* loader = new_fluid_defsfloader(settings);
    if (loader == nullptr) {
        return nullptr;
    }
    fluid_sfloader_set_callbacks(loader, openFont, readFont, seekFont, tellFont, closeFont);
    fluid_synth_add_sfloader(engine->m_synth, loader);
    // Only the instruments' descriptions; no channel selects one yet.
    engine->m_font = fluid_synth_sfload(engine->m_synth, path.c_str(), 0);
    if (engine->m_font == FLUID_FAILED) {
        return nullptr;
    }
    if (g_debug.load()) {
        std::fprintf(stderr, "synth: SoundFont %s\n", path.c_str());
    }
    return engine;
}

std::optional<Instrument> SynthEngine::resolve(int bank, int program) const {
    fluid_sfont_t* font = fluid_synth_get_sfont_by_id(m_synth, m_font);
    if (font == nullptr) {
        return std::nullopt;
    }
    const auto has = [font](int b, int p) { return fluid_sfont_get_preset(font, b, p) != nullptr; };
    if (has(bank, program)) {
        return Instrument{bank, program};
    }
    if (bank == kDrumBank) {
        return has(kDrumBank, 0) ? std::optional<Instrument>(Instrument{kDrumBank, 0}) : std::nullopt;
    }
    if (has(0, program)) {
        return Instrument{0, program};
    }
    return has(0, 0) ? std::optional<Instrument>(Instrument{0, 0}) : std::nullopt;
}

void SynthEngine::pin(const Instrument& instrument) {
    fluid_synth_pin_preset(m_synth, m_font, instrument.bank, instrument.program);
}

void SynthEngine::apply(std::uint32_t message) {
    const int status = static_cast<int>(message & 0xFF);
    const int channel = status & 0x0F;
    const int data1 = static_cast<int>((message >> 8) & 0x7F);
    const int data2 = static_cast<int>((message >> 16) & 0x7F);
    // The silence a device is given when it closes (pedal up, notes off) leaves a fresh
    // synthesizer as fresh as it was; anything else gives the next reset work to do.
    const bool silencing = (status & 0xF0) == 0xB0 && ((data1 == 64 && data2 == 0) || data1 == 120 ||
                                                       data1 == 121 || data1 == 123);
    m_fresh = m_fresh && silencing;
    switch (status & 0xF0) {
        case 0x80:
            fluid_synth_noteoff(m_synth, channel, data1);
            break;
        case 0x90:
            if (data2 == 0) {
                fluid_synth_noteoff(m_synth, channel, data1);
            } else {
                if (fluid_synth_get_channel_preset(m_synth, channel) == nullptr) {
                    selectDefaultInstrument(channel);
                }
                fluid_synth_noteon(m_synth, channel, data1, data2);
            }
            break;
        case 0xA0:
            fluid_synth_key_pressure(m_synth, channel, data1, data2);
            break;
        case 0xB0:
            // FluidSynth treats 120 (all sound off), 121 (reset controllers) and 123 (all
            // notes off) as the channel mode messages they are.
            fluid_synth_cc(m_synth, channel, data1, data2);
            break;
        case 0xC0:
            fluid_synth_program_change(m_synth, channel, data1);
            break;
        case 0xD0:
            fluid_synth_channel_pressure(m_synth, channel, data1);
            break;
        case 0xE0:
            fluid_synth_pitch_bend(m_synth, channel, data1 | (data2 << 7));
            break;
        default:
            break;  // system messages and stray data bytes mean nothing to a GM synthesizer
    }
}

void SynthEngine::changeProgram(int channel, int bankMsb, int program, int currentBankMsb) {
    m_fresh = false;
    const bool otherBank = channel != kDrumChannel && bankMsb != currentBankMsb;
    if (otherBank) {
        fluid_synth_bank_select(m_synth, channel, bankMsb);
    }
    fluid_synth_program_change(m_synth, channel, program);
    if (otherBank) {
        fluid_synth_bank_select(m_synth, channel, currentBankMsb);
    }
}

// A channel that plays before any program change plays the General MIDI default: the
// piano, or on the drum channel the standard kit. Bank selects wait for a program change.
void SynthEngine::selectDefaultInstrument(int channel) {
    fluid_synth_program_select(m_synth, channel, m_font, channel == kDrumChannel ? kDrumBank : 0, 0);
}

void SynthEngine::reset() {
    // The system reset empties the reverb and chorus but lets voices ring on; cutting the
    // voices must come after it, or the reset brings them back. A cut voice still fades
    // for a few blocks, into the reverb, which would give it back 60 ms later and ring
    // for a second: let the fade run out where nobody hears it, and empty the effects
    // once more.
    if (m_fresh) {
        return;  // nothing has played: there is nothing to reset
    }
    fluid_synth_system_reset(m_synth);
    fluid_synth_all_sounds_off(m_synth, -1);
    render(m_scratch.data(), kFadeFrames);
    fluid_synth_system_reset(m_synth);
}

void SynthEngine::render(float* interleaved, int frames) {
    fluid_synth_write_float(m_synth, frames, interleaved, 0, 2, interleaved, 1, 2);
}

void SynthEngine::readChannels(std::array<SynthChannelState, 16>& out) {
    for (int channel = 0; channel < 16; ++channel) {
        SynthChannelState& state = out[static_cast<std::size_t>(channel)];
        for (int controller = 0; controller < 128; ++controller) {
            fluid_synth_get_cc(m_synth, channel, controller,
                               &state.controllers[static_cast<std::size_t>(controller)]);
        }
        int font = 0;
        fluid_synth_get_program(m_synth, channel, &font, &state.bank, &state.program);
        fluid_synth_get_pitch_bend(m_synth, channel, &state.pitchBend);
        fluid_synth_get_pitch_wheel_sens(m_synth, channel, &state.pitchBendRange);
    }
}

}  // namespace synth::detail
