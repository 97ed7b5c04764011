#pragma once

// One run of one measure: a player started on a song while the benchmark records the
// sink it plays to. Each returns nothing and says why in `failure` when the run failed.

#include <optional>
#include <string>

#include "Onsets.h"
#include "Players.h"

namespace players {

struct RunSetup {
    std::string monitor;  // the sink's monitor source the players are heard on
    std::string logFolder;  // each player's stdout and stderr go to NAME.log here
};

// Milliseconds from starting the player to its first sound at the sink.
std::optional<double> startToSound(const Player& player, const std::string& songPath, const RunSetup& setup,
                                   std::string& failure);

// The player's CPU time over `windowSeconds` of wall time, starting `leadSeconds` after it
// was started, as a percentage of one core.
std::optional<double> cpuWhilePlaying(const Player& player, const std::string& songPath, const RunSetup& setup,
                                      int leadSeconds, int windowSeconds, std::string& failure);

// How evenly the player sounds `notes` notes due every `intervalMs`, the song lasting
// `songSeconds`.
std::optional<Spread> clickSpread(const Player& player, const std::string& songPath, const RunSetup& setup,
                                  int intervalMs, std::size_t notes, int songSeconds, std::string& failure);

}  // namespace players
