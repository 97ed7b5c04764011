#pragma once

// Generated songs for the library's tests: karaoke files with their names in "@T" lines
// and their words as text events of the third track, and songs with lyric events.

#include <string>
#include <vector>

#include "SmfBuilder.h"

namespace librarytest {

using testing_support::Track;

// Words as the karaoke rule reads them: a text event each, after tick 0, "/" opening a line.
inline std::vector<std::uint8_t> karaokeSong(const std::string& title, const std::string& artist,
                                             const std::vector<std::string>& words, int microsPerQuarter = 500000) {
    Track tempo;
    tempo.meta(0, 3, "Tempo track").tempo(0, static_cast<std::uint32_t>(microsPerQuarter)).end(0);
    Track notes;
    notes.program(0, 0, 1).noteOn(0, 0, 60, 100).noteOff(480 * static_cast<std::uint32_t>(words.size() + 1), 0, 60).end(0);
    Track text;
    text.meta(0, 1, "@KMIDI KARAOKE FILE").meta(0, 1, "@T" + title).meta(0, 1, "@T" + artist);
    for (std::size_t i = 0; i < words.size(); ++i) {
        text.meta(480, 1, (i % 4 == 0 ? "/" : "") + words[i] + " ");
    }
    text.end(0);
    return testing_support::smf(1, 480, {tempo, notes, text});
}

// A song whose words are lyric events and whose title is the first track's name.
inline std::vector<std::uint8_t> lyricEventSong(const std::string& title, const std::vector<std::string>& words) {
    Track first;
    first.meta(0, 3, title).tempo(0, 600000);
    for (const std::string& word : words) {
        first.meta(96, 5, word + " ");
    }
    first.noteOn(0, 0, 64, 90).noteOff(96, 0, 64).end(0);
    return testing_support::smf(0, 96, {first});
}

// Notes and nothing else: the file name names it.
inline std::vector<std::uint8_t> bareSong(std::uint32_t ticks = 1920) {
    Track first;
    first.noteOn(0, 0, 64, 90).noteOff(ticks, 0, 64).end(0);
    return testing_support::smf(0, 480, {first});
}

}  // namespace librarytest
