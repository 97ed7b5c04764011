#pragma once

// Loads the instruments the engine that plays will select, without stalling it.
//
// Loading an instrument reads (for an .sf3, decodes) its samples: 10-100 ms. Done by the
// render callback, with the sound server's lock held, it stalls every stream of the
// process. So the render callback never loads: each program is made ready first, and
// a program change whose instrument is not ready waits on its channel while a worker
// thread loads it (midi_synth.cpp). Every program a song selects is made ready before it
// plays, on the thread that starts it; the worker is for what comes unannounced, such as
// an instrument tried out while the song plays.
//
// Ready means pinned in the engine that plays. The pin itself must keep the render
// callback out of the engine, so it is done with the callback locked out, and made cheap
// first: a second engine on the same file, the loader's own, loads the instrument, which
// puts its samples in FluidSynth's process-wide sample cache (synth_engine.h); the pin
// in the engine that plays then only finds them there.

#include <semaphore.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "synth_engine.h"

namespace synth::detail {

// What a program change selects, as the synthesizer reads it: the program, from bank 128
// on the drum channel whatever its bank select says, elsewhere from the bank controller
// 0 chose (controller 32 is not read).
constexpr int kProgramKeys = 129 * 128;
constexpr int programKey(int channel, int bankMsb, int program) {
    return (channel == kDrumChannel ? kDrumBank : (bankMsb & 0x7F)) * 128 + (program & 0x7F);
}
// What a channel plays before any program change, and after every reset: the piano, and
// the standard kit on the drum channel. Loaded by the worker as soon as the SoundFont is
// (a second, for some .sf3 pianos: not on the thread that opens the device, which may be
// the window's at start-up), and waited for before a song plays.
constexpr int kDefaultKeys[] = {programKey(0, 0, 0), programKey(kDrumChannel, 0, 0)};

class ProgramLoader {
public:
    // Pins an instrument in the engine that plays, the render callback kept out.
    using PinInPlayer = std::function<void(const Instrument&)>;

    explicit ProgramLoader(PinInPlayer pinInPlayer);
    ~ProgramLoader() {
        stop();
        sem_destroy(&m_wake);
    }
    ProgramLoader(const ProgramLoader&) = delete;
    ProgramLoader& operator=(const ProgramLoader&) = delete;

    // Opening thread, holding hold(): the engine that plays is new, loaded from `path`;
    // nothing is ready in it. The worker starts on the defaults at once.
    void useSoundFont(const std::string& path);
    // Keeps loads out (and waits for the one in progress) while the opening thread
    // replaces the engine that plays, or its connection.
    std::unique_lock<std::mutex> hold() { return std::unique_lock(m_mutex); }

    // Opening thread: makes every program in `keys` ready, and the defaults; returns
    // once they are.
    void prepare(std::span<const int> keys);

    // Render thread; never waits. Whether a program change to `key` finds its samples.
    bool ready(int key) const noexcept {
        return m_ready[static_cast<std::size_t>(key)].load(std::memory_order_acquire);
    }
    // Asks the worker to make `key` ready.
    void request(int key) noexcept;

    // Ends the worker, after the load in progress. Any thread but the worker.
    void stop();

private:
    void run();
    void prepareKey(int key);  // m_mutex held
    void forget();

    PinInPlayer m_pinInPlayer;
    std::mutex m_mutex;  // one load at a time, and the two below
    std::string m_path;
    std::unique_ptr<SynthEngine> m_own;  // loaded when first needed
    std::array<std::atomic<bool>, kProgramKeys> m_ready{};
    std::array<std::atomic<bool>, kProgramKeys> m_requested{};
    sem_t m_wake{};
    std::atomic<bool> m_stopping{false};
    std::thread m_worker;  // started by the first useSoundFont
};

}  // namespace synth::detail
