#include <gtest/gtest.h>

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

// Guards against a real timer that drifts: callbacks keep to absolute deadlines, so their
// number follows the wall clock however late single wake-ups are.
TEST_F(Timer, RealTimerKeepsToItsDeadlines) {
    platform::setClockMode(platform::ClockMode::Real);
    Counter counter;
    const auto begin = std::chrono::steady_clock::now();
    const std::uint32_t id = platform::timerStart(1, &count, &counter);
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    platform::timerKill(id);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
    const int calls = counter.calls.load();
    EXPECT_LE(calls, elapsed + 1);
    EXPECT_GE(calls, elapsed / 2);  // generous: shared, sanitized machines stall
    const int after = counter.calls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(counter.calls.load(), after);
}

void killSelf(std::uint32_t id, void* user) {
    auto* counter = static_cast<Counter*>(user);
    counter->calls.fetch_add(1);
    platform::timerKill(id);
}

// Guards against a deadlock when a timer is killed from its own callback.
TEST_F(Timer, ATimerMayEndItself) {
    platform::setClockMode(platform::ClockMode::Real);
    Counter counter;
    ASSERT_NE(platform::timerStart(1, &killSelf, &counter), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(counter.calls.load(), 1);
}

}  // namespace
