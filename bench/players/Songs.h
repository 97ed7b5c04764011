#pragma once

// The songs the players are compared on, made here so every player reads the same bytes.
// Each begins with a loud note at tick 0, so "first sound" means the same moment for all.

#include <string>
#include <vector>

#include "SmfBuilder.h"

namespace players {

struct Song {
    std::string name;
    testing_support::ByteVector bytes;
};

// Ten channels of sixteenths at 120 bpm, chords on three of them, drums on channel 10.
Song denseSong(int seconds);
// A usual karaoke arrangement at 120 bpm: melody, bass, piano, strings, guitar, drums.
Song mediumSong(int seconds);
// One melody line on a piano.
Song sparseSong(int seconds);

// Claves (drum channel, key 75) every `intervalMs` for `seconds`, one tick a millisecond,
// each cut after `noteMs`. The note's nominal time is its index times `intervalMs`.
Song clavesSong(int seconds, int intervalMs, int noteMs);
int clavesCount(int seconds, int intervalMs);

// The named songs of `names` ("dense", "medium", "sparse"); an unknown name is left out.
std::vector<Song> songsByName(const std::vector<std::string>& names, int seconds);

}  // namespace players
