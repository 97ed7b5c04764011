#pragma once

// The help-text window: a plain text file from the program's folder, shown read-only
// beside the dialog that asked for it. The audio wizard's pages and the device and offset
// dialogs explain themselves through it.

#include <QDialog>

#include <string>

class QPlainTextEdit;
class QPushButton;

class THelpsForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 560;
    static constexpr int kClientHeight = 420;
    // A help text is a page or two; anything far larger is not one of ours.
    static constexpr qint64 kLargestText = 1 << 20;

    explicit THelpsForm(QWidget* parent = nullptr);

    // Shows the file's text from its top, its name in the caption; a file that cannot be
    // read shows where it was looked for instead.
    void ShowFile(const std::string& path);

    QPlainTextEdit* HelpMemo = nullptr;
    QPushButton* CloseButton = nullptr;
};

// Brings one of the program's shared help windows to the user: shown (restored when
// minimized), raised and active. Asked for from a modal dialog `parent`, the window first
// moves to that dialog, since a window outside it would take no input until it closes.
void presentHelpWindow(QDialog* window, QWidget* parent);

// Shows `path` in the program's help-text window: made on first use as a child of
// `parent`, shown again and raised on every later call. Asked for from a modal dialog, the
// window moves to that dialog so that it takes input while the dialog is open.
void showHelpText(QWidget* parent, const std::string& path);

// The window showHelpText uses, or nullptr before the first call and after its parent went.
THelpsForm* sharedHelpsForm();
