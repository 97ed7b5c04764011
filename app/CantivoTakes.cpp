// Takes a crash interrupted: offered back at the next start, restored as the unsaved
// performance over their song, or deleted.

#include <QFileInfo>
#include <QPushButton>

#include <unistd.h>

#include "Cantivo.h"
#include "Filestat.h"
#include "SmBmpBtn.h"
#include "TakeRecovery.h"
#include "platform/dialogs.h"
#include "platform/files.h"

namespace cvkapp {

namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

// The full path, so the user can find the file from anywhere.
std::string fullPath(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
}

}  // namespace

void TCantivo::OfferInterruptedTakes() {
    for (const TakeNote& note : FindInterruptedTakes(platform::tempFolder())) {
        if (InterruptedTakeFile(note).empty()) {
            DeleteTake(note);  // nothing was recorded: nothing to ask about
            continue;
        }
        const MessageAnswer answer = platform::showMessageBox(
            "A recording of " + fileNameOnly(note.song) + " was interrupted. Restore it?", kTitle,
            MessageButtons::YesNo, MessageIcon::Question, Handle());
        if (answer == MessageAnswer::Yes) {
            restoreInterruptedTake(note);
        } else if (answer == MessageAnswer::No) {
            DeleteTake(note);
        }
    }
}

void TCantivo::restoreInterruptedTake(const TakeNote& note) {
    if (!PutTakeInPlace(note)) {
        // The note stays: the take is offered again at the next start.
        platform::showMessageBox("The recording could not be restored. It is kept as " +
                                     fullPath(InterruptedTakeFile(note)) + ".",
                                 kTitle, MessageButtons::Ok, MessageIcon::Error, Handle());
        return;
    }
    // A take restored before this one waits unsaved: the user decides about it first, as
    // for any song opened over it.
    if (!prepareToOpen()) {
        return;
    }
    const bool opened = [&] {
        if (!fileExists(note.song)) {
            return false;
        }
        LastOpenedFile = note.song;
        deleteFileAndForget(PendingWaveFile);
        PerformanceUnsaved = false;
        if (CloseSong()) {
            LoadSongFile(note.song);
        }
        return SongLoaded && SongFileName == note.song;
    }();
    if (!opened) {
        // Never lose the take: it stays where it is, an ordinary file the user is told of.
        RemoveTakeNote(note.target);
        platform::showMessageBox("The song " + fileNameOnly(note.song) +
                                     " could not be opened. The recording is kept as " +
                                     fullPath(note.target) + ".",
                                 kTitle, MessageButtons::Ok, MessageIcon::Error, Handle());
        return;
    }

    // As at the end of a recording: the take waits as the unsaved performance. A voice
    // the song file brought with it gives way.
    deleteFileAndForget(PendingWaveFile);
    RecordingFile = note.target;
    PendingWaveFile = RecordingFile;
    PerformanceUnsaved = true;
    FileStatusDisplay->SetFileLoaded(TFileStatusBox::performance);
    SavePfcButton->SetEnabled(true);
    ClearButton->SetEnabled(true);
    BitBtn1->setEnabled(true);
    BitBtn2->setEnabled(true);
    // The note now names this process: the take is still unsaved.
    WriteTakeNote({note.target, note.temporary, note.song, static_cast<long>(::getpid())});
}

}  // namespace cvkapp
