// Face buttons (LED and instrument buttons) and the shared pictures of all buttons.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QMouseEvent>

#include "Ledbuton.h"
#include "Ownbuton.h"
#include "Pictures.h"

namespace {

void mouse(QWidget& widget, QEvent::Type type, Qt::MouseButton button = Qt::LeftButton) {
    const QPointF at(10, 10);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

void press(QWidget& widget) { mouse(widget, QEvent::MouseButtonPress); }
void release(QWidget& widget) { mouse(widget, QEvent::MouseButtonRelease); }
void doubleClick(QWidget& widget) {
    press(widget);
    release(widget);
    mouse(widget, QEvent::MouseButtonDblClick);
    release(widget);
}

struct Count {
    template <typename Sender, typename Signal>
    Count(Sender& sender, Signal signal) {
        QObject::connect(&sender, signal, &sender, [this] { ++n; });
    }
    int n = 0;
};

bool reddish(const QColor& c) { return c.red() > 150 && c.green() < 110 && c.blue() < 110; }

// The smallest rectangle holding the strongly red pixels of a grab: where a red LED sits.
QRect redArea(QWidget& widget) {
    const QImage image = widget.grab().toImage();
    QRect area;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (reddish(image.pixelColor(x, y))) {
                area |= QRect(x, y, 1, 1);
            }
        }
    }
    return area;
}

// A build made before any picture was generated has no picture resources at all; a build
// with some pictures must have every one the buttons use.
bool picturesAvailable() { return QDir(QStringLiteral(":/pictures/png")).exists(); }

}  // namespace

// Guards against the LED switching on release (the mixer must react at the press) or
// reporting the change before the state holds the new value.
TEST(LedButton, PressTogglesAndReportsAfterTheToggle) {
    TLedButton button;
    bool seen = false;
    QObject::connect(&button, &TLedButton::OnChange, &button, [&] { seen = button.State(); });
    Count changes(button, &TLedButton::OnChange);

    press(button);
    EXPECT_TRUE(button.State());
    EXPECT_TRUE(seen);
    EXPECT_EQ(changes.n, 1);
    release(button);
    EXPECT_TRUE(button.State());
    EXPECT_EQ(changes.n, 1);
    EXPECT_FALSE(button.isPressed());
}

// Guards against a double-click being taken as a single press: it toggles twice.
TEST(LedButton, DoubleClickTogglesTwice) {
    TLedButton button;
    Count changes(button, &TLedButton::OnChange);
    doubleClick(button);
    EXPECT_FALSE(button.State());
    EXPECT_EQ(changes.n, 2);
}

