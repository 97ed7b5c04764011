// Picture buttons: which picture shows in which state, and what a press, release or
// double-click does for each of the three kinds.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <functional>

#include "MonitorBtn.h"
#include "Recbtn.h"
#include "SmBmpBtn.h"

namespace {

const QColor kUp(200, 0, 0);
const QColor kDown(0, 200, 0);
const QColor kDisabled(0, 0, 200);
const QColor kOff(200, 200, 0);
const QColor kLamp(0, 200, 200);

QPixmap solid(const QColor& colour) {
    QPixmap picture(20, 20);
    picture.fill(colour);
    return picture;
}

// A lamp that covers only the middle of the face, like the record button's light.
QPixmap lamp() {
    QPixmap picture(20, 20);
    picture.fill(Qt::transparent);
    QImage image = picture.toImage();
    for (int y = 8; y < 12; ++y) {
        for (int x = 8; x < 12; ++x) {
            image.setPixelColor(x, y, kLamp);
        }
    }
    return QPixmap::fromImage(image);
}

void mouse(QWidget& widget, QEvent::Type type, Qt::MouseButton button, QPoint at = {10, 10}) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(at), widget.mapToGlobal(QPointF(at)), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

void press(QWidget& widget) { mouse(widget, QEvent::MouseButtonPress, Qt::LeftButton); }
void release(QWidget& widget, QPoint at = {10, 10}) {
    mouse(widget, QEvent::MouseButtonRelease, Qt::LeftButton, at);
}
// What the window system sends for a double-click: press, release, double-click, release.
void doubleClick(QWidget& widget) {
    press(widget);
    release(widget);
    mouse(widget, QEvent::MouseButtonDblClick, Qt::LeftButton);
    release(widget);
}

QColor centre(QWidget& widget) {
    return widget.grab().toImage().pixelColor(10, 10);
}

template <typename Button>
void giveSimplePictures(Button& button) {
    button.SetUpImage(solid(kUp));
    button.SetDownImage(solid(kDown));
    button.SetDisImage(solid(kDisabled));
}

// Counts paint events, to tell a setter that repaints from one that returns early.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& widget) : m_widget(widget) {
        widget.installEventFilter(this);
        widget.show();
        settle();
        count = 0;
    }
    void settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
        }
    }
    int paintsAfter(const std::function<void()>& change) {
        count = 0;
        change();
        settle();
        return count;
    }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_widget && event->type() == QEvent::Paint) {
            ++count;
        }
        return false;
    }

private:
    QWidget& m_widget;
};

// How often a signal fired (Qt Test is not linked into these tests).
struct Count {
    template <typename Sender, typename Signal>
    Count(Sender& sender, Signal signal) {
        QObject::connect(&sender, signal, &sender, [this] { ++n; });
    }
    int n = 0;
};

}  // namespace

// Guards against the click firing on the press, or the pressed picture sticking after release.
TEST(SimpleBmpButton, PressShowsDownPictureAndReleaseClicks) {
    TSimpleBmpButton button;
    giveSimplePictures(button);
    Count clicks(button, &TSimpleBmpButton::OnClick);
    EXPECT_EQ(button.size(), QSize(20, 20));
    EXPECT_EQ(centre(button), kUp);

    press(button);
    EXPECT_EQ(centre(button), kDown);
    EXPECT_EQ(clicks.n, 0);

    release(button);
    EXPECT_EQ(centre(button), kUp);
    EXPECT_EQ(clicks.n, 1);
}

// Guards against a disabled picture button swallowing clicks (the handlers test Enabled) or
// showing the pressed picture, and against a release off the button losing the click.
TEST(SimpleBmpButton, DisabledButtonStillClicksWhenReleasedOffIt) {
    TSimpleBmpButton button;
    giveSimplePictures(button);
    button.SetEnabled(false);
    Count clicks(button, &TSimpleBmpButton::OnClick);

    press(button);
    EXPECT_EQ(centre(button), kDisabled);
    release(button, {300, -40});
    EXPECT_EQ(centre(button), kDisabled);
    EXPECT_EQ(clicks.n, 1);
}

// Guards against a latching button not toggling, or not showing its latched state.
TEST(SimpleBmpButton, LatchingButtonTogglesOnEachClick) {
    TSimpleBmpButton button;
    giveSimplePictures(button);
    button.SetPauseButton(true);
    Count clicks(button, &TSimpleBmpButton::OnClick);

    press(button);
    release(button);
    EXPECT_TRUE(button.Paused());
    EXPECT_EQ(centre(button), kDown);

    press(button);
    release(button);
    EXPECT_FALSE(button.Paused());
    EXPECT_EQ(centre(button), kUp);
    EXPECT_EQ(clicks.n, 2);
}

