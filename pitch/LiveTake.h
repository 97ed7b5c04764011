#pragma once

// The pitch of a take file while it is being written: a worker thread follows the wave
// file (its data growing at its end) and analyses the new audio as it arrives; the
// caller takes the frames from its own loop. The window's trail no longer reads the take
// file (a monitor alone writes none): it reads what the capture hears (LiveVoice.h).
// ReadWaveLayout is also the take header reader the fuzz target exercises.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PitchTracker.h"

namespace pitch {

// Where a wave file's sound data starts and what it holds.
struct WaveLayout {
    std::uint64_t dataOffset = 0;
    int rate = 0;
    int channels = 0;
    int bits = 0;  // 8 or 16: what the recorder writes
};

// Any thread. The layout of a PCM wave file from its first bytes: "RIFF", "WAVE", chunks
// up to "data", a "fmt " before it with format 1 (PCM), 8 or 16 bits, 1..8 channels and a
// rate of 1000..384000 Hz. Nothing when the bytes are not such a file or are cut short.
// The sizes of the RIFF and data chunks are not trusted: a take being written has them 0.
std::optional<WaveLayout> ReadWaveLayout(const std::uint8_t* bytes, std::size_t size);

class LiveTake {
public:
    LiveTake() = default;
    ~LiveTake();  // stops and joins
    LiveTake(const LiveTake&) = delete;
    LiveTake& operator=(const LiveTake&) = delete;

    // GUI thread. Follows the file at `path` from its start; a take already followed is
    // stopped first.
    void start(std::string path);
    // GUI thread. Stops following; frames not taken are dropped.
    void stop();
    bool running() const { return m_thread.joinable(); }
    // GUI thread. The frames analysed since the last call, oldest first.
    std::vector<PitchFrame> take();

private:
    void follow(const std::string& path);

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;                 // guards m_frames between the worker and the GUI
    std::vector<PitchFrame> m_frames;
};

}  // namespace pitch
