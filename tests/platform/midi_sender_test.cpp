#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <thread>
#include <vector>

#include "StuckSink.h"
#include "midi_sender.h"
#include "platform/mm_timer.h"

using namespace testing_support;
using namespace std::chrono_literals;
using platform::detail::MidiSender;

namespace {

constexpr std::uint32_t kFull = MidiSender::kCapacity;
constexpr std::uint32_t kOverflow = 3;
// Longer than any test runs: the sink is never taken for stalled.
constexpr std::chrono::nanoseconds kPatient = 10min;

// Sends `first`..`last` from a timer's thread, as the sequencer's routine does.
void sendOnTimerThread(MidiSender& sender, std::uint32_t first, std::uint32_t last) {
    struct Job {
        MidiSender* sender;
        std::uint32_t first;
        std::uint32_t last;
        std::atomic<bool> done{false};
    } job{&sender, first, last};
    platform::setClockMode(platform::ClockMode::Real);
    const std::uint32_t id = platform::timerStart(
        1,
        [](std::uint32_t, void* user) {
            auto* running = static_cast<Job*>(user);
            if (!running->done.load()) {
                for (std::uint32_t m = running->first; m <= running->last; ++m) {
                    running->sender->send(m);
                }
                running->done.store(true);
            }
        },
        &job);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(eventually([&] { return job.done.load(); }));
    platform::timerKill(id);
    platform::setClockMode(platform::ClockMode::Manual);
}

std::vector<std::uint32_t> messagesOf(const std::vector<Handed>& handed) {
    std::vector<std::uint32_t> out;
    for (const Handed& h : handed) {
        out.push_back(h.message);
    }
    return out;
}

std::vector<std::uint32_t> upTo(std::uint32_t last) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t m = 0; m <= last; ++m) {
        out.push_back(m);
    }
    return out;
}

enum class Overflow { FromTimerThread, FromWindowWhileTheSinkIsSlow, FromWindowOnceTheSinkStalled };

struct FullQueueCase {
    const char* name;
    Overflow overflow;
    std::chrono::nanoseconds stallLimit;
    std::uint32_t dropped;
};

void PrintTo(const FullQueueCase& c, std::ostream* out) {
    *out << c.name;
}

class FullQueue : public ::testing::TestWithParam<FullQueueCase> {};

// Guards against a timer thread that waits on a full queue or loses messages uncounted,
// a window thread that loses messages while the device is merely slow, and a window
// thread that hangs on a device that has stopped.
TEST_P(FullQueue, OverflowIsDroppedOnlyWhereWaitingIsWrong) {
    const FullQueueCase& c = GetParam();
    StuckSink sink;
    MidiSender sender(sink.wire(), c.stallLimit);
    sender.send(0);
    ASSERT_TRUE(sink.waitUntilHolding());
    for (std::uint32_t m = 1; m <= kFull; ++m) {
        sender.send(m);  // the held message left its cell: these fill the queue exactly
    }
    const std::uint32_t first = kFull + 1;
    const std::uint32_t last = kFull + kOverflow;
    std::atomic<bool> overflowing{false};
    std::thread releaser;
    switch (c.overflow) {
        case Overflow::FromTimerThread:
            sendOnTimerThread(sender, first, last);
            break;
        case Overflow::FromWindowWhileTheSinkIsSlow:
            // Let go a moment after the sender starts waiting. Let go before, the case
            // proves less; it cannot fail for it.
            releaser = std::thread([&] {
                eventually([&] { return overflowing.load(); });
                std::this_thread::sleep_for(5ms);
                sink.release();
            });
            overflowing = true;
            [[fallthrough]];
        case Overflow::FromWindowOnceTheSinkStalled:
            for (std::uint32_t m = first; m <= last; ++m) {
                sender.send(m);
            }
            break;
    }
    sink.release();
    if (releaser.joinable()) {
        releaser.join();
    }
    const std::uint32_t delivered = last + 1 - c.dropped;
    EXPECT_TRUE(eventually([&] { return sink.handed().size() >= delivered; }));
    sender.close();
    EXPECT_EQ(sender.dropped(), c.dropped);
    EXPECT_EQ(messagesOf(sink.handed()), upTo(delivered - 1));
}

INSTANTIATE_TEST_SUITE_P(
    Senders, FullQueue,
    ::testing::Values(FullQueueCase{"TimerThreadDropsAndCounts", Overflow::FromTimerThread,
                                    kPatient, kOverflow},
                      FullQueueCase{"WindowWaitsForASlowDevice",
                                    Overflow::FromWindowWhileTheSinkIsSlow, kPatient, 0},
                      FullQueueCase{"WindowGivesUpOnAStalledDevice",
                                    Overflow::FromWindowOnceTheSinkStalled, 1ms, kOverflow}),
    [](const auto& param) { return std::string(param.param.name); });

struct CloseCase {
    const char* name;
    std::chrono::nanoseconds stallLimit;
    bool stalled;  // the sink is let go only once close has given up on it
};

void PrintTo(const CloseCase& c, std::ostream* out) {
    *out << c.name;
}

class Closing : public ::testing::TestWithParam<CloseCase> {};

// Guards against a close that hangs on a stalled device, one that throws away what a
// slow device would still have taken, and messages lost without being counted.
TEST_P(Closing, QueuedMessagesAreDeliveredOrCounted) {
    const CloseCase& c = GetParam();
    constexpr std::uint32_t kQueued = 50;
    StuckSink sink;
    MidiSender sender(sink.wire(), c.stallLimit);
    sender.send(0);
    ASSERT_TRUE(sink.waitUntilHolding());
    for (std::uint32_t m = 1; m <= kQueued; ++m) {
        sender.send(m);
    }
    std::thread closer([&] { sender.close(); });
    if (c.stalled) {
        EXPECT_TRUE(eventually([&] { return sender.dropped() == kQueued; }));
    }
    sink.release();
    closer.join();
    const std::uint32_t delivered = c.stalled ? 1 : kQueued + 1;
    EXPECT_EQ(sender.dropped(), kQueued + 1 - delivered);
    EXPECT_EQ(messagesOf(sink.handed()), upTo(delivered - 1));
}

INSTANTIATE_TEST_SUITE_P(Devices, Closing,
                         ::testing::Values(CloseCase{"SlowDeviceGetsEverything", kPatient, false},
                                           CloseCase{"StalledDeviceQueueIsCounted", 1ms, true}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
