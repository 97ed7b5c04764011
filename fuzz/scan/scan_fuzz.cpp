// Arbitrary bytes as a split file, scanned with both lyric rules and with none: the scan
// must not crash or read out of bounds, and every list it returns must be well linked.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "LyricScan.h"

namespace {

// Point TMPDIR at a memory file system (/dev/shm) when running: every input becomes a file.
std::string g_file;

void removeFile() {
    ::unlink(g_file.c_str());
}

const std::string& file() {
    if (g_file.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cvk-scan-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            std::abort();
        }
        ::close(fd);
        g_file = pattern;
        std::atexit(removeFile);
    }
    return g_file;
}

void store(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::abort();
    }
    for (std::size_t done = 0; done < size;) {
        const ssize_t written = ::write(fd, data + done, size - done);
        if (written <= 0) {
            std::abort();
        }
        done += static_cast<std::size_t>(written);
    }
    ::close(fd);
}

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
    store(file(), data, size);
    for (const char* mode : {".KAR", ".mid", ""}) {
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        songfile::TlyricList* first = songfile::ExtractLyrics(file(), mode, tempo, offset);
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
