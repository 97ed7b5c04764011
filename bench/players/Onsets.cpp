#include "Onsets.h"

#include <cmath>

#include "BenchSupport.h"

namespace players {

Spread onsetSpread(const std::vector<double>& onsetMicros, double intervalMicros, std::size_t notes) {
    Spread spread;
    if (onsetMicros.empty()) {
        return spread;
    }
    // Each onset goes to the note nearest to it with the latency of the onset before it,
    // so a latency that creeps (a player falling behind) is followed, not wrapped around.
    std::vector<double> offsetsMs;
    double latency = 0;
    long previous = -1;
    for (const double at : onsetMicros) {
        const double sinceFirst = at - onsetMicros.front();
        const long note = std::lround((sinceFirst - latency) / intervalMicros);
        if (note <= previous || static_cast<std::size_t>(note) >= notes) {
            continue;
        }
        previous = note;
        latency = sinceFirst - static_cast<double>(note) * intervalMicros;
        offsetsMs.push_back(latency / 1000.0);
    }
    const double median = bench::percentile(offsetsMs, 0.5);
    std::vector<double> deviations;
    for (const double offset : offsetsMs) {
        deviations.push_back(std::fabs(offset - median));
    }
    spread.matched = offsetsMs.size();
    spread.spreadMs = bench::percentile(offsetsMs, 1.0) - bench::percentile(offsetsMs, 0.0);
    spread.p95Ms = bench::percentile(deviations, 0.95);
    return spread;
}

}  // namespace players
