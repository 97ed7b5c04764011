// Arbitrary bytes as the split file a song is saved from. The writer must not crash or
// read out of bounds; when it reports success the target holds a song of exactly the
// source's length followed by the target's old bytes, and scans as the source does.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "../FuzzFiles.h"
#include "LyricScan.h"
#include "SongWriter.h"

namespace {

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The length of the song at the start of `data` as the header and chunk lengths give it.
std::size_t songLength(const std::uint8_t* data, std::size_t size) {
    if (size < 14) {
        std::abort();  // the writer accepted a file without a whole header
    }
    std::size_t length = 14;
    const unsigned tracks = (unsigned{data[10]} << 8) | data[11];
    for (unsigned track = 0; track < tracks; ++track) {
        if (length + 8 > size) {
            std::abort();  // the writer accepted a missing chunk
        }
        length += 8 + std::size_t{bigEndian32(data + length + 4)};
    }
    if (length > size) {
        std::abort();  // the writer accepted a short chunk
    }
    return length;
}

struct Scan {
    bool ok = false;
    std::optional<std::uint64_t> offset;
    std::vector<std::pair<std::int32_t, std::string>> items;
};

Scan scan(const std::string& path) {
    Scan result;
    int tempo = 0;
    songfile::TlyricList* first = songfile::ExtractLyrics(path, ".KAR", tempo, result.offset);
    result.ok = result.offset.has_value();
    for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
        result.items.emplace_back(item->StartTick, item->Text);
    }
    songfile::FreeLyricList(first);
    return result;
}

const std::uint8_t kOldTarget[] = "This was the user's file before the save, with a voice chunk.";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string source = fuzzing::scratchFile("source.mid");
    const std::string target = fuzzing::scratchFile("target.mid");
    fuzzing::storeBytes(source, data, size);
    fuzzing::storeBytes(target, kOldTarget, sizeof kOldTarget);

    std::int16_t instruments[64];
    std::int16_t velocities[64];
    for (int i = 0; i < 64; ++i) {
        instruments[i] = static_cast<std::int16_t>(i % 3 == 0 ? 255 : (size + static_cast<std::size_t>(i)) % 130);
        velocities[i] = static_cast<std::int16_t>(static_cast<int>((size * 7 + static_cast<std::size_t>(i)) % 301) - 150);
    }
    const unsigned tempo = 1 + static_cast<unsigned>(size % 300);
    const int key = static_cast<int>(size % 49) - 24;

    if (!songfile::WriteEditedSong(source, tempo, instruments, target, key, velocities)) {
        if (fuzzing::loadBytes(target) != std::vector<std::uint8_t>(kOldTarget, kOldTarget + sizeof kOldTarget)) {
            std::abort();  // a failed save changed the target
        }
        return 0;
    }
    const std::size_t length = songLength(data, size);
    const std::vector<std::uint8_t> written = fuzzing::loadBytes(target);
    const std::size_t expectedSize = length > sizeof kOldTarget ? length : sizeof kOldTarget;
    if (written.size() != expectedSize ||
        (length < sizeof kOldTarget &&
         std::memcmp(written.data() + length, kOldTarget + length, sizeof kOldTarget - length) != 0)) {
        std::abort();  // the song's length changed or the bytes behind it were lost
    }
    const Scan before = scan(source);
    const Scan after = scan(target);
    if (before.ok != after.ok || before.offset != after.offset || before.items != after.items) {
        std::abort();  // the saved song scans differently from its source
    }
    return 0;
}
