#pragma once

#include <cstdint>

#include "platform/export.h"

// Periodic millisecond timers, each calling back on a thread of its own.
//
// Three clocks:
// - Real: callbacks at absolute deadlines on the monotonic clock.
// - Virtual (CVK_VIRTUAL_CLOCK=1 in the environment, or setClockMode): each timer's
//   thread runs its callbacks back to back, the clock advancing exactly one period per
//   callback, so a song plays in a fraction of a second with exact, repeatable times.
// - Manual (tests): no thread; advanceManualClock() runs the callbacks on the caller's
//   thread.
namespace platform {

enum class ClockMode { Real, Virtual, Manual };

using TimerCallback = void (*)(std::uint32_t timerId, void* user);

CVK_PLATFORM_API ClockMode clockMode();
// Changing the mode while timers run is not supported.
CVK_PLATFORM_API void setClockMode(ClockMode mode);

// Starts a periodic timer; returns its identifier, 0 when it could not be created.
// The identifier is passed to the callback and is never reused within a process.
// A real timer's deadlines count from `originMicros` on the real clock (0: from the
// moment its thread runs): a caller that has already acted at its time zero (a song's
// first beat) keeps the periods after it in step with it.
CVK_PLATFORM_API std::uint32_t timerStart(std::uint32_t periodMs, TimerCallback callback,
                                          void* user, std::uint64_t originMicros = 0);
// Called from a timer's callback: the next `periods` callbacks would do nothing but
// count, so let their time pass without them. The real clock sleeps through them to the
// deadline after; the virtual clock jumps by them, while this is its one timer. Returns
// the periods skipped, 0 on the manual clock (whose callbacks tests count).
CVK_PLATFORM_API std::uint32_t timerSkipPeriods(std::uint32_t periods) noexcept;
// Benchmarks and tests: whether the virtual clock grants skips (on by default).
CVK_PLATFORM_API void setTimerSkipsAllowed(bool allowed);

// Test switch: while set, timerStart fails as if no thread could be made.
CVK_PLATFORM_API void setTimerStartFault(bool fail);

// Stops a timer. When it returns, the callback is not running and will not run again,
// except when called from that timer's own callback, which then simply ends the timer.
CVK_PLATFORM_API void timerKill(std::uint32_t timerId);

// Raising the system's timer resolution; Linux needs nothing, the calls are counted.
CVK_PLATFORM_API void timerBeginPeriod(std::uint32_t periodMs);
CVK_PLATFORM_API void timerEndPeriod(std::uint32_t periodMs);

// The current time on the active clock, in microseconds and in milliseconds.
CVK_PLATFORM_API std::uint64_t clockMicros();
CVK_PLATFORM_API std::uint32_t clockMillis();

// True on the thread of a real or virtual timer while it runs its callback. Code that
// may be called from both sides (a MIDI send) must not wait when this is true.
CVK_PLATFORM_API bool onTimerThread() noexcept;

// The time the running callback was due, on a real or virtual timer's thread; the
// current time elsewhere. A real timer wakes a little after its deadline (more on a busy
// machine); whatever it sends belongs to the deadline, not to the wake-up.
CVK_PLATFORM_API std::uint64_t timerDeadlineMicros() noexcept;

// Manual clock: advances by `ms` milliseconds, running every live timer's callback once
// per period on the calling thread.
CVK_PLATFORM_API void advanceManualClock(std::uint32_t ms);

}  // namespace platform
