// The channel split. Each source track chunk is walked once and its events are copied, as
// raw bytes, into entries of a 64-entry table: one entry per channel the track uses, the
// first entry also taking every meta and system event. The writer emits the table as a
// format 1 file. No events are decoded into objects and nothing is sorted or merged.

#include "MidiSplit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "MidiBytes.h"
#include "platform/system.h"

namespace songfile {
namespace {

constexpr int kTrackLimit = 64;
constexpr std::uint8_t kUnbound = 0xFF;
// A chunk length of all ones is what a writer that never patched its length leaves behind.
constexpr std::uint32_t kUnpatchedLength = 0xFFFFFFFF;
// The 16-bit sequencer the 9x family plays through holds a track in one 64 KiB segment,
// less its own bookkeeping. A split track is never checked: see readSource.
constexpr std::uint32_t kLargest9xTrack = 65520;
constexpr std::uint8_t kEndOfTrack[] = {0x00, 0xFF, 0x2F, 0x00};

constexpr const char* kReadingFrom = "Error Reading from ";
constexpr const char* kWritingTo = "Error Writing to ";
constexpr const char* kHeaderReadError = "Error in reading header from input file :";
constexpr const char* kNoMThd = "Header does not contain a MThd in input file :";
constexpr const char* kShortHeader = "Length of header less than minimum permissible length in input file :";
constexpr const char* kFormatReadError = "Error in reading format Bytes input file :";
constexpr const char* kUnsupportedFormat = "Error in format. Only 0 and 1 supported ";
constexpr const char* kTrackCountError = "Unable to read number of tracks from input file :";
constexpr const char* kZeroTracks = "Zero tracks found in input file :";
constexpr const char* kFormatMismatch = "Format and tracks do not match in input file :";
constexpr const char* kTrackHeaderReadError = "Error in reading track header Bytes input file :";
constexpr const char* kNoMTrk = "Track header does not contain MTrk in input file :";
constexpr const char* kTrackTooLong = "Track data more than permissible limit (128K)";
constexpr const char* kTrackDataError = "Error in reading track data from input file :";
constexpr const char* kTrackLimitError = "Crossing maximum TrackLimit of 64 ";
constexpr const char* kMemoryError = "Error in allocating memory during processing !";
constexpr const char* kTrackTooLarge9xStart = "Track No. ";
constexpr const char* kTrackTooLarge9xEnd =
    " of this file is larger then supported size by this program under 9x. This limitation does not exists in NT/2k and XP";

struct SplitTrack {
    std::int32_t SourceTrack = 0;  // index of the first entry of the same source chunk
    std::uint8_t Channel = kUnbound;
    std::unique_ptr<std::uint8_t[]> Data;
    std::uint32_t Used = 0;
    std::uint32_t Capacity = 0;
    std::int32_t LastTime = 0;  // ticks from the start of the source track
    bool NeedsEndOfTrack = false;
};

// Everything here belongs to the thread that calls SplitMidiFile (the GUI thread); only
// LastSplitError and SplitDivision outlive a call.
struct State {
    std::array<SplitTrack, kTrackLimit> SplitTrackTable;
    int LastSplitIndex = -1;
    std::uint16_t SplitDivision = 96;  // before any file was read
    std::string LastSplitError;
};

State& state() {
    static State instance;
    return instance;
}

void resetTable() noexcept {
    State& s = state();
    for (SplitTrack& entry : s.SplitTrackTable) {
        entry = SplitTrack{};
    }
    s.LastSplitIndex = -1;
}

enum class Outcome {
    Done,
    Failed,            // LastSplitError holds the reason
    FailedWithoutText  // the caller's own text stands
};

Outcome fail(std::string text) {
    state().LastSplitError = std::move(text);
    return Outcome::Failed;
}

std::unique_ptr<std::uint8_t[]> allocate(std::size_t size) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]);
}

// The source song, read front to back. It knows how much of the file is left, so that a
// chunk length can be refused before anything is allocated for it.
class SourceFile {
public:
    explicit SourceFile(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info {};
        if (m_fd >= 0 && (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode))) {
            // A folder or a device is no song; treat it like a file that is not there.
            ::close(m_fd);
            m_fd = -1;
        }
        if (m_fd >= 0) {
            m_size = static_cast<std::uint64_t>(info.st_size);
        }
    }
    ~SourceFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    std::uint64_t remaining() const { return m_size > m_position ? m_size - m_position : 0; }

    // Bytes actually read; fewer than `count` at the end of the file or on an error.
    std::size_t read(std::uint8_t* into, std::size_t count) {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t got = ::read(m_fd, into + done, count - done);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        m_position += done;
        return done;
    }

