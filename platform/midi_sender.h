#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/export.h"
#include "platform/lockfree_queue.h"

namespace platform::detail {

// Where a sender's messages end up: the device's own send. Called on the sender's thread
// only, one message at a time, in the order they were sent; it may block, allocate and
// throw (what it throws is swallowed). `handedOverMicros` is the clock when the message
// was sent.
using MidiSink = std::function<void(std::uint32_t message, std::uint64_t handedOverMicros)>;

// Carries short messages from whoever sends them (the timer thread, the window thread)
// to a thread of its own that passes them to a sink, so a device that is slow to take a
// message never holds up the timer.
//
// A sender on the timer thread never waits: when the queue is full its message is
// dropped and counted. Any other sender waits for room, unless the sink has taken nothing
// for `stallLimit`; then it drops and counts too, and so does every other sender until
// the sink moves again, so a dead device costs the window one stall, not one per message.
class CVK_PLATFORM_API MidiSender {
public:
    static constexpr std::size_t kCapacity = 4096;
    static constexpr std::chrono::milliseconds kDefaultStallLimit{1000};

    // Starts the thread; throws when it or its wake-up descriptor cannot be had.
    explicit MidiSender(MidiSink sink, std::chrono::nanoseconds stallLimit = kDefaultStallLimit);
    ~MidiSender();
    MidiSender(const MidiSender&) = delete;
    MidiSender& operator=(const MidiSender&) = delete;

    // Any thread, until close(). On the timer thread: no allocation, no lock, no wait.
    void send(std::uint32_t message) noexcept;
    // Messages lost so far.
    std::uint64_t dropped() const noexcept { return m_dropped.load(std::memory_order_relaxed); }
    // Lets the sink take everything queued, then ends the thread. Should the sink take
    // nothing for `stallLimit`, what is still queued is dropped and counted; a sink call
    // already under way is still waited for. Called once, with no sender left.
    void close() noexcept;

private:
    struct Queued {
        std::uint64_t micros = 0;
        std::uint32_t message = 0;
    };
    static constexpr std::uint64_t kNotStalled = ~std::uint64_t{0};

    void run() noexcept;
    void deliver(const Queued& item) noexcept;
    bool waitForRoom(const Queued& item) noexcept;
    void wakeIfAsleep() noexcept;
    void wake() noexcept;

    MidiSink m_sink;  // sender thread
    std::chrono::nanoseconds m_stallLimit;
    int m_wakeFd = -1;  // eventfd, non-blocking
    BoundedQueue<Queued, kCapacity> m_queue;
    std::atomic<bool> m_asleep{false};      // the sender thread is (about to be) in poll()
    std::atomic<std::uint64_t> m_taken{0};  // sink calls completed; the stall clock
    std::atomic<std::uint64_t> m_stalledAt{kNotStalled};  // m_taken when a sender gave up
    std::atomic<std::uint64_t> m_dropped{0};
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_discarding{false};  // close gave up: the rest is dropped
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

}  // namespace platform::detail
