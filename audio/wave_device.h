#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/capture_tap.h"
#include "audio/wave.h"
#include "platform/messages.h"

// What each kind of wave device provides to the device tables in wave_out.cpp and
// wave_in.cpp, and the buffer queue they all move audio through.
namespace audio::detail {

// The buffers queued on one device, oldest first. Not thread-safe: the device guards it
// with whatever lock its audio thread runs under. take, put and the finishing calls never
// allocate, lock or wait, so a sound-server callback may use them.
class WaveQueue {
public:
    // Beyond this many queued buffers a write is refused (NoMemory).
    static constexpr std::size_t kCapacity = 64;

    // A deferred output queue keeps each buffer it has taken whole until release() says
    // the device has played past its end: a device that takes audio ahead of playing it
    // (a sound server's buffer) must not report a buffer done that is still to be heard.
    WaveQueue(platform::WindowHandle window, std::uint32_t handle, std::uint32_t doneMessage,
              bool deferred = false)
        : m_window(window), m_handle(handle), m_doneMessage(doneMessage), m_deferred(deferred) {}

    bool empty() const noexcept { return m_count == 0; }
    // Ok, or the error the device's stream failed with.
    WaveError failure() const noexcept { return m_failure; }
    // Output: queued audio not yet taken.
    bool untaken() const noexcept { return m_taken < m_count; }
    // Output: bytes taken since the queue was made.
    std::uint64_t takenBytes() const noexcept { return m_position; }
    // Output: bytes queued and not yet taken.
    std::uint64_t untakenBytes() const noexcept { return m_untaken; }

    bool push(WaveHeader* header) noexcept {
        if (m_count == kCapacity) {
            return false;
        }
        header->dwFlags.store((header->dwFlags.load() & ~kWaveHeaderDone) | kWaveHeaderInQueue,
                              std::memory_order_release);
        m_ring[(m_head + m_count) % kCapacity] = header;
        ++m_count;
        m_untaken += header->dwBufferLength;
        return true;
    }

    // Output: copies up to `bytes` of queued audio to `out`; every buffer taken whole is
    // finished. Returns the bytes copied.
    std::size_t take(std::uint8_t* out, std::size_t bytes) noexcept {
        std::size_t copied = 0;
        while (m_taken < m_count) {
            const std::size_t slot = (m_head + m_taken) % kCapacity;
            WaveHeader* next = m_ring[slot];
            const std::size_t left = next->dwBufferLength - m_offset;
            const std::size_t now = std::min(left, bytes - copied);
            if (now != 0) {
                std::memcpy(out + copied, next->lpData + m_offset, now);
                copied += now;
                m_offset += static_cast<std::uint32_t>(now);
                m_position += now;
                m_untaken -= now;
            }
            if (m_offset < next->dwBufferLength) {
                break;
            }
            m_offset = 0;
            if (m_deferred) {
                m_end[slot] = m_position;
                ++m_taken;
            } else {
                finishFront();
            }
        }
        return copied;
    }

    // Deferred output: the device has played `played` bytes of what it took; every
    // buffer that ends there or before is finished.
    void release(std::uint64_t played) noexcept {
        while (m_taken != 0 && m_end[m_head] <= played) {
            finishFront();
        }
    }

    // Input: stores up to `bytes` of recorded audio (nullptr: silence) in the queued
    // buffers; every buffer filled is finished. Returns the bytes stored.
    std::size_t put(const std::uint8_t* in, std::size_t bytes) noexcept {
        std::size_t stored = 0;
        while (m_count != 0) {
            WaveHeader* front = m_ring[m_head];
            const std::size_t now =
                std::min<std::size_t>(front->dwBufferLength - front->dwBytesRecorded, bytes - stored);
            if (now != 0) {
                char* to = front->lpData + front->dwBytesRecorded;
                if (in != nullptr) {
                    std::memcpy(to, in + stored, now);
                } else {
                    std::memset(to, 0, now);
                }
                stored += now;
                front->dwBytesRecorded += static_cast<std::uint32_t>(now);
            }
            if (front->dwBytesRecorded < front->dwBufferLength) {
                break;
            }
            finishFront();
        }
        return stored;
    }

    // Input stop: the buffer being filled comes back with what it holds.
    void finishPartial() noexcept {
        if (m_count != 0 && m_ring[m_head]->dwBytesRecorded != 0) {
            finishFront();
        }
    }

    // Reset: every queued buffer comes back, in order.
    void finishAll() noexcept {
        while (m_count != 0) {
            finishFront();
        }
        m_offset = 0;
        m_untaken = 0;
    }

    // Live output: drops the oldest audio until at most `keep` bytes are left untaken, in
    // whole frames. Every buffer taken whole comes back (the device has dropped what it
    // took), then every buffer dropped whole, in order.
    void dropOldest(std::uint64_t keep, std::size_t frameBytes) noexcept {
        while (m_taken != 0) {
            finishFront();
        }
        while (m_untaken > keep && m_count != 0) {
            const std::uint32_t length = m_ring[m_head]->dwBufferLength;
            const std::uint64_t left = length - m_offset;
            const std::uint64_t excess = m_untaken - keep;
            const std::uint64_t drop =
                std::min(left, (excess + frameBytes - 1) / frameBytes * frameBytes);
            m_untaken -= drop;
            m_offset += static_cast<std::uint32_t>(drop);
            if (m_offset == length) {
                m_offset = 0;
                finishFront();
            }
        }
    }

