#pragma once

// A MIDI wire that takes the first message it is given and then holds on to it until the
// test lets go, as a device that has stopped reading does. Records every message with the
// time it was handed over.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "midi_sender.h"

namespace testing_support {

struct Handed {
    std::uint64_t micros = 0;
    std::uint32_t message = 0;
};

class StuckSink {
public:
    StuckSink() = default;
    StuckSink(const StuckSink&) = delete;
    StuckSink& operator=(const StuckSink&) = delete;

    // The wire to give a sender; the sink must outlive it.
    platform::detail::MidiSink wire() {
        return [this](std::uint32_t message, std::uint64_t micros) { take(message, micros); };
    }

    // Whether the first message arrived (and is held) before the watchdog ran out.
    bool waitUntilHolding() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kWatchdog, [this] { return !m_handed.empty(); });
    }

    void release() {
        {
            std::lock_guard lock(m_mutex);
            m_released = true;
        }
        m_changed.notify_all();
    }

    std::vector<Handed> handed() const {
        std::lock_guard lock(m_mutex);
        return m_handed;
    }

private:
    // A watchdog for a sender that never delivers, never a measure of speed.
    static constexpr auto kWatchdog = std::chrono::seconds(30);

    void take(std::uint32_t message, std::uint64_t micros) {
        std::unique_lock lock(m_mutex);
        m_handed.push_back({micros, message});
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_released; });
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_released = false;
    std::vector<Handed> m_handed;
};

// Waits for `done`, polling; false when the watchdog ran out first.
inline bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace testing_support
