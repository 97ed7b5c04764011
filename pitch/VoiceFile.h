#pragma once

// The pitch frames of a voice kept in a sound file: any PCM or float wave libsndfile
// reads, at any rate and channel count.

#include <atomic>
#include <string>
#include <vector>

#include "PitchTracker.h"

namespace pitch {

struct VoicePitch {
    std::string message;  // not empty: the file could not be read (it names the file)
    std::vector<PitchFrame> frames;
    double seconds = 0.0;
};

// Any thread; reads the file in pieces of a second. `cancel` (when given) set stops the
// reading with what was read; `progress` (when given) gets the seconds read so far.
VoicePitch ReadVoicePitch(const std::string& path, const std::atomic<bool>* cancel = nullptr,
                          std::atomic<double>* progress = nullptr);

}  // namespace pitch
