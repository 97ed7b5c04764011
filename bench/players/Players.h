#pragma once

// The players compared, each as the command a user would type to play a file through the
// sound server: our own `cvktool play`, and timidity and the fluidsynth command where they
// are installed. Each plays to the default sink of the process that starts it
// (PULSE_SINK), so the benchmark hears it on a sink of its own.

#include <string>
#include <utility>
#include <vector>

namespace players {

struct Player {
    std::string name;
    std::vector<std::string> command;  // the song's path follows
    std::vector<std::pair<std::string, std::string>> environment;
    std::string missing;  // why the player cannot run here; empty when it can
    std::string detail;   // what it plays with, for the report

    std::vector<std::string> commandFor(const std::string& songPath) const;
};

// The players named in `names` ("cvktool", "timidity", "fluidsynth"), in that order.
// `cvktool` is the path of our program, `scratch` a folder it may use for its
// configuration and `settings` the settings file it plays with.
std::vector<Player> findPlayers(const std::vector<std::string>& names, const std::string& cvktool,
                                const std::string& scratch, const std::string& settings);

}  // namespace players
