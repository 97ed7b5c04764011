#include "platform/mm_timer.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

constexpr std::uint64_t kNanosPerMilli = 1'000'000;
// A real timer that fell this far behind (a suspended machine, a debugger) starts afresh
// instead of firing a burst of callbacks to catch up.
constexpr std::uint64_t kMaxCatchUpNanos = 100 * kNanosPerMilli;

struct Timer {
    std::uint32_t id = 0;
    std::uint32_t periodMs = 1;
    TimerCallback callback = nullptr;
    void* user = nullptr;
    std::atomic<bool> stop{false};
    std::thread thread;
    std::uint64_t nextDueMs = 0;  // manual clock only; guarded by State::mutex
    std::uint64_t originNanos = 0;  // real clock: deadlines count from here (0: from the start)
    std::uint64_t skipPeriods = 0;  // the timer's own thread only
};

struct State {
    std::atomic<int> mode{-1};                 // any thread; -1 until first read
    std::atomic<std::uint64_t> virtualMicros{0};  // advanced by virtual timer threads
    std::atomic<std::uint64_t> manualMicros{0};   // advanced by advanceManualClock
    std::atomic<std::uint32_t> nextId{1};
    std::atomic<std::int32_t> periodRequests{0};
    std::atomic<bool> startFault{false};
    std::atomic<bool> skipsAllowed{true};
    std::atomic<int> liveTimers{0};
    std::mutex mutex;  // guards timers (control calls only, never the callbacks' path)
    std::map<std::uint32_t, std::shared_ptr<Timer>> timers;
};

State& state() {
    static State s;
    return s;
}

thread_local bool t_onTimerThread = false;
thread_local Timer* t_timer = nullptr;  // the real or virtual timer whose thread this is
thread_local std::uint64_t t_deadlineMicros = 0;  // of the callback running on this thread

std::uint64_t monotonicNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000ull +
           static_cast<std::uint64_t>(ts.tv_nsec);
}

timespec toTimespec(std::uint64_t nanos) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(nanos / 1'000'000'000ull);
    ts.tv_nsec = static_cast<long>(nanos % 1'000'000'000ull);
    return ts;
}

// Ask for precise wake-ups; real-time priority when the system grants it, silently
// ordinary priority when it does not.
void prepareRealTimeThread() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

void runRealTimer(const std::shared_ptr<Timer>& timer) {
    t_onTimerThread = true;
    t_timer = timer.get();
    prepareRealTimeThread();
    const std::uint64_t period = timer->periodMs * kNanosPerMilli;
    std::uint64_t deadline = (timer->originNanos != 0 ? timer->originNanos : monotonicNanos()) + period;
    while (!timer->stop.load(std::memory_order_acquire)) {
        const timespec ts = toTimespec(deadline);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        if (timer->stop.load(std::memory_order_acquire)) {
            break;
        }
        t_deadlineMicros = deadline / 1000;
        timer->callback(timer->id, timer->user);
        deadline += period * (1 + timer->skipPeriods);
        timer->skipPeriods = 0;
        const std::uint64_t now = monotonicNanos();
        if (now > deadline + kMaxCatchUpNanos) {
            deadline = now + period;
        }
    }
}

void runVirtualTimer(const std::shared_ptr<Timer>& timer) {
    t_onTimerThread = true;
    t_timer = timer.get();
    State& s = state();
    while (!timer->stop.load(std::memory_order_acquire)) {
        const std::uint64_t periods = 1 + timer->skipPeriods;
        timer->skipPeriods = 0;
        t_deadlineMicros = s.virtualMicros.fetch_add(periods * timer->periodMs * 1000ull) +
                           periods * timer->periodMs * 1000ull;
        timer->callback(timer->id, timer->user);
    }
}

}  // namespace

ClockMode clockMode() {
    State& s = state();
    int mode = s.mode.load();
    if (mode < 0) {
        const char* env = std::getenv("CVK_VIRTUAL_CLOCK");
        const int fromEnv = (env != nullptr && std::strcmp(env, "1") == 0)
                                ? static_cast<int>(ClockMode::Virtual)
                                : static_cast<int>(ClockMode::Real);
        s.mode.compare_exchange_strong(mode, fromEnv);
        mode = s.mode.load();
    }
    return static_cast<ClockMode>(mode);
}

