#include "server_model.h"

#include <cstdlib>
#include <cstring>

#include "audio/pulse_context.h"

namespace audio::detail {
namespace {

// What sinks and sources say alike; false when the entry cannot hold the device's name.
template <typename Info>
bool describe(ServerDevice& device, const Info& info) noexcept {
    device.index = info.index;
    device.description.assignCut(info.description != nullptr ? info.description : info.name);
    device.volume = info.volume;
    device.mute = info.mute != 0;
    return device.name.assign(info.name);
}

// Copies `from` into `to`, the one named `first` in front.
template <typename List>
void defaultFirst(const List& from, List& to, std::string_view first) noexcept {
    to.count = 0;
    for (const auto& device : from.items()) {
        if (device.name == first) {
            *to.add() = device;
        }
    }
    for (const auto& device : from.items()) {
        if (!(device.name == first)) {
            *to.add() = device;
        }
    }
}

template <typename List>
const ServerDevice* named(const List& devices, std::string_view name) noexcept {
    for (const ServerDevice& device : devices.items()) {
        if (device.name == name) {
            return &device;
        }
    }
    return nullptr;
}

template <typename List>
const ServerDevice* numbered(const List& devices, std::uint32_t index) noexcept {
    for (const ServerDevice& device : devices.items()) {
        if (device.index == index) {
            return &device;
        }
    }
    return nullptr;
}

}  // namespace

bool ServerModel::refresh(PulseContext& pulse, unsigned parts) {
    const unsigned wanted = parts & m_stale;
    if (wanted == 0) {
        return true;
    }
    // Cleared before asking: an event that comes while the answer is on its way marks the
    // part stale again, and the next refresh asks once more.
    m_stale &= ~wanted;
    m_failed = 0;
    m_pulse = &pulse;
    pa_context* context = pulse.context();
    std::array<pa_operation*, 5> operations{};
    std::size_t sent = 0;
    if ((wanted & kDefaults) != 0) {
        operations[sent++] = pa_context_get_server_info(context, onServer, this);
    }
    if ((wanted & kSinks) != 0) {
        m_landedSinks.count = 0;
        operations[sent++] = pa_context_get_sink_info_list(context, onSink, this);
    }
    if ((wanted & kSources) != 0) {
        m_landedSources.count = 0;
        operations[sent++] = pa_context_get_source_info_list(context, onSource, this);
    }
    if ((wanted & kModules) != 0) {
        m_landedModules.count = 0;
        operations[sent++] = pa_context_get_module_info_list(context, onModule, this);
    }
    if ((wanted & kSinkInputs) != 0) {
        m_landedSinkInputs.count = 0;
        operations[sent++] = pa_context_get_sink_input_info_list(context, onSinkInput, this);
    }
    if (!pulse.completeAll(std::span(operations.data(), sent)) || m_failed != 0) {
        m_stale |= wanted;
        return false;
    }
    takeLanded(wanted);
    return true;
}

void ServerModel::takeLanded(unsigned parts) noexcept {
    if ((parts & kDefaults) != 0) {
        m_defaultSink = m_landedDefaultSink;
        m_defaultSource = m_landedDefaultSource;
    }
    // A new default moves to the front even when its list was not asked for again.
    if ((parts & (kDefaults | kSinks)) != 0) {
        if ((parts & kSinks) == 0) {
            m_landedSinks = m_sinks;
        }
        defaultFirst(m_landedSinks, m_sinks, m_defaultSink.view());
    }
    if ((parts & (kDefaults | kSources)) != 0) {
        if ((parts & kSources) == 0) {
            m_landedSources = m_sources;
        }
        defaultFirst(m_landedSources, m_sources, m_defaultSource.view());
        ++m_sourceListings;
    }
    if ((parts & kModules) != 0) {
        m_modules = m_landedModules;
    }
    if ((parts & kSinkInputs) != 0) {
        m_sinkInputs = m_landedSinkInputs;
    }
}

void ServerModel::forget() noexcept {
    m_stale = kEverything;
    m_sinks.count = 0;
    m_sources.count = 0;
    m_modules.count = 0;
    m_sinkInputs.count = 0;
    m_defaultSink.assign("");
    m_defaultSource.assign("");
    ++m_sourceListings;
}

void ServerModel::changed(pa_subscription_event_type_t event) noexcept {
    switch (event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
        case PA_SUBSCRIPTION_EVENT_SERVER:
            m_stale |= kDefaults;
            break;
        case PA_SUBSCRIPTION_EVENT_SINK:
            m_stale |= kSinks;
            break;
        case PA_SUBSCRIPTION_EVENT_SOURCE:
            m_stale |= kSources;
            break;
        case PA_SUBSCRIPTION_EVENT_MODULE:
            m_stale |= kModules;
            break;
        case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
            m_stale |= kSinkInputs;
            break;
        default:
            break;
    }
}

const ServerDevice* ServerModel::sink(std::string_view name) const noexcept {
    return named(m_sinks, name);
}

const ServerDevice* ServerModel::source(std::string_view name) const noexcept {
    return named(m_sources, name);
}

const ServerDevice* ServerModel::sinkAt(std::uint32_t index) const noexcept {
    return numbered(m_sinks, index);
}

const ServerDevice* ServerModel::sourceAt(std::uint32_t index) const noexcept {
    return numbered(m_sources, index);
}

bool ServerModel::setVolume(PulseContext& pulse, bool sink, std::uint32_t index,
                            const pa_cvolume& volume) {
    m_pulse = &pulse;
    m_success = false;
    pa_operation* operation =
        sink ? pa_context_set_sink_volume_by_index(pulse.context(), index, &volume, onSuccess, this)
             : pa_context_set_source_volume_by_index(pulse.context(), index, &volume, onSuccess,
                                                     this);
    if (!pulse.complete(operation) || !m_success) {
        return false;
    }
    for (ServerDevice& device : (sink ? m_sinks : m_sources).items()) {
        if (device.index == index) {
            device.volume = volume;
        }
    }
    return true;
}

bool ServerModel::setMute(PulseContext& pulse, bool sink, std::uint32_t index, bool mute) {
    m_pulse = &pulse;
    m_success = false;
    pa_operation* operation =
        sink ? pa_context_set_sink_mute_by_index(pulse.context(), index, mute, onSuccess, this)
             : pa_context_set_source_mute_by_index(pulse.context(), index, mute, onSuccess, this);
    if (!pulse.complete(operation) || !m_success) {
        return false;
    }
    for (ServerDevice& device : (sink ? m_sinks : m_sources).items()) {
        if (device.index == index) {
            device.mute = mute;
        }
    }
    return true;
}

// --- on the mainloop's thread: copying only ----------------------------------------------

void ServerModel::onServer(pa_context*, const pa_server_info* info, void* user) {
    auto* self = static_cast<ServerModel*>(user);
    if (info != nullptr) {
        self->m_landedDefaultSink.assign(info->default_sink_name);
        self->m_landedDefaultSource.assign(info->default_source_name);
    } else {
        self->m_failed |= kDefaults;
    }
    self->m_pulse->signal();
}

void ServerModel::onSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
    auto* self = static_cast<ServerModel*>(user);
    if (info != nullptr) {
        ServerDevice* device = self->m_landedSinks.add();
        if (device != nullptr &&
            (!describe(*device, *info) || !device->monitorSource.assign(info->monitor_source_name))) {
            --self->m_landedSinks.count;
        }
    } else if (eol < 0) {
        self->m_failed |= kSinks;
    }
    self->m_pulse->signal();
}

