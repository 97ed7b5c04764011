// Pictures for the voice column's sliders: symbols laid over the thumb's grip, a speaker
// for the voice playback volume and a microphone for the recording volume.
//
// The slider draws its own thumb; these pictures are transparent except for the symbol,
// which sits in the grip's grey well (x 6..13, y 8..19 of a 20 x 28 thumb) in engraved
// black, one logical pixel per cell so it stays sharp at 1x and 2x.

#include <QColor>
#include <QRect>
#include <array>

#include "Painter.h"

namespace {

using Symbol = std::array<const char*, 12>;

// clang-format off
const Symbol kSpeaker{
    "........",
    "...#....",
    "..##..#.",
    "####...#",
    "####.#.#",
    "####.#.#",
    "####.#.#",
    "####...#",
    "..##..#.",
    "...#....",
    "........",
    "........",
};

const Symbol kMicrophone{
    "..###...",
    ".#####..",
    ".#####..",
    ".#####..",
    ".#####..",
    "#.###.#.",
    "#.....#.",
    ".#...#..",
    "..###...",
    "...#....",
    "...#....",
    ".#####..",
};
// clang-format on

pictures::Picture thumbSymbol(const char* name, const Symbol& symbol) {
    return {name, QSize(20, 28), [symbol](QPainter& p, QSize) {
                p.setRenderHint(QPainter::Antialiasing, false);
                for (int row = 0; row < 12; ++row) {
                    for (int column = 0; column < 8; ++column) {
                        if (symbol[static_cast<std::size_t>(row)][column] == '#') {
                            p.fillRect(QRect(6 + column, 8 + row, 1, 1), QColor(0, 0, 0));
                        }
                    }
                }
            }};
}

const pictures::Registration registration{{
    thumbSymbol("WAVEOUT_THUMB", kSpeaker),
    thumbSymbol("RECVOL_THUMB", kMicrophone),
}};

}  // namespace
