// The lyric panel's three layouts (normal, maximized, full screen), the zoom steps and
// the window's own maximize and restore.

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>

#include "Cantivo.h"
#include "LyricFontCodes.h"
#include "Lyricbox.h"
#include "SmBmpBtn.h"
#include "Trecesed.h"

namespace cvkapp {

namespace {

QRect screenGeometry(const QWidget* window) {
    const QScreen* screen = window->screen() != nullptr ? window->screen()
                                                        : QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
}

// The lyric panel of the full-screen layout: the whole client area, so that no strip of
// the window's background shows at its right and bottom edges.
QRect fullScreenLyricBounds(QSize area) {
    return QRect(QPoint(0, 0), area);
}

}  // namespace

void TCantivo::PlaceSizeButtons() {
    // The bar spans the panel; its own width lags until the panel's layout has run.
    const int width = LyricPanel->width();
    LargeButton->move(width - 18, LargeButton->y());
    MediumButton->move(width - 36, MediumButton->y());
    SmallButton->move(width - 54, SmallButton->y());
}

void TCantivo::applyLyricLayout(int left, int top, int width, int height) {
    LyricPanel->setGeometry(left, top, width, height);
    fitPitchStrip();
    PlaceSizeButtons();
}

void TCantivo::fitFullScreenLayout() {
    // The window system sizes a full-screen or maximized window when it gets round to it;
    // the panel follows the client area it was given.
    const QRect bounds = fullScreenLyricBounds(Client->size());
    if (FullScreen && LyricPanel->geometry() != bounds) {
        applyLyricLayout(bounds.left(), bounds.top(), bounds.width(), bounds.height());
        RelayoutLyrics();
    }
}

void TCantivo::setMenusVisible(bool visible) {
    for (QMenu* menu : {File1, Lyrics1, Help1, Internet1}) {
        const bool hasItems = menu != Internet1 || !Internet1->actions().isEmpty();
        menu->menuAction()->setVisible(visible && hasItems);
    }
    menuBar()->setVisible(visible);
}

void TCantivo::leaveFullScreen() {
    // Esc is the window's again only while it is full screen.
    qApp->removeEventFilter(this);
    setMenusVisible(true);
    TempoDisplay->show();
    FullScreen = false;
    LargeButton->SetEnabled(true);
    if (MaximizedBySystem) {
        // A size button ends the maximized state as well; the restore this brings about
        // must not lay the panel out over the button's layout.
        MaximizedBySystem = false;
        setWindowState(windowState() & ~Qt::WindowMaximized);
    } else {
        // The window manager puts the window back where it was; the saved bounds make
        // sure of it (they are the client area's, not the frame's).
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        setGeometry(SavedBounds);
    }
}

void TCantivo::RelayoutLyrics() {
    if (!SongLoaded) {
        return;
    }
    LyricBox1->SetLyrics(SongLyrics, false);
    if ((SongPlaying || Recording) && Sequencer.CallGetLyricCounterDLL) {
        LyricBox1->setTickCount(static_cast<int>(Sequencer.CallGetLyricCounterDLL(Handle())));
    }
}

void TCantivo::SmallButtonClick() {
    if (!SmallButton->Enabled()) {
        return;
    }
    if (FullScreen) {
        leaveFullScreen();
    }
    Panel5->show();
    applyLyricLayout(230, 8, 433, 97);
    SmallButton->SetEnabled(false);
    MediumButton->SetEnabled(true);
    LargeButton->SetEnabled(true);
    RelayoutLyrics();
    NormalLyricHeight = LyricPanel->height();
}

void TCantivo::MediumButtonClick() {
    if (!MediumButton->Enabled()) {
        return;
    }
    if (FullScreen) {
        leaveFullScreen();
    }
    Panel5->hide();
    applyLyricLayout(230, 8, 433, LeftPanel->height() - 12);
    MediumButton->SetEnabled(false);
    SmallButton->SetEnabled(true);
    LargeButton->SetEnabled(true);
    RelayoutLyrics();
    NormalLyricHeight = LyricPanel->height();
}

void TCantivo::LargeButtonClick() {
    if (!LargeButton->Enabled()) {
        return;
    }
    // The window system's own full-screen state rather than a window the size of the
    // screen: no title bar, nothing of it off the screen, and the window is not unmapped
    // and mapped again, which could lose its place and the keyboard focus.
    Panel5->hide();
    SavedBounds = geometry();
    setMenusVisible(false);
    FullScreen = true;
    setWindowState((windowState() & ~Qt::WindowMaximized) | Qt::WindowFullScreen);
    const QRect bounds = fullScreenLyricBounds(screenGeometry(this).size());
    applyLyricLayout(bounds.left(), bounds.top(), bounds.width(), bounds.height());
    LargeButton->SetEnabled(false);
    SmallButton->SetEnabled(true);
    MediumButton->SetEnabled(true);
    // With the menus hidden, Esc is the way out people try first; it is caught before any
    // widget of the window can take it.
    qApp->installEventFilter(this);
    RelayoutLyrics();
}

void TCantivo::SystemMaximized() {
    LyricPanel->hide();
    RememberedMediumEnabled = MediumButton->Enabled();
    RememberedSmallEnabled = SmallButton->Enabled();
    Panel5->hide();
    setMenusVisible(false);
    FullScreen = true;
    // The window manager has sized the window (or is about to): the panel fills what it
    // gave, title bar and desktop panels left out.
    const QRect bounds = fullScreenLyricBounds(Client->size());
    applyLyricLayout(bounds.left(), bounds.top(), bounds.width(), bounds.height());
    LyricPanel->show();
    LargeButton->SetEnabled(false);
    MediumButton->SetEnabled(true);
    SmallButton->SetEnabled(true);
    qApp->installEventFilter(this);
    RelayoutLyrics();
    MaximizedBySystem = true;
}

void TCantivo::SystemRestored() {
    if (FullScreen) {
        leaveFullScreen();
    }
    applyLyricLayout(230, 8, 433, NormalLyricHeight);
    MediumButton->SetEnabled(RememberedMediumEnabled);
    SmallButton->SetEnabled(RememberedSmallEnabled);
    Panel5->show();
    RelayoutLyrics();
    MaximizedBySystem = false;
}

void TCantivo::zoomLyrics(int (*step)(int size)) {
    QFont font = LyricBox1->font();
    const int size = step(font.pointSize());
    if (size == 0) {
        return;  // larger than the largest step: left as it is
    }
    font.setPointSize(size);
    LyricBox1->setFont(font);
    if (SongLoaded) {
        LyricBox1->SetLyrics(SongLyrics, false);
    }
}

void TCantivo::MagnifyButtonClick() {
    if (MagnifyButton->Enabled() && SongLyrics != nullptr) {
        zoomLyrics(magnifiedSize);
    }
}

void TCantivo::DemagnifyButtonClick() {
    if (DemagnifyButton->Enabled() && SongLyrics != nullptr) {
        zoomLyrics(demagnifiedSize);
    }
}

}  // namespace cvkapp
