#include "Score.h"

#include <algorithm>
#include <cmath>

namespace pitch {

namespace {

constexpr double kInTune = 1.0;           // semitones either way
constexpr double kOffKey = 0.75;          // |median| from which a key is suggested
constexpr double kConsistentShare = 0.6;  // of sung steps on the median's side
constexpr double kEnoughSinging = 0.2;    // of the melody's time

// How far from a step a sung frame still counts for it. The detector's window is 64 ms
// long, so a note's first and last 30 ms are blurred with what lies beside them and often
// read as not sung; a singer is not marked down for the analysis' own smear.
constexpr double kFrameReach = 0.032;

// The sung pitch at `seconds`: that of the nearest sung frame within kFrameReach.
std::optional<double> sungAt(std::span<const PitchFrame> frames, double seconds) {
    auto it = std::lower_bound(frames.begin(), frames.end(), seconds - kFrameReach,
                               [](const PitchFrame& f, double t) { return f.seconds < t; });
    const PitchFrame* nearest = nullptr;
    for (; it != frames.end() && it->seconds <= seconds + kFrameReach; ++it) {
        if (it->pitch > 0.0f && (nearest == nullptr || std::abs(it->seconds - seconds) < std::abs(nearest->seconds - seconds))) {
            nearest = &*it;
        }
    }
    if (nearest == nullptr) {
        return std::nullopt;
    }
    return nearest->pitch;
}

double median(std::vector<double> values) {
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) {
        return upper;
    }
    return (upper + *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle))) / 2.0;
}

}  // namespace

double FoldedOffset(double sung, double note) {
    const double difference = sung - note;
    return difference - 12.0 * std::round(difference / 12.0);
}

TakeScore ScoreTake(std::span<const MelodyNote> melody, std::span<const PitchFrame> frames, bool withTrail) {
    TakeScore result;
    double end = 0.0;
    for (const MelodyNote& note : melody) {
        end = std::max(end, note.end);
    }
    if (withTrail && !frames.empty()) {
        end = std::max(end, frames.back().seconds);
    }
    std::vector<double> offsets;
    std::size_t noteIndex = 0;
    const auto steps = static_cast<std::size_t>(std::ceil(end / kTrailStep));
    for (std::size_t step = 0; step < steps; ++step) {
        const double t = static_cast<double>(step) * kTrailStep;
        while (noteIndex < melody.size() && melody[noteIndex].end <= t) {
            ++noteIndex;
        }
        std::optional<double> note;
        if (noteIndex < melody.size() && melody[noteIndex].start <= t) {
            note = melody[noteIndex].pitch;
        }
        const std::optional<double> sung = sungAt(frames, t);
        if (note) {
            ++result.melodySteps;
            if (sung) {
                ++result.sungSteps;
                const double offset = FoldedOffset(*sung, *note);
                offsets.push_back(offset);
                result.hitSteps += std::abs(offset) < kInTune ? 1 : 0;
            }
        }
        if (withTrail) {
            result.trail.push_back({t, note, sung});
        }
    }
    if (result.melodySteps > 0) {
        result.score = static_cast<int>(
            std::lround(100.0 * static_cast<double>(result.hitSteps) / static_cast<double>(result.melodySteps)));
    }
    if (offsets.empty()) {
        return result;
    }
    const double middle = median(offsets);
    result.medianOffset = middle;
    const auto sameSide = static_cast<std::size_t>(std::count_if(offsets.begin(), offsets.end(), [&](double offset) {
        return (middle < 0.0 ? offset <= -0.5 : offset >= 0.5);
    }));
    const bool enough = static_cast<double>(result.sungSteps) >= kEnoughSinging * static_cast<double>(result.melodySteps);
    if (enough && std::abs(middle) >= kOffKey &&
        static_cast<double>(sameSide) >= kConsistentShare * static_cast<double>(offsets.size())) {
        result.suggestedKey = static_cast<int>(std::lround(middle));
    }
    return result;
}

}  // namespace pitch
