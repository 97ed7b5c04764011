#pragma once

// The scan of a song's split file for its lyrics, its per-track information and its
// initial tempo. Texts are kept as the file's bytes: songs come in every 8-bit code page
// and nothing here can tell which one, so nothing is decoded.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace songfile {

// One lyric item; a song's lyrics are a doubly linked list of them in creation order.
struct TlyricList {
    std::int32_t StartTick = 0;  // ticks from the start of the item's track
    std::int32_t EndTick = 0;    // StartTick of the next item; its own for the last
    std::string Text;            // raw bytes; "/" is a line break, may be empty
    TlyricList* Prev = nullptr;
    TlyricList* Next = nullptr;
    int Track = 0;               // split-file track the item came from
};

// Per-track information of the loaded song, one per split-file track.
struct trackInfo {
    std::string Info;       // text events joined by "\r\n\t"
    std::string Copyright;  // at most 255 bytes; track 0's when the track has none
    std::string TrackName;  // at most 255 bytes
    std::uint8_t FileProgram = 0xFF;  // first program change; 0xFF = none
    std::uint8_t Program = 0xFF;      // chosen by the user, starts as FileProgram
    std::uint8_t Channel = 0xFF;      // channel of the first program change
    bool MorePrograms = false;        // more than one program change
};

constexpr std::size_t kTrackInfoCount = 64;

// GUI thread only. Refilled by every ExtractLyrics; emptied when a scan fails.
extern std::array<trackInfo, kTrackInfoCount> TrackInfoTable;

// GUI thread. Scans the split file at `path` with the lyric rule `mode` (".KAR" or ".MID"
// in any letter case; anything else gathers track information and tempo only).
// Returns the first lyric item, or nullptr when there are none or the scan failed; the
// caller frees the list with FreeLyricList. `tempo` is set to 120 and then to the tempo
// of track 0's last tempo event. `offset` is set to the file position after the last
// track chunk when the scan succeeds and left as it was when it fails.
TlyricList* ExtractLyrics(const std::string& path, const std::string& mode, int& tempo,
                          std::optional<std::uint64_t>& offset);

// One text (type 1) or lyric (type 5) event of a split file, for the lyric rules that
// look beyond the two above (LyricFallback.h).
struct SongText {
    int Track = 0;
    std::int32_t Tick = 0;  // absolute, wrapping as the scan's ticks do
    std::uint8_t Type = 0;
    std::string Text;       // raw bytes
};

// Any thread. Walks the split file at `path` exactly as ExtractLyrics does and gathers its
// text and lyric events in file order; touches neither TrackInfoTable nor any tempo. False,
// with `texts` empty, when the scan fails.
bool CollectSongTexts(const std::string& path, std::vector<SongText>& texts);

// A Set Tempo event with its three data bytes: its absolute tick, its track, its value.
struct SongTempo {
    std::uint32_t Tick = 0;
    int Track = 0;
    std::uint32_t MicrosPerQuarter = 0;
};

// Any thread. Walks the split file at `path` as ExtractLyrics does and gathers the tempo
// events of every track in file order, and the header's division word; touches nothing
// else. False, with nothing gathered, when the scan fails.
bool CollectTempoEvents(const std::string& path, std::uint16_t& division, std::vector<SongTempo>& tempos);

// Any thread. Releases a list given its first item (nullptr is allowed).
void FreeLyricList(TlyricList* first);

}  // namespace songfile
