// Arbitrary bytes as a song file for the library: the summary must not crash or read out
// of bounds, and whatever it keeps must be valid UTF-8 for the database.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "SongSummary.h"
#include "SongText.h"

namespace {

bool validUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                                 : (lead & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    std::string error;
    const library::SongSummary summary = library::summarizeSong(bytes, "Artist - Title.kar", error);
    if (error.empty() && (summary.title.empty() || summary.seconds < 0 || !validUtf8(summary.title) ||
                          !validUtf8(summary.artist) || !validUtf8(summary.lyrics))) {
        std::abort();  // a song the library cannot show or store
    }
    if (!validUtf8(library::songTextUtf8(std::string(data, data + size)))) {
        std::abort();
    }
    return 0;
}
