#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

// Messages from several producing threads to one consumer, one lane per producer.
//
// A multi-producer queue hands out its cells in order, and the consumer must take them
// in that order: a producer preempted between reserving its cell and filling it holds
// back every message reserved after it, whoever sent them. Here each producer has a lane
// of its own (a single-producer ring), so a stalled producer holds back only itself. The
// consumer merges the lanes by each message's time stamp, ties broken by the order the
// messages were pushed in; within a lane the order is always the producer's.
//
// A lane is entered for the length of one push by a compare-exchange: a thread that finds
// it taken (another producer, mid-push, on a lane they share) is told so at once, never
// made to wait. The caller decides which lane a thread uses (see claim()).
namespace platform {

// No pause between filling a cell and publishing it; tests put one there.
struct NoPublishHook {
    static void beforePublish() noexcept {}
};

template <typename T, std::size_t Capacity, std::size_t LaneCount,
          typename PublishHook = NoPublishHook>
class MessageLanes {
    static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    enum class Push { Done, Busy, Full };

    // Producer side. Any thread; never allocates or blocks.
    Push push(std::size_t lane, const T& value) noexcept {
        Lane& l = m_lanes[lane];
        bool expected = false;
        if (!l.entered.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
            return Push::Busy;
        }
        const std::uint64_t tail = l.tail.load(std::memory_order_relaxed);
        if (tail - l.headSeen >= Capacity) {
            l.headSeen = l.head.load(std::memory_order_acquire);
            if (tail - l.headSeen >= Capacity) {
                l.entered.store(false, std::memory_order_release);
                return Push::Full;
            }
        }
        Cell& cell = l.cells[tail & (Capacity - 1)];
        cell.value = value;
        cell.order = m_order.fetch_add(1, std::memory_order_relaxed);
        PublishHook::beforePublish();
        l.tail.store(tail + 1, std::memory_order_release);
        l.entered.store(false, std::memory_order_release);
        return Push::Done;
    }

    // Marks a free lane in [first, end) as one thread's own; false when none is free.
    bool claim(std::size_t first, std::size_t end, std::size_t& lane) noexcept {
        for (std::size_t n = first; n < end && n < LaneCount; ++n) {
            bool expected = false;
            if (m_lanes[n].claimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
                lane = n;
                return true;
            }
        }
        return false;
    }
    // What the lane still holds is delivered; a thread that claims it next pushes after it.
    void release(std::size_t lane) noexcept {
        m_lanes[lane].claimed.store(false, std::memory_order_release);
    }

    // Consumer side: one thread. The message that comes first over every lane (the
    // smallest stamp(value), an unsigned integer, then the earliest pushed), or nullptr
    // when all are empty.
    template <typename Stamp>
    const T* front(Stamp stamp, std::size_t& lane) noexcept {
        const Cell* best = nullptr;
        std::uint64_t bestStamp = 0;
        for (std::size_t n = 0; n < LaneCount; ++n) {
            Lane& l = m_lanes[n];
            const std::uint64_t head = l.head.load(std::memory_order_relaxed);
            if (head == l.tailSeen) {
                l.tailSeen = l.tail.load(std::memory_order_acquire);
                if (head == l.tailSeen) {
                    continue;
                }
            }
            const Cell& cell = l.cells[head & (Capacity - 1)];
            const std::uint64_t cellStamp = stamp(cell.value);
            if (best == nullptr || cellStamp < bestStamp ||
                (cellStamp == bestStamp && cell.order < best->order)) {
                best = &cell;
                bestStamp = cellStamp;
                lane = n;
            }
        }
        return best != nullptr ? &best->value : nullptr;
    }
    // Takes the message front() returned from `lane`.
    void pop(std::size_t lane) noexcept {
        Lane& l = m_lanes[lane];
        l.head.store(l.head.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

private:
    struct Cell {
        T value{};
        std::uint64_t order = 0;
    };
    static constexpr std::size_t kLine = 64;
    struct Lane {
        alignas(kLine) std::atomic<std::uint64_t> tail{0};
        std::atomic<bool> entered{false};
        std::atomic<bool> claimed{false};
        std::uint64_t headSeen = 0;  // the producer's last look at head
        alignas(kLine) std::atomic<std::uint64_t> head{0};
        std::uint64_t tailSeen = 0;  // the consumer's last look at tail
        alignas(kLine) std::array<Cell, Capacity> cells{};
    };
    std::array<Lane, LaneCount> m_lanes{};
    alignas(kLine) std::atomic<std::uint64_t> m_order{0};
};

}  // namespace platform
