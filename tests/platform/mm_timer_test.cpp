#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/mm_timer.h"

namespace {

struct Counter {
    std::atomic<int> calls{0};
    std::atomic<std::uint32_t> lastId{0};
    std::atomic<std::uint64_t> lastMicros{0};
};

void count(std::uint32_t id, void* user) {
    auto* counter = static_cast<Counter*>(user);
    counter->lastId = id;
    counter->lastMicros = platform::clockMicros();
    counter->calls.fetch_add(1);
}

class Timer : public ::testing::Test {
protected:
    void TearDown() override { platform::setClockMode(platform::ClockMode::Manual); }
};

// Guards against a manual clock that drifts from its callbacks, or a killed timer that
// still fires.
TEST_F(Timer, ManualClockRunsOneCallbackPerPeriod) {
    platform::setClockMode(platform::ClockMode::Manual);
    Counter one;
    Counter five;
    const std::uint64_t start = platform::clockMicros();
    const std::uint32_t fast = platform::timerStart(1, &count, &one);
    const std::uint32_t slow = platform::timerStart(5, &count, &five);
    ASSERT_NE(fast, 0u);
    ASSERT_NE(slow, fast);
    platform::advanceManualClock(12);
    EXPECT_EQ(one.calls.load(), 12);
    EXPECT_EQ(five.calls.load(), 2);
    EXPECT_EQ(one.lastId.load(), fast);
    EXPECT_EQ(one.lastMicros.load(), start + 12'000);
    platform::timerKill(fast);
    platform::advanceManualClock(5);
    EXPECT_EQ(one.calls.load(), 12);
    EXPECT_EQ(five.calls.load(), 3);
    platform::timerKill(slow);
    EXPECT_EQ(platform::timerStart(1, nullptr, nullptr), 0u);
}

// Guards against a virtual clock that advances by anything but one period per callback,
// which would make replayed songs' times unrepeatable.
TEST_F(Timer, VirtualClockAdvancesExactlyOnePeriodPerCallback) {
    platform::setClockMode(platform::ClockMode::Virtual);
    Counter counter;
    const std::uint64_t start = platform::clockMicros();
    const std::uint32_t id = platform::timerStart(1, &count, &counter);
    ASSERT_NE(id, 0u);
    while (counter.calls.load() < 5000) {
        std::this_thread::yield();
    }
    platform::timerKill(id);
    const int calls = counter.calls.load();
    EXPECT_EQ(platform::clockMicros() - start, static_cast<std::uint64_t>(calls) * 1000);
}

// Waits until `done`, or fails after a minute: a hang becomes a failure, and no machine is
// so loaded that a 1 ms timer needs that long for what these tests ask of it.
template <typename Done>
bool waitUntil(Done done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Guards against a real timer that calls back more often than its period allows (a
// deadline not advanced, a catch-up burst beyond the periods that passed), one that stops
// calling back, and one that calls back after it was killed. Too few callbacks (drift)
// depend on the machine's load: the realtime_dispatch benchmark measures that instead.
TEST_F(Timer, RealTimerKeepsToItsDeadlines) {
    platform::setClockMode(platform::ClockMode::Real);
    Counter counter;
    const std::uint64_t start = platform::clockMicros();
    const std::uint32_t id = platform::timerStart(1, &count, &counter);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(waitUntil([&] { return counter.calls.load() >= 100; })) << "the timer stalled";
    platform::timerKill(id);
    const int calls = counter.calls.load();
    // The n-th callback comes no earlier than n periods after the start.
    EXPECT_GE(counter.lastMicros.load(), start + static_cast<std::uint64_t>(calls) * 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(counter.calls.load(), calls) << "a callback after the kill";
}

void killSelf(std::uint32_t id, void* user) {
    auto* counter = static_cast<Counter*>(user);
    counter->calls.fetch_add(1);
    platform::timerKill(id);
    counter->lastId = id;  // the kill returned
}

// Guards against a deadlock when a timer is killed from its own callback, and against the
// timer firing again after it ended itself.
TEST_F(Timer, ATimerMayEndItself) {
    platform::setClockMode(platform::ClockMode::Real);
    Counter counter;
    const std::uint32_t id = platform::timerStart(1, &killSelf, &counter);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(waitUntil([&] { return counter.lastId.load() == id; }))
        << "the kill from inside the callback did not return";
    // Later callbacks would have had ten periods to come.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(counter.calls.load(), 1);
}

}  // namespace

namespace {

// Records the deadline each callback was given and asks to skip `skip` periods after it.
struct DeadlineLog {
    static constexpr int kCalls = 60;
    std::uint32_t skip = 0;
    std::array<std::uint64_t, kCalls> deadline{};
    std::array<std::uint64_t, kCalls> woke{};
    std::array<std::uint32_t, kCalls> skipped{};
    std::atomic<int> calls{0};
};

void logDeadline(std::uint32_t, void* user) {
    auto* log = static_cast<DeadlineLog*>(user);
    const int n = log->calls.load();
    if (n >= DeadlineLog::kCalls) {
        return;
    }
    log->woke[n] = platform::clockMicros();
    log->deadline[n] = platform::timerDeadlineMicros();
    log->skipped[n] = platform::timerSkipPeriods(n % 2 == 0 ? log->skip : 0);
    log->calls.store(n + 1);
}

class TimerDeadlines : public ::testing::TestWithParam<platform::ClockMode> {
protected:
    void TearDown() override { platform::setClockMode(platform::ClockMode::Manual); }
};

// Guards against stamping a message with the time a late thread woke instead of the time
// it was due (a busy machine would make notes late), against a first period counted from
// the thread's start rather than the caller's origin (a song's second beat late by the
// thread's start-up), and against a skip that moves the following deadlines by anything
// but the periods skipped.
TEST_P(TimerDeadlines, EachCallbackKnowsWhenItWasDue) {
    platform::setClockMode(GetParam());
    DeadlineLog log;
    log.skip = 3;
    const std::uint64_t origin = platform::clockMicros();
    const std::uint32_t id = platform::timerStart(1, &logDeadline, &log, origin);
    ASSERT_NE(id, 0u);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (log.calls.load() < DeadlineLog::kCalls && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    platform::timerKill(id);
    ASSERT_EQ(log.calls.load(), DeadlineLog::kCalls);
    const std::uint64_t before = platform::clockMicros();
    const std::uint64_t now = platform::timerDeadlineMicros();
    EXPECT_TRUE(before <= now && now <= platform::clockMicros())
        << "off a timer's thread: the time";
    if (GetParam() == platform::ClockMode::Real) {
        // The first period counts from the origin given, not from when the thread ran.
        EXPECT_EQ(log.deadline[0], origin + 1000);
    }
    for (int n = 0; n < DeadlineLog::kCalls; ++n) {
        EXPECT_LE(log.deadline[n], log.woke[n]) << "callback " << n << " ran before it was due";
        EXPECT_EQ(log.skipped[n], n % 2 == 0 ? log.skip : 0u);
        if (n > 0) {
            // A real timer more than 100 ms behind starts afresh instead of catching up.
            const bool restarted = log.woke[n - 1] > log.deadline[n - 1] + 100'000;
            if (!restarted) {
                EXPECT_EQ(log.deadline[n] - log.deadline[n - 1], (1 + log.skipped[n - 1]) * 1000ull)
                    << "callback " << n;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clocks, TimerDeadlines,
                         ::testing::Values(platform::ClockMode::Real,
                                           platform::ClockMode::Virtual));

}  // namespace
