#include "SongSummary.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "LyricFallback.h"
#include "LyricListBuilder.h"
#include "LyricScan.h"
#include "MidiBytes.h"
#include "SongText.h"
#include "TempoMap.h"
#include "platform/files.h"

namespace library {
namespace {

constexpr std::size_t kHeaderBytes = 14;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kKaraokeTrack = 2;  // the karaoke rule reads the third track's texts

struct Walk {
    std::vector<songfile::SongText> texts;     // text and lyric events, file order
    std::vector<pulsant::TempoEvent> tempos;
    std::string firstTrackName;
    std::uint32_t lastTick = 0;
};

// One track, as far as its events are whole: a cut-off event ends it, as it ends the
// lyric scan's walk.
void walkTrack(const std::uint8_t* data, std::size_t end, std::size_t index, Walk& walk) {
    std::size_t pos = 0;
    std::uint8_t runningStatus = 0;
    std::uint32_t time = 0;
    while (pos < end) {
        std::uint32_t delta = 0;
        if (!songfile::readVarLen(data, end, pos, delta)) {
            break;
        }
        time += delta;
        const songfile::MidiEvent event = songfile::measureEvent(data, end, pos, runningStatus);
        if (!event.complete) {
            break;
        }
        if (event.kind == songfile::EventKind::Meta) {
            const std::string_view text(reinterpret_cast<const char*>(data + event.dataOffset), event.metaLength);
            if (event.metaType == 1 || event.metaType == 5) {
                walk.texts.push_back({static_cast<int>(index), static_cast<std::int32_t>(time), event.metaType,
                                      std::string(text)});
            } else if (event.metaType == 3 && index == 0 && walk.firstTrackName.empty()) {
                walk.firstTrackName = std::string(text);
            } else if (event.metaType == 0x51 && text.size() >= 3) {
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
                walk.tempos.push_back({time, static_cast<std::uint16_t>(index),
                                       (std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2]});
            }
        }
        walk.lastTick = std::max(walk.lastTick, time);
        pos += event.length;
    }
}

// Lyric items as the lyric box takes them: "/" is a line break, a carriage return or line
// feed ends a line.
void appendItem(std::string& lyrics, std::string_view text) {
    if (text == "/") {
        lyrics += '\n';
        return;
    }
    for (const char c : text) {
        lyrics += (c == '\r' || c == '\n') ? '\n' : c;
    }
}

// The karaoke rule: text events of the third track after tick 0; "/" and backslash break
// lines, a text holding "@" is a header field, a second text at the same tick a duplicate.
std::string karaokeLyrics(const Walk& walk) {
    std::string lyrics;
    std::int32_t lastTick = 0;
    for (const songfile::SongText& text : walk.texts) {
        if (text.Type != 1 || static_cast<std::size_t>(text.Track) != kKaraokeTrack || text.Tick <= 0) {
            continue;
        }
        if (text.Tick > lastTick && !text.Text.empty()) {
            std::string syllable;
            for (const char byte : text.Text) {
                if (byte == '/' || byte == '\\') {
                    lyrics += '\n';
                } else {
                    songfile::accumulateLyricByte(syllable, byte);
                }
            }
            if (syllable.find('@') == std::string::npos) {
                appendItem(lyrics, syllable);
            }
        }
        lastTick = text.Tick;
    }
    return lyrics;
}

// The song rule: lyric events of every track after tick 0.
std::string songLyrics(const Walk& walk) {
    std::vector<const songfile::SongText*> items;
    for (const songfile::SongText& text : walk.texts) {
        if (text.Type == 5 && text.Tick > 0 && !text.Text.empty()) {
            items.push_back(&text);
        }
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const songfile::SongText* a, const songfile::SongText* b) { return a->Tick < b->Tick; });
    std::string lyrics;
    for (const songfile::SongText* item : items) {
        std::string syllable;
        for (const char byte : item->Text) {
            songfile::accumulateLyricByte(syllable, byte);
        }
        appendItem(lyrics, syllable);
    }
    return lyrics;
}

std::string furtherLyrics(const Walk& walk) {
    songfile::LyricSource source = songfile::LyricSource::None;
    songfile::TlyricList* first = songfile::FallbackLyrics(walk.texts, source);
    std::string lyrics;
    for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
        appendItem(lyrics, item->Text);
    }
    songfile::FreeLyricList(first);
    return lyrics;
}

// Lines with their spaces collapsed; empty lines dropped.
std::string tidyLyrics(const std::string& raw) {
    const std::string text = songTextUtf8(raw);
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t stop = text.find('\n', start);
        if (stop == std::string::npos) {
            stop = text.size();
        }
        const std::string line = collapsedSpaces(std::string_view(text).substr(start, stop - start));
        if (!line.empty()) {
            out += out.empty() ? "" : "\n";
            out += line;
        }
        start = stop + 1;
    }
    return out;
}

