#include "VoiceFile.h"

#include <sndfile.h>

#include <vector>

namespace pitch {

VoicePitch ReadVoicePitch(const std::string& path, const std::atomic<bool>* cancel,
                          std::atomic<double>* progress) {
    VoicePitch result;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        result.message = "Cannot read " + path + " as a sound file: " + sf_strerror(nullptr);
        return result;
    }
    PitchTracker tracker(info.samplerate, info.channels);
    if (!tracker.valid()) {
        sf_close(file);
        result.message = path + " has " + std::to_string(info.channels) + " channels at " +
                         std::to_string(info.samplerate) + " Hz, which no voice has";
        return result;
    }
    std::vector<float> buffer(static_cast<std::size_t>(info.samplerate) * static_cast<std::size_t>(info.channels));
    sf_count_t total = 0;
    while (cancel == nullptr || !cancel->load(std::memory_order_relaxed)) {
        const sf_count_t frames = sf_readf_float(file, buffer.data(), info.samplerate);
        if (frames <= 0) {
            break;
        }
        total += frames;
        if (progress != nullptr) {
            progress->store(static_cast<double>(total) / info.samplerate, std::memory_order_relaxed);
        }
        tracker.feed(std::span<const float>(buffer.data(), static_cast<std::size_t>(frames) * static_cast<std::size_t>(info.channels)));
    }
    sf_close(file);
    tracker.finish();
    result.frames = tracker.take();
    result.seconds = static_cast<double>(total) / info.samplerate;
    return result;
}

}  // namespace pitch