private:
    int m_fd;
    std::uint64_t m_size = 0;
    std::uint64_t m_position = 0;
};

class TargetFile {
public:
    explicit TargetFile(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)) {}
    ~TargetFile() { close(); }
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }

    bool write(const std::uint8_t* bytes, std::size_t count) {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t put = ::write(m_fd, bytes + done, count - done);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(put);
        }
        return true;
    }
    bool writeBigEndian(std::uint32_t value, std::size_t size) {
        std::uint8_t bytes[4];
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
        }
        return write(bytes, size);
    }
    // A network file system may report a lost write only here.
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool makeRoom(SplitTrack& entry, std::size_t extra) {
    const std::uint64_t needed = std::uint64_t{entry.Used} + extra;
    if (needed <= entry.Capacity) {
        return true;
    }
    if (needed > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    // Half again, so that an entry fed more than its chunk still grows in few steps.
    const std::uint64_t grown = std::min<std::uint64_t>(
        std::max<std::uint64_t>(needed, std::uint64_t{entry.Capacity} + entry.Capacity / 2),
        std::numeric_limits<std::uint32_t>::max());
    std::unique_ptr<std::uint8_t[]> data = allocate(static_cast<std::size_t>(grown));
    if (!data) {
        return false;
    }
    if (entry.Used > 0) {
        std::memcpy(data.get(), entry.Data.get(), entry.Used);
    }
    entry.Data = std::move(data);
    entry.Capacity = static_cast<std::uint32_t>(grown);
    return true;
}

bool appendBytes(SplitTrack& entry, const std::uint8_t* bytes, std::size_t count) {
    if (!makeRoom(entry, count)) {
        return false;
    }
    std::memcpy(entry.Data.get() + entry.Used, bytes, count);
    entry.Used += static_cast<std::uint32_t>(count);
    return true;
}

// Each entry keeps its own clock: its delta is the distance from the last event it
// received, which differs from the source's delta once the track's events are spread
// over several entries. Most events are two or three bytes, so they are copied by hand
// rather than through memcpy.
bool appendEvent(SplitTrack& entry, std::uint32_t absoluteTime, const std::uint8_t* event,
                 std::size_t length) {
    std::uint32_t delta = absoluteTime - static_cast<std::uint32_t>(entry.LastTime);
    std::uint8_t groups[5];
    std::size_t count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(delta & 0x7F);
        delta >>= 7;
    } while (delta != 0);
    if (!makeRoom(entry, count + length)) {
        return false;
    }
    std::uint8_t* out = entry.Data.get() + entry.Used;
    for (std::size_t i = count; i > 1; --i) {
        *out++ = static_cast<std::uint8_t>(groups[i - 1] | 0x80);
    }
    *out++ = groups[0];
    if (length <= 4) {
        for (std::size_t i = 0; i < length; ++i) {
            out[i] = event[i];
        }
    } else {
        std::memcpy(out, event, length);
    }
    entry.Used += static_cast<std::uint32_t>(count + length);
    entry.LastTime = static_cast<std::int32_t>(absoluteTime);
    return true;
}

// `sourceTrack` below 0: the entry starts a source track and identifies it by its own index.
Outcome createEntry(int sourceTrack, std::uint8_t channel, std::uint32_t capacity, bool needsEndOfTrack) {
    State& s = state();
    const int index = s.LastSplitIndex + 1;
    if (index >= kTrackLimit) {
        return fail(kTrackLimitError);
    }
    SplitTrack& entry = s.SplitTrackTable[static_cast<std::size_t>(index)];
    entry.Data = allocate(capacity);
    if (!entry.Data) {
        return fail(kMemoryError);
    }
    entry.SourceTrack = sourceTrack < 0 ? index : sourceTrack;
    entry.Channel = channel;
    entry.Capacity = capacity;
    entry.Used = 0;
    entry.LastTime = 0;
    entry.NeedsEndOfTrack = needsEndOfTrack;
    s.LastSplitIndex = index;
    return Outcome::Done;
}

