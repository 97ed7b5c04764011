#pragma once

// The melody of a loaded song in one call, for the window and cvktool: the notes of its
// split file, the track chosen with the lyric items the scan found, and that track's notes
// as the song plays.

#include <string>
#include <vector>

#include "LyricScan.h"
#include "Melody.h"

namespace pitch {

// The ticks of the items that hold words: line breaks ("/" and the items a karaoke text
// starting with "/" or a backslash gives) and empty items are not sung.
std::vector<std::uint32_t> SyllableTicks(const songfile::TlyricList* first);

struct SongMelody {
    std::string message;  // not empty: the split file could not be read (names it)
    MelodyChoice choice;
    std::vector<MelodyNote> notes;
};

// Any thread (reads the file, touches no shared table).
SongMelody LoadSongMelody(const std::string& splitPath, const songfile::TlyricList* lyrics,
                          const PlaySettings& settings);

}  // namespace pitch
