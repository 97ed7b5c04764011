#pragma once

// The window's open, save, font and colour dialogs behind replaceable functions, so that
// tests answer them by script the way platform/dialogs answers message boxes.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace cvkapp {

struct FileDialogRequest {
    QString folder;       // where the dialog starts
    QString fileName;     // proposed name, may be empty
    QStringList filters;  // "Karaoke (*.kar *.KAR)"...
    int filterIndex = 0;  // preselected filter, 0-based
    // Save dialogs: appended to a name typed without an extension ("pfc"), and whether
    // the dialog itself asks before a chosen file is overwritten.
    QString defaultSuffix;
    bool confirmOverwrite = false;
};

struct FileDialogAnswer {
    QString path;         // empty: cancelled
    int filterIndex = 0;  // the filter selected when the dialog closed
};

struct HostDialogs {
    std::function<FileDialogAnswer(QWidget*, const FileDialogRequest&)> openFile;
    // Asks nothing about overwriting: the window asks that itself.
    std::function<FileDialogAnswer(QWidget*, const FileDialogRequest&)> saveFile;
    // The font the dialog ends with: the chosen one, or `initial` when cancelled.
    std::function<QFont(QWidget*, const QFont& initial)> chooseFont;
    // The colour the dialog ends with: the chosen one, or `initial` when cancelled.
    std::function<QColor(QWidget*, const QColor& initial)> chooseColor;
    // A line of text (a singer's name for the queue); empty when cancelled.
    std::function<QString(QWidget*, const QString& title, const QString& label)> askText;

    // The Qt dialogs.
    static HostDialogs standard();
};

// The extension of the file name in `path`, dot included ("song.kar" gives ".kar");
// empty when it has none.
QString extensionOf(const QString& path);

// The name Save As writes for a name typed with the given filter (1 karaoke, otherwise
// MIDI): an extension of the filter's type stays as typed, in whatever letter case; any
// other is replaced, and a name without one gets one, in lower case.
QString songFileName(const QString& typed, int filterIndex);

}  // namespace cvkapp
