#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "platform/message_lanes.h"

namespace {

struct Stamped {
    std::uint32_t id = 0;
    std::uint64_t micros = 0;
};

std::uint64_t stampOf(const Stamped& message) { return message.micros; }

// A producer marked to pause stops between filling its cell and publishing it, until the
// test lets it go: the moment a preempted sender would be caught in.
struct PauseOnce {
    static thread_local bool armed;
    static std::atomic<bool> paused;
    static std::atomic<bool> released;
    static void beforePublish() noexcept {
        if (!armed) {
            return;
        }
        armed = false;
        paused.store(true);
        paused.notify_all();
        released.wait(false);
    }
};
thread_local bool PauseOnce::armed = false;
std::atomic<bool> PauseOnce::paused{false};
std::atomic<bool> PauseOnce::released{false};

constexpr std::size_t kTimerLane = 0;
constexpr std::size_t kWindowLane = 1;
using Lanes = platform::MessageLanes<Stamped, 16, 3, PauseOnce>;

// Everything the consumer can take now, in the order it takes it.
std::vector<std::uint32_t> drain(Lanes& lanes) {
    std::vector<std::uint32_t> ids;
    std::size_t lane = 0;
    while (const Stamped* next = lanes.front(stampOf, lane)) {
        ids.push_back(next->id);
        lanes.pop(lane);
    }
    return ids;
}

// Guards against the timer's notes waiting behind a window-thread sender preempted in
// the middle of its push (a shared queue's reserved but unfilled cell), and against a
// second sender on the caught lane being made to wait instead of told.
TEST(MessageLanes, APausedProducerHoldsBackNoOtherLane) {
    auto lanes = std::make_unique<Lanes>();
    PauseOnce::paused = false;
    PauseOnce::released = false;
    std::thread window([&] {
        PauseOnce::armed = true;
        EXPECT_EQ(lanes->push(kWindowLane, {100, 1'000}), Lanes::Push::Done);
    });
    PauseOnce::paused.wait(false);

    // Later deadlines than the caught message, sent while it is caught.
    EXPECT_EQ(lanes->push(kTimerLane, {1, 2'000}), Lanes::Push::Done);
    EXPECT_EQ(lanes->push(kTimerLane, {2, 3'000}), Lanes::Push::Done);
    EXPECT_EQ(lanes->push(kWindowLane, {101, 3'500}), Lanes::Push::Busy);
    EXPECT_EQ(drain(*lanes), (std::vector<std::uint32_t>{1, 2}));

    PauseOnce::released = true;
    PauseOnce::released.notify_all();
    window.join();
    EXPECT_EQ(lanes->push(kTimerLane, {3, 4'000}), Lanes::Push::Done);
    EXPECT_EQ(drain(*lanes), (std::vector<std::uint32_t>{100, 3}));
}

// Guards against a merge that takes lanes in turn instead of by time, breaks a tie of
// stamps against the order of sending, or reorders one producer's own messages.
TEST(MessageLanes, MergesByStampThenBySending) {
    struct Sent {
        std::size_t lane;
        Stamped message;
    };
    struct Case {
        const char* fault;
        std::vector<Sent> sent;
        std::vector<std::uint32_t> taken;
    };
    const std::vector<Case> cases = {
        {"later lane, earlier stamp", {{1, {1, 50}}, {0, {2, 40}}, {2, {3, 45}}}, {2, 3, 1}},
        {"equal stamps", {{2, {1, 40}}, {0, {2, 40}}, {1, {3, 40}}}, {1, 2, 3}},
        {"a lane's own order", {{0, {1, 60}}, {0, {2, 10}}, {1, {3, 30}}}, {3, 1, 2}},
    };
    for (const Case& c : cases) {
        auto lanes = std::make_unique<Lanes>();
        for (const Sent& s : c.sent) {
            ASSERT_EQ(lanes->push(s.lane, s.message), Lanes::Push::Done) << c.fault;
        }
        EXPECT_EQ(drain(*lanes), c.taken) << c.fault;
    }
}

// Guards against two threads being given the same lane (two producers on one ring), and
// a lane given up never being handed out again.
TEST(MessageLanes, EachLaneIsClaimedOnceUntilReleased) {
    auto lanes = std::make_unique<Lanes>();
    std::size_t first = 0;
    std::size_t second = 0;
    std::size_t none = 0;
    ASSERT_TRUE(lanes->claim(1, 3, first));
    ASSERT_TRUE(lanes->claim(1, 3, second));
    EXPECT_NE(first, second);
    EXPECT_FALSE(lanes->claim(1, 3, none));
    lanes->release(first);
    std::size_t again = 0;
    ASSERT_TRUE(lanes->claim(1, 3, again));
    EXPECT_EQ(again, first);
}

// Guards against lost, duplicated or reordered messages when producers on their own lanes
// and the consumer run at once (run under ThreadSanitizer), and against a full lane that
// never takes messages again once the consumer has made room.
TEST(MessageLanes, ProducersAndConsumerAtOnceLoseNothing) {
    constexpr std::uint32_t kPerProducer = 20'000;
    constexpr std::size_t kProducers = 3;
    auto lanes = std::make_unique<Lanes>();
    std::atomic<std::uint64_t> clock{0};
    std::vector<std::thread> producers;
    for (std::size_t lane = 0; lane < kProducers; ++lane) {
        producers.emplace_back([&, lane] {
            for (std::uint32_t n = 0; n < kPerProducer;) {
                const Stamped message{static_cast<std::uint32_t>(lane << 24) | n, clock.fetch_add(1)};
                if (lanes->push(lane, message) == Lanes::Push::Done) {
                    ++n;
                } else {
                    std::this_thread::yield();
                }
            }
        });
    }
    std::vector<std::uint32_t> next(kProducers, 0);
    std::uint32_t taken = 0;
    std::size_t lane = 0;
    while (taken < kPerProducer * kProducers) {
        const Stamped* message = lanes->front(stampOf, lane);
        if (message == nullptr) {
            std::this_thread::yield();
            continue;
        }
        const std::size_t from = message->id >> 24;
        ASSERT_EQ(from, lane);
        ASSERT_EQ(message->id & 0xFFFFFF, next[from]) << "lane " << from;
        ++next[from];
        ++taken;
        lanes->pop(lane);
    }
    for (std::thread& producer : producers) {
        producer.join();
    }
    EXPECT_EQ(lanes->front(stampOf, lane), nullptr);
}

}  // namespace
