#pragma once

// The melody of a song: which track carries it, and its notes in seconds and semitones as
// the song plays with the user's key and tempo.
//
// The track is the one whose note onsets coincide best with the lyric syllables' ticks:
// the singer's line is written against the words, an accompaniment is not. Coinciding is
// measured both ways (the share of syllables with an onset beside them, and the share of
// the track's onsets, within the words' span, with a syllable beside them) so that a busy
// accompaniment, which has an onset beside every syllable, loses to the line that has
// little else. Without words, the melody is the highest-pitched track that plays one note
// at a time. Drums (channel 10) are never the melody.

#include <cstdint>
#include <span>
#include <vector>

#include "SongNotes.h"

namespace pitch {

// The drum channel, counted from 0.
constexpr std::uint8_t kDrumChannel = 9;

// How the melody track was found.
enum class MelodyRule { None, Lyrics, HighestMonophonic };

struct MelodyChoice {
    int track = -1;  // track chunk index; -1: no track has notes
    MelodyRule rule = MelodyRule::None;
};

// Any thread. `syllableTicks`: the ticks of the lyric items that hold words (line breaks
// left out), in any order.
MelodyChoice ChooseMelodyTrack(const SongNotes& song, std::span<const std::uint32_t> syllableTicks);

struct MelodyNote {
    double start = 0.0;  // seconds from the start of the song
    double end = 0.0;
    double pitch = 0.0;  // MIDI key number, the key setting applied
};

// How the song plays: its key in semitones and its tempo. The player plays a song at one
// tempo, in beats per minute (the one its scan found, or the user's), whatever Set Tempo
// events follow: `beatsPerMinute` times the notes so. With 0 the notes follow the song's
// own tempo map, every quarter scaled by the ratio tempoNumerator / tempoDenominator
// (110/100 plays every quarter 10 % longer), as a player following the map does.
struct PlaySettings {
    int key = 0;
    std::uint32_t beatsPerMinute = 0;
    std::uint32_t tempoNumerator = 1;
    std::uint32_t tempoDenominator = 1;
};

// Seconds from the song's start to `tick` at one tempo.
double SecondsAtTempo(std::uint32_t tick, std::uint16_t division, std::uint32_t beatsPerMinute);

// Any thread. The notes of `track` as one line: where notes overlap, a note ends where the
// next begins, and of notes starting together the highest is kept. Empty for a track that
// does not exist.
std::vector<MelodyNote> MelodyNotes(const SongNotes& song, int track, const PlaySettings& settings);

}  // namespace pitch