void ServerModel::onSource(pa_context*, const pa_source_info* info, int eol, void* user) {
    auto* self = static_cast<ServerModel*>(user);
    if (info != nullptr) {
        ServerDevice* device = self->m_landedSources.add();
        if (device != nullptr) {
            device->monitor = info->monitor_of_sink != PA_INVALID_INDEX;
            if (!describe(*device, *info)) {
                --self->m_landedSources.count;
            }
        }
    } else if (eol < 0) {
        self->m_failed |= kSources;
    }
    self->m_pulse->signal();
}

void ServerModel::onModule(pa_context*, const pa_module_info* info, int eol, void* user) {
    auto* self = static_cast<ServerModel*>(user);
    if (info != nullptr && info->name != nullptr && info->argument != nullptr &&
        std::strcmp(info->name, "module-loopback") == 0) {
        // The mark rides in the loopback's arguments: "...=cantivo.pass_through_pid=1234".
        constexpr std::size_t kMarkLength = sizeof kPassThroughMark - 1;
        const char* mark = std::strstr(info->argument, kPassThroughMark);
        if (mark != nullptr && mark[kMarkLength] == '=') {
            if (PassThroughModule* module = self->m_landedModules.add()) {
                module->index = info->index;
                module->pid = std::strtol(mark + kMarkLength + 1, nullptr, 10);
            }
        }
    } else if (info == nullptr && eol < 0) {
        self->m_failed |= kModules;
    }
    self->m_pulse->signal();
}

void ServerModel::onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* user) {
    auto* self = static_cast<ServerModel*>(user);
    if (info != nullptr && info->owner_module != PA_INVALID_INDEX) {
        if (ModuleSinkInput* input = self->m_landedSinkInputs.add()) {
            input->index = info->index;
            input->ownerModule = info->owner_module;
            input->channels = info->volume.channels;
        }
    } else if (info == nullptr && eol < 0) {
        self->m_failed |= kSinkInputs;
    }
    self->m_pulse->signal();
}

void ServerModel::onSuccess(pa_context*, int success, void* user) {
    auto* self = static_cast<ServerModel*>(user);
    self->m_success = success != 0;
    self->m_pulse->signal();
}

}  // namespace audio::detail
