#include "SongMelody.h"

namespace pitch {

std::vector<std::uint32_t> SyllableTicks(const songfile::TlyricList* first) {
    std::vector<std::uint32_t> ticks;
    for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
        bool sung = false;
        for (char c : item->Text) {
            if (c != '/' && c != '\\' && c != '\r' && c != '\n' && c != ' ') {
                sung = true;
                break;
            }
        }
        if (sung && item->StartTick >= 0) {
            ticks.push_back(static_cast<std::uint32_t>(item->StartTick));
        }
    }
    return ticks;
}

SongMelody LoadSongMelody(const std::string& splitPath, const songfile::TlyricList* lyrics,
                          const PlaySettings& settings) {
    SongMelody result;
    const NotesResult read = ReadSongNotesFile(splitPath);
    if (read.error != NotesError::None) {
        result.message = NotesErrorText(read.error, splitPath);
        return result;
    }
    const std::vector<std::uint32_t> syllables = SyllableTicks(lyrics);
    result.choice = ChooseMelodyTrack(read.song, syllables);
    result.notes = MelodyNotes(read.song, result.choice.track, settings);
    return result;
}

}  // namespace pitch