// Guards against setting the LED from code running the user's change handler, and against
// an unchanged value repainting or signalling.
TEST(LedButton, SetStateFromCodeFiresNoChangeHandler) {
    TLedButton button;
    Count changes(button, &TLedButton::OnChange);
    Count states(button, &TLedButton::StateChanged);
    int paints = 0;
    struct Filter : QObject {
        int* paints;
        bool eventFilter(QObject*, QEvent* event) override {
            *paints += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } filter;
    filter.paints = &paints;
    button.installEventFilter(&filter);
    button.show();
    QCoreApplication::processEvents();
    paints = 0;

    button.SetState(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(paints, 0);
    EXPECT_EQ(states.n, 0);

    button.SetState(true);
    QCoreApplication::processEvents();
    EXPECT_GT(paints, 0);
    EXPECT_EQ(states.n, 1);
    EXPECT_EQ(changes.n, 0);
}

// Guards against the lit and dark pictures being swapped or the LED not being drawn.
TEST(LedButton, LitAndDarkLedDrawnAtItsPosition) {
    ASSERT_TRUE(picturesAvailable()) << "the button pictures are not compiled into this build";
    TLedButton button;
    button.SetLedType(TLedButton::redLedButton);
    button.SetLedPosX(6);
    button.SetLedPosY(5);
    const QPoint ledCentre(6 + 3, 5 + 3);
    const QColor dark = button.grab().toImage().pixelColor(ledCentre);
    button.SetState(true);
    const QColor lit = button.grab().toImage().pixelColor(ledCentre);
    EXPECT_TRUE(reddish(lit)) << lit.name().toStdString();
    EXPECT_LT(dark.red(), 110) << dark.name().toStdString();

    button.SetLedType(TLedButton::blueLedButton);
    const QColor blue = button.grab().toImage().pixelColor(ledCentre);
    EXPECT_GT(blue.blue(), 150);
    EXPECT_LT(blue.red(), 110);
}

// Guards against the pressed face not moving its picture one pixel right and down.
TEST(LedButton, PictureMovesWhilePressed) {
    ASSERT_TRUE(picturesAvailable()) << "the button pictures are not compiled into this build";
    TLedButton button;
    button.SetState(true);
    const QRect up = redArea(button);
    ASSERT_FALSE(up.isEmpty());
    press(button);  // switches the LED off; switch it on again while held
    button.SetState(true);
    const QRect down = redArea(button);
    EXPECT_EQ(down.topLeft(), up.topLeft() + QPoint(1, 1));
    release(button);
    EXPECT_EQ(redArea(button), up);
}

// Guards against the instrument dialog opening on the press, or a double-click losing
// its second click.
TEST(OwnButton, ReleaseClicksAndDoubleClickClicksTwice) {
    TOwnButton button;
    Count clicks(button, &TOwnButton::OnClick);
    press(button);
    EXPECT_TRUE(button.isPressed());
    EXPECT_EQ(clicks.n, 0);
    release(button);
    EXPECT_EQ(clicks.n, 1);
    doubleClick(button);
    EXPECT_EQ(clicks.n, 3);
    mouse(button, QEvent::MouseButtonRelease);
    EXPECT_EQ(clicks.n, 3);
}

// Guards against the info and notes pictures being swapped.
TEST(OwnButton, DrawsThePictureOfItsType) {
    ASSERT_TRUE(picturesAvailable()) << "the button pictures are not compiled into this build";
    TOwnButton button;
    const QColor info = button.grab().toImage().pixelColor(3 + 3, 3 + 7);  // blue disc
    EXPECT_GT(info.blue(), 150);
    EXPECT_LT(info.red(), 100);
    button.SetOwnType(TOwnButton::notesButton);
    const QColor notes = button.grab().toImage().pixelColor(3 + 1, 3 + 1);  // grey ground
    EXPECT_EQ(notes, QColor(192, 192, 192));
}

// Guards against a misnamed or missized picture: the form's buttons would be drawn empty or
// clipped. The names of the LED and face pictures are fixed; the sizes match the form.
TEST(ButtonPictures, EveryPictureExistsAtItsSize) {
    ASSERT_TRUE(picturesAvailable()) << "the button pictures are not compiled into this build";
    std::vector<std::pair<QString, QSize>> expected = {
        {"info", {14, 14}}, {"notes", {14, 16}},
        {"RecordOn", {29, 30}}, {"MonitorOn", {22, 22}}, {"MonitorOff", {22, 22}},
        {"MonitorDown", {22, 22}}, {"MonitorDisabled", {22, 22}}};
    for (const char* colour : {"Red", "Green", "Yellow", "Blue"}) {
        for (const char* state : {"On", "Off"}) {
            expected.push_back({QStringLiteral("Small%1%2").arg(colour, state), {7, 7}});
        }
    }
    const std::vector<std::pair<const char*, QSize>> keys = {
        {"Play", {29, 30}},           {"Pause", {29, 30}},
        {"Stop", {29, 30}},           {"Rewind", {29, 30}},
        {"FastForward", {29, 30}},    {"Open", {29, 30}},
        {"Record", {29, 30}},         {"SavePerformance", {23, 22}},
        {"ClearPerformance", {23, 22}}, {"LyricNormalSize", {16, 15}},
        {"LyricMaximize", {16, 15}},  {"LyricFullScreen", {16, 15}},
        {"LyricFont", {16, 15}},      {"LyricColour", {16, 15}},
        {"LyricZoomIn", {16, 15}},    {"LyricZoomOut", {16, 15}}};
    for (const auto& [name, size] : keys) {
        for (const char* state : {"Up", "Down", "Disabled"}) {
            expected.push_back({QString::fromLatin1(name) + state, size});
        }
    }
    for (const auto& [name, size] : expected) {
        const QPixmap picture = controls::picture(name);
        EXPECT_FALSE(picture.isNull()) << name.toStdString();
        EXPECT_EQ(picture.deviceIndependentSize().toSize(), size) << name.toStdString();
    }
}

// Guards against an off LED that is not a dark version of its lit colour.
TEST(ButtonPictures, OffLedIsDarkerThanOnLed) {
    ASSERT_TRUE(picturesAvailable()) << "the button pictures are not compiled into this build";
    for (const char* colour : {"Red", "Green", "Yellow", "Blue"}) {
        const QColor on = controls::picture(QStringLiteral("Small%1On").arg(colour))
                              .toImage().pixelColor(4, 4);
        const QColor off = controls::picture(QStringLiteral("Small%1Off").arg(colour))
                               .toImage().pixelColor(4, 4);
        EXPECT_LT(off.value() * 2, on.value()) << colour;
        EXPECT_EQ(on.alpha(), 255) << colour;
    }
}
