#pragma once

// How the lyric font and colours are kept in the settings file: the style as a code
// 0..15, colours as 0x00BBGGRR values, and the table of zoom steps.

#include <QColor>
#include <QFont>

#include <array>
#include <cstdint>

namespace cvkapp {

// The lyric box's background when nothing (or black) is stored.
inline const QColor kDefaultLyricBackground{218, 176, 152};

constexpr std::array<int, 16> kLyricFontSizes = {8,  9,  10, 11, 12, 14, 16, 18,
                                                 20, 22, 24, 26, 28, 36, 48, 72};

// The code of the font's bold / italic / underline / strike-out set.
int fontStyleCode(const QFont& font);
// Gives `font` the styles of `code`; false (font unchanged) for a code outside 0..15.
bool applyFontStyleCode(int code, QFont& font);

std::int32_t colorValue(const QColor& color);
QColor colorFromValue(std::int32_t value);

// The zoom steps: from the first table entry at least `size`, the next larger (Magnify)
// or smaller (Demagnify) entry, the ends staying where they are. 0 when `size` is above
// the largest entry.
int magnifiedSize(int size);
int demagnifiedSize(int size);

}  // namespace cvkapp
