#include "VolumeTable.h"

#include <algorithm>
#include <cstdlib>

namespace cvkapp {

int masterVelocityOffset(int masterVolume) {
    // (v - 100) * 2 / 100 * 64 in integers: n / 100 with halves going to the even neighbour.
    const int n = (masterVolume - 100) * 128;
    int q = n / 100;
    const int r = n % 100;
    if (std::abs(r) * 2 > 100 || (std::abs(r) * 2 == 100 && q % 2 != 0)) {
        q += n < 0 ? -1 : 1;
    }
    return q;
}

VelocityTable buildVolumeTable(int masterVolume, const TrackMixTable& mix) {
    const int master = masterVelocityOffset(masterVolume);
    const bool anySolo = std::any_of(mix.begin(), mix.end(), [](const TTrackMix& t) { return t.Solo; });
    VelocityTable table{};
    for (std::size_t t = 0; t < mix.size(); ++t) {
        const bool silenced = anySolo ? !mix[t].Solo : mix[t].Mute;
        table[t] = static_cast<std::int16_t>(silenced ? -128 : master + 2 * mix[t].VolumeOffset);
    }
    return table;
}

VelocityTable savedVelocities(int masterVolume, const TrackMixTable& mix) {
    const int master = masterVelocityOffset(masterVolume);
    VelocityTable table{};
    for (std::size_t t = 0; t < mix.size(); ++t) {
        table[t] = static_cast<std::int16_t>(master + 2 * mix[t].VolumeOffset);
    }
    return table;
}

int activityLevel(std::uint16_t count) {
    const int v = static_cast<std::int16_t>(count) >> 3;
    return v <= 0 ? 0 : 2 * ((v + 1) / 2);
}

}  // namespace cvkapp