    // The device's stream failed: the error notification, once, then every queued buffer
    // comes back as at a reset; failure() answers with `error` from then on. The error
    // comes first so that its handler has stopped asking for more before the buffers
    // arrive, and counts them back instead of queueing them again.
    void fail(WaveError error) noexcept {
        if (m_failure != WaveError::Ok) {
            return;
        }
        m_failure = error;
        const std::uint32_t message =
            m_doneMessage == kWaveInDataMessage ? kWaveInErrorMessage : kWaveOutErrorMessage;
        platform::postMessage(m_window, message, m_handle, static_cast<std::intptr_t>(error));
        finishAll();
    }

private:
    void finishFront() noexcept {
        WaveHeader* front = m_ring[m_head];
        m_head = (m_head + 1) % kCapacity;
        --m_count;
        if (m_taken != 0) {
            --m_taken;
        }
        front->dwFlags.store((front->dwFlags.load() & ~kWaveHeaderInQueue) | kWaveHeaderDone,
                             std::memory_order_release);
        platform::postMessage(m_window, m_doneMessage, m_handle, reinterpret_cast<std::intptr_t>(front));
    }

    platform::WindowHandle m_window;
    std::uint32_t m_handle;
    std::uint32_t m_doneMessage;
    std::array<WaveHeader*, kCapacity> m_ring{};
    std::size_t m_head = 0;
    std::size_t m_count = 0;
    bool m_deferred;
    std::array<std::uint64_t, kCapacity> m_end{};  // deferred: takenBytes() after each buffer
    std::size_t m_taken = 0;     // deferred: buffers at the front taken whole
    std::uint32_t m_offset = 0;  // output: bytes of the buffer being taken already taken
    std::uint64_t m_position = 0;
    std::uint64_t m_untaken = 0;  // output
    WaveError m_failure = WaveError::Ok;
};

// One open device. Output: submit queues audio, halt pauses, run restarts. Input: submit
// queues an empty buffer, run starts, halt stops. A device whose stream failed answers
// submit, run, halt and reset with its failure().
class WaveDevice {
public:
    virtual ~WaveDevice() = default;
    virtual WaveError submit(WaveHeader* header) = 0;
    virtual WaveError run() = 0;
    virtual WaveError halt() = 0;
    virtual WaveError reset() = 0;
    virtual bool busy() = 0;  // buffers are queued
    virtual std::uint64_t xruns() = 0;  // underruns or overruns
    virtual WaveError failure() = 0;
    // Input: everything captured from now on is also written to `tap` (nullptr: to none).
    // Once this returns, the device's thread no longer touches a tap it replaced.
    virtual WaveError setTap(CaptureTap*) { return WaveError::InvalidParameter; }
    // Input: where the capture stands (wave_in.h); false when the device cannot tell.
    virtual bool captureClock(WaveInClock&) { return false; }
    // Output: where the playback stands (wave_out.h); false when the device cannot tell.
    virtual bool playbackClock(WaveOutClock&) { return false; }
};

struct WaveOpenRequest {
    bool input = false;
    std::int32_t deviceId = kWaveMapper;
    WaveFormat format;
    platform::WindowHandle window = 0;
    std::uint32_t handle = 0;  // the handle the table gave the device
    std::uint32_t latencyMs = 100;
    std::uint32_t liveLeadBytes = 0;  // output: 0, or the lead of a live output (wave_out.h)
};

class WaveBackend {
public:
    virtual ~WaveBackend() = default;
    virtual std::vector<std::string> deviceNames(bool input) = 0;
    virtual WaveError query(bool input, std::int32_t deviceId, const WaveFormat& format) = 0;
    virtual WaveError open(const WaveOpenRequest& request, std::unique_ptr<WaveDevice>& out) = 0;
};

std::unique_ptr<WaveBackend> makeVirtualWaveBackend(const VirtualWaveSetup& setup);
std::unique_ptr<WaveBackend> makePulseWaveBackend();
// The data chunk of a wave file (the virtual microphone's source); empty when unreadable.
std::vector<std::uint8_t> readWaveData(const std::string& path);

// The backend every call goes to (wave_out.cpp).
WaveBackend& waveBackend();

// The device tables (wave_out.cpp), one per direction.
WaveError tableOpen(const WaveOpenRequest& request, std::uint32_t* handle);
WaveError tableClose(bool input, std::uint32_t handle);
WaveError tablePrepare(bool input, std::uint32_t handle, WaveHeader* header);
WaveError tableUnprepare(bool input, std::uint32_t handle, WaveHeader* header);
WaveError tableSubmit(bool input, std::uint32_t handle, WaveHeader* header);
WaveError tableRun(bool input, std::uint32_t handle);
WaveError tableHalt(bool input, std::uint32_t handle);
WaveError tableReset(bool input, std::uint32_t handle);
std::uint64_t tableXruns(bool input, std::uint32_t handle);
WaveError tableSetTap(std::uint32_t handle, CaptureTap* tap);
bool tableCaptureClock(std::uint32_t handle, WaveInClock& out);
bool tablePlaybackClock(std::uint32_t handle, WaveOutClock& out);

}  // namespace audio::detail