// The entry of source track `first` that holds `channel`, bound or made on first use. The
// first entry binds to the first channel the track uses, so a single-channel track stays
// one entry.
Outcome entryForChannel(int first, std::uint8_t channel, std::uint32_t chunkLength, int& index) {
    State& s = state();
    // Entries of earlier source tracks all lie below `first`; none of them can match.
    for (int i = first; i <= s.LastSplitIndex; ++i) {
        SplitTrack& entry = s.SplitTrackTable[static_cast<std::size_t>(i)];
        if (entry.SourceTrack == first && (entry.Channel == channel || entry.Channel == kUnbound)) {
            entry.Channel = channel;
            index = i;
            return Outcome::Done;
        }
    }
    s.SplitTrackTable[static_cast<std::size_t>(first)].NeedsEndOfTrack = true;
    const Outcome created = createEntry(first, channel, chunkLength, true);
    index = s.LastSplitIndex;
    return created;
}

Outcome splitTrack(const std::uint8_t* body, std::uint32_t length) {
    State& s = state();
    const int first = s.LastSplitIndex + 1;
    if (const Outcome created = createEntry(-1, kUnbound, length, false); created != Outcome::Done) {
        return created;
    }
    // Entry of each channel once bound: a bound entry never changes its channel, so the
    // table scan is needed only the first time a channel occurs.
    std::array<int, 16> entryOfChannel;
    entryOfChannel.fill(-1);
    std::uint8_t runningStatus = 0;
    std::uint32_t absoluteTime = 0;  // wraps like the 32-bit tick count it is
    std::size_t pos = 0;
    while (pos < length) {
        std::uint32_t delta = 0;
        if (!readVarLen(body, length, pos, delta) || pos >= length) {
            break;  // a cut-off delta, or a delta with no event after it
        }
        absoluteTime += delta;
        const MidiEvent event = measureEvent(body, length, pos, runningStatus);
        if (!event.complete) {
            // Copying part of an event would make the bytes after it (the closing
            // end-of-track, above all) read as its missing data.
            break;
        }
        int index = first;
        if (event.kind == EventKind::Channel) {
            const auto channel = static_cast<std::uint8_t>(event.status & 0x0F);
            index = entryOfChannel[channel];
            if (index < 0) {
                if (const Outcome found = entryForChannel(first, channel, length, index);
                    found != Outcome::Done) {
                    return found;
                }
                entryOfChannel[channel] = index;
            }
        }
        // A data byte under a running status of 0xF0 or above has no channel: it stays with
        // the first entry, where the status byte it continues went too.
        if (!appendEvent(s.SplitTrackTable[static_cast<std::size_t>(index)], absoluteTime, body + pos,
                         event.length)) {
            return fail(kMemoryError);
        }
        pos += event.length;
    }
    return Outcome::Done;
}

Outcome readSource(const std::string& name, int& sourceTracks) {
    SourceFile source(name);
    if (!source.isOpen()) {
        return Outcome::FailedWithoutText;
    }
    std::uint8_t word[4];
    if (source.read(word, 4) != 4) {
        return fail(kHeaderReadError + name);
    }
    if (std::memcmp(word, "MThd", 4) != 0) {
        return fail(kNoMThd + name);
    }
    // A cut-off length reads as 0 and so fails as too short. Bytes of a longer header are
    // deliberately not skipped: the words are taken straight after the length.
    const std::uint32_t headerLength = source.read(word, 4) == 4 ? readBigEndian32(word) : 0;
    if (headerLength < 6) {
        return fail(kShortHeader + name);
    }
    if (source.read(word, 2) != 2) {
        return fail(kFormatReadError + name);
    }
    const std::uint8_t format = word[1];  // the high byte is ignored
    if (format > 1) {
        return fail(kUnsupportedFormat);
    }
    if (source.read(word, 2) != 2) {
        return fail(kTrackCountError + name);
    }
    const std::uint16_t trackCount = readBigEndian16(word);
    if (trackCount == 0) {
        return fail(kZeroTracks + name);
    }
    if (format == 0 && trackCount > 1) {
        return fail(kFormatMismatch + name);
    }
    if (source.read(word, 2) != 2) {
        return Outcome::FailedWithoutText;
    }
    state().SplitDivision = readBigEndian16(word);

    // Anything after the declared chunks (a performance file's wave chunk) is not ours.
    for (std::uint16_t track = 0; track < trackCount; ++track) {
        if (source.read(word, 4) != 4) {
            return fail(kTrackHeaderReadError + name);
        }
        if (std::memcmp(word, "MTrk", 4) != 0) {
            return fail(kNoMTrk + name);
        }
        const bool lengthRead = source.read(word, 4) == 4;
        const std::uint32_t length = lengthRead ? readBigEndian32(word) : 0;
        if (length == kUnpatchedLength) {
            return fail(kTrackTooLong);
        }
        // Refused before allocating: a length is only believed as far as the file goes.
        if (!lengthRead || length > source.remaining()) {
            return fail(kTrackDataError + name);
        }
        std::unique_ptr<std::uint8_t[]> body = allocate(length);
        if (!body) {
            return fail(kMemoryError);
        }
        if (source.read(body.get(), length) != length) {
            return fail(kTrackDataError + name);
        }
        if (const Outcome split = splitTrack(body.get(), length); split != Outcome::Done) {
            return split;
        }
    }

    const State& s = state();
    // A split track is left alone on the 9x family: its parts may fit where the whole did not.
    if (platform::platformId() == platform::PlatformId::Windows9x && s.LastSplitIndex + 1 == trackCount) {
        for (int i = 0; i <= s.LastSplitIndex; ++i) {
            if (s.SplitTrackTable[static_cast<std::size_t>(i)].Capacity > kLargest9xTrack) {
                return fail(kTrackTooLarge9xStart + std::to_string(i) + kTrackTooLarge9xEnd);
            }
        }
    }
    sourceTracks = trackCount;
    return Outcome::Done;
}

