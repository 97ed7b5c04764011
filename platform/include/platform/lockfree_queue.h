#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

namespace platform {

// Bounded multi-producer multi-consumer queue (sequence-numbered cells). Push and pop
// never allocate or block, so the timer thread and the sound-server thread can use it.
template <typename T, std::size_t Capacity>
class BoundedQueue {
    static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    BoundedQueue() {
        for (std::size_t i = 0; i < Capacity; ++i) {
            m_cells[i].sequence.store(i, std::memory_order_relaxed);
        }
    }

    bool push(const T& value) noexcept {
        std::size_t pos = m_tail.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = m_cells[pos & (Capacity - 1)];
            const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
            const auto diff = static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos);
            if (diff == 0) {
                if (m_tail.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    cell.value = value;
                    cell.sequence.store(pos + 1, std::memory_order_release);
                    return true;
                }
            } else if (diff < 0) {
                return false;  // full
            } else {
                pos = m_tail.load(std::memory_order_relaxed);
            }
        }
    }

    bool pop(T& out) noexcept {
        std::size_t pos = m_head.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = m_cells[pos & (Capacity - 1)];
            const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
            const auto diff =
                static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos + 1);
            if (diff == 0) {
                if (m_head.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    out = cell.value;
                    cell.sequence.store(pos + Capacity, std::memory_order_release);
                    return true;
                }
            } else if (diff < 0) {
                return false;  // empty
            } else {
                pos = m_head.load(std::memory_order_relaxed);
            }
        }
    }

private:
    struct Cell {
        std::atomic<std::size_t> sequence;
        T value;
    };
    static constexpr std::size_t kLine = 64;
    alignas(kLine) std::array<Cell, Capacity> m_cells;
    alignas(kLine) std::atomic<std::size_t> m_tail{0};
    alignas(kLine) std::atomic<std::size_t> m_head{0};
};

}  // namespace platform
