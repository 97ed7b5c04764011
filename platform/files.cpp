#include "platform/files.h"

#include "file_modes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// Remaining bytes before writes start failing; negative when no fault is armed.
std::atomic<std::int64_t> g_writeBudget{-1};
std::atomic<bool> g_replaceFault{false};
// Renames still allowed before replaceFile starts failing; negative when no fault is armed.
std::atomic<std::int64_t> g_renamesBeforeFault{-1};
std::atomic<bool> g_flushFault{false};

// The temporary copies of the replacements under way, for a signal handler to remove:
// fixed slots of plain characters, since the handler may neither allocate nor lock. A slot
// is Free, Filling while its owner writes the path, or Live.
constexpr int kReplacementSlots = 16;
constexpr std::size_t kReplacementPathBytes = 4096;
enum SlotState : int { Free, Filling, Live };
struct ReplacementSlot {
    std::atomic<int> state{Free};
    char path[kReplacementPathBytes] = {};
};
ReplacementSlot g_replacements[kReplacementSlots];

// A slot holding `path`, or -1 when none is free or the path is too long (the copy is
// then only removed by the usual ways).
int registerReplacement(const std::string& path) {
    if (path.size() >= kReplacementPathBytes) {
        return -1;
    }
    for (int i = 0; i < kReplacementSlots; ++i) {
        int expected = Free;
        if (g_replacements[i].state.compare_exchange_strong(expected, Filling)) {
            std::memcpy(g_replacements[i].path, path.c_str(), path.size() + 1);
            g_replacements[i].state.store(Live, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

void unregisterReplacement(int& slot) {
    if (slot >= 0) {
        g_replacements[slot].state.store(Free, std::memory_order_release);
        slot = -1;
    }
}

int syncFd(int fd) {
    if (g_flushFault.load()) {
        errno = EIO;
        return -1;
    }
    return ::fsync(fd);
}

void debugLog(const char* what, const std::string& path, int error) {
    if (std::getenv("CVK_DEBUG") != nullptr) {
        std::fprintf(stderr, "files: %s %s: %s\n", what, path.c_str(), std::strerror(error));
    }
}

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    // Closes now, so that a late write error (reported by close on some file systems) is seen.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

// How many of `count` bytes the armed fault still lets through.
std::size_t allowedByFault(std::size_t count) {
    std::int64_t budget = g_writeBudget.load();
    while (budget >= 0) {
        const std::size_t allowed = static_cast<std::uint64_t>(budget) < count ? static_cast<std::size_t>(budget) : count;
        if (g_writeBudget.compare_exchange_weak(budget, budget - static_cast<std::int64_t>(allowed))) {
            return allowed;
        }
    }
    return count;
}

bool writeAll(int fd, const void* data, std::size_t count) {
    const std::size_t allowed = allowedByFault(count);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < allowed) {
        const ssize_t written = ::write(fd, bytes + done, allowed - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    if (allowed < count) {
        errno = ENOSPC;
        return false;
    }
    return true;
}


std::string baseNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A file nobody may write counts as read-only even for root, who could write it anyway:
// the user marked it so, as a read-only attribute elsewhere would.
bool isReadOnly(const std::string& path, const struct stat& info) {
    return (info.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

// A rename is only durable once the folder holding the new name is flushed.
void syncFolder(const std::string& folder) {
    Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) {
        ::fsync(directory.get());
    }
}

bool copyPermissions(int fd, const struct stat& from) {
    if (::fchmod(fd, from.st_mode & 07777) != 0) {
        return false;
    }
    if (::fchown(fd, from.st_uid, from.st_gid) != 0) {
        // Only a privileged process may give a file away; others keep their own ownership.
    }
    return true;
}

// Opens a regular file for reading. O_NONBLOCK keeps a FIFO from stalling the open; it
// is refused right after anyway.
int openRegularForReading(const std::string& path, struct stat& info) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

// `keepPermissions` false leaves the target's own permissions, so that a copy of a
// read-only file can still be written before it takes the original's place.
bool copyFileImpl(const std::string& source, const std::string& target, bool keepPermissions) {
    struct stat info {};
    Descriptor in(openRegularForReading(source, info));
    if (in.get() < 0) {
        debugLog("cannot open", source, errno);
        return false;
    }
    Descriptor out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        debugLog("cannot create", target, errno);
        return false;
    }
    if (keepPermissions && !copyPermissions(out.get(), info)) {
        return false;
    }
    std::uint8_t buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            break;
        }
        if (!writeAll(out.get(), buffer, static_cast<std::size_t>(got))) {
            debugLog("cannot write", target, errno);
            return false;
        }
    }
    const bool synced = ::fsync(out.get()) == 0;
    return out.close() && synced;
}

bool replaceFileImpl(const std::string& replacement, const std::string& target) {
    if (g_replaceFault.load()) {
        errno = EIO;
        return false;
    }
    for (std::int64_t left = g_renamesBeforeFault.load(); left >= 0;) {
        if (left == 0) {
            errno = EIO;
            return false;
        }
        if (g_renamesBeforeFault.compare_exchange_weak(left, left - 1)) {
            break;
        }
    }
    {
        Descriptor fd(::open(replacement.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
            debugLog("cannot flush", replacement, errno);
            return false;
        }
    }
    if (::rename(replacement.c_str(), target.c_str()) != 0) {
        debugLog("cannot rename onto", target, errno);
        return false;
    }
    syncFolder(folderOf(target));
    return true;
}

}  // namespace

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Any thread.
std::string tempFolder() {
    try {
        const char* folder = std::getenv("TMPDIR");
        return folder != nullptr && *folder != '\0' ? std::string(folder) : std::string("/tmp");
    } catch (...) {
        return std::string();
    }
}

// Any thread. The new file's path, or empty.
std::string createTempFile(const std::string& folder, const std::string& prefix) {
    try {
        std::string pattern = folder.empty() ? std::string(".") : folder;
        if (pattern.back() != '/') {
            pattern += '/';
        }
        pattern += prefix;
        pattern += "XXXXXX";
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            debugLog("cannot create a temporary file in", folder, errno);
            return std::string();
        }
        ::close(fd);
        return pattern;
    } catch (...) {
        return std::string();
    }
}

// Any thread. The new file's path, or empty.
std::string createUserFile(const std::string& folder, const std::string& prefix) {
    try {
        const std::string path = createTempFile(folder, prefix);
        if (!path.empty() && ::chmod(path.c_str(), detail::newFileMode()) != 0) {
            debugLog("cannot set the permissions of", path, errno);
            ::unlink(path.c_str());
            return std::string();
        }
        return path;
    } catch (...) {
        return std::string();
    }
}

// Any thread. Free bytes for an unprivileged user, or nothing.
std::optional<std::uint64_t> freeDiskSpace(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return std::uint64_t{info.f_bavail} * std::uint64_t{info.f_frsize};
}

// Any thread.
FileAttributes fileAttributes(const std::string& path) {
    FileAttributes attributes;
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        return attributes;
    }
    attributes.exists = true;
    attributes.directory = S_ISDIR(info.st_mode);
    attributes.readOnly = isReadOnly(path, info);
    return attributes;
}

// Any thread.
bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// Any thread. True when `target` holds the whole copy on disk.
bool copyFile(const std::string& source, const std::string& target) {
    try {
        return copyFileImpl(source, target, true);
    } catch (...) {
        return false;
    }
}

// Any thread. True when `target` now is the replacement.
bool replaceFile(const std::string& replacement, const std::string& target) {
    try {
        return replaceFileImpl(replacement, target);
    } catch (...) {
        return false;
    }
}

FileReader::~FileReader() { close(); }

bool FileReader::open(const std::string& path) {
    close();
    struct stat info {};
    m_fd = openRegularForReading(path, info);
    if (m_fd < 0) {
        return false;
    }
    m_size = static_cast<std::uint64_t>(info.st_size);
    m_position = 0;
    return true;
}

void FileReader::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = -1;
    m_size = 0;
    m_position = 0;
}

