#include "LyricLayout.h"

#include <algorithm>

namespace lyrics {

namespace {

struct Item {
    QString text;
    std::int32_t tick;
};

// Index of the character that ends a line when an item follows it: the last one before
// any trailing blanks, if it is ",", ".", "/" or ";". -1 otherwise.
qsizetype lineBreakAt(const QString& text) {
    qsizetype i = text.size() - 1;
    while (i >= 0 && text[i] == u' ') {
        --i;
    }
    if (i < 0) {
        return -1;
    }
    const QChar c = text[i];
    return (c == u',' || c == u'.' || c == u'/' || c == u';') ? i : -1;
}

}  // namespace

std::vector<const songfile::TlyricList*> shownItems(const songfile::TlyricList* first) {
    // Tracks in the order they first appear, which is track order for a scanned list.
    std::vector<std::pair<int, std::size_t>> counts;
    for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
        const auto seen = std::find_if(counts.begin(), counts.end(),
                                       [item](const auto& entry) { return entry.first == item->Track; });
        if (seen != counts.end()) {
            ++seen->second;
        } else {
            counts.emplace_back(item->Track, 1);
        }
    }
    if (counts.empty()) {
        return {};
    }
    // max_element keeps the first of equals.
    const int track = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                          return a.second < b.second;
                      })->first;
    std::vector<const songfile::TlyricList*> shown;
    for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
        if (item->Track == track) {
            shown.push_back(item);
        }
    }
    std::stable_sort(shown.begin(), shown.end(),
                     [](const auto* a, const auto* b) { return a->StartTick < b->StartTick; });
    return shown;
}

LyricLayout layoutLyrics(const songfile::TlyricList* first, const LyricDecoder& decoder,
                         int pointSize, int boxWidth, const TextWidth& textWidth) {
    std::vector<Item> items;
    for (const songfile::TlyricList* item : shownItems(first)) {
        if (!item->Text.empty()) {
            items.push_back({decoder.decode(item->Text), item->StartTick});
        }
    }
    const bool nonEnglish = decoder.nonEnglish();
    const int widthLimit = boxWidth - kHorizontalMargin;

    LyricLayout result;
    result.pointSize = pointSize;
    for (;;) {
        result.lines.clear();
        TlyricLine working;
        QString lineText;
        QString overflow;
        bool unemitted = false;  // syllables joined since the last line went out

        const auto emitLine = [&] {
            if (!lineText.isEmpty()) {
                result.lines.push_back({displayText(lineText, nonEnglish), working});
                unemitted = false;
            }
            lineText.clear();
        };
        const auto join = [&](const QString& before, std::int32_t tick) {
            if (before.isEmpty()) {
                working.Count = 0;
                working.FirstTick = tick;
            }
            working.LastTick = tick;
            working.Ticks[working.Count] = tick;
            working.Positions[working.Count] = displayLength(before, nonEnglish);
            ++working.Count;
            unemitted = true;
        };

        bool shrunk = false;
        std::size_t next = 0;
        while (next < items.size()) {
            const Item& item = items[next];
            QString before = lineText;
            lineText = before + item.text;

            // The same text overflowing twice means one item alone is wider than the box.
            bool letOverflow = false;
            if (!overflow.isEmpty() && lineText == overflow) {
                if (result.pointSize > kMinPointSize) {
                    result.pointSize = std::max(result.pointSize - kShrinkStep, kMinPointSize);
                    shrunk = true;
                    break;
                }
                letOverflow = true;
            }
            overflow.clear();

            if (working.Count == kMaxSyllables && !before.isEmpty()) {
                lineText = before;
                emitLine();
                continue;
            }
            if (lineText.endsWith(u'\r')) {
                lineText.chop(1);
                join(before, item.tick);
                emitLine();
                ++next;
                continue;
            }
            if (const qsizetype at = lineBreakAt(before); at >= 0) {
                // A karaoke "/" only says where the line ends; punctuation stays visible.
                if (before[at] == u'/') {
                    before.remove(at, 1);
                }
                lineText = before;
                emitLine();
                continue;
            }
            if (!letOverflow &&
                textWidth(displayText(lineText, nonEnglish), result.pointSize) > widthLimit) {
                overflow = lineText;
                lineText = before;
                emitLine();
                continue;
            }
            join(before, item.tick);
            ++next;
        }
        if (shrunk) {
            continue;
        }
        if (unemitted) {
            emitLine();
        }
        return result;
    }
}

LyricPosition positionForTick(const std::vector<LaidOutLine>& lines, std::int32_t tick,
                              LyricPosition current) {
    LyricPosition reached = current;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].syllables && tick >= lines[i].syllables->FirstTick) {
            reached.line = static_cast<int>(i);
        }
    }
    if (reached.line < 0 || static_cast<std::size_t>(reached.line) >= lines.size()) {
        return reached;
    }
    if (const auto& line = lines[static_cast<std::size_t>(reached.line)].syllables) {
        for (int i = 0; i < line->Count; ++i) {
            if (tick >= line->Ticks[static_cast<std::size_t>(i)]) {
                reached.syllable = i;
            }
        }
    }
    return reached;
}

std::pair<int, int> syllableRange(const TlyricLine& line, int syllable, int textLength) {
    const auto at = [&](int i) {
        return std::clamp(line.Positions[static_cast<std::size_t>(i)], 0, textLength);
    };
    const int start = at(syllable);
    const int end = syllable + 1 < line.Count ? at(syllable + 1) : textLength;
    return {start, std::max(start, end)};
}

}  // namespace lyrics
