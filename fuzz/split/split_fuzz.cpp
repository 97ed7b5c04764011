// Arbitrary bytes as a song file: the split must not crash, read past a chunk or allocate
// beyond the file, and whatever it accepts must come out stable - splitting its own output
// again adds no track and writes the same bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MidiSplit.h"

namespace {

// Point TMPDIR at a memory file system (/dev/shm) when running: three files are written
// per input.
std::string g_folder;

constexpr const char* kFiles[] = {"/input.mid", "/split.mid", "/again.mid"};

void removeFolder() {
    for (const char* name : kFiles) {
        ::unlink((g_folder + name).c_str());
    }
    ::rmdir(g_folder.c_str());
}

const std::string& folder() {
    if (g_folder.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cvk-split-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        g_folder = pattern;
        std::atexit(removeFolder);
    }
    return g_folder;
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

std::string load(const std::string& path) {
    std::string bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.append(buffer, got);
        }
        std::fclose(file);
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = folder() + kFiles[0];
    const std::string split = folder() + kFiles[1];
    const std::string again = folder() + kFiles[2];
    store(input, data, size);

    const songfile::SplitResult first = songfile::SplitMidiFile(input, split);
    if (!first.message.empty()) {
        if (first.addedTracks != 0) {
            std::abort();
        }
        return 0;
    }
    if (first.addedTracks < 0) {
        std::abort();
    }
    const songfile::SplitResult second = songfile::SplitMidiFile(split, again);
    if (!second.message.empty() || second.addedTracks != 0 || load(split) != load(again)) {
        std::fprintf(stderr, "second split: '%s', %d added\n", second.message.c_str(), second.addedTracks);
        std::abort();
    }
    return 0;
}
