#include "LyricFallback.h"

#include <cstddef>
#include <string_view>

#include "LyricListBuilder.h"

namespace songfile {

namespace {

constexpr std::uint8_t kTextType = 1;
constexpr std::uint8_t kLyricType = 5;
// A sung text is a syllable, a word or at most a line; longer texts are descriptions.
constexpr std::size_t kMaxSungBytes = 64;
// Fewer short texts than this in a track are remarks ("Intro", "Verse"), not its words.
constexpr std::size_t kMinSungTexts = 4;

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool containsLower(std::string_view text, std::string_view lower) {
    for (std::size_t at = 0; at + lower.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < lower.size() && lowerAscii(text[at + i]) == lower[i]) {
            ++i;
        }
        if (i == lower.size()) {
            return true;
        }
    }
    return false;
}

// "©" is 0xA9 in Latin-1 and C2 A9 in UTF-8; 0xA9 after any other byte above 0x7F is
// the second half of another UTF-8 letter ("é" is C3 A9) and is left alone.
bool hasCopyrightSign(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) != 0xA9) {
            continue;
        }
        const auto before = i == 0 ? 0u : static_cast<unsigned char>(text[i - 1]);
        if (before == 0xC2 || before < 0x80) {
            return true;
        }
    }
    return false;
}

bool looksSung(std::string_view text) {
    return !text.empty() && text.size() <= kMaxSungBytes && text.front() != '%' &&
           text.find('@') == std::string_view::npos && !containsLower(text, "(c)") &&
           !containsLower(text, "copyright") && !hasCopyrightSign(text);
}

bool sungText(const SongText& text) { return text.Type == kTextType && text.Tick > 0 && looksSung(text.Text); }

bool lyricEvent(const SongText& text) { return text.Type == kLyricType && text.Tick >= 0 && !text.Text.empty(); }

// The track with the most texts `counts` takes, the earlier one of equals; -1 when
// none has `least`.
template <typename Counts>
int busiestTrack(const std::vector<SongText>& texts, Counts counts, std::size_t least) {
    std::vector<std::size_t> perTrack;
    for (const SongText& text : texts) {
        if (text.Track < 0 || !counts(text)) {
            continue;
        }
        const auto track = static_cast<std::size_t>(text.Track);
        if (perTrack.size() <= track) {
            perTrack.resize(track + 1, 0);
        }
        ++perTrack[track];
    }
    int best = -1;
    std::size_t bestCount = 0;
    for (std::size_t track = 0; track < perTrack.size(); ++track) {
        if (perTrack[track] >= least && perTrack[track] > bestCount) {
            best = static_cast<int>(track);
            bestCount = perTrack[track];
        }
    }
    return best;
}

bool isNewline(char byte) { return byte == '\r' || byte == '\n'; }

// One taken text as items, with the karaoke rule's line breaks (see the header).
void takeText(LyricListBuilder& lyrics, const SongText& text) {
    const auto track = static_cast<std::size_t>(text.Track);
    std::string syllable;
    bool breakBefore = false;
    bool endsLine = false;
    for (const char byte : text.Text) {
        if (byte == '/' || byte == '\\') {
            lyrics.append(track, text.Tick, "/");
        } else if (isNewline(byte)) {
            if (!syllable.empty()) {
                endsLine = true;
            } else if (!breakBefore) {
                breakBefore = true;
                lyrics.append(track, text.Tick, "/");
            }
        } else {
            accumulateLyricByte(syllable, byte);
        }
    }
    if (endsLine) {
        syllable.push_back('\r');
    }
    if (!syllable.empty()) {
        lyrics.append(track, text.Tick, std::move(syllable));
    }
}

template <typename Takes>
TlyricList* takeTrack(const std::vector<SongText>& texts, int track, Takes takes) {
    LyricListBuilder lyrics;
    const SongText* previous = nullptr;
    for (const SongText& text : texts) {
        if (text.Track != track || !takes(text)) {
            continue;
        }
        if (previous == nullptr || previous->Tick != text.Tick || previous->Text != text.Text) {
            takeText(lyrics, text);
        }
        previous = &text;
    }
    return lyrics.release();
}

}  // namespace

const char* LyricSourceName(LyricSource source) {
    switch (source) {
    case LyricSource::Karaoke:
        return "karaoke";
    case LyricSource::Song:
        return "song";
    case LyricSource::TextTrack:
        return "text-track";
    case LyricSource::LyricEvents:
        return "lyric-events";
    case LyricSource::None:
        break;
    }
    return "none";
}

TlyricList* FallbackLyrics(const std::vector<SongText>& texts, LyricSource& source) {
    source = LyricSource::None;
    if (const int track = busiestTrack(texts, sungText, kMinSungTexts); track >= 0) {
        if (TlyricList* first = takeTrack(texts, track, sungText)) {
            source = LyricSource::TextTrack;
            return first;
        }
    }
    if (const int track = busiestTrack(texts, lyricEvent, 1); track >= 0) {
        if (TlyricList* first = takeTrack(texts, track, lyricEvent)) {
            source = LyricSource::LyricEvents;
            return first;
        }
    }
    return nullptr;
}

ShownLyrics ScanShownLyrics(const std::string& splitPath, const std::string& ext, const OfferOtherRule& offer) {
    ShownLyrics shown;
    const auto scan = [&](const char* mode) { return ExtractLyrics(splitPath, mode, shown.tempo, shown.offset); };
    const auto sourceOf = [](std::string_view mode) {
        return mode == ".KAR" ? LyricSource::Karaoke : LyricSource::Song;
    };
    bool bothFoundNothing = false;
    if (ext == ".PFC") {
        shown.first = scan(".KAR");
        shown.source = LyricSource::Karaoke;
        if (shown.first == nullptr) {
            shown.first = scan(".MID");
            shown.source = LyricSource::Song;
            bothFoundNothing = shown.first == nullptr;
        }
    } else {
        shown.first = scan(ext.c_str());
        shown.source = sourceOf(ext);
    }
    if (shown.first == nullptr && (ext == ".MID" || ext == ".KAR")) {
        const bool mid = ext == ".MID";
        const char* other = mid ? ".KAR" : ".MID";
        TlyricList* found = scan(other);
        if (found == nullptr) {
            bothFoundNothing = true;
        } else if (offer(mid ? "This file does not contain lyrics in the standard MID format.Do you want "
                               "CVK to try to extract lyrics as if this file were a KAR file ?"
                             : "This file does not contain lyrics in the standard KAR format.Do you want "
                               "CVK to try to extract lyrics as if this file were a MID file ?")) {
            shown.first = found;
            shown.source = sourceOf(other);
        } else {
            FreeLyricList(found);
        }
    }
    if (shown.first == nullptr && bothFoundNothing) {
        try {
            std::vector<SongText> texts;
            if (CollectSongTexts(splitPath, texts)) {
                shown.first = FallbackLyrics(texts, shown.source);
            }
        } catch (...) {
            // Out of memory: the song shows no lyrics, as before.
        }
    }
    if (shown.first == nullptr) {
        shown.source = LyricSource::None;
    }
    return shown;
}

}  // namespace songfile
