// The sliders and the LED meter driven through their setters and mouse events, and painted.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <vector>

#include "Recslidr.h"
#include "Trecesed.h"
#include "Trkbar.h"
#include "Vledrow.h"
#include "Vslider.h"

namespace {

// Every OnChange a slider fires, in order.
struct ChangeLog {
    explicit ChangeLog(TVSlider& slider) {
        QObject::connect(&slider, &TVSlider::OnChange, &slider,
                         [this](int position) { values.push_back(position); });
    }
    std::vector<int> values;
};

void mouse(QWidget& widget, QEvent::Type type, Qt::MouseButton button, int y) {
    const QPointF at(widget.width() / 2, y);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                  : type == QEvent::MouseMove ? Qt::MouseButtons(Qt::LeftButton)
                                                              : Qt::MouseButtons(button);
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

void click(QWidget& widget, Qt::MouseButton button, int y) {
    mouse(widget, QEvent::MouseButtonPress, button, y);
    mouse(widget, QEvent::MouseButtonRelease, button, y);
}

QColor pixel(QWidget& widget, int x, int y) {
    return widget.grab().toImage().pixelColor(x, y);
}

// Guards against unclamped positions and against OnChange firing for a value already held.
TEST(VSlider, SetCurrentPosClampsAndFiresOncePerChange) {
    TVSlider slider;
    ChangeLog log(slider);
    slider.SetCurrentPos(100);
    slider.SetCurrentPos(63);
    slider.SetCurrentPos(-5);
    slider.SetCurrentPos(0);
    EXPECT_EQ(log.values, (std::vector<int>{63, 0}));
    EXPECT_EQ(slider.toolTip(), QStringLiteral("0 %"));
}

// Guards against the hint lagging the position on a track slider's signed range.
TEST(VSlider, HintFollowsThePositionOnATrackSlider) {
    TVSlider slider;
    slider.SetLoLimit(-32);
    slider.SetHiLimit(31);
    slider.SetCurrentPos(0);
    EXPECT_EQ(slider.toolTip(), QStringLiteral("50 %"));
    slider.SetCurrentPos(31);
    EXPECT_EQ(slider.toolTip(), QStringLiteral("100 %"));
    slider.SetCurrentPos(-32);
    EXPECT_EQ(slider.toolTip(), QStringLiteral("0 %"));
}

// Guards against limits leaving the position or the other limit on the wrong side of them.
TEST(VSlider, LimitsPushThePositionAndEachOther) {
    TVSlider slider;
    ChangeLog log(slider);
    slider.SetLoLimit(40);
    EXPECT_EQ(slider.CurrentPos(), 40);
    EXPECT_EQ(log.values, (std::vector<int>{40}));
    // A limit that moves the position leaves the hint as it was.
    EXPECT_EQ(slider.toolTip(), QStringLiteral("49 %"));

    slider.SetHiLimit(20);
    EXPECT_EQ(slider.LoLimit(), 20);
    EXPECT_EQ(slider.CurrentPos(), 20);
    EXPECT_EQ(log.values, (std::vector<int>{40, 20}));

    slider.SetLoLimit(100);
    EXPECT_EQ(slider.HiLimit(), 100);
    EXPECT_EQ(slider.CurrentPos(), 100);

    slider.SetLoLimit(0);
    slider.SetLoLimit(0);
    EXPECT_EQ(slider.CurrentPos(), 100);
    EXPECT_EQ(log.values.size(), 3U);
}

// Guards against a groove click paging by a fixed step instead of moving the thumb to the pointer.
TEST(VSliderMouse, ClickBesideTheThumbMovesItToThePointer) {
    TVSlider slider;  // 0..63 at 31: the thumb covers y 16..44
    ChangeLog log(slider);
    click(slider, Qt::LeftButton, 50);
    EXPECT_EQ(slider.CurrentPos(), 20);
    EXPECT_EQ(slider.sliderGeometry().thumbBottom(slider.CurrentPos()), 50);
    click(slider, Qt::LeftButton, 5);
    EXPECT_EQ(slider.CurrentPos(), 53);
    EXPECT_EQ(log.values, (std::vector<int>{20, 53}));
    EXPECT_FALSE(slider.isDragging());
}

// Guards against a drag that jumps on grab, ignores the grab point, or survives the release.
TEST(VSliderMouse, DragFollowsThePointerFromTheGrabPoint) {
    TVSlider slider;
    mouse(slider, QEvent::MouseButtonPress, Qt::LeftButton, 20);  // 4 px into the thumb
    EXPECT_TRUE(slider.isDragging());
    EXPECT_EQ(slider.CurrentPos(), 31);
    EXPECT_FALSE(slider.hintShown());
    mouse(slider, QEvent::MouseMove, Qt::NoButton, 4);
    EXPECT_EQ(slider.CurrentPos(), 63);
    mouse(slider, QEvent::MouseMove, Qt::NoButton, 200);
    EXPECT_EQ(slider.CurrentPos(), 0);
    mouse(slider, QEvent::MouseButtonRelease, Qt::LeftButton, 200);
    EXPECT_FALSE(slider.isDragging());
    EXPECT_TRUE(slider.hintShown());
    mouse(slider, QEvent::MouseMove, Qt::NoButton, 4);
    EXPECT_EQ(slider.CurrentPos(), 0);
}

// Guards against the right-click centre truncating, or acting off the thumb.
TEST(VSliderMouse, RightClickOnTheThumbCentres) {
    TVSlider slider;
    ChangeLog log(slider);
    click(slider, Qt::RightButton, 2);  // the groove above the thumb
    EXPECT_EQ(slider.CurrentPos(), 31);
    click(slider, Qt::RightButton, 30);
    EXPECT_EQ(slider.CurrentPos(), 32);
    EXPECT_EQ(log.values, (std::vector<int>{32}));

    TVSlider track;
    track.SetLoLimit(-32);
    track.SetHiLimit(31);
    track.SetCurrentPos(31);
    click(track, Qt::RightButton, 5);
    EXPECT_EQ(track.CurrentPos(), 0);
}

// Guards against the echo slider popping its hint up, or losing its 50..150 % text.
TEST(EchoTrackbar, HintIsKeptButNeverShown) {
    TEchoTrackbar delay;
    delay.resize(17, 54);
    delay.SetHiLimit(500);
    delay.SetCurrentPos(0);
    EXPECT_EQ(delay.toolTip(), QStringLiteral("50 %"));
    EXPECT_FALSE(delay.hintShown());
    click(delay, Qt::LeftButton, 0);
    EXPECT_FALSE(delay.hintShown());
    delay.SetCurrentPos(500);
    EXPECT_EQ(delay.toolTip(), QStringLiteral("150 %"));
}

// Guards against the echo thumb lighting at the wrong position: no echo is heard at 10 or below.
TEST(EchoTrackbar, ThumbCentreLightsAbove10) {
    TEchoTrackbar delay;
    delay.resize(17, 54);
    delay.SetHiLimit(500);
    delay.SetCurrentPos(10);
    // Both positions put the thumb at y 45..52; its grip well is x 5..11, y 48..49.
    ASSERT_EQ(delay.sliderGeometry().thumbTop(10), 45);
    EXPECT_EQ(pixel(delay, 8, 48), QColor(128, 128, 128));
    delay.SetCurrentPos(11);
    ASSERT_EQ(delay.sliderGeometry().thumbTop(11), 45);
    EXPECT_EQ(pixel(delay, 8, 48), QColor(255, 255, 0));
    EXPECT_EQ(pixel(delay, 3, 10), QColor(167, 167, 167));
    EXPECT_EQ(pixel(delay, 7, 10), QColor(0, 0, 0));
    EXPECT_EQ(pixel(delay, 8, 10), QColor(255, 255, 255));
}

// Guards against the thumb being drawn away from its computed place, or the groove showing through
// it.
TEST(VSliderPainting, ThumbAndGrooveAtBothEnds) {
    TVSlider slider;
    slider.SetCurrentPos(0);  // thumb y 32..59
    EXPECT_EQ(pixel(slider, 3, 10), QColor(192, 192, 192));
    EXPECT_EQ(pixel(slider, 9, 10), QColor(128, 128, 128));
    EXPECT_EQ(pixel(slider, 10, 10), QColor(255, 255, 255));
    EXPECT_EQ(pixel(slider, 3, 32), QColor(255, 255, 255));
    EXPECT_EQ(pixel(slider, 3, 59), QColor(0, 0, 0));
    EXPECT_EQ(pixel(slider, 19, 45), QColor(0, 0, 0));
    EXPECT_EQ(pixel(slider, 9, 45), QColor(128, 128, 128));  // the grip well, not the groove
    EXPECT_EQ(pixel(slider, 5, 39), QColor(0, 0, 0));        // grip edge: bottom - 21
    EXPECT_EQ(pixel(slider, 9, 52), QColor(255, 255, 255));  // grip edge: bottom - 8

    slider.SetCurrentPos(63);  // thumb y 0..27
    EXPECT_EQ(pixel(slider, 3, 0), QColor(255, 255, 255));
    EXPECT_EQ(pixel(slider, 3, 27), QColor(0, 0, 0));
    EXPECT_EQ(pixel(slider, 9, 50), QColor(128, 128, 128));
    EXPECT_EQ(pixel(slider, 10, 50), QColor(255, 255, 255));
    EXPECT_EQ(pixel(slider, 3, 40), QColor(192, 192, 192));
}

// Guards against the voice sliders' picture not riding on the thumb.
TEST(RecSlider, ImageIsDrawnAtTheThumbTop) {
    TRecSlider slider;
    slider.resize(20, 78);
    QPixmap mark(4, 4);
    mark.fill(Qt::red);
    slider.SetImage(mark);
    slider.SetCurrentPos(0);  // thumb top at 78 - 28 = 50
    EXPECT_EQ(pixel(slider, 1, 51), QColor(255, 0, 0));
    EXPECT_NE(pixel(slider, 1, 1), QColor(255, 0, 0));
    slider.SetCurrentPos(63);
    EXPECT_EQ(pixel(slider, 1, 1), QColor(255, 0, 0));
    EXPECT_NE(pixel(slider, 1, 51), QColor(255, 0, 0));
}

// A meter that records which rectangles it was asked to paint.
class PaintLoggingMeter : public TVLEDRow {
public:
    std::vector<QRect> painted;

protected:
    void paintEvent(QPaintEvent* event) override {
        painted.push_back(event->rect());
        TVLEDRow::paintEvent(event);
    }
};

// Guards against levels out of range lighting the wrong LEDs, and the green/yellow boundary.
TEST(VLEDRow, LitAndDarkLeds) {
    TVLEDRow meter;
    ASSERT_EQ(meter.size(), QSize(20, 86));
    // An LED's centre is 5 right and 2 down of its top left; LED i's top is 82 - 4 i.
    auto ledCentre = [&meter](int led) { return pixel(meter, 9, 82 - 4 * led + 2); };
    meter.SetLevel(10);
    EXPECT_EQ(ledCentre(1), QColor(0, 255, 0));
    EXPECT_EQ(ledCentre(10), QColor(0, 255, 0));
    EXPECT_EQ(ledCentre(11), QColor(64, 64, 0));
    EXPECT_EQ(ledCentre(16), QColor(64, 0, 0));
    meter.SetLevel(25);
    EXPECT_EQ(meter.Level(), 19);
    EXPECT_EQ(ledCentre(15), QColor(255, 255, 0));
    EXPECT_EQ(ledCentre(19), QColor(255, 0, 0));
    meter.SetLevel(-3);
    EXPECT_EQ(meter.Level(), 0);
    EXPECT_EQ(ledCentre(1), QColor(0, 64, 0));
    EXPECT_EQ(ledCentre(19), QColor(64, 0, 0));
}

// Guards against the LED picture losing its outline or its blacked-out top corners.
TEST(VLEDRow, LedPictureShape) {
    const QImage led = TVLEDRow::ledPicture(TVLEDRow::LedColour::Green, true).toImage();
    ASSERT_EQ(led.size(), QSize(11, 5));
    EXPECT_EQ(led.pixelColor(1, 1), QColor(0, 0, 0));
    EXPECT_EQ(led.pixelColor(9, 1), QColor(0, 0, 0));
    EXPECT_EQ(led.pixelColor(2, 1), QColor(0, 255, 0));
    EXPECT_EQ(led.pixelColor(1, 2), QColor(0, 255, 0));
    EXPECT_EQ(led.pixelColor(9, 3), QColor(0, 255, 0));
    EXPECT_EQ(led.pixelColor(5, 4), QColor(0, 0, 0));
    EXPECT_EQ(led.pixelColor(10, 2), QColor(0, 0, 0));
}

// Guards against a level change repainting the whole meter, or repainting when nothing changed.
TEST(VLEDRow, LevelChangeRepaintsOnlyTheLedsAtOnce) {
    PaintLoggingMeter meter;
    meter.show();
    QCoreApplication::processEvents();
    meter.painted.clear();
    meter.SetLevel(5);
    ASSERT_EQ(meter.painted.size(), 1U);
    EXPECT_TRUE(TVLEDRow::ledArea().contains(meter.painted.front()));
    meter.SetLevel(5);
    meter.SetLevel(-1);
    meter.SetLevel(0);
    EXPECT_EQ(meter.painted.size(), 2U);
}

// Guards against the recessed frame's rows and columns being swapped or drawn past their ends.
TEST(RecessedPanel, SunkenFrame) {
    TRecessedPanel panel;
    ASSERT_EQ(panel.size(), QSize(65, 65));
    const QImage face = panel.grab().toImage();
    const QColor black(0, 0, 0), grey(128, 128, 128), white(255, 255, 255);
    EXPECT_EQ(face.pixelColor(0, 0), black);
    EXPECT_EQ(face.pixelColor(1, 1), grey);
    EXPECT_EQ(face.pixelColor(63, 1), white);  // the lit right wall starts at the top
    EXPECT_EQ(face.pixelColor(62, 1), grey);
    EXPECT_EQ(face.pixelColor(1, 63), white);
    EXPECT_EQ(face.pixelColor(63, 63), white);  // the lit bottom wall meets the right one
    EXPECT_EQ(face.pixelColor(64, 64), black);
    EXPECT_EQ(face.pixelColor(30, 61), grey);  // the inner lip
    EXPECT_EQ(face.pixelColor(61, 30), grey);
    EXPECT_EQ(face.pixelColor(30, 30), black);
    EXPECT_EQ(face.pixelColor(3, 3), black);
}

}  // namespace
