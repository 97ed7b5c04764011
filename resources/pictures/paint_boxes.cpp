// Pictures of the display boxes: the bar/beat/tick counter, the time counter and the file
// status strip.
//
// They imitate a hardware front panel: black windows in a recessed frame, segment digits
// in the amber (255,159,0) that the window's tempo, key and volume readouts use, and
// captions in a small pixel font. Everything is made of whole logical pixels, so the
// pictures are as sharp at 2x as at 1x.

#include <QColor>
#include <QRect>
#include <array>
#include <vector>

#include "Painter.h"

namespace {

const QColor kAmber(255, 159, 0);
const QColor kBrightGreen(0, 255, 0);
const QColor kDimGreen(0, 128, 0);

// Seven segments, a..g, lit per digit (bit 0 = a, the top; then clockwise, g the middle).
constexpr std::array<unsigned, 10> kSegments{0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                             0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// A segment digit in `box`, strokes `t` pixels thick. The bars meet only at their corners,
// diagonally, as on a real segment display; the upright strokes run into the rows of the
// bars so that a "1" reads as one stroke even at twelve pixels.
void segmentDigit(QPainter& p, QRect box, int t, int digit, const QColor& colour) {
    const int left = box.left();
    const int right = box.left() + box.width() - t;
    const int top = box.top();
    const int middle = box.top() + (box.height() - t) / 2;
    const int bottom = box.top() + box.height() - t;
    const int across = box.width() - 2 * t;
    const int upper = middle + t / 2 - top - 1;
    const int lower = bottom + 1 - (middle + t / 2);
    const QRect segments[7] = {
        QRect(left + t, top, across, t),         // a
        QRect(right, top + 1, t, upper),         // b
        QRect(right, middle + t / 2, t, lower),  // c
        QRect(left + t, bottom, across, t),      // d
        QRect(left, middle + t / 2, t, lower),   // e
        QRect(left, top + 1, t, upper),          // f
        QRect(left + t, middle, across, t),      // g
    };
    for (int s = 0; s < 7; ++s) {
        if (kSegments[static_cast<std::size_t>(digit)] & (1u << s)) {
            p.fillRect(segments[s], colour);
        }
    }
}

// A 7-row pixel font, only the letters the captions need. Lower case stands on the same
// baseline with a 5-row x-height.
struct Glyph {
    char letter;
    std::array<const char*, 7> rows;
};

const std::vector<Glyph>& font() {
    static const std::vector<Glyph> glyphs{
        {' ', {"...", "...", "...", "...", "...", "...", "..."}},
        {':', {".", ".", "#", ".", ".", "#", "."}},
        {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
        {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
        {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
        {'I', {"###", ".#.", ".#.", ".#.", ".#.", ".#.", "###"}},
        {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
        {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
        {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
        {'N', {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"}},
        {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
        {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
        {'a', {".....", ".....", ".###.", "....#", ".####", "#...#", ".####"}},
        {'c', {".....", ".....", ".###.", "#....", "#....", "#....", ".###."}},
        {'d', {"....#", "....#", ".####", "#...#", "#...#", "#...#", ".####"}},
        {'e', {".....", ".....", ".###.", "#...#", "#####", "#....", ".###."}},
        {'f', {"..##", ".#..", "####", ".#..", ".#..", ".#..", ".#.."}},
        {'i', {"#", ".", "#", "#", "#", "#", "#"}},
        {'k', {"#...", "#...", "#..#", "#.#.", "##..", "#.#.", "#..#"}},
        {'l', {"#", "#", "#", "#", "#", "#", "#"}},
        {'m', {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"}},
        {'n', {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"}},
        {'o', {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."}},
        {'r', {"....", "....", "#.##", "##..", "#...", "#...", "#..."}},
        {'t', {".#..", ".#..", "####", ".#..", ".#..", ".#..", "..##"}},
    };
    return glyphs;
}

const Glyph& glyphOf(char letter) {
    for (const Glyph& glyph : font()) {
        if (glyph.letter == letter) {
            return glyph;
        }
    }
    return font().front();
}

int glyphWidth(const Glyph& glyph) {
    return static_cast<int>(std::char_traits<char>::length(glyph.rows[0]));
}

int textWidth(const char* text) {
    int width = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        width += glyphWidth(glyphOf(*c)) + 1;
    }
    return width > 0 ? width - 1 : 0;
}

void pixelText(QPainter& p, QPoint origin, const char* text, const QColor& colour) {
    int x = origin.x();
    for (const char* c = text; *c != '\0'; ++c) {
        const Glyph& glyph = glyphOf(*c);
        for (int row = 0; row < 7; ++row) {
            for (int column = 0; column < glyphWidth(glyph); ++column) {
                if (glyph.rows[static_cast<std::size_t>(row)][column] == '#') {
                    p.fillRect(QRect(x + column, origin.y() + row, 1, 1), colour);
                }
            }
        }
        x += glyphWidth(glyph) + 1;
    }
}

void black(QPainter& p, QSize s) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(QPoint(0, 0), s), Qt::black);
}

// A word centred on black, for the labels under the bar/beat/tick groups.
pictures::Picture label(const char* name, QSize size, const char* word) {
    return {name, size, [word](QPainter& p, QSize s) {
                black(p, s);
                pixelText(p, QPoint((s.width() - textWidth(word)) / 2, (s.height() - 7) / 2), word,
                          kAmber);
            }};
}

// A caption of the file status strip, left-aligned on black.
pictures::Picture caption(const char* name, QSize size, const char* text, const QColor& colour) {
    return {name, size, [text, colour](QPainter& p, QSize s) {
                black(p, s);
                pixelText(p, QPoint(0, 1), text, colour);
            }};
}

// A frame of two rings, outer then inner, each split into a top-left and a bottom-right
// colour.
void frame(QPainter& p, QSize s, const QColor& outerShade, const QColor& outerLight,
           const QColor& innerShade, const QColor& innerLight) {
    const int w = s.width();
    const int h = s.height();
    p.fillRect(QRect(0, 0, w, 1), outerShade);
    p.fillRect(QRect(0, 0, 1, h), outerShade);
    p.fillRect(QRect(0, h - 1, w, 1), outerLight);
    p.fillRect(QRect(w - 1, 0, 1, h), outerLight);
    p.fillRect(QRect(1, 1, w - 2, 1), innerShade);
    p.fillRect(QRect(1, 1, 1, h - 2), innerShade);
    p.fillRect(QRect(1, h - 2, w - 2, 1), innerLight);
    p.fillRect(QRect(w - 2, 1, 1, h - 2), innerLight);
}

void olivePanel(QPainter& p, QSize s) {
    black(p, s);
    const QColor olive(85, 85, 30);
    const QColor deepOlive(50, 50, 16);
    frame(p, s, deepOlive, olive, olive, deepOlive);
}

std::vector<pictures::Picture> boxPictures() {
    std::vector<pictures::Picture> list;
    for (int digit = 0; digit < 10; ++digit) {
        // The bar/beat/tick "1" is a pixel narrower; its strokes sit where every other
        // digit's right-hand strokes sit.
        const QSize size(digit == 1 ? 9 : 10, 12);
        list.push_back(
            {QStringLiteral("BBTBOX_%1").arg(digit), size, [digit](QPainter& p, QSize s) {
                 black(p, s);
                 segmentDigit(p, QRect(1, 0, 8, 12), 2, digit, kAmber);
             }});
        list.push_back(
            {QStringLiteral("N%1").arg(digit), QSize(14, 18), [digit](QPainter& p, QSize s) {
                 black(p, s);
                 segmentDigit(p, QRect(2, 1, 10, 16), 2, digit, kAmber);
             }});
    }
    list.push_back({"BBT_COLON", QSize(8, 14), [](QPainter& p, QSize s) {
                        black(p, s);
                        // Dots level with the digits' halves, centred in the gap beside them.
                        p.fillRect(QRect(4, 2, 2, 2), kAmber);
                        p.fillRect(QRect(4, 8, 2, 2), kAmber);
                    }});
    list.push_back({"colon", QSize(14, 18), [](QPainter& p, QSize s) {
                        black(p, s);
                        // Centred in the gap between the minutes and the seconds.
                        p.fillRect(QRect(3, 5, 2, 2), kAmber);
                        p.fillRect(QRect(3, 11, 2, 2), kAmber);
                    }});
    list.push_back(label("BBTBOX_BAR", QSize(23, 11), "Bar"));
    list.push_back(label("BBTBOX_BEAT", QSize(32, 11), "Beat"));
    list.push_back(label("BBTBOX_TICK", QSize(28, 11), "Tick"));
    list.push_back({"BBTBOX_BK", QSize(129, 36), [](QPainter& p, QSize s) {
                        black(p, s);
                        frame(p, s, QColor(128, 128, 128), QColor(255, 255, 255),
                              QColor(64, 64, 64), QColor(192, 192, 192));
                    }});
    list.push_back({"BACK", QSize(105, 36), olivePanel});
    list.push_back({"FILEBACK", QSize(200, 22), olivePanel});
    list.push_back(
        caption("MIDIKARAOKE", QSize(171, 9), "File Loaded :  MIDI Karaoke", kBrightGreen));
    list.push_back(
        caption("PERFORMANCE", QSize(164, 9), "File Loaded :  Performance", kBrightGreen));
    list.push_back(caption("NONE", QSize(117, 9), "File Loaded :  None", kDimGreen));
    return list;
}

const pictures::Registration registration{boxPictures()};

}  // namespace
