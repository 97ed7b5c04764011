// What people expect of a desktop player beyond its menus and buttons: a song file
// dropped on the window opens, and Space plays and pauses.

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include "Cantivo.h"

namespace cvkapp {

void TCantivo::setUpDesktopHabits() {
    setAcceptDrops(true);
    // A text field that has the focus takes Space itself (it asks for the key before any
    // shortcut sees it); the window has none of its own, its dialogs are modal.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    space->setContext(Qt::WindowShortcut);
    connect(space, &QShortcut::activated, this, &TCantivo::PlayPauseKey);
}

void TCantivo::PlayPauseKey() {
    if (!SongLoaded) {
        return;
    }
    if (SongPlaying) {
        PauseButtonClick();
    } else {
        PlayButtonClick();
    }
}

std::string TCantivo::droppedSong(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) {
        return {};
    }
    const QUrl url = data->urls().front();
    if (!url.isLocalFile()) {
        return {};
    }
    const QString path = url.toLocalFile();
    const QString suffix = QFileInfo(path).suffix().toUpper();
    if (suffix != "MID" && suffix != "KAR" && suffix != "PFC") {
        return {};
    }
    return path.toStdString();
}

void TCantivo::dragEnterEvent(QDragEnterEvent* event) {
    // While a song plays File > Open is not offered either.
    if (Open1->isEnabled() && !droppedSong(event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void TCantivo::dropEvent(QDropEvent* event) {
    const std::string path = droppedSong(event->mimeData());
    if (path.empty() || !Open1->isEnabled()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The questions of opening (save the changed song?) come after the drop is over, so
    // the program the file came from is not held waiting for the answer.
    QTimer::singleShot(0, this, [this, path] {
        if (Open1->isEnabled() && prepareToOpen()) {
            openChosenFile(path);
        }
    });
}

}  // namespace cvkapp
