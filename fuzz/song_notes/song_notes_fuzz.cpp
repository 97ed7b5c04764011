// Arbitrary bytes as a song's notes, the melody chosen from them with and without words
// and timed: nothing may crash or read out of bounds, every note must end at or after its
// start, and the melody must be one line moving forward in time.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Melody.h"
#include "SongNotes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pitch::NotesResult read = pitch::ReadSongNotes(data, size);
    if (read.error != pitch::NotesError::None) {
        return 0;
    }
    std::vector<std::uint32_t> syllables;
    for (const auto& track : read.song.tracks) {
        for (const pitch::Note& note : track) {
            if (note.endTick < note.startTick || note.key > 127 || note.channel > 15) {
                std::abort();
            }
            if (syllables.size() < 64 && (note.startTick & 1) == 0) {
                syllables.push_back(note.startTick);
            }
        }
    }
    for (const auto& words : {std::vector<std::uint32_t>{}, syllables}) {
        const pitch::MelodyChoice choice = pitch::ChooseMelodyTrack(read.song, words);
        if (choice.track >= static_cast<int>(read.song.tracks.size())) {
            std::abort();
        }
        const std::vector<pitch::MelodyNote> melody = pitch::MelodyNotes(read.song, choice.track, {3, 11, 10});
        for (std::size_t i = 0; i < melody.size(); ++i) {
            if (melody[i].end <= melody[i].start || (i > 0 && melody[i].start < melody[i - 1].end)) {
                std::abort();
            }
        }
    }
    return 0;
}
