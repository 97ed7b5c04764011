#pragma once

// Files for fuzz targets whose readers take a path: a scratch folder under $TMPDIR (point
// it at /dev/shm when fuzzing: every input becomes a file, and some targets flush each
// write to disk), removed with its files when the fuzzer exits.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzzing {

// The path of `name` in this process's scratch folder.
inline std::string scratchFile(const std::string& name) {
    struct Folder {
        std::string path;
        Folder() {
            const char* base = std::getenv("TMPDIR");
            std::string pattern =
                std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cvk-fuzz-XXXXXX";
            if (::mkdtemp(pattern.data()) == nullptr) {
                std::abort();
            }
            path = pattern;
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    return folder.path + "/" + name;
}

// Writes the bytes as the whole file; a fuzzer that cannot do that cannot go on.
inline void storeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
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

// The whole file; empty when it cannot be read.
inline std::vector<std::uint8_t> loadBytes(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return bytes;
    }
    std::uint8_t buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    ::close(fd);
    return bytes;
}

}  // namespace fuzzing
