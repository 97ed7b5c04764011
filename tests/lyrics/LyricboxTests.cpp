#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScreen>

#include "LyricList.h"
#include "Lyricbox.h"

using namespace lyrics;

namespace {

// Counts the box's paint events and remembers the area each one covered.
class PaintWatcher : public QObject {
public:
    explicit PaintWatcher(QWidget* widget) { widget->installEventFilter(this); }
    std::vector<QRect> paints;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            paints.push_back(static_cast<QPaintEvent*>(event)->rect());
        }
        return false;
    }
};

void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

// What the window shows: the backing store as painted, where grab() would paint anew.
QImage shown(QWidget& widget) {
    return widget.screen()->grabWindow(widget.winId()).toImage();
}

// Red or a red anti-aliased edge on white; black text's edges are grey.
bool isMarkRed(QRgb pixel) {
    return qRed(pixel) - qGreen(pixel) > 40 && qRed(pixel) - qBlue(pixel) > 40;
}

// Horizontal extent of the red pixels in rows [top, bottom); empty when there are none.
std::pair<int, int> redColumns(const QImage& image, int top, int bottom) {
    int first = image.width();
    int last = -1;
    for (int y = std::max(0, top); y < std::min(bottom, image.height()); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (isMarkRed(image.pixel(x, y))) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    return {first, last};
}

class LyricBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        box.setFont(QFont(QStringLiteral("DejaVu Sans"), 16));
        box.setColor(Qt::white);
        box.resize(433, 97);
        box.show();
        settle();
    }

    TLyricBox box;
    const LyricList twinkle{{480, "/"}, {960, "Twin"}, {1200, "kle "}, {1440, "twin"},
                            {1680, "kle "}, {1920, "lit"}, {2160, "tle "}, {2400, "star,"},
                            {2880, "/"}, {2900, "How "}, {3100, "I "}, {3300, "won"},
                            {3500, "der"}};
};

}  // namespace

// Guards against the box's own messages being misspelt, missing their second line, or
// leaving a stale position behind.
TEST_F(LyricBoxTest, MessagesWhenThereAreNoLyrics) {
    EXPECT_EQ(TLyricBox().lines(), QStringList{"No Lyrics Available"});

    box.SetLyrics(nullptr, false);
    EXPECT_EQ(box.lines(), (QStringList{"No Lyrics Available", "For this Song"}));
    box.SetLyrics(nullptr, true);
    EXPECT_EQ(box.lines(), QStringList{"No Lyrics Available"});

    box.SetLyrics(twinkle.first(), false);
    box.setTickCount(1300);
    ASSERT_EQ(box.syllable(), 1);
    box.ShowLoading();
    EXPECT_EQ(box.lines(), (QStringList{"Loading Lyrics", "from the MIDI file..."}));
    EXPECT_EQ(box.tickCount(), 0);
    EXPECT_EQ(box.topLine(), 0);
    EXPECT_EQ(box.syllable(), -1);
    box.setTickCount(1300);  // the old list may be freed by now
    EXPECT_EQ(box.tickCount(), 0);
}

// Guards against following a song position when no lyrics are laid out.
TEST_F(LyricBoxTest, WithoutLyricsThePositionIsIgnored) {
    box.SetLyrics(nullptr, false);
    settle();
    PaintWatcher watcher(&box);
    box.setTickCount(5000);
    settle();
    EXPECT_EQ(box.tickCount(), 0);
    EXPECT_EQ(box.topLine(), 0);
    EXPECT_EQ(box.syllable(), -1);
    EXPECT_TRUE(watcher.paints.empty());
}

// Guards against repainting at every timer tick, against erasing the whole box for a
// syllable on the same line, and against a partial repaint when the line changed.
TEST_F(LyricBoxTest, RepaintsOnlyWhatTheNewPositionChanged) {
    box.SetLyrics(twinkle.first(), false);
    ASSERT_EQ(box.lines(), (QStringList{"Twinkle twinkle little star,", "How I wonder"}));
    settle();
    PaintWatcher watcher(&box);

    box.setTickCount(400);  // before the first line: nothing marked yet
    settle();
    EXPECT_EQ(box.syllable(), -1);
    EXPECT_TRUE(watcher.paints.empty());

    box.setTickCount(1000);
    settle();
    EXPECT_EQ(box.syllable(), 0);
    ASSERT_EQ(watcher.paints.size(), 1u);
    EXPECT_LT(watcher.paints[0].height(), box.height() / 2);

    box.setTickCount(1000);
    box.setTickCount(1010);  // same syllable
    settle();
    EXPECT_EQ(watcher.paints.size(), 1u);

    box.setTickCount(2950);
    settle();
    EXPECT_EQ(box.topLine(), 1);
    EXPECT_EQ(box.syllable(), 0);
    ASSERT_EQ(watcher.paints.size(), 2u);
    EXPECT_EQ(watcher.paints[1], box.rect());
}

