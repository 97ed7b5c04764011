#include "audio/routing.h"

#include <atomic>
#include <mutex>

namespace audio {
namespace {

std::atomic<float> g_waveGain{1.0f};
std::atomic<float> g_synthGain{1.0f};
std::mutex g_sourceMutex;
std::string g_recordingSource;  // guarded by g_sourceMutex

}  // namespace

float waveOutputGain() noexcept {
    return g_waveGain.load(std::memory_order_relaxed);
}

float synthesizerGain() noexcept {
    return g_synthGain.load(std::memory_order_relaxed);
}

void setWaveOutputGain(float gain) noexcept {
    g_waveGain.store(gain, std::memory_order_relaxed);
}

void setSynthesizerGain(float gain) noexcept {
    g_synthGain.store(gain, std::memory_order_relaxed);
}

std::string recordingSource() {
    std::lock_guard lock(g_sourceMutex);
    return g_recordingSource;
}

void setRecordingSource(const std::string& name) {
    std::lock_guard lock(g_sourceMutex);
    g_recordingSource = name;
}

void resetRouting() {
    setWaveOutputGain(1.0f);
    setSynthesizerGain(1.0f);
    setRecordingSource({});
}

}  // namespace audio
