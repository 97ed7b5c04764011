// Performance files: the song followed by one chunk holding the recorded voice.

#include <QFile>
#include <QFileInfo>

#include "Cantivo.h"
#include "Performance.h"
#include "platform/dialogs.h"
#include "platform/files.h"

namespace cvkapp {

namespace {

using platform::MessageButtons;
using platform::MessageIcon;

constexpr std::size_t kLongestName = 255;

}  // namespace

bool TCantivo::SavePerformance() {
    if (!PerformanceUnsaved && RecordingFile.empty()) {
        return false;
    }

    // The song's name without its extension is the proposal.
    const QString proposal = QString::fromStdString(
        SongFileName.size() >= 4 ? SongFileName.substr(0, SongFileName.size() - 4) : SongFileName);
    FileDialogRequest request;
    request.folder = QFileInfo(proposal).absolutePath();
    request.fileName = QFileInfo(proposal).fileName();
    request.filters = {"Performance files (*.pfc *.PFC)"};
    request.defaultSuffix = "pfc";
    request.confirmOverwrite = true;
    std::string name;
    for (;;) {
        const FileDialogAnswer answer = m_options.dialogs.saveFile(this, request);
        if (answer.path.isEmpty()) {
            return false;
        }
        QString chosen = answer.path;
        if (extensionOf(chosen).isEmpty()) {
            chosen += ".pfc";
        }
        name = chosen.toStdString();
        if (name.size() < kLongestName) {
            break;
        }
        platform::showMessageBox("File name is too big !", kTitle, MessageButtons::Ok,
                                 MessageIcon::None, Handle());
        platform::showMessageBox(std::to_string(name.size()), kTitle, MessageButtons::Ok,
                                 MessageIcon::None, Handle());
    }

    // An existing file is not emptied first: the performance is written whole beside it
    // and takes its place only when complete. A new one is created now, so that a folder
    // that refuses it is reported as such.
    const platform::FileAttributes attributes = platform::fileAttributes(name);
    const bool created = !attributes.exists;
    if (attributes.directory || (created && !QFile(QString::fromStdString(name)).open(QIODevice::WriteOnly))) {
        platform::showMessageBox("Cannot Create File ", kTitle, MessageButtons::Ok,
                                 MessageIcon::Error, Handle());
        return false;
    }

    const std::string previousName = SongFileName;
    const bool previousModified = SongModified;
    SongModified = true;
    SongFileName = name;
    bool written = false;
    bool voiceUnreadable = false;
    if (!PendingWaveFile.empty()) {
        const VelocityTable velocities = savedVelocities(MasterVolume, TrackMix);
        const songfile::PerformanceSong song{SplitFileName, static_cast<unsigned>(TempoSetting),
                                             InstrumentOverride.data(), KeySetting, velocities.data(),
                                             savedTempoScaling()};
        const songfile::PerformanceWriteResult result =
            songfile::WritePerformance(song, PendingWaveFile, name);
        written = result.ok();
        voiceUnreadable = result.failedStep == songfile::PerformanceWriteStep::OpenVoice;
        if (written) {
            SongModified = false;
        }
    } else {
        // No voice waits: the song alone, replacing the file whole.
        m_saveFresh = true;
        written = SaveSong();
    }
    if (!written) {
        if (voiceUnreadable) {
            platform::showMessageBox("Cannot open recorded wave file", kTitle, MessageButtons::Ok,
                                     MessageIcon::Error, Handle());
        } else {
            showSaveFailure(false);
        }
        if (created) {
            platform::removeFile(name);
        }
        // Nothing was saved: the take stays pending and the song keeps its name.
        SongFileName = previousName;
        SongModified = previousModified;
        return false;
    }

    if (!m_closing) {
        PerformanceUnsaved = false;
        CloseSong();
        SongFileName = name;
        setWindowTitle(QString(kTitle) + " - " + QString::fromStdString(fileNameOnly(name)));
    }
    // The performance file holds the take now, so the take's own file can go.
    if (RecordingFile == PendingWaveFile) {
        RecordingFile.clear();
    }
    deleteFileAndForget(PendingWaveFile);
    if (!m_closing) {
        LoadSongFile(SongFileName);
    }
    return true;
}

bool TCantivo::ReadPerformanceWave(const std::string& path) {
    const songfile::VoiceReadResult read =
        songfile::ExtractPerformanceVoice(path, PfcWaveOffset, platform::tempFolder(), "CV");
    if (read.hasVoice()) {
        RecordingFile = read.voiceFile;
        PendingWaveFile = RecordingFile;
        return true;
    }
    // A song without a chunk is a song; a chunk that cannot become a voice is said once,
    // here, and the song opens without it.
    if (read.outcome == songfile::VoiceReadOutcome::NotWave ||
        read.outcome == songfile::VoiceReadOutcome::CannotWrite) {
        platform::showMessageBox(read.message + ". The song is opened without it.", kTitle,
                                 MessageButtons::Ok, MessageIcon::Error, Handle());
    }
    return false;
}

}  // namespace cvkapp
