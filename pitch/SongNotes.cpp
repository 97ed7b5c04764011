#include "SongNotes.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>

#include "smf/EventMeasure.h"

namespace pitch {

namespace {

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

std::uint16_t bigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

// One track chunk's body, [begin, end) of `bytes`.
void readTrack(const std::uint8_t* bytes, std::size_t begin, std::size_t end, std::uint16_t trackIndex,
               SongNotes& song) {
    std::vector<Note> notes;
    // Index + 1 into `notes` of the sounding note of each channel and key; 0 = silent.
    std::array<std::array<std::size_t, 128>, 16> sounding{};
    std::uint8_t runningStatus = 0;
    std::uint32_t tick = 0;
    std::size_t pos = begin;
    while (pos < end) {
        std::uint32_t delta = 0;
        // A track running past the 32-bit tick (about 12 days at 480 ticks a quarter)
        // is damaged from there on: time would wrap and notes end before they start.
        if (!smf::readVarLen(bytes, end, pos, delta) || delta > UINT32_MAX - tick) {
            break;
        }
        tick += delta;
        const smf::MidiEvent event = smf::measureEvent(bytes, end, pos, runningStatus);
        if (!event.complete || event.length == 0) {
            break;
        }
        if (event.kind == smf::EventKind::Meta) {
            if (event.metaType == 0x51 && event.metaLength == 3) {
                const std::size_t d = event.dataOffset;
                song.tempos.push_back({tick, trackIndex,
                                       (std::uint32_t{bytes[d]} << 16) | (std::uint32_t{bytes[d + 1]} << 8) |
                                           std::uint32_t{bytes[d + 2]}});
            }
            if (event.isEndOfTrack()) {
                pos = end;
                break;
            }
        } else if (event.kind == smf::EventKind::Channel && event.status >= 0x80) {
            const std::uint8_t kind = event.status & 0xF0;
            const std::uint8_t channel = event.status & 0x0F;
            if (kind == 0x80 || kind == 0x90) {
                const std::uint8_t key = bytes[event.dataOffset] & 0x7F;
                const std::uint8_t velocity = bytes[event.dataOffset + 1] & 0x7F;
                std::size_t& slot = sounding[channel][key];
                if (slot != 0) {
                    notes[slot - 1].endTick = tick;
                    slot = 0;
                }
                if (kind == 0x90 && velocity > 0) {
                    notes.push_back({tick, tick, key, channel});
                    slot = notes.size();
                }
            }
        }
        pos += event.length;
    }
    for (auto& keys : sounding) {
        for (std::size_t slot : keys) {
            if (slot != 0) {
                notes[slot - 1].endTick = tick;
            }
        }
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note& a, const Note& b) { return a.startTick < b.startTick; });
    song.tracks.push_back(std::move(notes));
}

}  // namespace

NotesResult ReadSongNotes(const std::uint8_t* bytes, std::size_t size) {
    NotesResult result;
    if (size > kMaxSongBytes) {
        result.error = NotesError::TooBig;
        return result;
    }
    if (size < 14 || !std::equal(bytes, bytes + 4, "MThd") || bigEndian32(bytes + 4) < 6) {
        result.error = NotesError::NotSmf;
        return result;
    }
    const std::uint16_t division = bigEndian16(bytes + 12);
    if (division == 0 || (division & 0x8000) != 0) {
        result.error = NotesError::BadDivision;
        return result;
    }
    result.song.division = division;
    std::size_t pos = 8 + std::size_t{bigEndian32(bytes + 4)};
    while (pos <= size && size - pos >= 8 && result.song.tracks.size() < kMaxTracks) {
        const std::size_t length = bigEndian32(bytes + pos + 4);
        const std::size_t begin = pos + 8;
        const std::size_t end = length > size - begin ? size : begin + length;
        if (std::equal(bytes + pos, bytes + pos + 4, "MTrk")) {
            readTrack(bytes, begin, end, static_cast<std::uint16_t>(result.song.tracks.size()), result.song);
        }
        pos = end;
    }
    return result;
}

NotesResult ReadSongNotesFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {NotesError::CannotOpen, {}};
    }
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < 0) {
        return {NotesError::CannotOpen, {}};
    }
    if (static_cast<std::uint64_t>(length) > kMaxSongBytes) {
        return {NotesError::TooBig, {}};
    }
    in.seekg(0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), length)) {
        return {NotesError::CannotOpen, {}};
    }
    return ReadSongNotes(bytes.data(), bytes.size());
}

std::string NotesErrorText(NotesError error, const std::string& path) {
    switch (error) {
    case NotesError::None:
        return {};
    case NotesError::CannotOpen:
        return "Cannot read " + path;
    case NotesError::TooBig:
        return path + " is too big for a song";
    case NotesError::NotSmf:
        return path + " is not a Standard MIDI file";
    case NotesError::BadDivision:
        return path + " keeps time in SMPTE frames or has no ticks per quarter note";
    }
    return {};
}

}  // namespace pitch
