#pragma once

// The track information dialog of a track strip: what the song file says about a track.

#include <QDialog>

#include <QStringList>

class QPlainTextEdit;
class QPushButton;

namespace songfile {
struct trackInfo;
}

class TAboutTrack : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 382;
    static constexpr int kClientHeight = 147;

    explicit TAboutTrack(QWidget* parent = nullptr);

    // The memo's lines for a track: name, copyright, instrument and text, each when present,
    // or the one line that says there is nothing.
    static QStringList trackLines(const songfile::trackInfo& info);

    // Fills the memo and the caption for track `t` and shows the dialog modally. `melody`:
    // the track carries the song's melody, said in a last line (only while the pitch strip
    // is on; off, the dialog is as it always was).
    void ShowForTrack(int t, const songfile::trackInfo& info, bool melody = false);

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;
};
