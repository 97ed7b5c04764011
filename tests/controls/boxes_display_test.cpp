// The bar/beat/tick box, the time box and the file status box: their pictures, what they
// draw where, and when they repaint.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QPaintEvent>
#include <algorithm>
#include <array>
#include <initializer_list>

#include "BarBox.h"
#include "Digits.h"
#include "Filestat.h"
#include "Pictures.h"
#include "Timebox.h"

namespace {

QImage rgb(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB32);
}

// Whether `face` carries the picture `name` with its top left at `at`, as far as it lies
// inside the face; only its first `width` columns when the next face overlaps it.
bool shows(const QImage& face, const QString& name, QPoint at, int width = -1) {
    const QImage picture = rgb(controls::picture(name).toImage());
    if (picture.isNull()) {
        return false;
    }
    QRect visible = QRect(at, picture.size()) & face.rect();
    if (width > 0) {
        visible.setWidth(std::min(visible.width(), width));
    }
    return rgb(face).copy(visible) == picture.copy(visible.translated(-at));
}

// Whether nothing but black lies in `area` of `face`.
bool blackIn(const QImage& face, QRect area) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (face.pixelColor(x, y) != QColor(0, 0, 0)) {
                return false;
            }
        }
    }
    return true;
}

bool picturesBuiltIn() {
    return !controls::picture(QStringLiteral("BBTBOX_BK")).isNull();
}

// The committed pictures are always compiled in; without them the build is broken.
#define REQUIRE_PICTURES()         \
    ASSERT_TRUE(picturesBuiltIn()) \
        << "the box pictures are not compiled in: run mkpictures and rebuild"

template <class Box>
class PaintCounting : public Box {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        Box::paintEvent(event);
    }
};

// Guards against digits dropped, reordered or not zero-padded, and against over-wide values
// truncating.
TEST(DigitSplit, SplitsWithLeadingZerosOrNotAtAll) {
    using controls::digits::split;
    EXPECT_EQ(split<3>(12), (std::array<int, 3>{0, 1, 2}));
    EXPECT_EQ(split<3>(240), (std::array<int, 3>{2, 4, 0}));
    EXPECT_EQ(split<3>(999), (std::array<int, 3>{9, 9, 9}));
    EXPECT_EQ(split<2>(7), (std::array<int, 2>{0, 7}));
    EXPECT_FALSE(split<3>(1000));
    EXPECT_FALSE(split<3>(-1));
    EXPECT_FALSE(split<2>(100));
    EXPECT_FALSE(split<2>(-40));
}

// Guards against pictures with the wrong names or sizes, which the boxes would silently leave out.
TEST(BoxPictures, NamesAndSizes) {
    REQUIRE_PICTURES();
    for (int digit = 0; digit < 10; ++digit) {
        EXPECT_EQ(controls::picture(QStringLiteral("BBTBOX_%1").arg(digit)).size(),
                  QSize(digit == 1 ? 9 : 10, 12));
        EXPECT_EQ(controls::picture(QStringLiteral("N%1").arg(digit)).size(), QSize(14, 18));
    }
    const std::initializer_list<std::pair<const char*, QSize>> named{
        {"BBT_COLON", {8, 14}},    {"BBTBOX_BAR", {23, 11}}, {"BBTBOX_BEAT", {32, 11}},
        {"BBTBOX_TICK", {28, 11}}, {"BBTBOX_BK", {129, 36}}, {"colon", {14, 18}},
        {"BACK", {105, 36}},       {"FILEBACK", {200, 22}},  {"MIDIKARAOKE", {171, 9}},
        {"PERFORMANCE", {164, 9}}, {"NONE", {117, 9}},
    };
    for (const auto& [name, size] : named) {
        EXPECT_EQ(controls::picture(QString::fromLatin1(name)).size(), size) << name;
    }
}

