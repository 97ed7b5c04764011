// The sequencer's own song loader: each track chunk is copied whole into a slot and
// walked once for its length in ticks (and, in the first track, the song's tempo). The
// player reads events straight from these bytes.

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "engine.h"
#include "smf/EventMeasure.h"

namespace pulsant {
namespace {

constexpr const char* kUnableToOpen = "Unable To Open File";
constexpr const char* kWrongBytes = "Wrong number of bytes read";
constexpr const char* kNotMThd = "Not of MThd type";
constexpr const char* kNoTracks = "Number of Tracks is Zero";
constexpr const char* kWrongDivision = "Wrong ticks per quater";
constexpr const char* kNotMTrk = "Track not MTrk";
constexpr std::uint32_t kMaxHeaderLength = 65520;

class FileSource final : public ByteSource {
public:
    explicit FileSource(std::FILE* file) : m_file(file) {
        struct stat info {};
        if (fstat(fileno(file), &info) == 0 && info.st_size > 0) {
            m_size = static_cast<std::uint64_t>(info.st_size);
        }
    }
    std::size_t read(std::uint8_t* into, std::size_t count) override {
        const std::size_t got = std::fread(into, 1, count, m_file);
        m_position += got;
        return got;
    }
    std::uint64_t remaining() const override {
        return m_size > m_position ? m_size - m_position : 0;
    }

private:
    std::FILE* m_file;
    std::uint64_t m_size = 0;
    std::uint64_t m_position = 0;
};

bool readExact(ByteSource& source, std::uint8_t* into, std::size_t count) {
    return source.read(into, count) == count;
}

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

std::uint16_t bigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

}  // namespace

TrackBytes::TrackBytes(const std::vector<std::uint8_t>& bytes)
    : m_bytes(std::make_unique<std::atomic<std::uint8_t>[]>(bytes.size())),
      m_size(static_cast<std::uint32_t>(bytes.size())) {
    for (std::uint32_t i = 0; i < m_size; ++i) {
        m_bytes[i].store(bytes[i], std::memory_order_relaxed);
    }
}

namespace {

void clearSong() {
    Engine& e = engine();
    for (TrackSlot& slot : e.slots) {
        slot = TrackSlot{};
    }
    e.fileTempo = kDefaultTempo;
    e.tempoEvents.clear();
}

}  // namespace

std::string LoadSong(const char* fileName) {
    std::FILE* file = fileName != nullptr ? std::fopen(fileName, "rb") : nullptr;
    if (file == nullptr) {
        clearSong();
        return kUnableToOpen;
    }
    FileSource source(file);
    std::string failure = LoadSongFrom(source);
    std::fclose(file);
    return failure;
}

std::string LoadSongFrom(ByteSource& source) {
    Engine& e = engine();
    clearSong();

    std::uint8_t bytes[4];
    if (!readExact(source, bytes, 4)) {
        return kWrongBytes;
    }
    if (std::memcmp(bytes, "MThd", 4) != 0) {
        return kNotMThd;
    }
    if (!readExact(source, bytes, 4)) {
        return kWrongBytes;
    }
    const std::uint32_t headerLength = bigEndian32(bytes);
    if (headerLength < 6 || headerLength > kMaxHeaderLength) {
        return kWrongBytes;
    }
    // A longer header's extra bytes are not skipped: the fields follow the length directly.
    if (!readExact(source, bytes, 2)) {
        return kWrongBytes;
    }
    const std::uint8_t format = bytes[1];
    if (!readExact(source, bytes, 2)) {
        return kWrongBytes;
    }
    const std::uint8_t countHigh = bytes[0];
    const std::uint8_t countLow = bytes[1];
    if ((format == 0 && countLow > 1) || countHigh >= 2) {
        return kWrongBytes;
    }
    if (countLow == 0) {
        return kNoTracks;
    }
    if (!readExact(source, bytes, 2)) {
        return kWrongBytes;
    }
    const std::uint16_t division = bigEndian16(bytes);
    e.fileDivision.store(division);
    if (division >= 0x8000) {
        return kWrongDivision;
    }

    e.songLength = 0;
    // Only 64 slots exist: a file that declares more tracks plays its first 64.
    const int trackCount = countLow < kSlotCount ? countLow : kSlotCount;
    for (int n = 0; n < trackCount; ++n) {
        if (!readExact(source, bytes, 4)) {
            return {};  // a file that ends early plays the tracks read so far
        }
        if (std::memcmp(bytes, "MTrk", 4) != 0) {
            return kNotMTrk;
        }
        if (!readExact(source, bytes, 4)) {
            return kWrongBytes;
        }
        const std::uint32_t length = bigEndian32(bytes);
        // A length past the end of the file is a short read: found before allocating it.
        if (length > source.remaining()) {
            return kWrongBytes;
        }
        std::vector<std::uint8_t> body(length);
        if (!readExact(source, body.data(), length)) {
            return kWrongBytes;
        }
        TrackSlot& slot = e.slots[n];
        slot.data = TrackBytes(body);
        slot.length = length;
        slot.present = true;
        slot.position = 0;
        const std::uint32_t ticks = ScanTrack(n);
        if (ticks > e.songLength) {
            e.songLength = ticks;
        }
    }
    return {};
}

std::uint32_t ScanTrack(int slotIndex) {
    Engine& e = engine();
    const TrackSlot& slot = e.slots[slotIndex];
    const std::size_t end = slot.length;
    std::size_t pos = 0;
    std::uint32_t ticks = 0;
    std::uint8_t runningStatus = 0;
    while (pos < end) {
        std::uint32_t delta = 0;
        if (!smf::readVarLen(slot.data, end, pos, delta)) {
            break;
        }
        ticks += delta;
        if (pos >= end) {
            break;
        }
        const smf::MidiEvent event = smf::measureEvent(slot.data, end, pos, runningStatus);
        if (event.isEndOfTrack()) {
            break;  // its delta counts
        }
        if (event.kind == smf::EventKind::Meta && event.metaType == 0x51 && event.metaLength >= 3 &&
            event.complete) {
            // The tempo map takes every track's complete tempo events.
            const std::size_t at = event.dataOffset;
            e.tempoEvents.push_back({ticks, static_cast<std::uint16_t>(slotIndex),
                                     (std::uint32_t{slot.data[at]} << 16) |
                                         (std::uint32_t{slot.data[at + 1]} << 8) | slot.data[at + 2]});
        }
        if (event.kind == smf::EventKind::Meta && event.metaType == 0x51 && event.metaLength >= 1 &&
            slotIndex == 0 && event.dataOffset <= end) {
            // The first three data bytes, even when the event declares fewer.
            auto at = [&](std::size_t i) -> std::uint32_t {
                return event.dataOffset + i < end ? slot.data[event.dataOffset + i] : 0;
            };
            const std::uint32_t microsPerQuarter = (at(0) << 16) | (at(1) << 8) | at(2);
            // A zero tempo would divide by zero; the song keeps the tempo it had.
            if (microsPerQuarter != 0) {
                e.fileTempo = 60'000'000u / microsPerQuarter;
            }
        }
        if (!event.complete) {
            break;  // cut off by the end of the track
        }
        pos += event.length;
    }
    return ticks;
}

}  // namespace pulsant
