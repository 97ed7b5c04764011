#pragma once

// The song writer: copies a split file chunk by chunk into a song file with the user's
// tempo, key, per-track velocity offsets and instruments burnt into the events. Bytes are
// edited in place, so the song keeps its exact length; a performance file finds its voice
// chunk right after it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace songfile {

constexpr std::size_t kWriterTrackSlots = 64;

// GUI thread. Writes `source` with the settings applied over the start of `target`.
// `instruments` and `velocities` hold 64 entries, entry k for track k; an instrument
// whose low byte is 0xFF keeps the file's programs. `tempo` is in beats per minute (not 0),
// `key` in semitones. True when every chunk was written. The target is replaced as a
// whole and only then: bytes of the old target beyond the song stay as they were, a
// missing target is created, and on false the target is exactly as before.
// With `wholeFile` the target becomes the song alone: nothing of the old file is kept
// behind it (a save under another name), its permissions are.
// With a `scale` (a song playing by its own tempo changes at a ratio of the user's), every
// tempo event keeps its own value times numerator / denominator instead of taking `tempo`:
// rounded to the nearest microsecond, kept within 1..0xFFFFFF, a 0 left as it is.
struct TempoScaling {
    std::uint32_t numerator = 0;  // 0: every tempo event gets `tempo`
    std::uint32_t denominator = 1;
};
bool WriteEditedSong(const std::string& source, unsigned tempo, const std::int16_t* instruments,
                     const std::string& target, int key, const std::int16_t* velocities,
                     bool wholeFile = false, TempoScaling scale = {});

// Any thread. `note` moved by `key` semitones and folded back into 0..127 by octaves;
// channel 9 (percussion) is never moved, as its notes are instruments, not pitches.
int TransposeNote(int channel, int note, int key);

}  // namespace songfile