Outcome writeTarget(const std::string& name) {
    TargetFile target(name);
    if (!target.isOpen()) {
        return Outcome::FailedWithoutText;
    }
    State& s = state();
    if (!target.write(reinterpret_cast<const std::uint8_t*>("MThd"), 4)) {
        return fail("Error in writing MThd");
    }
    if (!target.writeBigEndian(6, 4)) {
        return fail("Error in writing length of header");
    }
    if (!target.writeBigEndian(1, 2)) {
        return fail("Error in writing format");
    }
    if (!target.writeBigEndian(static_cast<std::uint32_t>(s.LastSplitIndex + 1), 2)) {
        return fail("Error in writing no of tracks");
    }
    if (!target.writeBigEndian(s.SplitDivision, 2)) {
        return fail("Error in writing Ticks per quater note");
    }
    for (int i = 0; i <= s.LastSplitIndex; ++i) {
        SplitTrack& entry = s.SplitTrackTable[static_cast<std::size_t>(i)];
        // Delta 0: the track ends with its last event. The first entry of a split source
        // thus ends twice, once with the source's own end-of-track.
        if (entry.NeedsEndOfTrack) {
            if (!appendBytes(entry, kEndOfTrack, sizeof kEndOfTrack)) {
                return Outcome::FailedWithoutText;
            }
            entry.NeedsEndOfTrack = false;
        }
        if (!target.write(reinterpret_cast<const std::uint8_t*>("MTrk"), 4)) {
            return fail("Error in writing MTrk");
        }
        if (!target.writeBigEndian(entry.Used, 4)) {
            return fail("Error in writing length of track");
        }
        if (!target.write(entry.Data.get(), entry.Used)) {
            return fail("Error in writing the tracks data");
        }
    }
    return target.close() ? Outcome::Done : Outcome::FailedWithoutText;
}

}  // namespace

SplitResult SplitMidiFile(const std::string& sourcePath, const std::string& targetPath) {
    SplitResult result;
    try {
        result.message = kReadingFrom + sourcePath;
        resetTable();
        int sourceTracks = 0;
        const Outcome reading = readSource(sourcePath, sourceTracks);
        if (reading == Outcome::Failed) {
            result.message = state().LastSplitError;
        } else if (reading == Outcome::Done) {
            result.message = kWritingTo + targetPath;
            if (writeTarget(targetPath) == Outcome::Done) {
                result.message.clear();
                result.addedTracks = state().LastSplitIndex + 1 - sourceTracks;
            }
        }
    } catch (...) {
        // Only a failed allocation of a text or of scratch space gets here. The call has
        // failed, and an empty message would claim success.
        result.addedTracks = 0;
        if (result.message.empty()) {
            try {
                result.message = kReadingFrom + sourcePath;
            } catch (...) {
            }
        }
    }
    resetTable();
    return result;
}

std::string sourceReadError(const std::string& sourcePath) {
    try {
        return SourceFile(sourcePath).isOpen() ? std::string() : kReadingFrom + sourcePath;
    } catch (...) {
        return {};  // no room for the text: let the split itself report the file
    }
}

std::string lastSplitError() {
    try {
        return state().LastSplitError;
    } catch (...) {
        return {};
    }
}

}  // namespace songfile
