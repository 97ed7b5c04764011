// File > Export Audio...: the song as it is set up now - tempo (or the song's own tempo
// changes at the ratio set), key, volume, track mix and mutes, instruments - and the voice
// of a performance at its offset and volume, written to a WAV, FLAC or Ogg file by
// `cvktool render` in a process of its own, with a progress dialog that can cancel it.
// The file appears only when complete; a cancelled or failed export leaves none and an
// old file of that name as it was.

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QProgressDialog>

#include <cmath>

#include "Cantivo.h"
#include "Recslidr.h"
#include "platform/dialogs.h"
#include "platform/profile.h"

namespace cvkapp {

namespace {

const QStringList kExportFilters{"WAV audio (*.wav)", "FLAC audio (*.flac)", "Ogg Vorbis audio (*.ogg)"};
const char* const kExportSuffixes[] = {".wav", ".flac", ".ogg"};

// The name typed, with the chosen filter's extension unless it already has one of the
// three (in any letter case).
QString exportFileName(const QString& typed, int filterIndex) {
    const QString extension = extensionOf(typed).toLower();
    for (const char* suffix : kExportSuffixes) {
        if (extension == suffix) {
            return typed;
        }
    }
    return typed + kExportSuffixes[std::clamp(filterIndex, 0, 2)];
}

template <typename Table>
QString listOf(const Table& values) {
    QStringList items;
    for (const auto value : values) {
        items << QString::number(value);
    }
    return items.join(',');
}

}  // namespace

QStringList TCantivo::exportArguments(const QString& target) const {
    QStringList arguments{"render", QString::fromStdString(SplitFileName), target};
    if (FollowsTempoMap()) {
        arguments << "--follow-tempo" << "--tempo-ratio"
                  << QString("%1/%2").arg(TempoScale.numerator).arg(TempoScale.denominator);
    } else {
        arguments << "--tempo" << QString::number(TempoSetting);
    }
    arguments << "--key" << QString::number(KeySetting);
    arguments << "--volumes" << listOf(buildVolumeTable(MasterVolume, TrackMix));
    std::array<int, 64> programs{};
    for (std::size_t n = 0; n < programs.size(); ++n) {
        programs[n] = InstrumentOverride[n] & 0xFF;
    }
    arguments << "--instruments" << listOf(programs);
    const std::string soundFont = platform::profileGetString("Preferences", "SoundFont", "", IniPath());
    if (!soundFont.empty()) {
        arguments << "--soundfont" << QString::fromStdString(soundFont);
    }
    if (!PendingWaveFile.empty()) {
        // The voice as it is heard: its offset in seconds, and the voice slider's volume,
        // which the sound server applies on a cubic scale.
        const int span = WaveOutSlider->HiLimit() - WaveOutSlider->LoLimit();
        const double level = span > 0 ? static_cast<double>(WaveOutSlider->CurrentPos()) / span : 1.0;
        const double gainDb = level <= 0.001 ? -60.0 : std::max(-60.0, 60.0 * std::log10(level));
        arguments << "--voice" << QString::fromStdString(PendingWaveFile) << "--voice-offset"
                  << QString::number(VoiceOffset) << "--voice-gain" << QString::number(gainDb, 'f', 2);
    }
    return arguments;
}

void TCantivo::ExportAudio1Click() {
    if (!SongLoaded || SongPlaying || Recording) {
        return;
    }
    FileDialogRequest request;
    request.folder = QFileInfo(QString::fromStdString(SongFileName)).absolutePath();
    request.fileName = QFileInfo(QString::fromStdString(SongFileName)).completeBaseName() + ".wav";
    request.filters = kExportFilters;
    const FileDialogAnswer answer = m_options.dialogs.saveFile(this, request);
    if (answer.path.isEmpty()) {
        return;
    }
    const QString target = exportFileName(answer.path, answer.filterIndex);
    if (QFileInfo::exists(target) &&
        platform::showMessageBox(target.toStdString() + " already exists. Replace it?", kTitle,
                                 platform::MessageButtons::YesNo, platform::MessageIcon::Question,
                                 Handle()) != platform::MessageAnswer::Yes) {
        return;
    }

    QProcess render;
    render.setProgram(QString::fromStdString(ProgramFolder()) + "cvktool");
    render.setArguments(exportArguments(target));
    QProgressDialog progress("Exporting " + QFileInfo(target).fileName() + "...", "Cancel", 0, 100, this);
    progress.setWindowTitle("Export Audio");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    bool cancelled = false;
    QEventLoop loop;
    // Lines "render 46%" and "write 100%": rendering is most of the work.
    QObject::connect(&render, &QProcess::readyReadStandardOutput, &progress, [&] {
        while (render.canReadLine()) {
            const QStringList words = QString::fromUtf8(render.readLine()).trimmed().split(' ');
            if (words.size() != 2 || !words[1].endsWith('%')) {
                continue;
            }
            const int percent = words[1].chopped(1).toInt();
            progress.setValue(words[0] == "write" ? 90 + percent / 10 : words[0] == "render" ? percent * 9 / 10 : 0);
        }
    });
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&] {
        cancelled = true;
        render.terminate();  // it stops at its next step and leaves no file
    });
    QObject::connect(&render, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&render, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            loop.quit();
        }
    });
    render.start();
    if (render.state() != QProcess::NotRunning || render.error() != QProcess::FailedToStart) {
        loop.exec();
    }
    render.waitForFinished(-1);
    progress.reset();
    if (cancelled) {
        return;
    }
    if (render.error() == QProcess::FailedToStart) {
        platform::showMessageBox("Cannot export: " + render.program().toStdString() + " cannot be started", kTitle,
                                 platform::MessageButtons::Ok, platform::MessageIcon::Error, Handle());
        return;
    }
    if (render.exitStatus() != QProcess::NormalExit || render.exitCode() != 0) {
        QString why = QString::fromUtf8(render.readAllStandardError()).trimmed();
        why = why.section('\n', 0, 0).remove("cvktool render: ");
        platform::showMessageBox("Cannot export " + target.toStdString() + (why.isEmpty() ? "" : ": " + why.toStdString()),
                                 kTitle, platform::MessageButtons::Ok, platform::MessageIcon::Error, Handle());
    }
}

}  // namespace cvkapp
