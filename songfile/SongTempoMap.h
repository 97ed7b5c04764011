#pragma once

// A song file's tempo map, read the way the sequencer reads it when it plays the song: for
// the tempo display and the tempo steps of those who follow the song's tempo changes.

#include <optional>
#include <string>

#include "TempoMap.h"

namespace songfile {

// Any thread. The map of the split file at `path`: every track's Set Tempo events with
// their three data bytes. Nothing when the file cannot be read as a song or its division
// gives no map (SMPTE timing, 0).
std::optional<pulsant::TempoMap> ReadTempoMap(const std::string& path);

}  // namespace songfile