std::string tidyName(std::string_view bytes) { return collapsedSpaces(songTextUtf8(bytes)); }

// "@T" lines name the title and then the artist; an "@A" line names the artist.
void informationLines(const Walk& walk, SongSummary& summary) {
    int titles = 0;
    for (const songfile::SongText& text : walk.texts) {
        if (text.Type != 1 || text.Text.size() < 3 || text.Text[0] != '@') {
            continue;
        }
        const char field = text.Text[1];
        const std::string value = tidyName(std::string_view(text.Text).substr(2));
        if (value.empty()) {
            continue;
        }
        if (field == 'T' || field == 't') {
            if (titles == 0) {
                summary.title = value;
            } else if (titles == 1 && summary.artist.empty()) {
                summary.artist = value;
            }
            ++titles;
        } else if (field == 'A' || field == 'a') {
            summary.artist = value;
        }
    }
}

void namesFromFile(const std::string& fileName, SongSummary& summary) {
    std::string stem = fileName;
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        stem.resize(dot);
    }
    std::string name = tidyName(stem);
    const std::size_t dash = name.find(" - ");
    if (summary.artist.empty() && dash != std::string::npos && dash > 0 && dash + 3 < name.size()) {
        summary.artist = name.substr(0, dash);
        name = name.substr(dash + 3);
    }
    summary.title = name;
}

int playingSeconds(const Walk& walk, std::uint16_t division) {
    const std::optional<pulsant::TempoMap> map = pulsant::TempoMap::build(walk.tempos, division);
    if (!map) {
        return 0;
    }
    return static_cast<int>((map->timeAt(walk.lastTick) + 500'000) / 1'000'000);
}

}  // namespace

SongSummary summarizeSong(const std::vector<std::uint8_t>& bytes, const std::string& fileName, std::string& error) {
    error.clear();
    SongSummary summary;
    if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), "MThd", 4) != 0) {
        error = "not a Standard MIDI file";
        return summary;
    }
    const std::uint32_t headerLength = songfile::readBigEndian32(bytes.data() + 4);
    const std::uint16_t format = songfile::readBigEndian16(bytes.data() + 8);
    const std::uint16_t count = songfile::readBigEndian16(bytes.data() + 10);
    const std::uint16_t division = songfile::readBigEndian16(bytes.data() + 12);
    if (headerLength < 6 || headerLength > bytes.size() - 8) {
        error = "damaged file header";
        return summary;
    }
    if (format > 2 || count == 0 || count > 255 || (format == 0 && count > 1)) {
        error = "unknown file format or track count";
        return summary;
    }
    if (division == 0 || (division & 0x8000) != 0) {
        error = "time in SMPTE frames or a division of 0, which the player does not play";
        return summary;
    }
    Walk walk;
    std::size_t pos = 8 + headerLength;
    for (std::size_t index = 0; index < count; ++index) {
        if (bytes.size() - pos < kChunkHeaderBytes || std::memcmp(bytes.data() + pos, "MTrk", 4) != 0) {
            error = "track " + std::to_string(index + 1) + " is missing or not a track";
            return summary;
        }
        const std::uint32_t length = songfile::readBigEndian32(bytes.data() + pos + 4);
        pos += kChunkHeaderBytes;
        if (length > bytes.size() - pos) {
            error = "track " + std::to_string(index + 1) + " is cut off";
            return summary;
        }
        walkTrack(bytes.data() + pos, length, index, walk);
        pos += length;
    }

    std::string lyrics = karaokeLyrics(walk);
    if (lyrics.find_first_not_of('\n') == std::string::npos) {
        lyrics = songLyrics(walk);
    }
    if (lyrics.find_first_not_of('\n') == std::string::npos) {
        lyrics = furtherLyrics(walk);
    }
    summary.lyrics = tidyLyrics(lyrics);
    informationLines(walk, summary);
    if (summary.title.empty()) {
        summary.title = tidyName(walk.firstTrackName);
    }
    if (summary.title.empty()) {
        namesFromFile(fileName, summary);
    }
    summary.seconds = playingSeconds(walk, division);
    return summary;
}

SongSummary summarizeSongFile(const std::string& path, std::string& error) {
    platform::FileReader file;
    if (!file.open(path)) {
        error = "cannot be opened for reading";
        return {};
    }
    if (file.size() > kMaxSongBytes) {
        error = "too large for a song";
        return {};
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.size()));
    if (!file.read(bytes.data(), bytes.size())) {
        error = "cannot be read";
        return {};
    }
    const std::size_t slash = path.rfind('/');
    return summarizeSong(bytes, slash == std::string::npos ? path : path.substr(slash + 1), error);
}

}  // namespace library
