#include "SongWriter.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "MidiBytes.h"
#include "platform/files.h"

// Choices made here where the file format leaves room:
// - A tempo slower than 60,000,000 / 0xFFFFFF (below 4 beats per minute) is written as
//   the slowest tempo three bytes can hold.
// - A tempo event shorter than three data bytes is left alone: writing three bytes
//   would overwrite the next event.
// - A data byte of 0x80 or more inside a note message is not a note or a velocity and is
//   left as it is; an instrument whose low byte is 0x80 or more is not a program and
//   keeps the file's programs, so no status byte is ever written into a data position.
// - Tracks beyond the 64th are copied with their own programs and velocities.
namespace songfile {
namespace {

constexpr std::size_t kHeaderBytes = 14;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kMicrosPerMinute = 60'000'000;
constexpr std::uint32_t kSlowestTempoValue = 0xFFFFFF;
constexpr std::uint8_t kPercussionChannel = 9;

struct SongSettings {
    std::uint8_t tempoBytes[3] = {};
    TempoScaling scale;
    int key = 0;
};

// A tempo event's value times the ratio, rounded, within what three bytes hold.
void scaleTempo(std::uint8_t* bytes, TempoScaling scale) {
    const std::uint64_t micros = (std::uint64_t{bytes[0]} << 16) | (std::uint64_t{bytes[1]} << 8) | bytes[2];
    if (micros == 0) {
        return;
    }
    const std::uint64_t scaled = (micros * scale.numerator * 2 + scale.denominator) / (2 * std::uint64_t{scale.denominator});
    const std::uint64_t value = std::clamp<std::uint64_t>(scaled, 1, kSlowestTempoValue);
    bytes[0] = static_cast<std::uint8_t>(value >> 16);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value);
}

struct TrackSettings {
    int velocityOffset = 0;
    std::optional<std::uint8_t> program;
};

SongSettings songSettings(unsigned tempo, int key) {
    SongSettings settings;
    const std::uint32_t micros = std::min(kMicrosPerMinute / tempo, kSlowestTempoValue);
    settings.tempoBytes[0] = static_cast<std::uint8_t>(micros >> 16);
    settings.tempoBytes[1] = static_cast<std::uint8_t>(micros >> 8);
    settings.tempoBytes[2] = static_cast<std::uint8_t>(micros);
    settings.key = key;
    return settings;
}

TrackSettings trackSettings(std::size_t track, const std::int16_t* instruments, const std::int16_t* velocities) {
    TrackSettings settings;
    if (track >= kWriterTrackSlots) {
        return settings;
    }
    settings.velocityOffset = velocities[track];
    const auto program = static_cast<std::uint8_t>(instruments[track] & 0xFF);
    if (program < 0x80) {
        settings.program = program;
    }
    return settings;
}

// Edits one track body in place; an event cut off by the end of the body ends the walk.
void editTrack(std::vector<std::uint8_t>& body, const SongSettings& song, const TrackSettings& track) {
    std::uint8_t* data = body.data();
    const std::size_t end = body.size();
    std::size_t pos = 0;
    std::uint8_t runningStatus = 0;
    while (pos < end) {
        std::uint32_t delta = 0;
        if (!readVarLen(data, end, pos, delta)) {
            return;
        }
        const MidiEvent event = measureEvent(data, end, pos, runningStatus);
        if (!event.complete) {
            return;
        }
        const std::size_t at = event.dataOffset;
        if (event.kind == EventKind::Meta) {
            if (event.metaType == 0x51 && event.metaLength >= 3) {
                if (song.scale.numerator != 0) {
                    scaleTempo(data + at, song.scale);
                } else {
                    std::memcpy(data + at, song.tempoBytes, sizeof song.tempoBytes);
                }
            }
        } else if (event.kind == EventKind::Channel) {
            const std::uint8_t kind = event.status & 0xF0;
            const std::uint8_t channel = event.status & 0x0F;
            if ((kind == 0x80 || kind == 0x90) && data[at] < 0x80) {
                data[at] = static_cast<std::uint8_t>(TransposeNote(channel, data[at], song.key));
            }
            if (kind == 0x90 && data[at + 1] != 0 && data[at + 1] < 0x80) {
                data[at + 1] = static_cast<std::uint8_t>(std::clamp(data[at + 1] + track.velocityOffset, 0, 127));
            }
            if (kind == 0xC0 && track.program) {
                data[at] = *track.program;
            }
        }
        pos += event.length;
    }
}

bool writeSong(const std::string& source, const SongSettings& song, const std::int16_t* instruments,
               const std::string& target, const std::int16_t* velocities, bool wholeFile) {
    platform::FileReader in;
    if (!in.open(source)) {
        return false;
    }
    std::uint8_t header[kHeaderBytes];
    if (!in.read(header, sizeof header)) {
        return false;
    }
    const std::uint8_t format = header[9];
    const std::uint16_t tracks = readBigEndian16(header + 10);
    if (std::memcmp(header, "MThd", 4) != 0 || readBigEndian32(header + 4) < 6 || format > 1 || tracks == 0 ||
        (format == 0 && tracks >= 2)) {
        return false;
    }
    // Bytes of a longer header are not skipped: the words are read right after the
    // length, and writing the length as 6 keeps the output as long as the input.
    header[4] = 0;
    header[5] = 0;
    header[6] = 0;
    header[7] = 6;

    platform::ReplacementFile replacement(
        target, wholeFile ? platform::ReplacementFile::Start::Empty
                          : platform::ReplacementFile::Start::CopyOfTarget);
    platform::FileWriter out;
    if (!replacement.valid() || !out.open(replacement.path()) || !out.write(header, sizeof header)) {
        return false;
    }
    std::vector<std::uint8_t> body;
    for (std::size_t track = 0; track < tracks; ++track) {
        std::uint8_t chunk[kChunkHeaderBytes];
        if (!in.read(chunk, sizeof chunk) || std::memcmp(chunk, "MTrk", 4) != 0) {
            return false;
        }
        const std::uint32_t length = readBigEndian32(chunk + 4);
        if (length == 0xFFFFFFFF || length > in.remaining()) {
            return false;
        }
        body.resize(length);
        if (!in.read(body.data(), body.size())) {
            return false;
        }
        editTrack(body, song, trackSettings(track, instruments, velocities));
        if (!out.write(chunk, sizeof chunk) || !out.write(body.data(), body.size())) {
            return false;
        }
    }
    return out.close() && replacement.commit();
}

}  // namespace

bool WriteEditedSong(const std::string& source, unsigned tempo, const std::int16_t* instruments,
                     const std::string& target, int key, const std::int16_t* velocities,
                     bool wholeFile, TempoScaling scale) {
    if (tempo == 0 || instruments == nullptr || velocities == nullptr || target.empty() ||
        (scale.numerator != 0 && scale.denominator == 0)) {
        return false;
    }
    try {
        SongSettings settings = songSettings(tempo, key);
        settings.scale = scale;
        return writeSong(source, settings, instruments, target, velocities, wholeFile);
    } catch (...) {
        return false;
    }
}

int TransposeNote(int channel, int note, int key) {
    if (channel == kPercussionChannel) {
        return note;
    }
    // Folding by whole octaves in one step: a key of any size costs the same.
    long long moved = static_cast<long long>(note) + key;
    if (moved < 0) {
        moved += 12 * ((-moved + 11) / 12);
    } else if (moved > 127) {
        moved -= 12 * ((moved - 127 + 11) / 12);
    }
    return static_cast<int>(moved);
}

}  // namespace songfile
