#pragma once

// A take outlives the program that recorded it: beside every take being recorded lies a
// small note naming the song it was sung over and the process recording it. At the next
// start, a note whose process is gone points at a take to offer back.
//
// The note lives as long as the take is the singer's only copy: from the start of the
// recording until the take is saved in a performance or thrown away. A crash during the
// recording leaves the take under the wave library's temporary name with sizes up to half
// a second old; a crash after it leaves the finished take at its target. Both come back.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cvkapp {

struct TakeNote {
    std::string target;     // the take's file once finished (RecordingFile)
    std::string temporary;  // where the wave library writes it while it records
    std::string song;       // the song sung over
    long pid = 0;           // the process recording it
    // That process's start time (clock ticks after boot), so that a process given the same
    // number later is not taken for the recorder. WriteTakeNote fills it in.
    std::uint64_t started = 0;

    bool operator==(const TakeNote&) const = default;
};

// The note of the take `target`.
std::string TakeNotePath(const std::string& target);

// The note's text:
//   CVK take note 1
//   target=PATH
//   temporary=PATH
//   song=PATH
//   pid=DECIMAL
//   started=DECIMAL
// each line ended by a newline. Empty when a field cannot be written (an empty or a
// multi-line path, no process).
std::string FormatTakeNote(const TakeNote& note);

// Longer notes are not read: a note is a few paths.
constexpr std::size_t kLongestTakeNote = 16 * 1024;

struct TakeNoteParse {
    std::optional<TakeNote> note;
    std::string error;  // why there is no note
};
// Reads exactly the text FormatTakeNote writes; anything else is refused with a reason.
TakeNoteParse ParseTakeNote(std::string_view text);

// When the process `pid` started (field 22 of /proc/PID/stat); nothing when there is no
// such process, it has ended (a zombie) or its record cannot be read.
std::optional<std::uint64_t> ProcessStartTime(long pid);

// Writes the note for `note.target`, whole or not at all, with the start time of
// `note.pid`; false when it could not be written (the take itself is not affected).
bool WriteTakeNote(const TakeNote& note);
// Removes the note of the take `target`, if any.
void RemoveTakeNote(const std::string& target);
// The notes in `folder` whose process is gone. Only this user's notes that name files in
// `folder` itself are read; any other note is left alone.
std::vector<TakeNote> FindInterruptedTakes(const std::string& folder);

// The file holding the take of an interrupted recording: the temporary file while it was
// still recording, else the finished target; empty when neither holds anything.
std::string InterruptedTakeFile(const TakeNote& note);
// Makes the take a complete wave file at its target. False when it could not be put there
// (it is then still where InterruptedTakeFile says).
bool PutTakeInPlace(const TakeNote& note);
// Deletes the take, its temporary file and its note.
void DeleteTake(const TakeNote& note);

}  // namespace cvkapp
