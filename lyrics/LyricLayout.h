#pragma once

// The lyric box's arithmetic, free of widgets: lyric items into display lines, a song
// position into a line and syllable, a syllable into the characters it covers.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <QString>

#include "LyricScan.h"
#include "LyricText.h"

namespace lyrics {

// Syllables one display line can mark; a further one starts a new line.
constexpr int kMaxSyllables = 30;
// The lyric font never shrinks below this; an item still too wide is let overflow.
constexpr int kMinPointSize = 6;
// Each layout pass that finds an item too wide for the box shrinks the font this much.
constexpr int kShrinkStep = 2;
// Room left beside the text: a 5-pixel margin on the left, the bevels, a little air.
constexpr int kHorizontalMargin = 12;

// Where each syllable of one display line begins.
struct TlyricLine {
    std::uint8_t Count = 0;
    std::int32_t FirstTick = 0;
    std::int32_t LastTick = 0;
    std::array<std::int32_t, kMaxSyllables> Ticks{};
    // Characters of the display text before each syllable. Wider than a byte: a full
    // screen at the smallest size holds lines of more than 255 characters.
    std::array<int, kMaxSyllables> Positions{};
};

struct LaidOutLine {
    QString text;  // what is drawn
    std::optional<TlyricLine> syllables;  // none for the box's own messages
};

struct LyricLayout {
    std::vector<LaidOutLine> lines;
    int pointSize = 0;  // the font size the lines were laid out for
};

// Pixel width of a text in the lyric font at the given point size.
using TextWidth = std::function<int(const QString& text, int pointSize)>;

// The items of a song's lyric list that are shown. Lyric events normally live in one
// track; when the list holds items of several, the others are stray events or a second
// copy, and laid out together they would tie the display to the last track's lines. Only
// the track with the most items is shown (on a tie the first of them), in tick order.
std::vector<const songfile::TlyricList*> shownItems(const songfile::TlyricList* first);

// Lays the shown items of the list from `first` into lines no wider than `boxWidth` minus
// the margin, starting at `pointSize` and shrinking the font while a single item does
// not fit.
LyricLayout layoutLyrics(const songfile::TlyricList* first, const LyricDecoder& decoder,
                         int pointSize, int boxWidth, const TextWidth& textWidth);

struct LyricPosition {
    int line = 0;
    int syllable = -1;
    friend bool operator==(const LyricPosition&, const LyricPosition&) = default;
};

// The line and syllable that `tick` has reached, starting from `current`: the last line
// whose first syllable is due and, on it, the last syllable due. Every line is looked at,
// so a line that starts earlier than the one before it is still found.
LyricPosition positionForTick(const std::vector<LaidOutLine>& lines, std::int32_t tick,
                              LyricPosition current);

// Characters [first, second) of a line's display text that belong to `syllable`.
std::pair<int, int> syllableRange(const TlyricLine& line, int syllable, int textLength);

}  // namespace lyrics
