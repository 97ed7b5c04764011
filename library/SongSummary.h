#pragma once

// What the library keeps of one song file, read on any thread: title, artist, lyrics and
// playing time. The walk is the one every reader of the project uses (smf/EventMeasure.h
// through songfile/MidiBytes.h), bounded by each chunk's end; the lyrics are found by the
// same rules as the player's (the karaoke rule, the song rule, then the further rules of
// songfile/LyricFallback.h).

#include <cstdint>
#include <string>
#include <vector>

namespace library {

struct SongSummary {
    std::string title;   // UTF-8; empty when the song names none
    std::string artist;  // UTF-8; may be empty
    std::string lyrics;  // UTF-8, lines joined by "\n"
    int seconds = 0;
};

// Files larger than this are not taken for songs (a Standard MIDI file of a song is rarely
// above a megabyte; this bounds the memory a worker thread takes).
constexpr std::uint64_t kMaxSongBytes = 16u << 20;

// Reads a song from its bytes. Empty `error` on success, otherwise why the bytes are not a
// song. `fileName` (without folder) gives title and artist when the song names none:
// "Artist - Title.kar" is taken apart at its " - ".
SongSummary summarizeSong(const std::vector<std::uint8_t>& bytes, const std::string& fileName, std::string& error);

// Reads the file and summarizes it; `error` also says when the file cannot be read.
SongSummary summarizeSongFile(const std::string& path, std::string& error);

}  // namespace library
