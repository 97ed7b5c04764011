#pragma once

// The notes of a song, track by track, with the song's Set Tempo events: what the melody
// is chosen from and drawn from. Read from a split file (one channel per track), whose
// bytes are still a file's bytes: every read is bounded, a cut-off track ends where its
// bytes end, and a file that does not start as a Standard MIDI file is refused.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "TempoMap.h"

namespace pitch {

struct Note {
    std::uint32_t startTick = 0;  // absolute, from the start of the song
    std::uint32_t endTick = 0;    // its note-off (or the track's last tick when it has none)
    std::uint8_t key = 0;
    std::uint8_t channel = 0;
};

struct SongNotes {
    std::uint16_t division = 0;                // ticks per quarter note
    std::vector<std::vector<Note>> tracks;     // by track chunk, each by start tick
    std::vector<pulsant::TempoEvent> tempos;   // every track's, each track's in file order
};

enum class NotesError {
    None,
    CannotOpen,   // the file cannot be read
    TooBig,       // larger than any song the player loads
    NotSmf,       // no "MThd" header of six bytes or more at the start
    BadDivision,  // ticks per quarter of 0, or SMPTE time: no note has a time
};

struct NotesResult {
    NotesError error = NotesError::None;
    SongNotes song;
};

// Largest file read; songs are a few hundred kilobytes at most.
constexpr std::size_t kMaxSongBytes = 64u << 20;
// Most track chunks read; the split never writes more than the player's 64 tracks.
constexpr std::size_t kMaxTracks = 256;

// Any thread. The notes of the song in `bytes`. Chunks other than "MTrk" are skipped; a
// chunk whose length runs past the end is read up to the end; a note-on without its
// note-off lasts to the track's last event; a note-on over a sounding note of the same key
// ends the earlier one; a track whose ticks pass 2^32 ends there.
NotesResult ReadSongNotes(const std::uint8_t* bytes, std::size_t size);

// Any thread. The same for the file at `path`.
NotesResult ReadSongNotesFile(const std::string& path);

// The text for a failure, naming the file.
std::string NotesErrorText(NotesError error, const std::string& path);

}  // namespace pitch
