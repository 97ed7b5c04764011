#include "Aboutinf.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "InstrumentNames.h"
#include "LyricScan.h"
#include "SongText.h"

TAboutTrack::TAboutTrack(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutTrack");
    setWindowTitle("About Track");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(15, 14, 354, 91);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Button1 = new QPushButton("Close", this);
    Button1->setGeometry(154, 114, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

QStringList TAboutTrack::trackLines(const songfile::trackInfo& info) {
    QStringList lines;
    if (!info.TrackName.empty()) {
        lines << "Sequence/Track Name : " + dialogs::songText(info.TrackName);
    }
    if (!info.Copyright.empty()) {
        lines << "Copyright Notice : " + dialogs::songText(info.Copyright);
    }
    if (info.Program != 0xFF) {
        const std::string name = dialogs::trimmed(resources::instrumentName(info.Program));
        lines << "Current Instrument(s) : " + QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    }
    if (!info.Info.empty()) {
        // Text events are joined with CR LF and a tab; the memo breaks lines at LF alone.
        QString text = dialogs::songText(info.Info);
        text.replace("\r\n", "\n");
        lines << "Info. : \t" + text;
    }
    if (lines.isEmpty()) {
        lines << "No Information avilable for this track";
    }
    return lines;
}

void TAboutTrack::ShowForTrack(int t, const songfile::trackInfo& info, bool melody) {
    Memo1->clear();
    for (const QString& line : trackLines(info)) {
        Memo1->appendPlainText(line);
    }
    if (melody) {
        Memo1->appendPlainText("Melody: the pitch strip draws and scores this track");
    }
    Memo1->moveCursor(QTextCursor::Start);
    setWindowTitle("Track No. " + QString::number(t + 1));
    exec();
}
