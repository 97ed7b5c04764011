#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/export.h"

// Files as the song and performance code needs them: temporary files, free space,
// attributes, whole reads that never run past the end, and writes that replace a user's
// file at once or not at all. Nothing here throws; failures are results.
namespace platform {

// The folder for temporary files: $TMPDIR when set and not empty, else "/tmp".
CVK_PLATFORM_API std::string tempFolder();

// The folder part of a path: "." for a bare name, "/" for a file at the root.
CVK_PLATFORM_API std::string folderOf(const std::string& path);

// Creates a new empty file "<folder>/<prefix>XXXXXX" readable and writable by the user
// only. Returns its path, or an empty string when it could not be created.
CVK_PLATFORM_API std::string createTempFile(const std::string& folder, const std::string& prefix);

// Creates a new empty file "<folder>/<prefix>XXXXXX" with the permissions of a file the
// user saves (0666 less the umask): for the user's own data written under a temporary
// name first, such as a take renamed into place when it is complete.
CVK_PLATFORM_API std::string createUserFile(const std::string& folder, const std::string& prefix);

// Bytes available to this user on the file system holding `folder`; nothing when the
// folder cannot be examined.
CVK_PLATFORM_API std::optional<std::uint64_t> freeDiskSpace(const std::string& folder);

struct FileAttributes {
    bool exists = false;
    bool readOnly = false;  // exists, and this process may not write it or it has no write bit
    bool directory = false;
};

// What a save needs to know before it tries: whether the path names something and
// whether it may be written. A path that cannot be examined reads as not existing.
CVK_PLATFORM_API FileAttributes fileAttributes(const std::string& path);

// Removes a file; false when it could not be removed (a missing file counts as removed).
CVK_PLATFORM_API bool removeFile(const std::string& path);

// Makes `target` (created or truncated) a copy of `source`'s bytes and permission bits,
// flushed to disk. False on any failure; `target` may then be incomplete.
CVK_PLATFORM_API bool copyFile(const std::string& source, const std::string& target);

// Puts `replacement` in the place of `target` in one step: flushed first, renamed over
// the target (same folder, so the rename is atomic), then the folder flushed. A reader
// sees the old file or the new one, never a part. False when it failed; the target is
// then unchanged and `replacement` still exists.
CVK_PLATFORM_API bool replaceFile(const std::string& replacement, const std::string& target);

// Reads a regular file from its start. Every read is exact: it either fills the whole
// request or fails, so a length field larger than the rest of the file is caught by
// comparing it with remaining() before anything is allocated for it.
class CVK_PLATFORM_API FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // False when the path cannot be opened or is not a regular file (a FIFO would block
    // and a device has no end).
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    std::uint64_t size() const { return m_size; }
    std::uint64_t position() const { return m_position; }
    std::uint64_t remaining() const { return m_position < m_size ? m_size - m_position : 0; }

    // Exactly `count` bytes into `buffer`, or false (a short read leaves the position
    // after whatever was read).
    bool read(void* buffer, std::size_t count);
    // Up to `count` bytes, fewer only at the end of the file or on an error; the bytes read.
    std::size_t readUpTo(void* buffer, std::size_t count);
    // Moves to an absolute offset; false beyond the end of the file.
    bool seek(std::uint64_t offset);

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::uint64_t m_position = 0;
};

// Writes an existing file from its start without truncating it, so bytes beyond what is
// written stay as they were. Writes pass through the test fault switch below.
class CVK_PLATFORM_API FileWriter {
public:
    FileWriter() = default;
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool open(const std::string& path);
    bool write(const void* data, std::size_t count);
    // Rewrites bytes already in the file, such as a header's size fields. Takes no new room
    // on the disk, so the fault switch does not count it, and it works after a failed
    // write(): what was written can still be finished.
    bool writeAt(std::uint64_t offset, const void* data, std::size_t count);
    // Moves to the end of the file, so that further writes append; the file's length, or
    // nothing when it cannot be found.
    std::optional<std::uint64_t> seekToEnd();
    // Cuts the file to `size` bytes (the tail of a write that failed halfway).
    bool truncate(std::uint64_t size);
    // Flushes what was written to disk; false when the disk did not take it. An earlier
    // failed write() does not count: what was written before it can still be kept.
    bool sync();
    // Flushes to disk and closes; false when anything written so far was lost.
    bool close();
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    bool m_failed = false;
};

// A new version of a user's file, prepared beside it and put in its place by commit().
// It starts as a copy of the file's bytes, or empty when there is no file, so a writer may
// overwrite only a part of it; on commit it takes the file's permissions (the usual ones
// for a new file). Until commit() succeeds the file itself is untouched; the temporary
// copy is removed when the object goes away uncommitted. A file this process may not
// write is refused, as opening it for writing would be. A file reached through a
// symbolic link stays a link: the file it names is replaced.
class CVK_PLATFORM_API ReplacementFile {
public:
    // What the temporary copy starts as: the file's bytes, for a writer that rewrites only
    // a part, or nothing, for one that writes the whole file anew (the file's permissions
    // are kept either way).
    enum class Start { CopyOfTarget, Empty };

    explicit ReplacementFile(const std::string& target, Start start = Start::CopyOfTarget);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // False when the copy could not be prepared; commit() then fails too.
    bool valid() const { return !m_temporary.empty(); }
    // The temporary copy to write into.
    const std::string& path() const { return m_temporary; }
    bool commit();

private:
    std::string m_target;
    std::string m_temporary;
    unsigned m_mode = 0600;  // given to the copy when it takes the target's place
    unsigned m_owner = 0;
    unsigned m_group = 0;
    bool m_keepOwner = false;
    int m_registered = -1;  // slot of the temporary copy in the signal handler's list
};

// Test hooks, process-wide. After `bytes` more bytes have gone through FileWriter or
// copyFile, every further write fails as a full disk would; nothing (std::nullopt)
// switches the fault off again.
CVK_PLATFORM_API void setWriteFaultAfter(std::optional<std::uint64_t> bytes);
// While set, replaceFile fails before renaming.
CVK_PLATFORM_API void setReplaceFault(bool fail);
// The next `renames` calls of replaceFile succeed and every later one fails before
// renaming (a save that renames more than once fails at the last step); nothing switches
// the fault off again.
CVK_PLATFORM_API void setReplaceFaultAfter(std::optional<unsigned> renames);
// While set, flushing a FileWriter to disk (sync, close) fails as a failing disk's does.
CVK_PLATFORM_API void setFlushFault(bool fail);

// For a handler of a signal that ends the process (Ctrl-C during a long save): removes
// the temporary copy of every ReplacementFile that is neither committed nor destroyed, so
// that a save cut short leaves nothing behind. Async-signal-safe.
CVK_PLATFORM_API void removeUncommittedReplacements() noexcept;

}  // namespace platform
