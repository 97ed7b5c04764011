#include "LyricFontCodes.h"

#include <algorithm>

namespace cvkapp {

namespace {

struct StyleSet {
    bool bold, italic, underline, strikeOut;
};

// Index = code. The order is the one stored files use; it is not a bit mask.
constexpr std::array<StyleSet, 16> kStyleCodes = {{
    {false, false, false, false},  // 0
    {true, false, false, false},   // 1 bold
    {false, true, false, false},   // 2 italic
    {true, true, false, false},    // 3 bold italic
    {true, false, true, false},    // 4 bold underline
    {true, false, false, true},    // 5 bold strike-out
    {true, false, true, true},     // 6 bold underline strike-out
    {false, true, true, false},    // 7 italic underline
    {false, true, false, true},    // 8 italic strike-out
    {false, true, true, true},     // 9 italic underline strike-out
    {true, true, true, false},     // 10 bold italic underline
    {true, true, false, true},     // 11 bold italic strike-out
    {true, true, true, true},      // 12 all four
    {false, false, true, false},   // 13 underline
    {false, false, false, true},   // 14 strike-out
    {false, false, true, true},    // 15 underline strike-out
}};

// The table's index of the first entry at least `size`; the table's size when none is.
std::size_t firstAtLeast(int size) {
    return static_cast<std::size_t>(
        std::lower_bound(kLyricFontSizes.begin(), kLyricFontSizes.end(), size) -
        kLyricFontSizes.begin());
}

}  // namespace

int fontStyleCode(const QFont& font) {
    const StyleSet wanted{font.bold(), font.italic(), font.underline(), font.strikeOut()};
    for (std::size_t code = 0; code < kStyleCodes.size(); ++code) {
        const StyleSet& s = kStyleCodes[code];
        if (s.bold == wanted.bold && s.italic == wanted.italic &&
            s.underline == wanted.underline && s.strikeOut == wanted.strikeOut) {
            return static_cast<int>(code);
        }
    }
    return 0;  // every set of the four is in the table
}

bool applyFontStyleCode(int code, QFont& font) {
    if (code < 0 || code >= static_cast<int>(kStyleCodes.size())) {
        return false;
    }
    const StyleSet& s = kStyleCodes[static_cast<std::size_t>(code)];
    font.setBold(s.bold);
    font.setItalic(s.italic);
    font.setUnderline(s.underline);
    font.setStrikeOut(s.strikeOut);
    return true;
}

std::int32_t colorValue(const QColor& color) {
    return color.red() | (color.green() << 8) | (color.blue() << 16);
}

QColor colorFromValue(std::int32_t value) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

int magnifiedSize(int size) {
    const std::size_t i = firstAtLeast(size);
    if (i == kLyricFontSizes.size()) {
        return 0;
    }
    return kLyricFontSizes[std::min(i + 1, kLyricFontSizes.size() - 1)];
}

int demagnifiedSize(int size) {
    const std::size_t i = firstAtLeast(size);
    if (i == kLyricFontSizes.size()) {
        return 0;
    }
    return kLyricFontSizes[i == 0 ? 0 : i - 1];
}

}  // namespace cvkapp
