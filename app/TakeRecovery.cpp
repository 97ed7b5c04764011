#include "TakeRecovery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/files.h"
#include "voxcapt/voxcapt.h"

namespace cvkapp {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kVersionLine = "CVK take note 1";
constexpr std::string_view kNoteSuffix = ".take";
// The kernel's largest process number (PID_MAX_LIMIT).
constexpr long kLargestPid = 4194304;

bool writablePath(const std::string& path) {
    return !path.empty() && path.find('\n') == std::string::npos &&
           path.find('\0') == std::string::npos;
}

// A decimal number as std::to_string writes it: digits only, no sign, no blanks, no
// leading zero.
template <typename Number>
std::optional<Number> decimal(std::string_view text) {
    Number value{};
    if (text.empty() || text.size() > 20 || text.front() < '0' || text.front() > '9' ||
        (text.front() == '0' && text.size() > 1)) {
        return std::nullopt;
    }
    const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failed != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// A regular file (not a link to one) of this user.
bool ownRegularFile(const std::string& path, struct stat& info) {
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid();
}

// A regular file holding at least one byte.
bool holdsBytes(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

bool sameFolder(const std::string& path, const std::string& folder) {
    std::error_code failed;
    return fs::equivalent(platform::folderOf(path), folder, failed) && !failed;
}

std::optional<std::string> readNote(const std::string& path) {
    platform::FileReader reader;
    if (!reader.open(path) || reader.size() > kLongestTakeNote) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(reader.size()), '\0');
    if (!reader.read(text.data(), text.size())) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

std::string TakeNotePath(const std::string& target) {
    return target + std::string(kNoteSuffix);
}

std::string FormatTakeNote(const TakeNote& note) {
    if (!writablePath(note.target) || !writablePath(note.temporary) || !writablePath(note.song) ||
        note.pid <= 0 || note.pid > kLargestPid) {
        return {};
    }
    std::string text(kVersionLine);
    text += "\ntarget=" + note.target;
    text += "\ntemporary=" + note.temporary;
    text += "\nsong=" + note.song;
    text += "\npid=" + std::to_string(note.pid);
    text += "\nstarted=" + std::to_string(note.started) + "\n";
    return text.size() <= kLongestTakeNote ? text : std::string();
}

TakeNoteParse ParseTakeNote(std::string_view text) {
    if (text.size() > kLongestTakeNote) {
        return {std::nullopt, "too long"};
    }
    if (text.empty() || text.back() != '\n') {
        return {std::nullopt, "last line unterminated"};
    }
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (lines[0] != kVersionLine) {
        return {std::nullopt, lines[0].starts_with("CVK take note ") ? "unknown version"
                                                                     : "not a take note"};
    }
    static constexpr std::string_view kKeys[] = {"target", "temporary", "song", "pid", "started"};
    constexpr std::size_t kLines = 1 + std::size(kKeys);
    if (lines.size() < kLines) {
        return {std::nullopt, "missing " + std::string(kKeys[lines.size() - 1])};
    }
    if (lines.size() > kLines) {
        return {std::nullopt, "extra line"};
    }
    std::string_view values[std::size(kKeys)];
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        const std::string_view line = lines[i + 1];
        if (!line.starts_with(kKeys[i]) || line.substr(kKeys[i].size(), 1) != "=") {
            return {std::nullopt, "expected " + std::string(kKeys[i])};
        }
        values[i] = line.substr(kKeys[i].size() + 1);
        if (values[i].empty()) {
            return {std::nullopt, "empty " + std::string(kKeys[i])};
        }
        if (values[i].find('\0') != std::string_view::npos) {
            return {std::nullopt, "NUL in " + std::string(kKeys[i])};
        }
    }
    const std::optional<long> pid = decimal<long>(values[3]);
    if (!pid || *pid <= 0 || *pid > kLargestPid) {
        return {std::nullopt, "bad pid"};
    }
    const std::optional<std::uint64_t> started = decimal<std::uint64_t>(values[4]);
    if (!started) {
        return {std::nullopt, "bad start time"};
    }
    return {TakeNote{std::string(values[0]), std::string(values[1]), std::string(values[2]), *pid,
                     *started},
            {}};
}

std::optional<std::uint64_t> ProcessStartTime(long pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string record;
    if (!in || !std::getline(in, record)) {
        return std::nullopt;
    }
    // The name in parentheses (field 2) may hold blanks and parentheses itself: the
    // fields are counted from the last ')'.
    const std::size_t close = record.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(record.substr(close + 1));
    std::string field;
    for (int number = 3; number <= 22; ++number) {
        if (!(fields >> field)) {
            return std::nullopt;
        }
        // A process that has ended but was not yet collected by its parent (a recorder
        // just killed) keeps its record, but holds nothing any more.
        if (number == 3 && (field == "Z" || field == "X")) {
            return std::nullopt;
        }
    }
    return decimal<std::uint64_t>(field);
}

bool WriteTakeNote(const TakeNote& note) {
    const std::optional<std::uint64_t> started = ProcessStartTime(note.pid);
    if (!started) {
        return false;
    }
    TakeNote written = note;
    written.started = *started;
    const std::string text = FormatTakeNote(written);
    if (text.empty()) {
        return false;
    }
    // Whole or not at all: a note cut short by a full disk would not be read.
    platform::ReplacementFile file(TakeNotePath(note.target), platform::ReplacementFile::Start::Empty);
    platform::FileWriter writer;
    if (!file.valid() || !writer.open(file.path())) {
        return false;
    }
    const bool wrote = writer.write(text.data(), text.size());
    return writer.close() && wrote && file.commit();
}

void RemoveTakeNote(const std::string& target) {
    if (!target.empty()) {
        platform::removeFile(TakeNotePath(target));
    }
}

std::vector<TakeNote> FindInterruptedTakes(const std::string& folder) {
    std::vector<TakeNote> found;
    std::error_code failed;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, failed)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= kNoteSuffix.size() || !name.ends_with(kNoteSuffix)) {
            continue;
        }
        // The folder may be shared with other users: only this user's own notes, about
        // files in this folder and named by the note's own name, are believed.
        const std::string path = entry.path().string();
        struct stat info {};
        if (!ownRegularFile(path, info)) {
            continue;
        }
        const std::optional<std::string> text = readNote(path);
        if (!text) {
            continue;
        }
        const TakeNoteParse parsed = ParseTakeNote(*text);
        if (!parsed.note) {
            continue;
        }
        const TakeNote& note = *parsed.note;
        if (fs::path(note.target).filename().string() + std::string(kNoteSuffix) != name ||
            !sameFolder(note.target, folder) || !sameFolder(note.temporary, folder)) {
            continue;
        }
        if (ProcessStartTime(note.pid) == note.started) {
            continue;  // still recording, or still holding the take unsaved
        }
        found.push_back(note);
    }
    return found;
}

std::string InterruptedTakeFile(const TakeNote& note) {
    // While it records, the target is the empty file that reserved the name.
    if (holdsBytes(note.temporary)) {
        return note.temporary;
    }
    if (holdsBytes(note.target)) {
        return note.target;
    }
    return {};
}

bool PutTakeInPlace(const TakeNote& note) {
    const std::string take = InterruptedTakeFile(note);
    if (take.empty()) {
        return false;
    }
    // A file not in the recorder's layout is kept as it is: it is still the singer's.
    voxcapt::repairTake(take);
    // Beside each other: one rename, which replaces the reserved name at once.
    return take == note.target || std::rename(take.c_str(), note.target.c_str()) == 0;
}

void DeleteTake(const TakeNote& note) {
    platform::removeFile(note.temporary);
    platform::removeFile(note.target);
    RemoveTakeNote(note.target);
}

}  // namespace cvkapp
