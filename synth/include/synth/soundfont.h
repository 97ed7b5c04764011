#pragma once

#include <string>
#include <vector>

#include "synth/export.h"

// The General MIDI SoundFont the built-in synthesizer plays with.
//
// Search order: the user's choice; $CVK_SOUNDFONT; the GM SoundFonts the distributions'
// packages install (Debian and Ubuntu, Fedora, Arch, openSUSE); then every .sf2 and .sf3
// file in sounds/sf2 under $XDG_DATA_HOME and each folder of $XDG_DATA_DIRS, by name.
// The first readable file wins. A choice that is missing or unreadable is passed over like
// any other candidate, so a SoundFont removed since it was chosen still leaves the player
// with sound.
namespace synth {

// The user's SoundFont, tried before every other place; empty for none. The synthesizer is
// opened without the settings at hand, so the host hands the choice over before each open.
// Any thread; takes effect at the next open.
CVK_SYNTH_API void setSoundFontChoice(const std::string& path);
CVK_SYNTH_API std::string soundFontChoice();

// Where the search looks. Unset or empty variables are empty strings.
struct SoundFontPlaces {
    std::string choice;
    std::string variable;               // $CVK_SOUNDFONT
    std::vector<std::string> packaged;  // the distributions' GM SoundFonts, in order
    std::string dataHome;               // $XDG_DATA_HOME
    std::string dataDirs;               // $XDG_DATA_DIRS
    std::string home;                   // $HOME
};

// The places of this process: the choice, its environment and the packaged fonts.
CVK_SYNTH_API SoundFontPlaces currentSoundFontPlaces();

// Every candidate, in the order tried. Lists the sounds/sf2 folders, so it reads the disk.
CVK_SYNTH_API std::vector<std::string> soundFontCandidates(const SoundFontPlaces& places);

// The first candidate that is a readable file (not a folder); empty when there is none.
CVK_SYNTH_API std::string firstReadableSoundFont(const std::vector<std::string>& candidates);

// The SoundFont the synthesizer loads now; empty when there is none anywhere.
CVK_SYNTH_API std::string findSoundFont();

}  // namespace synth
