#pragma once

// One run of one measure: a player started on a song while the benchmark records the
// sink it plays to. Each returns nothing and says why in `failure` when the run failed.

#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// A song played for a while beside busy loops, heard from its first sound to its last.
struct Dropouts {
    double startMs = 0;        // from starting the player to its first sound at the sink
    double silences = 0;       // runs of exact digital silence longer than the shortest counted
    double laterSilences = 0;  // those that began a second or more after the first sound
    double silentMs = 0;       // their total length
    double longestMs = 0;      // the longest of them
    std::vector<std::pair<double, double>> spans;  // each one's start after the first sound, and length, ms
};

// Starts `busyLoops` shell loops that spin on the CPU, then the player; records its sink
// for `seconds` from its first sound, stops it and the loops, and counts the runs of
// exact silence longer than `shortestMs` between the first sound and the last. Meant for
// a song that never rests, where any such run is a dropout.
std::optional<Dropouts> dropoutsUnderLoad(const Player& player, const std::string& songPath, const RunSetup& setup,
                                          int seconds, int busyLoops, double shortestMs, std::string& failure);

}  // namespace players
