#pragma once

// A finished take analysed off the GUI thread: its pitch read from the take file and
// scored against the melody on a worker thread of its own, with progress and
// cancellation. The GUI thread starts it and polls it from its timer loop; nothing is
// called across threads, and the real-time threads never see it.

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Score.h"

namespace pitch {

struct TakeResult {
    std::string message;  // not empty: the take could not be read (names the file)
    TakeScore score;
    std::vector<PitchFrame> frames;  // for the strip's trail of the whole take
};

class TakeAnalysis {
public:
    TakeAnalysis() = default;
    ~TakeAnalysis();  // cancels and joins
    TakeAnalysis(const TakeAnalysis&) = delete;
    TakeAnalysis& operator=(const TakeAnalysis&) = delete;

    // GUI thread. Starts analysing `takeFile` (any wave file) against `melody`; a running
    // analysis is cancelled first.
    void start(std::vector<MelodyNote> melody, std::string takeFile);
    // GUI thread. Stops a running analysis; its result is dropped.
    void cancel();
    // GUI thread. Seconds of the take read so far, for a progress display.
    double progressSeconds() const { return m_progress.load(std::memory_order_relaxed); }
    bool running() const { return m_thread.joinable() && !m_done.load(std::memory_order_acquire); }
    // GUI thread. The result once the analysis has finished, handed over once.
    std::optional<TakeResult> take();

private:
    void join();

    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_done{false};
    std::atomic<double> m_progress{0.0};
    TakeResult m_result;  // written by the worker before m_done, read after it
};

// The line shown after a take for a suggested key, e.g. "Try key −3: your voice sat 3
// semitones below the melody" (UTF-8, with a minus sign); empty for no suggestion.
std::string KeySuggestionText(std::optional<int> key);

}  // namespace pitch
