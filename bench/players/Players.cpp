#include "Players.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace players {

namespace {

// The full path of `program` found in PATH, or empty.
std::string whichProgram(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = folder + "/" + program;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::string firstReadable(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (::access(path.c_str(), R_OK) == 0) {
            return path;
        }
    }
    return {};
}

Player ourPlayer(const std::string& cvktool, const std::string& scratch, const std::string& settings) {
    // Settings and a configuration folder of the benchmark's own: none of the user's
    // choices takes part.
    Player player{"cvktool", {cvktool, "play", "--settings", settings}, {{"XDG_CONFIG_HOME", scratch}}, {}, {}};
    if (::access(cvktool.c_str(), X_OK) != 0) {
        player.missing = cvktool + " is not there";
    }
    player.detail = "built-in synthesizer, the system's General MIDI SoundFont";
    return player;
}

Player timidity() {
    // -OO goes through libao, whose driver is the system's choice (/etc/libao.conf); with
    // ALSA that reaches the sound server through ALSA's pulse plugin.
    Player player{"timidity", {"timidity", "-OO"}, {}, {}, "libao output, /etc/timidity configuration"};
    if (whichProgram("timidity").empty()) {
        player.missing = "timidity is not installed";
    }
    return player;
}

Player fluidsynth() {
    const std::string soundFont =
        firstReadable({"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                       "/usr/share/soundfonts/default.sf2", "/usr/share/soundfonts/FluidR3_GM.sf2"});
    // -n: no MIDI input driver; the file is the only source, as for the other two.
    Player player{"fluidsynth", {"fluidsynth", "-a", "pulseaudio", "-n", "-i", "-q", soundFont}, {}, {}, soundFont};
    if (whichProgram("fluidsynth").empty()) {
        player.missing = "fluidsynth is not installed";
    } else if (soundFont.empty()) {
        player.missing = "no General MIDI SoundFont found for fluidsynth";
    }
    return player;
}

}  // namespace

std::vector<std::string> Player::commandFor(const std::string& songPath) const {
    std::vector<std::string> line = command;
    line.push_back(songPath);
    return line;
}

std::vector<Player> findPlayers(const std::vector<std::string>& names, const std::string& cvktool,
                                const std::string& scratch, const std::string& settings) {
    std::vector<Player> found;
    for (const std::string& name : {std::string("cvktool"), std::string("timidity"), std::string("fluidsynth")}) {
        bool wanted = false;
        for (const std::string& candidate : names) {
            wanted = wanted || candidate == name;
        }
        if (!wanted) {
            continue;
        }
        found.push_back(name == "cvktool" ? ourPlayer(cvktool, scratch, settings) : name == "timidity" ? timidity() : fluidsynth());
    }
    return found;
}

}  // namespace players
