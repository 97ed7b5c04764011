#pragma once

// The process's one connection to the sound server: one threaded mainloop and one
// context, shared by the built-in synthesizer, the wave devices and the mixer, so that
// the server sees one client of ours and the process runs one audio thread.
//
// Made at the first acquire, kept while any module holds it, torn down by the last one
// to let go (at the process's end, once every module has disconnected its streams: a
// stream that vanishes with its context has been seen to abort the server). When the
// server goes away the context fails; modules holding it see their streams and calls
// fail as before, and the next acquire connects anew.
//
// Threads. Every module's callbacks run on the one mainloop thread, with its lock held:
// they must stay short, for the synthesizer renders there. Callers take the lock for
// every use (Lock) and never take a module's own mutex while holding it; the callbacks
// take no lock but the message queues' lock-free ones. The thread asks for real-time
// priority (SCHED_FIFO, above ordinary threads, below the timer's) when the system grants
// it: the synthesizer's blocks are rendered there, and what else runs there is bounded
// work (moving bytes, copying a listing, posting a message).

#include <pulse/pulseaudio.h>

#include "audio/export.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace audio {

class CVK_AUDIO_API PulseContext {
public:
    // How long a connection or an answer from the server may take.
    static constexpr pa_usec_t kAnswerMicros = 3'000'000;

    // The shared connection, connected and ready; the same as before while that one is
    // ready and the environment names the same server, sink and source (a test's private
    // ones). nullptr when no server answers in time. Never with the mainloop lock held.
    static std::shared_ptr<PulseContext> acquire();

    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    class Lock {
    public:
        explicit Lock(PulseContext& pulse) : m_loop(pulse.m_mainloop) {
            pa_threaded_mainloop_lock(m_loop);
        }
        ~Lock() { pa_threaded_mainloop_unlock(m_loop); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_loop;
    };

    pa_context* context() const { return m_context; }
    pa_threaded_mainloop* mainloop() const { return m_mainloop; }
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(m_mainloop); }

    // With the lock held.
    bool ready() const { return pa_context_get_state(m_context) == PA_CONTEXT_READY; }
    // Wakes every waiter; each checks what it waits for. From a callback.
    void signal() { pa_threaded_mainloop_signal(m_mainloop, 0); }

    // With the lock held: waits until `done` or `timeoutMicros` have passed; `done` then.
    template <typename Done>
    bool waitFor(Done done, pa_usec_t timeoutMicros = kAnswerMicros) {
        Deadline deadline(*this, timeoutMicros);
        while (!done() && !deadline.passed()) {
            pa_threaded_mainloop_wait(m_mainloop);
        }
        return done();
    }

    // With the lock held: runs an operation to its end; false when it failed, the
    // connection failed, or the server did not answer in time (the operation is then
    // cancelled, so its callback never comes).
    bool complete(pa_operation* operation);
    // The same for operations sent together: one round trip for all of them; false when
    // any failed (or was never made: nullptr).
    bool completeAll(std::span<pa_operation* const> operations);
    // With the lock held: the stream's timing brought up to date by the server (a stream's
    // own timing can be seconds old); false when the server did not answer.
    bool refreshTiming(pa_stream* stream);
    // With the lock held: the stream's latency once its timing is up to date, signed
    // (a capture's can be negative); false when the server did not answer or cannot tell.
    bool freshLatency(pa_stream* stream, std::int64_t& micros);

    // How many times a caller of this process has waited for the server's answer: its
    // round trips, for benchmarks. Any thread.
    static std::uint64_t roundTrips() noexcept;

    // The server's change events (one subscriber: the mixer). With the lock held; a
    // subscriber that goes clears its own handler, never another's.
    using EventHandler = void (*)(pa_subscription_event_type_t event, std::uint32_t index, void* user);
    void setEventHandler(EventHandler handler, void* user);
    void clearEventHandler(void* user);

private:
    explicit PulseContext(std::string place) : m_place(std::move(place)) {}
    bool connect();

    class Deadline {
    public:
        Deadline(PulseContext& pulse, pa_usec_t timeoutMicros);
        ~Deadline();
        Deadline(const Deadline&) = delete;
        Deadline& operator=(const Deadline&) = delete;
        bool passed() const { return m_passed; }

    private:
        static void onTime(pa_mainloop_api*, pa_time_event*, const timeval*, void* user);
        PulseContext& m_pulse;
        pa_time_event* m_event = nullptr;
        bool m_passed = false;
    };

    static void onState(pa_context* context, void* user);
    static void onEvent(pa_context* context, pa_subscription_event_type_t event, std::uint32_t index,
                        void* user);

    const std::string m_place;  // the server, sink and source the environment named
    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    // With the lock held.
    EventHandler m_eventHandler = nullptr;
    void* m_eventUser = nullptr;
};

}  // namespace audio