// Guards against the red mark sitting beside the sung syllable, a previous syllable
// staying red after a partial repaint, or the mark surviving a reset.
TEST_F(LyricBoxTest, SungSyllableIsRedWhereItIsDrawn) {
    box.SetLyrics(twinkle.first(), false);
    const QString text = box.lines().at(0);
    const QFontMetrics metrics(box.font());
    const int x = box.lineX(text);
    const int top = box.firstLineY();
    const int bottom = top + metrics.height();

    box.setTickCount(1200);  // "kle "
    settle();
    auto [first, last] = redColumns(box.grab().toImage(), top, bottom);
    ASSERT_LE(first, last) << "no red syllable drawn";
    EXPECT_GE(first, x + metrics.horizontalAdvance(QStringLiteral("Twin")) - 2);
    EXPECT_LE(last, x + metrics.horizontalAdvance(QStringLiteral("Twinkle ")) + 2);

    box.setTickCount(1920);  // "lit", a partial repaint over "kle " in red
    settle();
    const QImage afterPartial = shown(box);
    if (afterPartial.isNull()) {
        GTEST_SKIP() << "this platform cannot show what a window holds";
    }
    std::tie(first, last) = redColumns(afterPartial, top, bottom);
    ASSERT_LE(first, last);
    EXPECT_GE(first, x + metrics.horizontalAdvance(QStringLiteral("Twinkle twinkle ")) - 2);
    EXPECT_LE(last, x + metrics.horizontalAdvance(QStringLiteral("Twinkle twinkle lit")) + 2);
    // Only the top line carries a mark.
    const auto below = redColumns(box.grab().toImage(), bottom, box.height());
    EXPECT_GT(below.first, below.second);

    box.setTickCount(0);
    box.ResetPosition();
    settle();
    const auto none = redColumns(box.grab().toImage(), 0, box.height());
    EXPECT_GT(none.first, none.second);
}

// Guards against marking right-to-left lyrics from the left: the first Hebrew word is
// read first and drawn on the right.
TEST_F(LyricBoxTest, RightToLeftSyllableIsMarkedWhereItIsRead) {
    const LyricList hebrew{{100, "\xF9\xEC\xE5\xED "}, {200, "\xF2\xE5\xEC\xED"}};
    box.setNonEnglishCharacters(true);
    box.setCharSet(177);
    box.SetLyrics(hebrew.first(), false);
    const QString text = box.lines().at(0);
    ASSERT_EQ(text.size(), 9);
    if (!QFontMetrics(box.font()).inFont(text.at(0))) {
        GTEST_SKIP() << "no font with Hebrew letters installed";
    }
    box.setTickCount(150);
    settle();
    const int top = box.firstLineY();
    const auto [first, last] =
        redColumns(box.grab().toImage(), top, top + QFontMetrics(box.font()).height());
    ASSERT_LE(first, last);
    const int middle = box.lineX(text) + QFontMetrics(box.font()).horizontalAdvance(text) / 2;
    EXPECT_GT(first, middle - 2);
}

// Guards against a word wider than the box being cut off, against shrinking by other
// than 2 points, and against the smaller size not being kept in the box's font.
TEST_F(LyricBoxTest, FontShrinksUntilTheWidestItemFits) {
    const LyricList list{{10, "Supercalifragilistic"}, {20, " yes"}};
    box.resize(200, 97);
    box.SetLyrics(list.first(), false);
    const int size = box.font().pointSize();
    EXPECT_LT(size, 16);
    EXPECT_EQ((16 - size) % 2, 0);
    EXPECT_GE(size, 6);
    QFont font = box.font();
    EXPECT_LE(QFontMetrics(font).horizontalAdvance(QStringLiteral("Supercalifragilistic")),
              200 - 12);
    font.setPointSize(size + 2);
    EXPECT_GT(QFontMetrics(font).horizontalAdvance(QStringLiteral("Supercalifragilistic")),
              200 - 12);

    // Too narrow for anything: stops at 6 points and shows the word anyway.
    box.resize(30, 97);
    box.SetLyrics(list.first(), false);
    EXPECT_EQ(box.font().pointSize(), 6);
    EXPECT_EQ(box.lines().at(0), QStringLiteral("Supercalifragilistic"));
}

