#include "GalleryLyrics.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <optional>

#include "LyricScan.h"
#include "Lyricbox.h"
#include "MidiSplit.h"
#include "platform/files.h"

namespace gallery {

namespace {

// The example song, beside the program when installed, else in the source tree.
QString exampleSong() {
    const QString installed = QCoreApplication::applicationDirPath() + "/KAR/twinkle.kar";
    return QFile::exists(installed) ? installed : QStringLiteral(CVK_EXAMPLE_SONG);
}

// The song's lyric items, scanned from a split copy as the player scans them.
songfile::TlyricList* loadLyrics() {
    const std::string split = platform::createTempFile(platform::tempFolder(), "cvkgallery-");
    if (split.empty()) {
        return nullptr;
    }
    songfile::TlyricList* lyrics = nullptr;
    if (songfile::SplitMidiFile(exampleSong().toStdString(), split).message.empty()) {
        int tempo = 0;
        std::optional<std::uint64_t> offset;
        lyrics = songfile::ExtractLyrics(split, ".KAR", tempo, offset);
    }
    platform::removeFile(split);
    return lyrics;
}

constexpr int kFirstSungTick = 2400;
constexpr int kTicksPerStep = 40;  // 50 ms at 100 beats per minute and 480 ticks a quarter

}  // namespace

QWidget* makeLyricBox(QWidget* parent) {
    auto* box = new lyrics::TLyricBox(parent);
    box->setFixedSize(433, 97);
    box->setColor(QColor(0xF4, 0xF0, 0xE0));
    songfile::TlyricList* lyrics = loadLyrics();
    box->SetLyrics(lyrics, lyrics == nullptr);
    box->setTickCount(kFirstSungTick);
    // The list lives as long as the box.
    QObject::connect(box, &QObject::destroyed, [lyrics] { songfile::FreeLyricList(lyrics); });
    auto* timer = new QTimer(box);
    QObject::connect(timer, &QTimer::timeout, box, [box] {
        const int next = box->tickCount() + kTicksPerStep;
        box->setTickCount(next > 30000 ? 0 : next);
    });
    timer->start(50);
    return box;
}

}  // namespace gallery
