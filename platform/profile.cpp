#include "platform/profile.h"

#include "file_modes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

// Profiles are small hand-editable text files, but they live in folders the user controls,
// so their bytes are untrusted: anything that is not a well-formed header or Key=Value
// line is skipped, never trusted and never fatal.
//
// Choices made here:
// - Only the first section of a name counts. A later section with the same name is ignored
//   by readers and writers alike, so whatever is written is what is read back.
// - Readers look at the first kMaxFileBytes of a file (a cut last line is dropped); a
//   writer refuses a file larger than that instead of truncating it.
// - A line longer than kMaxLineBytes, or holding a NUL byte, is never a header or a key.
// - A value that would lose bytes on reading (surrounding blanks, surrounding quotes) is
//   written inside one pair of quotes, so every newline-free value reads back exactly.
namespace platform {
namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxLineBytes = std::size_t{64} << 10;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

void debugLog(const char* what, const std::string& path, int error) {
    if (std::getenv("CVK_DEBUG") != nullptr) {
        std::fprintf(stderr, "profile: %s %s: %s\n", what, path.c_str(), std::strerror(error));
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compare by ASCII case only: folding other bytes would depend on the locale.
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

enum class LineKind { Blank, Section, Key, Other };

// One line of a profile. Offsets index the whole file text.
struct Line {
    std::size_t begin = 0;       // first byte of the line
    std::size_t end = 0;         // the '\n' ending the line, or the end of the text
    std::size_t next = 0;        // first byte of the following line
    LineKind kind = LineKind::Other;
    std::string_view name;       // section or key name, trimmed
    std::string_view value;      // a key's value, trimmed, quotes still on
    std::size_t valueBegin = 0;  // a key's value after '=' and its leading blanks
};

Line classify(std::string_view text, std::size_t begin) {
    Line line;
    line.begin = begin;
    const std::size_t newline = text.find('\n', begin);
    line.end = newline == std::string_view::npos ? text.size() : newline;
    line.next = newline == std::string_view::npos ? text.size() : newline + 1;

    const std::string_view raw = text.substr(begin, line.end - begin);
    if (raw.size() > kMaxLineBytes || raw.find('\0') != std::string_view::npos) {
        return line;
    }
    const std::string_view trimmed = trim(raw);
    if (trimmed.empty()) {
        line.kind = LineKind::Blank;
        return line;
    }
    if (trimmed.front() == ';') {
        return line;
    }
    if (trimmed.front() == '[') {
        const std::size_t close = trimmed.find(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = trim(trimmed.substr(1, close - 1));
        }
        return line;
    }
    const std::size_t equals = raw.find('=');
    if (equals == std::string_view::npos) {
        return line;
    }
    line.name = trim(raw.substr(0, equals));
    if (line.name.empty()) {
        return line;
    }
    line.kind = LineKind::Key;
    // A carriage return may be the line's ending, which a rewrite keeps: skip blanks only.
    std::size_t valueBegin = equals + 1;
    while (valueBegin < raw.size() && (raw[valueBegin] == ' ' || raw[valueBegin] == '\t')) {
        ++valueBegin;
    }
    line.valueBegin = begin + valueBegin;
    line.value = trim(raw.substr(valueBegin));
    return line;
}

std::size_t bomLength(std::string_view text) { return text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0; }

// Where a key sits in a profile text, as far as the first section of its name goes.
struct Lookup {
    bool sectionFound = false;
    std::optional<Line> key;      // the first line of the key inside that section
    std::size_t insertAt = 0;     // after the section's last key line (or its header)
};

Lookup find(std::string_view text, std::string_view section, std::string_view key) {
    Lookup result;
    bool inSection = false;
    for (std::size_t pos = bomLength(text); pos < text.size();) {
        const Line line = classify(text, pos);
        pos = line.next;
        if (line.kind == LineKind::Section) {
            if (inSection) {
                break;  // the first section of that name has ended
            }
            if (sameName(line.name, section)) {
                inSection = true;
                result.sectionFound = true;
                result.insertAt = line.next;
            }
        } else if (inSection && line.kind == LineKind::Key) {
            if (sameName(line.name, key)) {
                result.key = line;
                break;
            }
            result.insertAt = line.next;
        }
    }
    return result;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    // Closes now, so that a failing close (a late write error on some file systems) is seen.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

enum class ReadStatus { Ok, Missing, Failed, TooLarge };

struct FileContent {
    ReadStatus status = ReadStatus::Failed;
    std::string bytes;
    struct stat info {};
};

// Reads a regular file. With `truncate` a file over the cap yields its first kMaxFileBytes;
// without it such a file is TooLarge. Opening never blocks: a FIFO or device at the path
// is refused, not waited on.
FileContent readProfileFile(const std::string& path, bool truncate) {
    FileContent content;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        content.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        if (content.status == ReadStatus::Failed) {
            debugLog("cannot open", path, errno);
        }
        return content;
    }
    if (::fstat(fd.get(), &content.info) != 0 || !S_ISREG(content.info.st_mode)) {
        return content;
    }
    // One byte past the cap tells a file of exactly kMaxFileBytes from a larger one.
    const std::size_t wanted = kMaxFileBytes + 1;
    std::size_t size = 0;
    content.bytes.resize(std::min<std::size_t>(wanted, static_cast<std::size_t>(content.info.st_size) + 1));
    while (size < wanted) {
        if (size == content.bytes.size()) {
            content.bytes.resize(std::min(wanted, content.bytes.size() * 2));  // the file grew
        }
        const ssize_t got = ::read(fd.get(), content.bytes.data() + size, content.bytes.size() - size);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            debugLog("cannot read", path, errno);
            return content;
        }
        if (got == 0) {
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    content.bytes.resize(size);
    if (size > kMaxFileBytes) {
        if (!truncate) {
            content.status = ReadStatus::TooLarge;
            return content;
        }
        const std::size_t lastNewline = content.bytes.rfind('\n', kMaxFileBytes - 1);
        content.bytes.resize(lastNewline == std::string::npos ? 0 : lastNewline + 1);
    }
    content.status = ReadStatus::Ok;
    return content;
}

std::optional<std::string> readValue(const std::string& section, const std::string& key,
                                     const std::string& path) {
    const std::string_view sectionName = trim(section);
    const std::string_view keyName = trim(key);
    if (sectionName.empty() || keyName.empty()) {
        return std::nullopt;
    }
    const FileContent content = readProfileFile(path, true);
    if (content.status != ReadStatus::Ok) {
        return std::nullopt;
    }
    const Lookup lookup = find(content.bytes, sectionName, keyName);
    if (!lookup.key) {
        return std::nullopt;
    }
    std::string_view value = lookup.key->value;
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

// Decimal with optional blanks and sign; digits beyond the range saturate.
std::optional<std::int32_t> parseInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9') {
        return std::nullopt;
    }
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min(limit, magnitude * 10 + (text[i] - '0'));
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

bool hasAny(std::string_view text, std::string_view bytes) {
    return text.find_first_of(bytes) != std::string_view::npos;
}

// A name that would change how the line parses ('=' ends a key, brackets make a header,
// a line break splits the line) is refused rather than escaped: the format has no escapes.
bool isSafeName(std::string_view name) {
    return !name.empty() && name.size() < kMaxLineBytes / 2 && name.front() != ';' &&
           !hasAny(name, std::string_view("=[]\n\r\0", 7));
}

bool isSafeValue(std::string_view value) {
    return value.size() < kMaxLineBytes / 2 && !hasAny(value, std::string_view("\n\r\0", 3));
}

std::string encodeValue(std::string_view value) {
    const bool quote = !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                                          (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    return quote ? "\"" + std::string(value) + "\"" : std::string(value);
}

// The file's own line ending for new lines: CRLF if its first line ends so.
std::string_view lineEnding(std::string_view text) {
    const std::size_t newline = text.find('\n');
    return (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') ? "\r\n" : "\n";
}

bool endsWithBlankLine(std::string_view text, std::size_t bom) {
    // `text` ends with '\n' here; look at the line that newline ends.
    const std::size_t lastNewline = text.size() - 1;
    const std::size_t previous = lastNewline == 0 ? std::string_view::npos : text.rfind('\n', lastNewline - 1);
    const std::size_t begin = previous == std::string_view::npos ? bom : previous + 1;
    return trim(text.substr(begin, lastNewline - begin)).empty();
}

std::string applyWrite(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view encodedValue) {
    const std::string_view eol = lineEnding(text);
    const Lookup lookup = find(text, section, key);
    std::string out;
    out.reserve(text.size() + section.size() + key.size() + encodedValue.size() + 8);

    if (lookup.key) {
        // Keep the line's spelling, indentation and ending; only the value changes.
        std::size_t valueEnd = lookup.key->end;
        if (valueEnd > lookup.key->valueBegin && text[valueEnd - 1] == '\r') {
            --valueEnd;
        }
        out.append(text.substr(0, lookup.key->valueBegin));
        out.append(encodedValue);
        out.append(text.substr(valueEnd));
        return out;
    }
    if (lookup.sectionFound) {
        out.append(text.substr(0, lookup.insertAt));
        if (!out.empty() && out.back() != '\n') {
            out.append(eol);  // the section's last line was the file's unterminated last line
        }
        out.append(key).append("=").append(encodedValue).append(eol);
        out.append(text.substr(lookup.insertAt));
        return out;
    }
    const std::size_t bom = bomLength(text);
    out.append(text);
    if (out.size() > bom) {
        if (out.back() != '\n') {
            out.append(eol);
        }
        if (!endsWithBlankLine(out, bom)) {
            out.append(eol);
        }
    }
    out.append("[").append(section).append("]").append(eol);
    out.append(key).append("=").append(encodedValue).append(eol);
    return out;
}


bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Replaces `target` with `bytes` so that a reader sees either the old file or the new one,
// never a part: a temporary file in the same folder (same file system, so rename is
// atomic), flushed to disk before the rename.
bool replaceFile(const std::string& target, std::string_view bytes, const struct stat* old) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "." + base + ".XXXXXX";

    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        debugLog("cannot create a temporary file for", target, errno);
        return false;
    }
    bool ok = ::fchmod(fd.get(), old != nullptr ? (old->st_mode & 07777) : detail::newFileMode()) == 0;
    if (ok && old != nullptr && ::fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
        // Only a privileged process may give a file away; others keep their own ownership.
    }
    ok = ok && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    ok = fd.close() && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        debugLog("cannot write", target, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    // Make the rename itself durable; the new file is complete either way.
    FileDescriptor directory(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) {
        ::fsync(directory.get());
    }
    return true;
}

bool writeValue(const std::string& section, const std::string& key, const std::string& value,
                const std::string& path) {
    const std::string_view sectionName = trim(section);
    const std::string_view keyName = trim(key);
    if (path.empty() || !isSafeName(sectionName) || !isSafeName(keyName) || !isSafeValue(value)) {
        return false;
    }

    // A profile reached through a symbolic link stays a link: replace the file it names.
    std::string target = path;
    struct stat linkInfo {};
    if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr) {
            debugLog("cannot follow", path, errno);
            return false;
        }
        target = resolved;
        std::free(resolved);
    }

    const FileContent content = readProfileFile(target, false);
    if (content.status != ReadStatus::Ok && content.status != ReadStatus::Missing) {
        return false;
    }
    const std::string updated = applyWrite(content.bytes, sectionName, keyName, encodeValue(value));
    if (updated.size() > kMaxFileBytes) {
        return false;
    }
    if (content.status == ReadStatus::Ok && updated == content.bytes) {
        return true;
    }
    return replaceFile(target, updated, content.status == ReadStatus::Ok ? &content.info : nullptr);
}

}  // namespace

// Any thread. The value as a saturated 32-bit integer, or `fallback`.
std::int32_t profileGetInt(const std::string& section, const std::string& key, std::int32_t fallback,
                           const std::string& path) {
    try {
        const std::optional<std::string> value = readValue(section, key, path);
        if (!value) {
            return fallback;
        }
        return parseInt(*value).value_or(fallback);
    } catch (...) {
        return fallback;
    }
}

// Any thread. The unquoted value, or `fallback`.
std::string profileGetString(const std::string& section, const std::string& key, const std::string& fallback,
                             const std::string& path) {
    try {
        return readValue(section, key, path).value_or(fallback);
    } catch (...) {
        try {
            return fallback;
        } catch (...) {
            return std::string();
        }
    }
}

// Any thread; concurrent writers of one file each replace it whole, the last one wins.
// True when the file now holds the value.
bool profileWriteString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& path) {
    try {
        return writeValue(section, key, value, path);
    } catch (...) {
        return false;
    }
}

}  // namespace platform
