#pragma once

// The lyrics a song shows, and the rules that look for words where neither lyric rule of
// ExtractLyrics does. Karaoke files from other programs keep their words as text events
// in the first or second track, or as lyric events all at tick 0; the two rules of the
// scan read text events of the third track only and lyric events after tick 0 only.
//
// The further rules run only when both rules of the scan found nothing, so a song that
// either rule finds words in shows exactly those words.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "LyricScan.h"

namespace songfile {

// The rule that found the lyrics a song shows. Names, as cvktool prints them:
enum class LyricSource {
    None,         // "none": no rule found words, or the user declined the other rule's
    Karaoke,      // "karaoke": ExtractLyrics with ".KAR", text events of the third track
    Song,         // "song": ExtractLyrics with ".MID", lyric events of every track
    TextTrack,    // "text-track": text events of the track with the most that look sung
    LyricEvents,  // "lyric-events": lyric events of the track with the most, tick 0 included
};

const char* LyricSourceName(LyricSource source);

// Any thread. The further rules over a song's texts (CollectSongTexts), in order:
// 1. "text-track": the text events after tick 0 that look like sung words: at most 64
//    bytes, no "@" (karaoke information lines such as "@T", "@L"), not starting with "%"
//    (remarks), nothing that reads as a copyright ("(c)", "copyright" in any letter case,
//    a "©" in Latin-1 or UTF-8). The track holding the most of them wins, the earlier one
//    of equals, if it holds at least four: fewer are remarks, not a song's words. Its
//    texts that look sung are taken in order; the same text again at the same tick is a
//    duplicate some editors write and is dropped.
// 2. "lyric-events": the non-empty lyric events at tick 0 or later of the track holding
//    the most of them, the earlier one of equals. (The song rule has taken every lyric
//    event after tick 0 already, so in practice these are the ones at tick 0.)
// Each taken text becomes items as the karaoke rule makes them: every "/" or backslash is
// an item "/" (a line break) at the text's tick, the marker "CVKHEBREW" vanishes, and the
// rest is one item; carriage returns and line feeds before the words break the line
// before them (an item "/"), after the words they end the item with one carriage return,
// which the lyric box takes as the end of the line. Items with no text are left out.
// Returns the first item (freed with FreeLyricList) and sets `source`, or nullptr and
// LyricSource::None.
TlyricList* FallbackLyrics(const std::vector<SongText>& texts, LyricSource& source);

// The lyrics song loading shows for a split file, and how they were found.
struct ShownLyrics {
    TlyricList* first = nullptr;  // the caller frees it with FreeLyricList
    LyricSource source = LyricSource::None;
    int tempo = 120;                      // from the last scan, as ExtractLyrics gives it
    std::optional<std::uint64_t> offset;  // likewise
};

// Asked when the extension's rule found nothing and the other one found words; true
// takes them. Gets the question's text.
using OfferOtherRule = std::function<bool(const char* question)>;

// GUI thread (the scans refill TrackInfoTable). The scans song loading runs for a song
// whose extension, with its dot, upper-cased and cut to four characters, is `ext`:
// ".PFC" tries ".KAR" then ".MID"; ".MID" and ".KAR" try their own rule and offer the
// other one's words through `offer`; any other extension has no lyric rule. When both
// rules have run and found nothing, FallbackLyrics of the same file. Tempo, offset and
// the track information are those of the last ExtractLyrics, whatever the further rules
// find.
ShownLyrics ScanShownLyrics(const std::string& splitPath, const std::string& ext, const OfferOtherRule& offer);

}  // namespace songfile
