#pragma once

// The microphone pass-through: a module-loopback from the recording source to a sink, so
// that the singer hears the microphone without the program in the path. It carries our
// mark with the loading process's id, so that one left behind by a run that crashed can be
// told from another running copy's.
//
// With the mainloop's lock held, on the caller's thread; the server's answers come to
// callbacks that only copy a number.

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <string_view>

#include "audio/mixer.h"

namespace audio {
class PulseContext;
}

namespace audio::detail {

class ServerModel;

class PassThrough {
public:
    bool loaded() const { return m_module != PA_INVALID_INDEX; }
    // The mixer whose sink it plays into.
    MixerId mixer() const { return m_mixer; }

    // Loads the loopback from the source to the sink; false when the server refused.
    bool load(PulseContext& pulse, ServerModel& model, std::string_view source,
              std::string_view sink, MixerId mixer);
    // The volume of what the loopback plays into the sink.
    bool setVolume(PulseContext& pulse, ServerModel& model, pa_volume_t volume);
    void unload(PulseContext& pulse);
    // Loopbacks of ours whose process has ended: a crash left them playing.
    void unloadAbandoned(PulseContext& pulse, ServerModel& model);
    // The connection broke: the server took the loopback with it, or has it still when only
    // the connection broke (unloadAbandoned finds it by our mark then). Its index means
    // nothing to a server started again, and unloading by it could take another's module.
    void forget() {
        m_module = PA_INVALID_INDEX;
        m_input = PA_INVALID_INDEX;
    }

private:
    bool unloadModule(PulseContext& pulse, std::uint32_t module);

    static void onLoaded(pa_context*, std::uint32_t index, void* user);
    static void onSuccess(pa_context*, int success, void* user);

    PulseContext* m_pulse = nullptr;  // signalled by the callbacks
    std::uint32_t m_loaded = PA_INVALID_INDEX;
    bool m_success = false;

    std::uint32_t m_module = PA_INVALID_INDEX;
    MixerId m_mixer = 0;
    // The loopback's stream into the sink, once found.
    std::uint32_t m_input = PA_INVALID_INDEX;
    std::uint8_t m_channels = 0;
};

}  // namespace audio::detail
