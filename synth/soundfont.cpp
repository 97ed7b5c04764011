#include "synth/soundfont.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/environment.h"

namespace synth {
namespace {

// Where the packages put their GM SoundFonts. default-GM.* on Debian and Ubuntu and
// default.sf2 on Fedora are links the packages manage to the font the system prefers, so
// they come before the named fonts. The sf3 fonts need FluidSynth built with libsndfile,
// as the distributions build it.
const char* const kPackagedFonts[] = {
    // Debian, Ubuntu (fluid-soundfont-gm, timgm6mb-soundfont); openSUSE (fluid-soundfont-gm)
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    // Debian, Ubuntu: musescore-general-soundfont*, fluidr3mono-gm-soundfont
    "/usr/share/sounds/sf3/default-GM.sf3",
    "/usr/share/sounds/sf3/MuseScore_General.sf3",
    "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3",
    // Fedora (fluid-soundfont-gm), Arch (soundfont-fluid, freepats-general-midi)
    "/usr/share/soundfonts/default.sf2",
    "/usr/share/soundfonts/FluidR3_GM.sf2",
    "/usr/share/soundfonts/freepats-general-midi.sf2",
};

constexpr const char* kDefaultDataDirs = "/usr/local/share:/usr/share";
constexpr const char* kFontFolder = "/sounds/sf2";

struct State {
    std::mutex mutex;
    std::string choice;
};

State& state() {
    static State s;
    return s;
}

using platform::environment;

bool isSoundFontName(const std::string& name) {
    if (name.size() < 5) {
        return false;
    }
    std::string extension = name.substr(name.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".sf2" || extension == ".sf3";
}

// The SoundFont files of one folder, by name; none when the folder cannot be read.
std::vector<std::string> fontsIn(const std::string& folder) {
    std::vector<std::string> fonts;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (isSoundFontName(name)) {
            fonts.push_back(entries->path().string());
        }
    }
    std::sort(fonts.begin(), fonts.end());
    return fonts;
}

// The data folders to look in: the user's own first, then the system's. Relative paths
// mean nothing to a program started from anywhere, and the base directory rules say to
// ignore them.
std::vector<std::string> dataFolders(const SoundFontPlaces& places) {
    std::vector<std::string> folders;
    if (!places.dataHome.empty() && places.dataHome.front() == '/') {
        folders.push_back(places.dataHome);
    } else if (!places.home.empty() && places.home.front() == '/') {
        folders.push_back(places.home + "/.local/share");
    }
    const std::string dirs = places.dataDirs.empty() ? kDefaultDataDirs : places.dataDirs;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string folder = dirs.substr(start, end - start);
        if (!folder.empty() && folder.front() == '/') {
            folders.push_back(folder);
        }
        start = end + 1;
    }
    for (std::string& folder : folders) {
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
    }
    return folders;
}

bool debugEnabled() {
    const char* debug = std::getenv("CVK_DEBUG");
    return debug != nullptr && *debug != '\0';
}

}  // namespace

void setSoundFontChoice(const std::string& path) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.choice = path;
}

std::string soundFontChoice() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.choice;
}

SoundFontPlaces currentSoundFontPlaces() {
    SoundFontPlaces places;
    places.choice = soundFontChoice();
    places.variable = platform::environment("CVK_SOUNDFONT");
    places.packaged.assign(std::begin(kPackagedFonts), std::end(kPackagedFonts));
    places.dataHome = platform::environment("XDG_DATA_HOME");
    places.dataDirs = platform::environment("XDG_DATA_DIRS");
    places.home = platform::environment("HOME");
    return places;
}

std::vector<std::string> soundFontCandidates(const SoundFontPlaces& places) {
    std::vector<std::string> candidates;
    std::set<std::string> seen;
    const auto add = [&](const std::string& path) {
        if (!path.empty() && seen.insert(path).second) {
            candidates.push_back(path);
        }
    };
    add(places.choice);
    add(places.variable);
    for (const std::string& font : places.packaged) {
        add(font);
    }
    for (const std::string& folder : dataFolders(places)) {
        for (const std::string& font : fontsIn(folder + kFontFolder)) {
            add(font);
        }
    }
    return candidates;
}

std::string firstReadableSoundFont(const std::vector<std::string>& candidates) {
    for (const std::string& candidate : candidates) {
        if (candidate.empty()) {
            continue;
        }
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error) &&
            ::access(candidate.c_str(), R_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::string findSoundFont() {
    try {
        const SoundFontPlaces places = currentSoundFontPlaces();
        const std::string found = firstReadableSoundFont(soundFontCandidates(places));
        if (debugEnabled()) {
            if (!places.choice.empty() && found != places.choice) {
                std::fprintf(stderr, "synth: the chosen SoundFont %s cannot be read\n",
                             places.choice.c_str());
            }
            std::fprintf(stderr, "synth: SoundFont %s\n", found.empty() ? "(none)" : found.c_str());
        }
        return found;
    } catch (...) {
        return {};
    }
}

}  // namespace synth
