#pragma once

// The pitch frames of a voice kept in a sound file: any PCM or float wave libsndfile
// reads, at any rate and channel count.

#include <string>
#include <vector>

#include "PitchTracker.h"

namespace pitch {

struct VoicePitch {
    std::string message;  // not empty: the file could not be read (it names the file)
    std::vector<PitchFrame> frames;
    double seconds = 0.0;
};

// Any thread; reads the file in pieces of a second.
VoicePitch ReadVoicePitch(const std::string& path);

}  // namespace pitch