// Guards against a line whose characters are all hidden crashing the paint or being
// dropped (the position search would then skip a line).
TEST_F(LyricBoxTest, LineOfHiddenCharactersStillCounts) {
    const LyricList hidden{{10, "--\r"}, {20, "la"}};
    box.SetLyrics(hidden.first(), false);
    EXPECT_EQ(box.lines(), (QStringList{"", "la"}));
    box.setTickCount(20);
    EXPECT_EQ(box.topLine(), 1);
    EXPECT_FALSE(box.grab().isNull());
}

// Guards against the right-button event reaching nobody, reporting the wrong sender, or
// firing for a release off the box.
TEST_F(LyricBoxTest, RightButtonReleaseIsReported) {
    TLyricBox* sender = nullptr;
    QPoint where;
    QObject::connect(&box, &TLyricBox::OnRButtonClick,
                     [&](TLyricBox* from, Qt::MouseButton, Qt::KeyboardModifiers, QPoint at) {
                         sender = from;
                         where = at;
                     });
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(20, 30), QPointF(20, 30),
                        Qt::RightButton, Qt::NoButton, Qt::ShiftModifier);
    QApplication::sendEvent(&box, &release);
    EXPECT_EQ(sender, &box);
    EXPECT_EQ(where, QPoint(20, 30));

    sender = nullptr;
    QMouseEvent outside(QEvent::MouseButtonRelease, QPointF(-5, 30), QPointF(-5, 30),
                        Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&box, &outside);
    EXPECT_EQ(sender, nullptr);
}

namespace {

struct DescenderCase {
    const char* name;
    const char* family;
    int pointSize;
    int height;
    int lines;  // what the box shows
};

class LowestLineTest : public LyricBoxTest, public ::testing::WithParamInterface<DescenderCase> {};

// Guards against the lowest line losing the tails of its g, j, p, q and y to the box's
// edge: lines are packed by their em height, which the descenders reach below.
TEST_P(LowestLineTest, TheLowestLineKeepsItsDescenders) {
    const DescenderCase& c = GetParam();
    box.setFont(QFont(QString::fromLatin1(c.family), c.pointSize));
    box.resize(433, c.height);
    settle();
    LyricList::Items items;
    for (int i = 0; i < 10; ++i) {
        items.push_back({10 + 20 * i, "gjpqy "});
        items.push_back({20 + 20 * i, "/"});
    }
    const LyricList list(items);
    box.SetLyrics(list.first(), false);
    settle();
    ASSERT_EQ(box.font().pointSize(), c.pointSize) << "the lines fit the width as they are";
    EXPECT_EQ(box.visibleLineCount(), c.lines);

    const QImage image = box.grab().toImage();
    const QRect inside = box.contentsRect();
    const QFontMetrics metrics(box.font());
    const auto ink = [&](int y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 128) return true;
        }
        return false;
    };
    const int lowest = box.firstLineY() + (box.visibleLineCount() - 1) * box.lineHeight();
    const int baseline = lowest + metrics.ascent();
    int lastInk = -1;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        if (ink(y)) lastInk = y;
    }
    EXPECT_GT(lastInk, baseline + metrics.descent() / 2) << "the descenders are drawn";
    EXPECT_FALSE(ink(inside.bottom())) << "nothing reaches the box's edge, where it would be cut";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LowestLineTest,
    ::testing::Values(DescenderCase{"Serif19InASmallBox", "DejaVu Serif", 19, 79, 2},
                      DescenderCase{"TheWindowsOwnSmallLayout", "Nimbus Roman", 16, 75, 3},
                      DescenderCase{"Serif28Tall", "DejaVu Serif", 28, 300, 7},
                      DescenderCase{"Sans36OneLine", "DejaVu Sans", 36, 60, 1}),
    [](const ::testing::TestParamInfo<DescenderCase>& param) { return std::string(param.param.name); });

}  // namespace
