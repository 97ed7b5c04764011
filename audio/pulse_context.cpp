#include "audio/pulse_context.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/environment.h"

namespace audio {
namespace {

// Who holds the connection is the modules' business: this only finds the current one.
// Never destroyed, so that a module ending late in the process's exit still finds it.
struct Registry {
    std::mutex mutex;  // the callers' threads, never with a mainloop lock held
    std::weak_ptr<PulseContext> current;
};

std::atomic<std::uint64_t> g_roundTrips{0};

Registry& registry() {
    static Registry* registry = new Registry;
    return *registry;
}

// Runs once, first thing on the mainloop's thread.
void raisePriority(pa_mainloop_api* api, pa_defer_event* event, void*) {
    api->defer_free(event);
    // A callback woken late is a synthesizer block rendered late. Without the right to
    // it the thread stays as it is.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 5;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace

std::shared_ptr<PulseContext> PulseContext::acquire() {
    Registry& r = registry();
    std::lock_guard guard(r.mutex);
    // The environment is read when a context is made (the default sink and source among
    // it): another server, sink or source takes another context.
    const std::string place = platform::environment("PULSE_SERVER") + '\n' + platform::environment("PULSE_SINK") + '\n' +
                              platform::environment("PULSE_SOURCE");
    if (std::shared_ptr<PulseContext> current = r.current.lock(); current && current->m_place == place) {
        Lock lock(*current);
        if (current->ready()) {
            return current;
        }
    }
    std::shared_ptr<PulseContext> fresh(new PulseContext(place));
    if (!fresh->connect()) {
        return nullptr;
    }
    r.current = fresh;
    return fresh;
}

bool PulseContext::connect() {
    m_mainloop = pa_threaded_mainloop_new();
    if (m_mainloop == nullptr) {
        return false;
    }
    m_context = pa_context_new(api(), "Cantivo");
    if (m_context == nullptr) {
        return false;
    }
    pa_context_set_state_callback(m_context, &PulseContext::onState, this);
    pa_context_set_subscribe_callback(m_context, &PulseContext::onEvent, this);
    api()->defer_new(api(), raisePriority, nullptr);
    // Never spawn a server of our own: a desktop without one has its reasons.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(m_mainloop) < 0) {
        return false;
    }
    Lock lock(*this);
    return waitFor([this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) || ready(); }) &&
           ready();
}

PulseContext::~PulseContext() {
    if (m_mainloop == nullptr) {
        return;
    }
    // Joins the thread: no callback runs after this.
    pa_threaded_mainloop_stop(m_mainloop);
    if (m_context != nullptr) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    pa_threaded_mainloop_free(m_mainloop);
}

bool PulseContext::complete(pa_operation* operation) {
    pa_operation* const operations[] = {operation};
    return completeAll(operations);
}

bool PulseContext::completeAll(std::span<pa_operation* const> operations) {
    const auto running = [](pa_operation* operation) {
        return operation != nullptr && pa_operation_get_state(operation) == PA_OPERATION_RUNNING;
    };
    bool any = false;
    for (pa_operation* operation : operations) {
        any = any || operation != nullptr;
    }
    if (any) {
        g_roundTrips.fetch_add(1, std::memory_order_relaxed);
        // A failing connection cancels what it had running, so a dead server ends the wait too.
        waitFor([&] { return std::none_of(operations.begin(), operations.end(), running); });
    }
    bool done = true;
    for (pa_operation* operation : operations) {
        if (operation == nullptr) {
            done = false;
            continue;
        }
        const pa_operation_state_t state = pa_operation_get_state(operation);
        if (state == PA_OPERATION_RUNNING) {
            pa_operation_cancel(operation);
        }
        pa_operation_unref(operation);
        done = done && state == PA_OPERATION_DONE;
    }
    return done;
}

bool PulseContext::refreshTiming(pa_stream* stream) {
    return complete(pa_stream_update_timing_info(
        stream, [](pa_stream*, int, void* user) { static_cast<PulseContext*>(user)->signal(); }, this));
}

bool PulseContext::freshLatency(pa_stream* stream, std::int64_t& micros) {
    pa_usec_t latency = 0;
    int negative = 0;
    if (!refreshTiming(stream) || pa_stream_get_latency(stream, &latency, &negative) != 0) {
        return false;
    }
    micros = negative != 0 ? -static_cast<std::int64_t>(latency) : static_cast<std::int64_t>(latency);
    return true;
}

std::uint64_t PulseContext::roundTrips() noexcept {
    return g_roundTrips.load(std::memory_order_relaxed);
}

void PulseContext::setEventHandler(EventHandler handler, void* user) {
    m_eventHandler = handler;
    m_eventUser = user;
}

void PulseContext::clearEventHandler(void* user) {
    if (m_eventUser == user) {
        m_eventHandler = nullptr;
        m_eventUser = nullptr;
    }
}

void PulseContext::onState(pa_context*, void* user) {
    static_cast<PulseContext*>(user)->signal();
}

void PulseContext::onEvent(pa_context*, pa_subscription_event_type_t event, std::uint32_t index,
                           void* user) {
    auto* self = static_cast<PulseContext*>(user);
    if (self->m_eventHandler != nullptr) {
        self->m_eventHandler(event, index, self->m_eventUser);
    }
}

PulseContext::Deadline::Deadline(PulseContext& pulse, pa_usec_t timeoutMicros) : m_pulse(pulse) {
    m_event = pa_context_rttime_new(pulse.m_context, pa_rtclock_now() + timeoutMicros,
                                    &Deadline::onTime, this);
}

PulseContext::Deadline::~Deadline() {
    if (m_event != nullptr) {
        m_pulse.api()->time_free(m_event);
    }
}

void PulseContext::Deadline::onTime(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
    auto* self = static_cast<Deadline*>(user);
    self->m_passed = true;
    self->m_pulse.signal();
}

}  // namespace audio