// Guards against a latch surviving on a button that does not latch (it could never be
// released by clicking), and against clearing the latch from code leaving it drawn down.
TEST(SimpleBmpButton, PausedOnlyHoldsOnLatchingButton) {
    TSimpleBmpButton button;
    giveSimplePictures(button);
    button.SetPaused(true);
    EXPECT_FALSE(button.Paused());

    button.SetPauseButton(true);
    button.SetPaused(true);
    EXPECT_EQ(centre(button), kDown);
    button.SetPaused(false);
    EXPECT_EQ(centre(button), kUp);

    button.SetPaused(true);
    button.SetPauseButton(false);
    EXPECT_FALSE(button.Paused());
    EXPECT_EQ(centre(button), kUp);
}

// Guards against a double-click losing its second press, and against stray releases and
// other mouse buttons clicking.
TEST(SimpleBmpButton, DoubleClickIsTwoClicksAndOnlyLeftPressesCount) {
    TSimpleBmpButton button;
    Count clicks(button, &TSimpleBmpButton::OnClick);
    doubleClick(button);
    EXPECT_EQ(clicks.n, 2);

    release(button);
    mouse(button, QEvent::MouseButtonPress, Qt::RightButton);
    mouse(button, QEvent::MouseButtonRelease, Qt::RightButton);
    EXPECT_EQ(clicks.n, 2);
    EXPECT_FALSE(button.isDown());
}

// Guards against needless repaints and change signals when the value does not change.
TEST(SimpleBmpButton, SettersReturnEarlyWhenUnchanged) {
    TSimpleBmpButton button;
    Count changes(button, &TSimpleBmpButton::EnabledChanged);
    PaintCounter paints(button);
    EXPECT_EQ(paints.paintsAfter([&] { button.SetEnabled(true); }), 0);
    EXPECT_EQ(changes.n, 0);
    EXPECT_GT(paints.paintsAfter([&] { button.SetEnabled(false); }), 0);
    EXPECT_EQ(changes.n, 1);
}

// Guards against a recording starting from a click on the disabled record button.
TEST(RecBmpButton, DisabledButtonIgnoresTheMouse) {
    TRecBmpButton button;
    button.SetUpImage(solid(kUp));
    button.SetDownImage(solid(kDown));
    button.SetDisabledImage(solid(kDisabled));
    button.SetEnabled(false);
    Count clicks(button, &TRecBmpButton::OnClick);

    press(button);
    EXPECT_FALSE(button.isDown());
    EXPECT_EQ(centre(button), kDisabled);
    release(button);
    doubleClick(button);
    EXPECT_EQ(clicks.n, 0);
}

// Guards against a double-click on the record button starting and at once stopping a
// recording.
TEST(RecBmpButton, DoubleClickCountsOnce) {
    TRecBmpButton button;
    Count clicks(button, &TRecBmpButton::OnClick);
    doubleClick(button);
    EXPECT_EQ(clicks.n, 1);
    EXPECT_FALSE(button.isDown());
}

// Guards against the lamp missing while recording, covering the pressed picture, or
// lighting a disabled button; and against a click switching the recording look itself.
TEST(RecBmpButton, LampDrawnOverNormalPictureWhileRecording) {
    TRecBmpButton button;
    button.SetUpImage(solid(kUp));
    button.SetDownImage(solid(kDown));
    button.SetDisabledImage(solid(kDisabled));
    button.SetOnImage(lamp());
    EXPECT_EQ(centre(button), kUp);

    button.SetRecording(true);
    EXPECT_EQ(centre(button), kLamp);
    EXPECT_EQ(button.grab().toImage().pixelColor(2, 2), kUp);

    press(button);
    EXPECT_EQ(centre(button), kDown);
    release(button);
    EXPECT_TRUE(button.Recording());
    EXPECT_EQ(centre(button), kLamp);

    button.SetEnabled(false);
    EXPECT_EQ(centre(button), kDisabled);
}

// Guards against the record button skipping a redraw that the recording workflow asks for.
TEST(RecBmpButton, RecordingSetterRepaintsEvenWhenUnchanged) {
    TRecBmpButton button;
    Count changes(button, &TRecBmpButton::RecordingChanged);
    PaintCounter paints(button);
    EXPECT_GT(paints.paintsAfter([&] { button.SetRecording(false); }), 0);
    EXPECT_EQ(changes.n, 0);
}

// Guards against the monitor button's on and off looks being swapped, the pressed or
// disabled picture losing to them, or a click switching the monitor by itself.
TEST(MonitorButton, PictureFollowsStateOnAndClicksLeaveItAlone) {
    TMonitorButton button;
    giveSimplePictures(button);
    button.SetOffImage(solid(kOff));
    EXPECT_EQ(centre(button), kOff);

    button.SetStateOn(true);
    EXPECT_EQ(centre(button), kUp);
    press(button);
    EXPECT_EQ(centre(button), kDown);
    release(button);
    EXPECT_TRUE(button.StateOn());
    EXPECT_EQ(centre(button), kUp);

    button.SetEnabled(false);
    EXPECT_EQ(centre(button), kDisabled);
    Count clicks(button, &TMonitorButton::OnClick);
    press(button);
    release(button);
    EXPECT_EQ(clicks.n, 1);
    EXPECT_EQ(centre(button), kDisabled);
}
