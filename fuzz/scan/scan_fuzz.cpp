// Arbitrary bytes as a split file, scanned with both lyric rules and with none: the scan
// must not crash or read out of bounds, and every list it returns must be well linked.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "../FuzzFiles.h"
#include "LyricScan.h"

namespace {

void check(const songfile::TlyricList* first, std::size_t size, const std::optional<std::uint64_t>& offset) {
    if (first == nullptr) {
        return;
    }
    if (!offset || *offset > size || first->Prev != nullptr) {
        std::abort();  // lyrics from a failed scan, or an offset beyond the file
    }
    std::size_t count = 0;
    for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
        const bool last = item->Next == nullptr;
        if ((!last && (item->Next->Prev != item || item->EndTick != item->Next->StartTick)) ||
            (last && item->EndTick != item->StartTick) || item->StartTick <= 0) {
            std::abort();  // broken links or ticks
        }
        // Every item needs at least one byte of an event behind it.
        if (++count > size) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = fuzzing::scratchFile("split.mid");
    fuzzing::storeBytes(file, data, size);
    for (const char* mode : {".KAR", ".mid", ""}) {
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        songfile::TlyricList* first = songfile::ExtractLyrics(file, mode, tempo, offset);
        check(first, size, offset);
        if (*mode == '\0' && first != nullptr) {
            std::abort();  // no lyric rule, yet lyrics
        }
        songfile::FreeLyricList(first);
        for (const songfile::trackInfo& info : songfile::TrackInfoTable) {
            if (info.TrackName.size() > 255 || info.Copyright.size() > 255 || info.Info.size() > 254) {
                std::abort();  // a text beyond its budget
            }
        }
    }
    return 0;
}
