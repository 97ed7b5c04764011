#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QScreen>

#include "CantivoHarness.h"
#include "Lyricbox.h"
#include "SmBmpBtn.h"
#include "Trecesed.h"

using namespace testing_support;
using cvkapp::TCantivo;

namespace {

using Handler = void (TCantivo::*)();

class LyricSizeTest : public CantivoTest {
protected:
    QRect screen() { return window().screen()->geometry(); }
    bool menusShown() {
        return !window().menuBar()->isHidden() && window().File1->menuAction()->isVisible();
    }
};

struct LayoutCase {
    const char* name;
    std::vector<Handler> clicks;
    TSimpleBmpButton* TCantivo::*disabled;
    bool fullScreen;
    bool panel5;
};

class LayoutTest : public LyricSizeTest, public ::testing::WithParamInterface<LayoutCase> {};

// Guards against a lyric layout with the wrong panel size, controls or size buttons.
TEST_P(LayoutTest, EachLayoutSizesThePanelAndDisablesItsOwnButton) {
    const LayoutCase& c = GetParam();
    open();
    for (Handler click : c.clicks) {
        (window().*click)();
    }
    const QRect expected = c.fullScreen ? QRect(QPoint(0, 0), screen().size())
                           : c.panel5   ? QRect(230, 8, 433, 97)
                                        : QRect(230, 8, 433, window().LeftPanel->height() - 12);
    EXPECT_EQ(window().LyricPanel->geometry(), expected);
    EXPECT_EQ(window().FullScreen, c.fullScreen);
    EXPECT_EQ(window().Panel5->isHidden(), !c.panel5);
    EXPECT_EQ(menusShown(), !c.fullScreen);
    for (TSimpleBmpButton* TCantivo::*button :
         {&TCantivo::SmallButton, &TCantivo::MediumButton, &TCantivo::LargeButton}) {
        EXPECT_EQ((window().*button)->Enabled(), button != c.disabled);
    }
    window().LyricPanel->layout()->activate();
    const int bar = window().LyricsBar->width();
    EXPECT_EQ(bar, expected.width());
    EXPECT_EQ(window().LargeButton->x(), bar - 18);
    EXPECT_EQ(window().MediumButton->x(), bar - 36);
    EXPECT_EQ(window().SmallButton->x(), bar - 54);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LayoutTest,
    ::testing::Values(
        LayoutCase{"Normal",
                   {&TCantivo::MediumButtonClick, &TCantivo::SmallButtonClick},
                   &TCantivo::SmallButton,
                   false,
                   true},
        LayoutCase{
            "Maximized", {&TCantivo::MediumButtonClick}, &TCantivo::MediumButton, false, false},
        LayoutCase{
            "FullScreen", {&TCantivo::LargeButtonClick}, &TCantivo::LargeButton, true, false},
        LayoutCase{"FullScreenToMaximized",
                   {&TCantivo::LargeButtonClick, &TCantivo::MediumButtonClick},
                   &TCantivo::MediumButton,
                   false,
                   false}),
    CaseName());

// Guards against full screen losing the window's place, even when asked for twice.
TEST_F(LyricSizeTest, LeavingFullScreenRestoresThePlaceAndTheMenus) {
    open();
    window().show();
    window().move(40, 30);
    window().LargeButtonClick();
    QApplication::processEvents();
    ASSERT_EQ(window().pos(), screen().topLeft());
    window().LargeButtonClick();
    window().SmallButtonClick();
    QApplication::processEvents();
    EXPECT_EQ(window().pos(), QPoint(40, 30));
    EXPECT_FALSE(window().FullScreen);
    EXPECT_TRUE(menusShown());
    EXPECT_EQ(window().LyricPanel->geometry(), QRect(230, 8, 433, 97));
}

// Guards against Esc changing the normal layout, or not leaving full screen when it reaches
// the window. Whether it reaches the window under a window manager is the desktop test's.
TEST_F(LyricSizeTest, EscapeSentToTheWindowLeavesFullScreenOnly) {
    open();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window(), &escape);
    EXPECT_FALSE(window().SmallButton->Enabled()) << "Esc changed the normal layout";
    window().LargeButtonClick();
    QApplication::sendEvent(&window(), &escape);
    EXPECT_FALSE(window().FullScreen);
    EXPECT_TRUE(menusShown());
    EXPECT_EQ(window().LyricPanel->geometry(), QRect(230, 8, 433, 97));
}

