// Arbitrary bytes as a profile file: the readers must not crash or read out of bounds, and
// a write must keep every other entry and read back exactly what was written.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/profile.h"

namespace {

// Point TMPDIR at a memory file system (/dev/shm) when running: every write is flushed to
// disk, which on a real disk slows the fuzzer about tenfold.
std::string g_folder;

void removeFolder() {
    for (const char* name : {"/input.ini", "/copy.ini"}) {
        ::unlink((g_folder + name).c_str());
    }
    ::rmdir(g_folder.c_str());
}

const std::string& folder() {
    if (g_folder.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cvk-fuzz-XXXXXX";
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

// Values that take the writer's quoting paths as well as the plain one.
const char* const kValues[] = {"42", "", " padded ", "\"quoted\"", "a=b;c", "\""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string original = folder() + "/input.ini";
    const std::string copy = folder() + "/copy.ini";
    store(original, data, size);
    store(copy, data, size);

    const std::string fallback = "\x01missing";
    platform::profileGetInt("Settings", "Volume", -1, original);
    platform::profileGetString("settings", "NAME", fallback, original);
    const std::string otherKey = platform::profileGetString("Settings", "Name", fallback, original);
    const std::string otherSection = platform::profileGetString("Song", "Volume", fallback, original);

    const std::string value = kValues[size % (sizeof kValues / sizeof kValues[0])];
    if (platform::profileWriteString("Settings", "Volume", value, copy)) {
        if (platform::profileGetString("SETTINGS", "volume", fallback, copy) != value) {
            std::abort();  // what was written does not read back
        }
        if (platform::profileGetString("Settings", "Name", fallback, copy) != otherKey ||
            platform::profileGetString("Song", "Volume", fallback, copy) != otherSection) {
            std::abort();  // the write disturbed another entry
        }
    } else if (load(copy) != std::string(reinterpret_cast<const char*>(data), size)) {
        std::abort();  // a refused write changed the file
    }
    return 0;
}
