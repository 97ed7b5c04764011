#include "SongTempoMap.h"

#include <vector>

#include "LyricScan.h"

namespace songfile {

std::optional<pulsant::TempoMap> ReadTempoMap(const std::string& path) {
    std::uint16_t division = 0;
    std::vector<SongTempo> written;
    if (!CollectTempoEvents(path, division, written)) {
        return std::nullopt;
    }
    std::vector<pulsant::TempoEvent> events;
    events.reserve(written.size());
    for (const SongTempo& tempo : written) {
        events.push_back({tempo.Tick, static_cast<std::uint16_t>(tempo.Track), tempo.MicrosPerQuarter});
    }
    return pulsant::TempoMap::build(events, division);
}

}  // namespace songfile
