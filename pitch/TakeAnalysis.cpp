#include "TakeAnalysis.h"

#include <cstdlib>

#include "VoiceFile.h"

namespace pitch {

TakeAnalysis::~TakeAnalysis() { cancel(); }

void TakeAnalysis::join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void TakeAnalysis::cancel() {
    m_cancel.store(true, std::memory_order_relaxed);
    join();
    m_done.store(false, std::memory_order_relaxed);
}

void TakeAnalysis::start(std::vector<MelodyNote> melody, std::string takeFile) {
    cancel();
    m_cancel.store(false, std::memory_order_relaxed);
    m_progress.store(0.0, std::memory_order_relaxed);
    m_result = {};
    m_thread = std::thread([this, melody = std::move(melody), file = std::move(takeFile)] {
        VoicePitch voice = ReadVoicePitch(file, &m_cancel, &m_progress);
        if (!m_cancel.load(std::memory_order_relaxed)) {
            m_result.message = std::move(voice.message);
            if (m_result.message.empty()) {
                m_result.score = ScoreTake(melody, voice.frames, false);
                m_result.frames = std::move(voice.frames);
            }
        }
        m_done.store(true, std::memory_order_release);
    });
}

std::optional<TakeResult> TakeAnalysis::take() {
    if (!m_thread.joinable() || !m_done.load(std::memory_order_acquire)) {
        return std::nullopt;
    }
    join();
    m_done.store(false, std::memory_order_relaxed);
    if (m_cancel.load(std::memory_order_relaxed)) {
        return std::nullopt;
    }
    return std::move(m_result);
}

std::string KeySuggestionText(std::optional<int> key) {
    if (!key || *key == 0) {
        return {};
    }
    const int steps = std::abs(*key);
    return std::string("Try key ") + (*key < 0 ? "\u2212" : "+") + std::to_string(steps) + ": your voice sat " +
           std::to_string(steps) + (steps == 1 ? " semitone " : " semitones ") + (*key < 0 ? "below" : "above") +
           " the melody";
}

}  // namespace pitch
