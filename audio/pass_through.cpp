#include "pass_through.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "audio/pulse_context.h"
#include "server_model.h"

namespace audio::detail {
namespace {

bool processGone(long pid) {
    return pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

}  // namespace

bool PassThrough::load(PulseContext& pulse, ServerModel& model, std::string_view source,
                       std::string_view sink, MixerId mixer) {
    const std::string arguments = "source=" + std::string(source) + " sink=" + std::string(sink) +
                                  " latency_msec=20 source_dont_move=true sink_dont_move=true"
                                  " sink_input_properties=" +
                                  kPassThroughMark + "=" + std::to_string(::getpid());
    m_pulse = &pulse;
    m_loaded = PA_INVALID_INDEX;
    if (!pulse.complete(pa_context_load_module(pulse.context(), "module-loopback",
                                               arguments.c_str(), onLoaded, this)) ||
        m_loaded == PA_INVALID_INDEX) {
        return false;
    }
    m_module = m_loaded;
    m_mixer = mixer;
    m_input = PA_INVALID_INDEX;
    // Its stream into the sink came with it; the event saying so may still be on its way.
    model.markStale(ServerModel::kSinkInputs | ServerModel::kModules);
    return true;
}

bool PassThrough::setVolume(PulseContext& pulse, ServerModel& model, pa_volume_t volume) {
    if (m_input == PA_INVALID_INDEX && model.refresh(pulse, ServerModel::kSinkInputs)) {
        for (const ModuleSinkInput& input : model.moduleSinkInputs()) {
            if (input.ownerModule == m_module) {
                m_input = input.index;
                m_channels = input.channels;
            }
        }
    }
    if (m_input == PA_INVALID_INDEX) {
        return false;
    }
    pa_cvolume volumes;
    pa_cvolume_set(&volumes, m_channels, volume);
    m_pulse = &pulse;
    m_success = false;
    return pulse.complete(pa_context_set_sink_input_volume(pulse.context(), m_input, &volumes,
                                                           onSuccess, this)) &&
           m_success;
}

void PassThrough::unload(PulseContext& pulse) {
    if (m_module != PA_INVALID_INDEX) {
        unloadModule(pulse, m_module);
        forget();
    }
}

void PassThrough::unloadAbandoned(PulseContext& pulse, ServerModel& model) {
    if (!model.refresh(pulse, ServerModel::kModules)) {
        return;
    }
    bool unloaded = false;
    for (const PassThroughModule& module : model.passThroughModules()) {
        if (module.index != m_module && (module.pid == ::getpid() || processGone(module.pid))) {
            unloaded = unloadModule(pulse, module.index) || unloaded;
        }
    }
    if (unloaded) {
        model.markStale(ServerModel::kModules | ServerModel::kSinkInputs);
    }
}

bool PassThrough::unloadModule(PulseContext& pulse, std::uint32_t module) {
    m_pulse = &pulse;
    m_success = false;
    return pulse.complete(pa_context_unload_module(pulse.context(), module, onSuccess, this)) &&
           m_success;
}

// On the mainloop's thread.
void PassThrough::onLoaded(pa_context*, std::uint32_t index, void* user) {
    auto* self = static_cast<PassThrough*>(user);
    self->m_loaded = index;
    self->m_pulse->signal();
}

void PassThrough::onSuccess(pa_context*, int success, void* user) {
    auto* self = static_cast<PassThrough*>(user);
    self->m_success = success != 0;
    self->m_pulse->signal();
}

}  // namespace audio::detail
