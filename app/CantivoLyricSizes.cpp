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
    PlaceSizeButtons();
}

void TCantivo::setMenusVisible(bool visible) {
    for (QMenu* menu : {File1, Lyrics1, Help1, Internet1}) {
        const bool hasItems = menu != Internet1 || !Internet1->actions().isEmpty();
        menu->menuAction()->setVisible(visible && hasItems);
    }
    menuBar()->setVisible(visible);
}

void TCantivo::leaveFullScreen() {
    Client->setFixedSize(kClientWidth, kClientHeight);
    adjustSize();
    move(SavedBounds.topLeft());
    setMenusVisible(true);
    TempoDisplay->show();
    FullScreen = false;
    LargeButton->SetEnabled(true);
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
    const bool wasVisible = isVisible();
    hide();
    Panel5->hide();
    SavedBounds = geometry();
    setMenusVisible(false);
    FullScreen = true;
    const QRect screen = screenGeometry(this);
    Client->setFixedSize(screen.width(), screen.height());
    adjustSize();
    move(screen.topLeft());
    applyLyricLayout(0, 0, screen.width() - 5, screen.height() - 10);
    LargeButton->SetEnabled(false);
    SmallButton->SetEnabled(true);
    MediumButton->SetEnabled(true);
    if (wasVisible) {
        show();
    }
    RelayoutLyrics();
}

void TCantivo::SystemMaximized() {
    LyricPanel->hide();
    RememberedMediumEnabled = MediumButton->Enabled();
    RememberedSmallEnabled = SmallButton->Enabled();
    Panel5->hide();
    setMenusVisible(false);
    FullScreen = true;
    const QRect screen = screenGeometry(this);
    applyLyricLayout(0, 0, screen.width() - 5, screen.height() - 10);
    Client->setFixedSize(screen.width(), screen.height());
    LyricPanel->show();
    LargeButton->SetEnabled(false);
    MediumButton->SetEnabled(true);
    SmallButton->SetEnabled(true);
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
