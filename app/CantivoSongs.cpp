// A song's life in the window: choosing, loading through the split file, saving with the
// user's settings, and closing with its questions.

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>

#include "Cantivo.h"
#include "Filestat.h"
#include "Ledbuton.h"
#include "LyricFallback.h"
#include "LyricFontCodes.h"
#include "LyricScan.h"
#include "Lyricbox.h"
#include "MidiSplit.h"
#include "Recbtn.h"
#include "SmBmpBtn.h"
#include "SongWriter.h"
#include "SpinButton.h"
#include "TakeRecovery.h"
#include "Vledrow.h"
#include "platform/dialogs.h"
#include "platform/files.h"

namespace cvkapp {

namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

constexpr const char* kReadOnlyText =
    " This file exists with read only attribute, please Save As with a different file name";

// The open dialog's filters: all song types first.
const QStringList kOpenFilters = {
    "Supported Types (*.mid *.MID *.kar *.KAR *.pfc *.PFC)", "Karaoke (*.kar *.KAR)",
    "MIDI (*.mid *.MID)", "Performance (*.pfc *.PFC)", "All files (*)"};
const QStringList kSaveAsFilters = {"Midi files (*.mid *.MID)", "Karaoke files (*.kar *.KAR)"};

std::string upperExtension(const std::string& path) {
    return extensionOf(QString::fromStdString(path)).toUpper().toStdString();
}

QString folderOf(const std::string& path) {
    if (!path.empty() && path.back() == '/') {
        return QString::fromStdString(path);
    }
    return QFileInfo(QString::fromStdString(path)).absolutePath();
}

}  // namespace

void TCantivo::deleteFileAndForget(std::string& path) {
    if (!path.empty()) {
        // The take first: a note left without it is dropped at the next start.
        platform::removeFile(path);
        RemoveTakeNote(path);
        path.clear();
    }
}

bool TCantivo::fileExists(const std::string& path) {
    const platform::FileAttributes attributes = platform::fileAttributes(path);
    return attributes.exists && !attributes.directory;
}

bool TCantivo::askToSavePerformance() {
    return platform::showMessageBox("Performance is not saved . Do you want to save it ?", kTitle,
                                    MessageButtons::YesNo, MessageIcon::Error,
                                    Handle()) == MessageAnswer::Yes;
}

void TCantivo::showSaveFailure(bool withFullStop) {
    const platform::FileAttributes attributes = platform::fileAttributes(SongFileName);
    if (attributes.exists && attributes.readOnly) {
        platform::showMessageBox(SongFileName + kReadOnlyText + (withFullStop ? "." : ""), kTitle,
                                 MessageButtons::Ok, MessageIcon::None, Handle());
    } else {
        // Also when the file could be examined but the write failed all the same (a full
        // disk): a failed save is never passed over in silence.
        platform::showMessageBox("Cannot Save File", kTitle, MessageButtons::Ok,
                                 MessageIcon::Error, Handle());
    }
}

bool TCantivo::prepareToOpen() {
    BitBtn1->setEnabled(false);
    BitBtn2->setEnabled(false);
    MidiOutMuteButton->SetState(false);
    WaveOutMuteButton->SetState(false);
    if (PerformanceUnsaved) {
        if (askToSavePerformance()) {
            if (!SavePerformance()) {
                return false;
            }
            PerformanceUnsaved = false;
        }
    }
    return true;
}

void TCantivo::openChosenFile(const std::string& name) {
    if (!fileExists(name)) {
        platform::showMessageBox("File not found : " + name, kTitle, MessageButtons::Ok,
                                 MessageIcon::None, Handle());
        return;
    }
    LastOpenedFile = name;
    deleteFileAndForget(PendingWaveFile);
    PerformanceUnsaved = false;
    if (CloseSong()) {
        LoadSongFile(name);
    }
}