// Guards against digit faces in another colour than the window's amber readouts, or not on black.
TEST(BoxPictures, DigitFacesAreAmberOnBlack) {
    REQUIRE_PICTURES();
    const QImage eight = rgb(controls::picture(QStringLiteral("N8")).toImage());
    EXPECT_EQ(eight.pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(eight.pixelColor(6, 1), QColor(255, 159, 0));  // top bar
    EXPECT_EQ(eight.pixelColor(6, 8), QColor(255, 159, 0));  // middle bar
    const QImage zero = rgb(controls::picture(QStringLiteral("N0")).toImage());
    EXPECT_EQ(zero.pixelColor(6, 1), QColor(255, 159, 0));
    EXPECT_EQ(zero.pixelColor(6, 8), QColor(0, 0, 0));  // a 0 has no middle bar
}

// Guards against misplaced groups in the bar/beat/tick box.
TEST(BarBox, ShowsBarBeatTickWithLabels) {
    REQUIRE_PICTURES();
    TBarBox box;
    ASSERT_EQ(box.size(), QSize(130, 36));
    box.SetPosition(12, 3, 240);
    const QImage face = box.grab().toImage();
    EXPECT_TRUE(shows(face, "BBTBOX_0", {6, 6}));
    EXPECT_TRUE(shows(face, "BBTBOX_1", {16, 6}));
    EXPECT_TRUE(shows(face, "BBTBOX_2", {26, 6}));
    EXPECT_TRUE(shows(face, "BBT_COLON", {40, 6}));
    EXPECT_TRUE(shows(face, "BBTBOX_0", {54, 6}));
    EXPECT_TRUE(shows(face, "BBTBOX_3", {64, 6}));
    EXPECT_TRUE(shows(face, "BBT_COLON", {78, 6}));
    EXPECT_TRUE(shows(face, "BBTBOX_2", {92, 6}));
    EXPECT_TRUE(shows(face, "BBTBOX_4", {102, 6}));
    EXPECT_TRUE(shows(face, "BBTBOX_0", {112, 6}));
    EXPECT_TRUE(shows(face, "BBTBOX_BAR", {11, 19}));
    EXPECT_TRUE(shows(face, "BBTBOX_BEAT", {49, 19}));
    EXPECT_TRUE(shows(face, "BBTBOX_TICK", {92, 19}));
}

// Guards against a counter out of range being drawn truncated instead of leaving the box blank.
TEST(BarBox, OutOfRangeShowsOnlyTheBackground) {
    REQUIRE_PICTURES();
    for (const std::array<int, 3>& position :
         {std::array<int, 3>{1000, 0, 0}, std::array<int, 3>{-1, 0, 0},
          std::array<int, 3>{0, 100, 0}, std::array<int, 3>{0, 0, 1000},
          std::array<int, 3>{0, 0, -5}}) {
        TBarBox box;
        box.SetPosition(position[0], position[1], position[2]);
        const QImage face = box.grab().toImage();
        EXPECT_TRUE(blackIn(face, QRect(6, 6, 116, 24)))
            << position[0] << " " << position[1] << " " << position[2];
        EXPECT_TRUE(shows(face, "BBTBOX_BK", {1, 1}));
    }
}

// Guards against a repaint for an unchanged position, or a change that waits for the event loop.
TEST(BarBox, RepaintsAtOnceOnlyWhenThePositionChanges) {
    PaintCounting<TBarBox> box;
    box.show();
    QCoreApplication::processEvents();
    box.paints = 0;
    box.SetPosition(0, 0, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(box.paints, 0);
    box.SetPosition(0, 0, 1);
    EXPECT_EQ(box.paints, 1);
    box.SetPosition(0, 0, 1);
    EXPECT_EQ(box.paints, 1);
}

// Guards against a new box not starting at 000:00:000.
TEST(BarBox, NewBoxShowsZeros) {
    REQUIRE_PICTURES();
    TBarBox box;
    const QImage face = box.grab().toImage();
    for (int x : {6, 16, 26, 54, 64, 92, 102, 112}) {
        EXPECT_TRUE(shows(face, "BBTBOX_0", {x, 6})) << x;
    }
}

// Guards against minutes and seconds swapped, missing leading zeros, or seconds carried into
// minutes.
TEST(TimeBox, ShowsMinutesColonSeconds) {
    REQUIRE_PICTURES();
    TTimeBox box;
    ASSERT_EQ(box.size(), QSize(106, 37));
    box.SetTime(5, 3);
    QImage face = box.grab().toImage();
    EXPECT_TRUE(shows(face, "N0", {16, 8}));
    EXPECT_TRUE(shows(face, "N3", {32, 8}));
    EXPECT_TRUE(shows(face, "colon", {48, 8}, 10));  // the seconds overlap its right edge
    EXPECT_TRUE(shows(face, "N0", {58, 8}));
    EXPECT_TRUE(shows(face, "N5", {74, 8}));

    box.SetTime(60, 0);
    face = box.grab().toImage();
    EXPECT_TRUE(shows(face, "N0", {32, 8}));
    EXPECT_TRUE(shows(face, "N6", {58, 8}));
    EXPECT_TRUE(shows(face, "N0", {74, 8}));
}

// Guards against an out-of-range time being drawn truncated instead of leaving the box blank.
TEST(TimeBox, OutOfRangeShowsOnlyTheBackground) {
    REQUIRE_PICTURES();
    for (const std::array<int, 2>& time : {std::array<int, 2>{0, 100}, std::array<int, 2>{100, 0},
                                           std::array<int, 2>{-1, 0}, std::array<int, 2>{0, -1}}) {
        TTimeBox box;
        box.SetTime(time[0], time[1]);
        const QImage face = box.grab().toImage();
        EXPECT_TRUE(shows(face, "BACK", {0, 0}));
        EXPECT_TRUE(blackIn(face, QRect(16, 8, 72, 18))) << time[0] << " " << time[1];
    }
}

// Guards against a repaint for an unchanged time.
TEST(TimeBox, RepaintsAtOnceOnlyWhenTheTimeChanges) {
    PaintCounting<TTimeBox> box;
    box.show();
    QCoreApplication::processEvents();
    box.paints = 0;
    box.SetTime(0, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(box.paints, 0);
    box.SetTime(1, 0);
    EXPECT_EQ(box.paints, 1);
}

// Guards against the wrong caption for a kind of file, or one drawn away from its place.
TEST(FileStatusBox, CaptionPerKindOfFile) {
    REQUIRE_PICTURES();
    TFileStatusBox box;
    box.resize(200, 20);
    EXPECT_EQ(box.FileLoaded(), TFileStatusBox::midiKaraoke);
    EXPECT_TRUE(shows(box.grab().toImage(), "MIDIKARAOKE", {15, 7}));
    box.SetFileLoaded(TFileStatusBox::performance);
    QImage face = box.grab().toImage();
    EXPECT_TRUE(shows(face, "PERFORMANCE", {15, 7}));
    box.SetFileLoaded(TFileStatusBox::none);
    face = box.grab().toImage();
    EXPECT_TRUE(shows(face, "NONE", {15, 7}));
    EXPECT_TRUE(blackIn(face, QRect(15 + 117, 7, 40, 9)));
}

// Guards against a repaint when the kind of file is set to the one already shown.
TEST(FileStatusBox, SameValueCausesNoRepaint) {
    PaintCounting<TFileStatusBox> box;
    int changes = 0;
    QObject::connect(&box, &TFileStatusBox::FileLoadedChanged, &box, [&changes] { ++changes; });
    box.show();
    QCoreApplication::processEvents();
    box.paints = 0;
    box.SetFileLoaded(TFileStatusBox::midiKaraoke);
    QCoreApplication::processEvents();
    EXPECT_EQ(box.paints, 0);
    EXPECT_EQ(changes, 0);
    box.SetFileLoaded(TFileStatusBox::none);
    QCoreApplication::processEvents();
    EXPECT_GE(box.paints, 1);
    EXPECT_EQ(changes, 1);
}

}  // namespace
