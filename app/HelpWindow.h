#pragma once

// The help window: the program's guide, compiled into the program as resources, in a
// browser with Back, Forward and Home buttons and a find box. It is not modal, so the user
// can read and try things in the main window side by side; one window serves the whole
// program and is brought to the front when help is asked for again.

#include <QDialog>
#include <QString>

class QEvent;
class QLabel;
class QLineEdit;
class QTextBrowser;
class QToolButton;

namespace cvkapp {

// The guide's contents, how to use help, and the pages of the preference dialogs.
enum class HelpPage { Contents, UsingHelp, ProcessingMode, BufferTest, SelectMidiDevice, Offset };

// Where `page` lives among the program's resources, e.g. "qrc:/help/cvk.html".
QString helpPageUrl(HelpPage page);

class THelpWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kTitle = "Cantivo Karaoke Help";
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;

    explicit THelpWindow(QWidget* parent = nullptr);

    // Shows `page` from its top, as a new step in the Back/Forward history.
    void showPage(HelpPage page);

    // Selects the next place `text` appears (the one before when `backward`), carrying on
    // round the page's end; case is ignored. False, and the selection kept, when the page
    // does not hold `text`.
    bool findText(const QString& text, bool backward = false);

    QTextBrowser* browser() const { return m_browser; }
    QToolButton* backButton() const { return m_back; }
    QToolButton* forwardButton() const { return m_forward; }
    QToolButton* homeButton() const { return m_home; }
    QLineEdit* findBox() const { return m_findBox; }
    // Empty, or why the last search from the find box found nothing.
    QString findStatus() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void findFromBox(bool backward);
    void focusFindBox();

    QTextBrowser* m_browser;
    QToolButton* m_back;
    QToolButton* m_forward;
    QToolButton* m_home;
    QLineEdit* m_findBox;
    QLabel* m_findStatus;
};

// Shows `page` in the program's help window: made on first use as a child of `parent`
// (so it closes with it), shown again and raised on every later call. Asked for while a
// modal dialog is open, it moves to `parent` (the dialog asking), so that it takes input.
void showHelp(QWidget* parent, HelpPage page);

// The help window showHelp uses, or nullptr before the first call and after its parent
// has gone.
THelpWindow* sharedHelpWindow();

}  // namespace cvkapp