void TCantivo::Open1Click() {
    if (!prepareToOpen()) {
        return;
    }

    FileDialogRequest request;
    request.folder = folderOf(LastOpenedFile);
    request.filters = kOpenFilters;
    std::string name;
    for (;;) {
        const FileDialogAnswer answer = m_options.dialogs.openFile(this, request);
        if (answer.path.isEmpty()) {
            return;
        }
        name = answer.path.toStdString();
        const std::string ext = upperExtension(name);
        if (ext == ".KAR" || ext == ".MID" || ext == ".PFC") {
            break;
        }
        platform::showMessageBox("Must Choose A Cantivo Karaoke File Type ", kTitle,
                                 MessageButtons::Ok, MessageIcon::None, Handle());
    }
    openChosenFile(name);
}

void TCantivo::New1Click() {
    BitBtn1->setEnabled(false);
    BitBtn2->setEnabled(false);
    UpdateRecentFiles("", true);
    QFont font = LyricBox1->font();
    setLyricFontName(font, "Times new Roman");
    font.setPointSize(18);
    applyFontStyleCode(0, font);
    LyricBox1->setFont(font);
    RecButton->SetEnabled(false);
    if (CloseSong()) {
        Save1->setEnabled(false);
        SaveAs1->setEnabled(false);
        SavePfcButton->SetEnabled(false);
        ClearButton->SetEnabled(false);
        TempoSpin->setEnabled(false);
        KeySpin->setEnabled(false);
        VolSpin->setEnabled(false);
        if (VoicePlaying) {
            RecLedLevel->SetLevel(0);
            VoicePlaying = false;
        }
    }
    LyricPanel->hide();
}

bool TCantivo::CloseSong() {
    if (!SongLoaded) {
        return true;
    }
    if (SongPlaying && !Recording) {
        if (VoicePlaying) {
            RecLedLevel->SetLevel(0);
            VoicePlaying = false;
        }
        StopPlayback();
        UpdateRecentFiles("", true);
    }
    if (PauseButton->Paused()) {
        PauseButton->SetPaused(false);
    }

    while (SongModified && !m_withoutQuestions) {
        const auto answer = platform::showMessageBox(
            "The file " + SongFileName + "  has changed. Do you want to save it ?", kTitle,
            MessageButtons::YesNoCancel, MessageIcon::Error, Handle());
        if (answer == MessageAnswer::Cancel) {
            return false;
        }
        if (answer == MessageAnswer::No) {
            break;
        }
        if (SaveSong()) {
            break;
        }
        showSaveFailure(true);
        return false;
    }
    SongModified = false;

    if (PerformanceUnsaved && !m_withoutQuestions) {
        if (askToSavePerformance()) {
            if (!SavePerformance()) {
                RecButton->SetEnabled(true);
                return false;
            }
            RecButton->SetEnabled(false);
        }
        PerformanceUnsaved = false;
        deleteFileAndForget(PendingWaveFile);
    }

    deleteFileAndForget(SplitFileName);
    SongLoaded = false;
    clearSongMelody();
    SongFileName.clear();

    if (SongLyrics != nullptr) {
        // The box must let go of the list before it is freed.
        LyricBox1->SetLyrics(nullptr, true);
        songfile::FreeLyricList(SongLyrics);
        SongLyrics = nullptr;
        SongLyricsSource = songfile::LyricSource::None;
        Font1->setEnabled(false);
        DemagnifyButton->SetEnabled(false);
        MagnifyButton->SetEnabled(false);
        FontButton->SetEnabled(false);
    }

    setWindowTitle(kTitle);
    for (TTrackMix& track : TrackMix) {
        track.Mute = false;
    }
    InstrumentOverride.fill(0xFF);
    ResetSongState();
    TempoSetting = 120;
    ShowTempo();
    // The strips go back to the scroll bar's place with every track neutral.
    TrackViewChange();
    ShowTrackStrips();
    VolumeTable.fill(0);

    LyricBox1->SetLyrics(nullptr, true);
    FileStatusDisplay->SetFileLoaded(TFileStatusBox::none);
    return true;
}

