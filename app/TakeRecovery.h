#pragma once

// A take outlives the program that recorded it: beside every take being recorded lies a
// small note naming the song it was sung over and the process recording it. At the next
// start, a note whose process is gone points at a take to offer back.

#include <string>
#include <vector>

namespace cvkapp {

struct TakeNote {
    std::string target;     // the take's file once finished (RecordingFile)
    std::string temporary;  // where the wave library writes it while it records
    std::string song;       // the song sung over
    long pid = 0;           // the process recording it
};

// Writes the note for `note.target`; false when it could not be written (the take itself
// is not affected).
bool WriteTakeNote(const TakeNote& note);
// Removes the note of the take `target`, if any.
void RemoveTakeNote(const std::string& target);
// The notes in `folder` whose process is gone.
std::vector<TakeNote> FindInterruptedTakes(const std::string& folder);

}  // namespace cvkapp