// Guards against the maximize box leaving the lyric layout half changed, and against a
// size button that leaves the window maximized or is undone by the restore it causes.
TEST_F(LyricSizeTest, MaximizeBoxBringsTheFullLayoutUntilRestoredOrLeft) {
    open();
    window().show();
    window().MediumButtonClick();
    window().setWindowState(Qt::WindowMaximized);
    QApplication::processEvents();
    EXPECT_TRUE(window().FullScreen);
    EXPECT_FALSE(menusShown());
    EXPECT_EQ(window().LyricPanel->geometry(),
              QRect(QPoint(0, 0), window().Client->size()))
        << "the panel fills the client area, no strip of background at its edges";
    window().setWindowState(Qt::WindowNoState);
    QApplication::processEvents();
    EXPECT_FALSE(window().FullScreen);
    EXPECT_TRUE(menusShown());
    EXPECT_FALSE(window().MediumButton->Enabled()) << "the layout before maximizing is back";
    EXPECT_EQ(window().LyricPanel->geometry(), QRect(230, 8, 433, window().NormalLyricHeight));

    window().SmallButtonClick();
    window().setWindowState(Qt::WindowMaximized);
    QApplication::processEvents();
    window().SmallButtonClick();
    QApplication::processEvents();
    EXPECT_FALSE(window().isMaximized());
    EXPECT_FALSE(window().FullScreen);
    EXPECT_FALSE(window().Panel5->isHidden());
    EXPECT_EQ(window().LyricPanel->geometry(), QRect(230, 8, 433, 97));
}

// Guards against a disabled size button still changing the layout.
TEST_F(LyricSizeTest, DisabledSizeButtonsDoNothing) {
    open();
    window().MediumButtonClick();
    const QRect maximized = window().LyricPanel->geometry();
    for (auto [button, click] :
         {std::pair{&TCantivo::SmallButton, &TCantivo::SmallButtonClick},
          std::pair{&TCantivo::LargeButton, &TCantivo::LargeButtonClick},
          std::pair{&TCantivo::MediumButton, &TCantivo::MediumButtonClick}}) {
        (window().*button)->SetEnabled(false);
        (window().*click)();
    }
    EXPECT_EQ(window().LyricPanel->geometry(), maximized);
    EXPECT_FALSE(window().FullScreen);
    EXPECT_TRUE(window().Panel5->isHidden());
}

struct ZoomCase {
    const char* name;
    int start;
    Handler click;
    int expected;
};

class ZoomTest : public LyricSizeTest, public ::testing::WithParamInterface<ZoomCase> {};

// Guards against zoom steps skipping table sizes or running past the table's ends.
TEST_P(ZoomTest, ZoomStepsFollowTheSizeTable) {
    const ZoomCase& c = GetParam();
    open();
    openSong(song("song.kar", karaokeSong({"a", "b"})));
    ASSERT_TRUE(window().MagnifyButton->Enabled());
    QFont font = window().LyricBox1->font();
    font.setPointSize(c.start);
    window().LyricBox1->setFont(font);
    (window().*c.click)();
    EXPECT_EQ(window().LyricBox1->font().pointSize(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ZoomTest,
    ::testing::Values(ZoomCase{"Magnify19", 19, &TCantivo::MagnifyButtonClick, 22},
                      ZoomCase{"Demagnify19", 19, &TCantivo::DemagnifyButtonClick, 18},
                      ZoomCase{"MagnifyLargest", 72, &TCantivo::MagnifyButtonClick, 72},
                      ZoomCase{"DemagnifySmallest", 8, &TCantivo::DemagnifyButtonClick, 8},
                      ZoomCase{"MagnifyAboveTable", 80, &TCantivo::MagnifyButtonClick, 80},
                      ZoomCase{"DemagnifyAboveTable", 80, &TCantivo::DemagnifyButtonClick, 80}),
    CaseName());

// Guards against a layout change during play sending the lyrics back to the first line.
TEST_F(LyricSizeTest, LayoutChangesWhilePlayingKeepTheCurrentLine) {
    open();
    openSong(song("lines.kar", karaokeSong({"One", "/Two", "/Three", "/Four", "/Five", "/Six"})));
    window().PlayButtonClick();
    play(2100);
    const int line = window().LyricBox1->topLine();
    ASSERT_GE(line, 2);
    for (Handler click :
         {&TCantivo::MediumButtonClick, &TCantivo::LargeButtonClick, &TCantivo::SmallButtonClick}) {
        (window().*click)();
        EXPECT_EQ(window().LyricBox1->topLine(), line);
    }
}

}  // namespace