void TCantivo::LoadSongFile(const std::string& path) {
    SaveLyricFont();
    LyricPanel->show();

    PfcWaveOffset = 0;
    SavePfcButton->SetEnabled(false);
    ClearButton->SetEnabled(false);
    if (VoicePlaying) {
        RecLedLevel->SetLevel(0);
        VoicePlaying = false;
    }
    deleteFileAndForget(PendingWaveFile);
    RecordingFile.clear();

    SplitFileName = platform::createTempFile(platform::tempFolder(), "CV");
    const songfile::SplitResult split =
        SplitFileName.empty()
            ? songfile::SplitResult{"Cannot create a temporary file in " + platform::tempFolder(), 0}
            : songfile::SplitMidiFile(path, SplitFileName);
    if (!split.message.empty()) {
        platform::showMessageBox(split.message, "Message Box", MessageButtons::Ok,
                                 MessageIcon::None, Handle());
        deleteFileAndForget(SplitFileName);
        setWindowTitle(kTitle);
        RecButton->SetEnabled(false);
        SavePfcButton->SetEnabled(false);
        ClearButton->SetEnabled(false);
        // The song before this one is closed: nothing is left to save or to change.
        Save1->setEnabled(false);
        SaveAs1->setEnabled(false);
        TempoSpin->setEnabled(false);
        KeySpin->setEnabled(false);
        VolSpin->setEnabled(false);
        return;
    }

    LyricBox1->ShowLoading();
    setWindowTitle(QString(kTitle) + " - " + QString::fromStdString(fileNameOnly(path)));
    if (split.addedTracks > 0) {
        platform::showMessageBox(
            "Since the MIDI file you wish to load contains MIDI events for more than one "
            "channels in a single track, Cantivo Karaoke has split those tracks. This will "
            "however not interfere with the  way this file sounds.",
            kTitle, MessageButtons::Ok, MessageIcon::Information, Handle());
    }

    SongLoaded = true;
    RecButton->SetEnabled(true);
    SongFileName = path;

    const std::string ext = upperExtension(path).substr(0, 4);
    // Both lyric rules first, as song loading always scanned; the further rules only for a
    // song in which neither found words.
    songfile::ShownLyrics shown = songfile::ScanShownLyrics(SplitFileName, ext, [this](const char* question) {
        return platform::showMessageBox(question, "CVK Message", MessageButtons::YesNo, MessageIcon::Question,
                                        Handle()) == MessageAnswer::Yes;
    });
    SongLyrics = shown.first;
    SongLyricsSource = shown.source;
    const int tempo = shown.tempo;
    const std::optional<std::uint64_t> offset = shown.offset;
    PfcWaveOffset = offset.value_or(0);

    LoadLyricFont();
    TempoSpin->setEnabled(true);

    if (PfcWaveOffset > 0) {
        FileStatusDisplay->SetFileLoaded(TFileStatusBox::midiKaraoke);
        if (ext == ".PFC" && ReadPerformanceWave(path)) {
            FileStatusDisplay->SetFileLoaded(TFileStatusBox::performance);
            ClearButton->SetEnabled(true);
            BitBtn1->setEnabled(true);
            BitBtn2->setEnabled(true);
        }
    }

    TempoSetting = tempo;
    LoadSongTempoMap();
    ShowTempo();

    if (LyricBox1->fontColor() == QColor(0x80, 0x80, 0x80)) {
        LyricBox1->setFontColor(Qt::black);
    }
    LyricBox1->SetLyrics(SongLyrics, false);
    loadSongMelody();

    if (SongLyrics != nullptr) {
        Font1->setEnabled(true);
        DemagnifyButton->SetEnabled(true);
        MagnifyButton->SetEnabled(true);
        FontButton->SetEnabled(true);
    }
    Save1->setEnabled(true);
    SaveAs1->setEnabled(true);
    KeySpin->setEnabled(true);
    VolSpin->setEnabled(true);

    UpdateRecentFiles(QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString(),
                      true);

    // The song's tracks in the strips, at the scroll bar's place.
    TrackViewChange();
    ShowTrackStrips();
    UpdateTrackHints();
}

