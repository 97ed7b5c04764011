// Arbitrary bytes as a split file, its texts gathered and read by the further lyric rules,
// and the whole loading scan run for each extension: nothing may crash or read out of
// bounds, every list must be well linked and come from one track, and gathering the
// texts must leave the track information alone. The song's tempo map is read from the same
// bytes: never more events than the bytes can hold, and its times never run backwards.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "../FuzzFiles.h"
#include "LyricFallback.h"
#include "LyricScan.h"
#include "SongTempoMap.h"

namespace {

// Items of the further rules come from one track; the scan's song rule takes every track.
void check(const songfile::TlyricList* first, std::size_t size, songfile::LyricSource source) {
    const bool oneTrack = source == songfile::LyricSource::TextTrack || source == songfile::LyricSource::LyricEvents;
    if (first == nullptr) {
        return;
    }
    if (first->Prev != nullptr) {
        std::abort();
    }
    std::size_t count = 0;
    for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
        const bool last = item->Next == nullptr;
        if ((!last && (item->Next->Prev != item || item->EndTick != item->Next->StartTick ||
                       (oneTrack && item->Next->Track != first->Track))) ||
            (last && item->EndTick != item->StartTick) || item->StartTick < 0) {
            std::abort();  // broken links or ticks, or items of two tracks
        }
        // A text of n bytes makes at most n + 1 items, and each text takes 4 bytes or more.
        if (++count > 2 * size) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = fuzzing::scratchFile("split.mid");
    fuzzing::storeBytes(file, data, size);

    songfile::TrackInfoTable[0].TrackName = "kept";
    std::vector<songfile::SongText> texts;
    const bool scanned = songfile::CollectSongTexts(file, texts);
    if (songfile::TrackInfoTable[0].TrackName != "kept" || (!scanned && !texts.empty()) || texts.size() > size) {
        std::abort();  // the table touched, texts from a failed scan, or more texts than bytes
    }
    songfile::LyricSource source = songfile::LyricSource::None;
    songfile::TlyricList* first = songfile::FallbackLyrics(texts, source);
    if ((first == nullptr) != (source == songfile::LyricSource::None)) {
        std::abort();
    }
    check(first, size, source);
    songfile::FreeLyricList(first);

    std::uint16_t division = 0;
    std::vector<songfile::SongTempo> tempos;
    if (songfile::CollectTempoEvents(file, division, tempos) && tempos.size() > size / 6) {
        std::abort();  // an event takes at least six bytes
    }
    if (const std::optional<pulsant::TempoMap> map = songfile::ReadTempoMap(file)) {
        std::uint64_t before = 0;
        for (std::uint64_t tick = 0; tick <= 0xFFFFFFFFu; tick = tick * 3 + 1 + (size & 0xFF)) {
            const std::uint64_t at = map->timeAt(static_cast<std::uint32_t>(tick));
            if (at < before || map->tickAt(at) < tick) {
                std::abort();  // time running backwards, or a seek that misses its tick
            }
            before = at;
        }
    }

    for (const char* ext : {".KAR", ".MID", ".PFC", ""}) {
        const songfile::ShownLyrics shown =
            songfile::ScanShownLyrics(file, ext, [](const char*) { return true; });
        if ((shown.first == nullptr) != (shown.source == songfile::LyricSource::None) ||
            (shown.first != nullptr && *ext == '\0')) {
            std::abort();  // a name without lyrics, or lyrics for a song without a rule
        }
        check(shown.first, size, shown.source);
        songfile::FreeLyricList(shown.first);
    }
    return 0;
}
