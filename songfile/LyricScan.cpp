#include "LyricScan.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "LyricListBuilder.h"
#include "MidiBytes.h"
#include "platform/files.h"

// Choices made here where the file format leaves room:
// - A track's absolute time is 32-bit and wraps like the tick it becomes; an item whose
//   time wrapped negative counts as "not after tick 0" and is skipped.
// - A tempo event needs its three data bytes; a shorter one is not a tempo.
// - Tracks beyond the 64th (a count's low byte may say up to 255) are walked for lyrics
//   but have no information entry.
// - Copyright inheritance covers the tracks the file has; unused entries stay empty.
// - Any failure empties the whole information table, so a song that failed to scan
//   shows no stale names from the song before it.
namespace songfile {

std::array<trackInfo, kTrackInfoCount> TrackInfoTable{};

namespace {

constexpr std::size_t kHeaderBytes = 14;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kMaxInfoBytes = 252;
constexpr int kDefaultTempo = 120;
constexpr std::uint32_t kMicrosPerMinute = 60'000'000;

enum class LyricRule { None, Kar, Mid };

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsUpper(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (upperAscii(text[i]) != upper[i]) {
            return false;
        }
    }
    return true;
}

LyricRule ruleFor(const std::string& mode) {
    if (equalsUpper(mode, ".KAR")) {
        return LyricRule::Kar;
    }
    if (equalsUpper(mode, ".MID")) {
        return LyricRule::Mid;
    }
    return LyricRule::None;
}

void resetTrackInfo() {
    for (trackInfo& entry : TrackInfoTable) {
        entry = trackInfo{};
    }
}

struct TrackContext {
    std::size_t index = 0;
    LyricRule rule = LyricRule::None;
    trackInfo* info = nullptr;  // none for tracks beyond the table
    int& tempo;
    LyricListBuilder& lyrics;
    std::int32_t lastKarTick = 0;
    std::vector<SongText>* texts = nullptr;  // set: gather texts instead of scanning
    std::vector<SongTempo>* tempos = nullptr;  // set: gather tempo events as well
};

// A karaoke text event of the lyric track: "/" and backslash are line breaks of their
// own, a text holding "@" is a header field, and a second text at the same tick is a
// duplicate some editors write.
void takeKarText(TrackContext& track, std::int32_t tick, std::string_view text) {
    if (tick <= 0) {
        return;
    }
    if (tick <= track.lastKarTick || text.empty()) {
        track.lastKarTick = tick;
        return;
    }
    std::string syllable;
    for (const char byte : text) {
        if (byte == '/' || byte == '\\') {
            track.lyrics.append(track.index, tick, "/");
        } else {
            accumulateLyricByte(syllable, byte);
        }
    }
    if (syllable.find('@') == std::string::npos) {
        track.lyrics.append(track.index, tick, std::move(syllable));
    }
    track.lastKarTick = tick;
}

void takeMidLyric(TrackContext& track, std::int32_t tick, std::string_view text) {
    if (tick <= 0 || text.empty()) {
        return;
    }
    std::string syllable;
    for (const char byte : text) {
        accumulateLyricByte(syllable, byte);
    }
    track.lyrics.append(track.index, tick, std::move(syllable));
}

void takeInformation(TrackContext& track, std::uint8_t type, std::string_view text) {
    if (text.empty()) {
        return;
    }
    if (type == 0x51) {
        if (track.index == 0 && text.size() >= 3) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
            const std::uint32_t micros = (std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2];
            if (micros != 0) {
                track.tempo = static_cast<int>(kMicrosPerMinute / micros);
            }
        }
        return;
    }
    if (track.info == nullptr) {
        return;
    }
    switch (type) {
    case 1: {
        const std::string_view piece = text.substr(0, kMaxInfoBytes);
        std::string& info = track.info->Info;
        if (info.size() + piece.size() < kMaxInfoBytes) {
            if (!info.empty()) {
                info += "\r\n\t";
            }
            info += piece;
        }
        break;
    }
    case 2:
        track.info->Copyright.assign(text.substr(0, kMaxNameBytes));
        break;
    case 3:
        track.info->TrackName.assign(text.substr(0, kMaxNameBytes));
        break;
    default:
        break;
    }
}

void takeProgram(TrackContext& track, std::uint8_t status, std::uint8_t program) {
    if (track.info == nullptr || program >= 0x80) {
        return;
    }
    trackInfo& info = *track.info;
    if (info.Program == 0xFF) {
        info.Program = program;
        info.FileProgram = program;
        info.Channel = status & 0x0F;
    } else {
        info.MorePrograms = true;
    }
}