bool TCantivo::SaveSong() {
    const VelocityTable velocities = savedVelocities(MasterVolume, TrackMix);
    // Save As onto another file replaces it whole, so nothing of the old file stays behind
    // the song; a plain save rewrites the song over the start of its own file and keeps a
    // performance's voice behind it. Either way the file changes only once all is written.
    const bool wholeFile = m_saveFresh;
    m_saveFresh = false;
    const bool saved = songfile::WriteEditedSong(SplitFileName, static_cast<unsigned>(TempoSetting),
                                                 InstrumentOverride.data(), SongFileName,
                                                 KeySetting, velocities.data(), wholeFile, savedTempoScaling());
    if (saved) {
        SongModified = false;
    }
    return saved;
}

void TCantivo::Save1Click() {
    if (SongModified) {
        if (!SaveSong()) {
            showSaveFailure(true);
        } else if (!PerformanceUnsaved) {
            // Reload what was written: the split copy, the lyrics and the tempo now come
            // from the saved file.
            const std::string saved = SongFileName;
            CloseSong();
            SongFileName = saved;
            setWindowTitle(QString(kTitle) + " - " + QString::fromStdString(fileNameOnly(saved)));
            LoadSongFile(saved);
        }
    }
    if (PerformanceUnsaved || !RecordingFile.empty()) {
        if (SavePerformance()) {
            PerformanceUnsaved = false;
        }
    }
}

void TCantivo::SaveAs1Click() {
    if (!SongLoaded) {
        return;
    }
    if (PerformanceUnsaved || !RecordingFile.empty()) {
        SavePerformance();
        return;
    }
    const std::string ext = upperExtension(SongFileName);
    FileDialogRequest request;
    request.folder = folderOf(SongFileName);
    request.fileName = QFileInfo(QString::fromStdString(SongFileName)).fileName();
    request.filters = kSaveAsFilters;
    request.filterIndex = (ext == ".KAR" || ext == ".PFC") ? 1 : 0;

    std::string name;
    for (;;) {
        const FileDialogAnswer answer = m_options.dialogs.saveFile(this, request);
        if (answer.path.isEmpty()) {
            return;
        }
        const QString chosen = songFileName(answer.path, answer.filterIndex);
        request.fileName = QFileInfo(chosen).fileName();
        request.folder = QFileInfo(chosen).absolutePath();
        request.filterIndex = answer.filterIndex;
        name = chosen.toStdString();
        if (name.size() >= 255) {
            platform::showMessageBox("File name is too big,Please try again!", kTitle,
                                     MessageButtons::Ok, MessageIcon::None, Handle());
            continue;
        }
        if (fileExists(name)) {
            const auto overwrite = platform::showMessageBox(
                "File: " + name + " already exists, Overwrite it?", "CVK Message",
                MessageButtons::YesNo, MessageIcon::Question, Handle());
            if (overwrite != MessageAnswer::Yes) {
                continue;
            }
        }
        break;
    }

    const platform::FileAttributes attributes = platform::fileAttributes(name);
    if (attributes.exists && attributes.readOnly) {
        platform::showMessageBox(name + kReadOnlyText + ".", kTitle, MessageButtons::Ok,
                                 MessageIcon::None, Handle());
        return;
    }
    // An existing file is not emptied first: the song is written whole beside it and
    // then takes its place. A new one is created now, so that a folder that refuses it
    // is reported as such.
    const bool created = !attributes.exists;
    if (created) {
        QFile file(QString::fromStdString(name));
        if (!file.open(QIODevice::WriteOnly)) {
            platform::showMessageBox("Cannot Create File .", kTitle, MessageButtons::Ok,
                                     MessageIcon::Error, Handle());
            return;
        }
    }
    const std::string previousName = SongFileName;
    SongModified = true;
    SongFileName = name;
    m_saveFresh = true;
    Save1Click();
    m_saveFresh = false;
    if (SongModified) {
        // Nothing was saved: the song keeps the name it is shown under, so that a later
        // Save does not write to a file the user never saw saved, and no empty file is
        // left behind.
        SongFileName = previousName;
        if (created) {
            platform::removeFile(name);
        }
    }
    if (!PendingWaveFile.empty()) {
        deleteFileAndForget(PendingWaveFile);
        ClearButton->SetEnabled(false);
        SavePfcButton->SetEnabled(false);
        FileStatusDisplay->SetFileLoaded(TFileStatusBox::midiKaraoke);
    }
}

}  // namespace cvkapp
