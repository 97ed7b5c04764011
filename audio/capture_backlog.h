#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "wave_device.h"

// Captured audio that found no buffer queued, waiting for the next buffers added. A take
// must not lose the singer's audio because the window's thread was late to hand buffers
// back: the sound server goes on capturing, and what it hands over waits here, oldest
// first, in a ring sized when the device opens.
namespace audio::detail {

class CaptureBacklog {
public:
    // Room for at least `bytes`, whole frames. Allocates here only: store and drainInto
    // never allocate, lock or wait, so a sound-server callback may use them.
    CaptureBacklog(std::size_t bytes, std::size_t frameBytes)
        : m_frameBytes(std::max<std::size_t>(frameBytes, 1)),
          m_ring((bytes + m_frameBytes - 1) / m_frameBytes * m_frameBytes) {}

    bool empty() const noexcept { return m_size == 0; }
    std::size_t size() const noexcept { return m_size; }

    // Keeps what fits of `bytes` (nullptr: silence), in whole frames; the bytes kept.
    // What does not fit is lost.
    std::size_t store(const std::uint8_t* in, std::size_t bytes) noexcept {
        std::size_t room = m_ring.size() - m_size;
        room -= room % m_frameBytes;
        const std::size_t kept = std::min(bytes, room);
        std::size_t done = 0;
        while (done < kept) {
            const std::size_t at = (m_head + m_size) % m_ring.size();
            const std::size_t now = std::min(kept - done, m_ring.size() - at);
            if (in != nullptr) {
                std::memcpy(m_ring.data() + at, in + done, now);
            } else {
                std::memset(m_ring.data() + at, 0, now);
            }
            m_size += now;
            done += now;
        }
        return kept;
    }

    // Moves the oldest waiting bytes into the queue's buffers, as far as they hold them.
    void drainInto(WaveQueue& queue) noexcept {
        while (m_size != 0) {
            const std::size_t now = std::min(m_size, m_ring.size() - m_head);
            const std::size_t stored = queue.put(m_ring.data() + m_head, now);
            m_head = (m_head + stored) % m_ring.size();
            m_size -= stored;
            if (stored < now) {
                return;
            }
        }
    }

    void clear() noexcept {
        m_head = 0;
        m_size = 0;
    }

private:
    std::size_t m_frameBytes;
    std::vector<std::uint8_t> m_ring;
    std::size_t m_head = 0;
    std::size_t m_size = 0;
};

}  // namespace audio::detail