bool FileReader::read(void* buffer, std::size_t count) {
    if (m_fd < 0) {
        return false;
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(m_fd, bytes + done, count - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
        m_position += static_cast<std::uint64_t>(got);
    }
    return done == count;
}

std::size_t FileReader::readUpTo(void* buffer, std::size_t count) {
    const std::uint64_t before = m_position;
    read(buffer, count);
    return static_cast<std::size_t>(m_position - before);
}

bool FileReader::seek(std::uint64_t offset) {
    if (m_fd < 0 || offset > m_size) {
        return false;
    }
    if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        return false;
    }
    m_position = offset;
    return true;
}

FileWriter::~FileWriter() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool FileWriter::open(const std::string& path) {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_failed = false;
    m_fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (m_fd < 0) {
        debugLog("cannot open for writing", path, errno);
    }
    return m_fd >= 0;
}

bool FileWriter::write(const void* data, std::size_t count) {
    if (m_fd < 0 || m_failed) {
        return false;
    }
    if (!writeAll(m_fd, data, count)) {
        m_failed = true;
    }
    return !m_failed;
}

bool FileWriter::writeAt(std::uint64_t offset, const void* data, std::size_t count) {
    if (m_fd < 0) {
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t written = ::pwrite(m_fd, bytes + done, count - done,
                                         static_cast<off_t>(offset + done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

std::optional<std::uint64_t> FileWriter::seekToEnd() {
    if (m_fd < 0) {
        return std::nullopt;
    }
    const off_t end = ::lseek(m_fd, 0, SEEK_END);
    if (end < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(end);
}

bool FileWriter::truncate(std::uint64_t size) {
    return m_fd >= 0 && ::ftruncate(m_fd, static_cast<off_t>(size)) == 0;
}

bool FileWriter::sync() {
    if (m_fd < 0) {
        return false;
    }
    return syncFd(m_fd) == 0;
}

bool FileWriter::close() {
    if (m_fd < 0) {
        return false;
    }
    bool ok = syncFd(m_fd) == 0 && !m_failed;
    ok = ::close(m_fd) == 0 && ok;
    m_fd = -1;
    return ok;
}

ReplacementFile::ReplacementFile(const std::string& target, Start start) {
    try {
        m_target = target;
        struct stat linkInfo {};
        if (::lstat(target.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
            char* resolved = ::realpath(target.c_str(), nullptr);
            if (resolved == nullptr) {
                debugLog("cannot follow", target, errno);
                return;
            }
            m_target = resolved;
            std::free(resolved);
        }
        struct stat info {};
        const bool exists = ::stat(m_target.c_str(), &info) == 0;
        if (!exists && errno != ENOENT) {
            return;
        }
        // A file this process may not write is not replaced either, even though the
        // folder would allow the rename: read-only means the save is refused.
        if (exists && (!S_ISREG(info.st_mode) || isReadOnly(m_target, info))) {
            return;
        }
        // Hidden and beside the target: the rename stays on one file system, and a file
        // manager showing the folder does not offer the half-made copy.
        std::string temporary = createTempFile(folderOf(m_target), "." + baseNameOf(m_target) + ".");
        if (temporary.empty()) {
            return;
        }
        if (exists) {
            if (start == Start::CopyOfTarget && !copyFileImpl(m_target, temporary, false)) {
                ::unlink(temporary.c_str());
                return;
            }
            m_mode = info.st_mode & 07777;
            m_owner = info.st_uid;
            m_group = info.st_gid;
            m_keepOwner = true;
        } else {
            m_mode = detail::newFileMode();
        }
        m_temporary = std::move(temporary);
        m_registered = registerReplacement(m_temporary);
    } catch (...) {
        if (!m_temporary.empty()) {
            ::unlink(m_temporary.c_str());
            m_temporary.clear();
        }
    }
}

ReplacementFile::~ReplacementFile() {
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
    }
    unregisterReplacement(m_registered);
}

bool ReplacementFile::commit() {
    if (m_temporary.empty() || ::chmod(m_temporary.c_str(), m_mode) != 0) {
        return false;
    }
    if (m_keepOwner && ::chown(m_temporary.c_str(), m_owner, m_group) != 0) {
        // Only a privileged process may give a file away; others keep their own ownership.
    }
    if (!replaceFile(m_temporary, m_target)) {
        return false;
    }
    m_temporary.clear();
    unregisterReplacement(m_registered);
    return true;
}

// Test thread only; the switch is process-wide.
void setWriteFaultAfter(std::optional<std::uint64_t> bytes) {
    const std::uint64_t limit = static_cast<std::uint64_t>(INT64_MAX);
    g_writeBudget.store(bytes ? static_cast<std::int64_t>(*bytes < limit ? *bytes : limit) : -1);
}

void setReplaceFault(bool fail) { g_replaceFault.store(fail); }

void setReplaceFaultAfter(std::optional<unsigned> renames) {
    g_renamesBeforeFault.store(renames ? static_cast<std::int64_t>(*renames) : -1);
}

void setFlushFault(bool fail) { g_flushFault.store(fail); }

// Signal handler. A copy renamed into place an instant ago is no longer under its
// temporary name, so unlinking that name is harmless.
void removeUncommittedReplacements() noexcept {
    for (ReplacementSlot& slot : g_replacements) {
        if (slot.state.load(std::memory_order_acquire) == Live) {
            ::unlink(slot.path);
        }
    }
}

namespace detail {

// The umask is read from /proc because umask() can only be read by changing it, which
// would race with other threads creating files.
mode_t newFileMode() {
    mode_t mask = 022;
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value & 0777);
                break;
            }
        }
        std::fclose(status);
    }
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace detail
}  // namespace platform