void setClockMode(ClockMode mode) { state().mode.store(static_cast<int>(mode)); }

std::uint32_t timerStart(std::uint32_t periodMs, TimerCallback callback, void* user,
                         std::uint64_t originMicros) {
    State& s = state();
    if (callback == nullptr || periodMs == 0 || s.startFault.load()) {
        return 0;
    }
    auto timer = std::make_shared<Timer>();
    timer->id = s.nextId.fetch_add(1);
    timer->periodMs = periodMs;
    timer->callback = callback;
    timer->user = user;
    timer->originNanos = originMicros * 1000;

    const ClockMode mode = clockMode();
    std::lock_guard lock(s.mutex);
    // Counted before its thread runs: its first callback may already ask to skip.
    s.liveTimers.fetch_add(1);
    try {
        if (mode == ClockMode::Manual) {
            timer->nextDueMs = s.manualMicros.load() / 1000 + periodMs;
        } else if (mode == ClockMode::Virtual) {
            timer->thread = std::thread([timer] { runVirtualTimer(timer); });
        } else {
            timer->thread = std::thread([timer] { runRealTimer(timer); });
        }
    } catch (...) {
        s.liveTimers.fetch_sub(1);
        return 0;
    }
    s.timers.emplace(timer->id, timer);
    return timer->id;
}

void setTimerStartFault(bool fail) { state().startFault.store(fail); }

void timerKill(std::uint32_t timerId) {
    State& s = state();
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard lock(s.mutex);
        auto it = s.timers.find(timerId);
        if (it == s.timers.end()) {
            return;
        }
        timer = it->second;
        s.timers.erase(it);
        s.liveTimers.fetch_sub(1);
    }
    timer->stop.store(true, std::memory_order_release);
    if (timer->thread.joinable()) {
        if (timer->thread.get_id() == std::this_thread::get_id()) {
            timer->thread.detach();  // the thread holds its own reference and ends itself
        } else {
            timer->thread.join();
        }
    }
}

bool onTimerThread() noexcept { return t_onTimerThread; }

std::uint64_t timerDeadlineMicros() noexcept {
    return t_onTimerThread ? t_deadlineMicros : clockMicros();
}

std::uint32_t timerSkipPeriods(std::uint32_t periods) noexcept {
    State& s = state();
    if (t_timer == nullptr || !s.skipsAllowed.load()) {
        return 0;
    }
    // With two timers on one virtual clock, a jump for one would be time the other lost.
    if (s.mode.load() == static_cast<int>(ClockMode::Virtual) && s.liveTimers.load() != 1) {
        return 0;
    }
    t_timer->skipPeriods += periods;
    return periods;
}

void setTimerSkipsAllowed(bool allowed) { state().skipsAllowed.store(allowed); }

void timerBeginPeriod(std::uint32_t) { state().periodRequests.fetch_add(1); }
void timerEndPeriod(std::uint32_t) { state().periodRequests.fetch_sub(1); }

std::uint64_t clockMicros() {
    switch (clockMode()) {
        case ClockMode::Virtual:
            return state().virtualMicros.load();
        case ClockMode::Manual:
            return state().manualMicros.load();
        case ClockMode::Real:
            break;
    }
    return monotonicNanos() / 1000;
}

std::uint32_t clockMillis() { return static_cast<std::uint32_t>(clockMicros() / 1000); }

void advanceManualClock(std::uint32_t ms) {
    State& s = state();
    for (std::uint32_t step = 0; step < ms; ++step) {
        const std::uint64_t nowMs = s.manualMicros.fetch_add(1000) / 1000 + 1;
        std::vector<std::shared_ptr<Timer>> due;
        {
            std::lock_guard lock(s.mutex);
            for (auto& [id, timer] : s.timers) {
                if (timer->nextDueMs <= nowMs) {
                    timer->nextDueMs += timer->periodMs;
                    due.push_back(timer);
                }
            }
        }
        for (auto& timer : due) {
            if (!timer->stop.load()) {
                timer->callback(timer->id, timer->user);
            }
        }
    }
}

}  // namespace platform
