#pragma once

// Where notes start in a recording of a sink's monitor, and how evenly they follow a
// nominal grid.

#include <cstddef>
#include <vector>

#include "pulse_support.h"

namespace players {

// An onset is a rise above the threshold after this much sound below it (the first one
// needs no quiet before it: the sink was silent until the player began).
constexpr std::size_t kQuietFrames = cvktest::PulseRecorder::kRate / 100;

struct Spread {
    std::size_t matched = 0;  // onsets that belong to a note, at most one a note
    double spreadMs = 0;      // max - min of (onset - nominal time)
    double p95Ms = 0;         // p95 of |offset - median offset|
};

// Note k is due `k * intervalMicros` after note 0; the first onset is note 0's, which sets
// the constant latency. Every onset is given to the nearest note.
Spread onsetSpread(const std::vector<double>& onsetMicros, double intervalMicros, std::size_t notes);

}  // namespace players
