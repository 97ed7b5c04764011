#pragma once

// A take scored against the melody: how much of the melody's sung time the voice was
// within a semitone of the note, and where the voice sat against it.
//
// Octaves are folded: a man singing a woman's melody an octave down is in tune. The
// difference between voice and note is taken to the nearest octave, -6..+6 semitones.
// Time is walked in steps of 10 ms; a step inside a melody note counts towards the score,
// and is a hit when the voice is sung there (PitchTracker's frames) within one semitone.
//
// The suggested key moves the song to the singer: when the voice sat consistently below
// the melody by about three semitones, the key −3. "Consistently" means the median
// difference is at least three quarters of a semitone away from the note (a singer a
// quarter-tone off is in tune) and most sung steps lie on the median's side; and only a
// take in which the voice sang at least a fifth of the melody's time suggests anything.

#include <optional>
#include <span>
#include <vector>

#include "Melody.h"
#include "PitchTracker.h"

namespace pitch {

constexpr double kTrailStep = 0.01;  // seconds

struct TrailPoint {
    double seconds = 0.0;
    std::optional<double> melody;  // the note's key number, when a note sounds
    std::optional<double> sung;    // the voice's, when sung
};

struct TakeScore {
    int score = 0;                        // 0..100
    std::optional<double> medianOffset;   // semitones, voice minus melody, octaves folded
    std::optional<int> suggestedKey;      // semitones to move the song's key
    std::size_t melodySteps = 0;          // 10 ms steps inside melody notes
    std::size_t sungSteps = 0;            // of those, steps the voice was sung
    std::size_t hitSteps = 0;             // of those, within a semitone
    std::vector<TrailPoint> trail;        // every step from 0 to the later end, when asked for
};

// The difference `sung - note` taken to the nearest octave: -6..+6.
double FoldedOffset(double sung, double note);

// Any thread. `frames` as PitchTracker gives them, their times from the song's start
// (a take starts with the song).
TakeScore ScoreTake(std::span<const MelodyNote> melody, std::span<const PitchFrame> frames, bool withTrail);

}  // namespace pitch
