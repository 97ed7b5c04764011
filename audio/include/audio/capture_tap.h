#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "audio/wave.h"
#include "platform/message_lanes.h"

// A copy of what a wave input captures, handed from the device's audio thread to one
// reader as it arrives, ahead of the buffer queue and whatever the window does with its
// buffers: the live analysis of the singer's voice reads here, whether the capture goes to
// a take file or only to the monitor.
//
// The device writes with its own lock held (the only lock its callback ever holds), in
// chunks through a single-producer ring: writing copies bytes and never allocates, locks
// or waits. What finds the ring full is counted, not kept, and the next chunk handed over
// says how much went before it, so the reader can stand silence in for it where it was
// and keep its time. The reader is one thread: the one that attaches
// the tap (restart) and reads it (read).
namespace audio {

class CaptureTap {
public:
    static constexpr std::size_t kChunkBytes = 1024;
    // 2 MB: seconds of a 10 ms capture even at 48 kHz stereo, and over half a second of
    // the test microphone's 1 ms pieces.
    static constexpr std::size_t kChunks = 2048;

    // Producer: the device's audio thread. `bytes` of captured audio (nullptr: silence).
    void write(const std::uint8_t* data, std::size_t bytes) noexcept {
        while (bytes != 0) {
            const std::size_t now = std::min(bytes, kChunkBytes - m_pending.bytes);
            if (data != nullptr) {
                std::memcpy(m_pending.data.data() + m_pending.bytes, data, now);
                data += now;
            } else {
                std::memset(m_pending.data.data() + m_pending.bytes, 0, now);
            }
            m_pending.bytes += static_cast<std::uint32_t>(now);
            bytes -= now;
            if (m_pending.bytes == kChunkBytes) {
                flush();
            }
        }
    }
    // Producer: hands over what write() gathered; a device calls it once per delivery.
    void flush() noexcept {
        if (m_pending.bytes == 0) {
            return;
        }
        m_pending.lostBefore = m_lost;
        if (m_ring.push(0, m_pending) == Ring::Push::Done) {
            m_lost = 0;
        } else {
            m_lost += m_pending.bytes;
        }
        m_pending.bytes = 0;
    }

    // Reader. A new capture in `format` starts: what waits of an earlier one is dropped.
    // Only while no device writes to the tap (before it is attached).
    void restart(const WaveFormat& format) noexcept {
        std::size_t lane = 0;
        while (m_ring.front(stamp, lane) != nullptr) {
            m_ring.pop(lane);
        }
        m_lost = 0;
        m_pending.bytes = 0;
        m_format = format;
        ++m_captures;
    }
    // Reader. The format of the capture the tap follows, and how many captures it has
    // followed (a change: a new stream).
    const WaveFormat& format() const noexcept { return m_format; }
    std::uint64_t captures() const noexcept { return m_captures; }

    // Reader. Calls `each(const std::uint8_t* bytes, std::size_t size, bool lost)` for
    // what has arrived, oldest first (lost: that many bytes were dropped there, bytes is
    // null); the bytes handed over, lost ones included.
    template <typename Each>
    std::size_t read(Each each) {
        std::size_t total = 0;
        std::size_t lane = 0;
        while (const Chunk* chunk = m_ring.front(stamp, lane)) {
            if (chunk->lostBefore != 0) {
                each(nullptr, static_cast<std::size_t>(chunk->lostBefore), true);
                total += static_cast<std::size_t>(chunk->lostBefore);
            }
            each(chunk->data.data(), std::size_t{chunk->bytes}, false);
            total += chunk->bytes;
            m_ring.pop(lane);
        }
        return total;
    }

private:
    struct Chunk {
        std::uint32_t bytes = 0;
        std::uint64_t lostBefore = 0;  // bytes dropped between the chunk before and this one
        std::array<std::uint8_t, kChunkBytes> data{};
    };
    using Ring = platform::MessageLanes<Chunk, kChunks, 1>;
    static std::uint64_t stamp(const Chunk&) noexcept { return 0; }

    Ring m_ring;
    Chunk m_pending;          // the producer's, not yet handed over
    std::uint64_t m_lost = 0;  // the producer's: dropped since the last chunk handed over
    WaveFormat m_format;
    std::uint64_t m_captures = 0;
};

}  // namespace audio