// Walks one track body; an event cut off by the end of the body ends the walk.
void scanTrack(const std::vector<std::uint8_t>& body, TrackContext& track) {
    const std::uint8_t* data = body.data();
    const std::size_t end = body.size();
    std::size_t pos = 0;
    std::uint8_t runningStatus = 0;
    std::uint32_t time = 0;
    while (pos < end) {
        std::uint32_t delta = 0;
        if (!readVarLen(data, end, pos, delta)) {
            return;
        }
        time += delta;
        const auto tick = static_cast<std::int32_t>(time);
        const MidiEvent event = measureEvent(data, end, pos, runningStatus);
        if (!event.complete) {
            return;
        }
        if (event.kind == EventKind::Channel && event.hasStatusByte && (event.status & 0xF0) == 0xC0) {
            takeProgram(track, event.status, data[pos + 1]);
        } else if (event.kind == EventKind::Meta) {
            const std::string_view text(reinterpret_cast<const char*>(data + event.dataOffset), event.metaLength);
            if (track.tempos != nullptr && event.metaType == 0x51 && event.metaLength >= 3) {
                const std::uint8_t* bytes = data + event.dataOffset;
                track.tempos->push_back({time, static_cast<int>(track.index),
                                         (std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2]});
            }
            if (track.texts != nullptr) {
                if (event.metaType == 1 || event.metaType == 5) {
                    track.texts->push_back({static_cast<int>(track.index), tick, event.metaType, std::string(text)});
                }
            } else if (track.rule == LyricRule::Kar && event.metaType == 1) {
                if (track.index == 2) {
                    takeKarText(track, tick, text);
                }
            } else if (track.rule == LyricRule::Mid && event.metaType == 5) {
                takeMidLyric(track, tick, text);
            } else {
                takeInformation(track, event.metaType, text);
            }
        }
        pos += event.length;
    }
}

// With `texts`, the walk gathers the text and lyric events and leaves the track
// information table alone.
bool scanFile(const std::string& path, LyricRule rule, int& tempo, LyricListBuilder& lyrics,
              std::uint64_t& offset, std::vector<SongText>* texts = nullptr,
              std::vector<SongTempo>* tempos = nullptr, std::uint16_t* division = nullptr) {
    platform::FileReader file;
    std::uint8_t header[kHeaderBytes];
    if (!file.open(path) || !file.read(header, sizeof header)) {
        return false;
    }
    // A header longer than six bytes is read as if it were six, as the splitter wrote it.
    const std::uint8_t format = header[9];
    const std::uint16_t count = readBigEndian16(header + 10);
    if (std::memcmp(header, "MThd", 4) != 0 || readBigEndian32(header + 4) < 6 ||
        (format == 0 && count > 1) || (count >> 8) >= 2 || (count & 0xFF) == 0) {
        return false;
    }
    const std::size_t tracks = count & 0xFF;
    if (division != nullptr) {
        *division = readBigEndian16(header + 12);
    }
    if (texts == nullptr) {
        resetTrackInfo();
    }

    std::vector<std::uint8_t> body;
    for (std::size_t index = 0; index < tracks; ++index) {
        std::uint8_t chunk[kChunkHeaderBytes];
        if (!file.read(chunk, sizeof chunk) || std::memcmp(chunk, "MTrk", 4) != 0) {
            return false;
        }
        const std::uint32_t length = readBigEndian32(chunk + 4);
        if (length > file.remaining()) {
            return false;
        }
        body.resize(length);
        if (!file.read(body.data(), body.size())) {
            return false;
        }
        trackInfo* info = texts == nullptr && index < kTrackInfoCount ? &TrackInfoTable[index] : nullptr;
        TrackContext track{index, rule, info, tempo, lyrics, 0, texts, tempos};
        scanTrack(body, track);
    }
    for (std::size_t index = 1; texts == nullptr && index < tracks && index < kTrackInfoCount; ++index) {
        if (TrackInfoTable[index].Copyright.empty()) {
            TrackInfoTable[index].Copyright = TrackInfoTable[0].Copyright;
        }
    }
    offset = file.position();
    return true;
}

}  // namespace

TlyricList* ExtractLyrics(const std::string& path, const std::string& mode, int& tempo,
                          std::optional<std::uint64_t>& offset) {
    tempo = kDefaultTempo;
    try {
        LyricListBuilder lyrics;
        std::uint64_t end = 0;
        if (scanFile(path, ruleFor(mode), tempo, lyrics, end)) {
            offset = end;
            return lyrics.release();
        }
    } catch (...) {
        // Out of memory: the song loads without lyrics, as for any failed scan.
    }
    resetTrackInfo();
    return nullptr;
}

bool CollectSongTexts(const std::string& path, std::vector<SongText>& texts) {
    texts.clear();
    try {
        LyricListBuilder none;
        int tempo = 0;
        std::uint64_t end = 0;
        if (scanFile(path, LyricRule::None, tempo, none, end, &texts)) {
            return true;
        }
    } catch (...) {
        // Out of memory: as good as a file without texts.
    }
    texts.clear();
    return false;
}

bool CollectTempoEvents(const std::string& path, std::uint16_t& division, std::vector<SongTempo>& tempos) {
    tempos.clear();
    division = 0;
    try {
        LyricListBuilder none;
        std::vector<SongText> texts;
        int tempo = 0;
        std::uint64_t end = 0;
        if (scanFile(path, LyricRule::None, tempo, none, end, &texts, &tempos, &division)) {
            return true;
        }
    } catch (...) {
        // Out of memory: as good as a file without tempo events.
    }
    tempos.clear();
    division = 0;
    return false;
}

void FreeLyricList(TlyricList* first) {
    while (first != nullptr) {
        TlyricList* next = first->Next;
        delete first;
        first = next;
    }
}

}  // namespace songfile
