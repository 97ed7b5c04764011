#include "HelpWindow.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "HelpsForm.h"

namespace cvkapp {

QString helpPageUrl(HelpPage page) {
    switch (page) {
        case HelpPage::UsingHelp:
            return QStringLiteral("qrc:/help/using-help.html");
        case HelpPage::ProcessingMode:
            return QStringLiteral("qrc:/help/preferences.html#processing");
        case HelpPage::BufferTest:
            return QStringLiteral("qrc:/help/preferences.html#buffertest");
        case HelpPage::SelectMidiDevice:
            return QStringLiteral("qrc:/help/SelectMIDIDevice.html");
        case HelpPage::Offset:
            return QStringLiteral("qrc:/help/OffsetHelp.html");
        case HelpPage::Contents:
            break;
    }
    return QStringLiteral("qrc:/help/cvk.html");
}

namespace {

QToolButton* navigationButton(QAction* action) {
    auto* button = new QToolButton;
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    return button;
}

// "Back (Alt+Left)": the tooltip names the keys, which are easy to miss otherwise.
void bindKeys(QAction* action, const QList<QKeySequence>& keys) {
    action->setShortcuts(keys);
    if (!keys.isEmpty()) {
        action->setToolTip(QStringLiteral("%1 (%2)").arg(
            action->text(), keys.first().toString(QKeySequence::NativeText)));
    }
}

// Not owned here: the window belongs to its parent, and this pointer clears itself when the
// parent takes the window with it.
QPointer<THelpWindow>& sharedWindow() {
    static QPointer<THelpWindow> window;
    return window;
}

}  // namespace

THelpWindow::THelpWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
    setSizeGripEnabled(true);
    resize(kWidth, kHeight);

    auto* back =
        new QAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"), this);
    bindKeys(back, QKeySequence::keyBindings(QKeySequence::Back));
    back->setEnabled(false);
    auto* forward = new QAction(style()->standardIcon(QStyle::SP_ArrowForward),
                                QStringLiteral("Forward"), this);
    bindKeys(forward, QKeySequence::keyBindings(QKeySequence::Forward));
    forward->setEnabled(false);
    auto* home =
        new QAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("Home"), this);
    bindKeys(home, {QKeySequence(Qt::ALT | Qt::Key_Home)});

    m_back = navigationButton(back);
    m_forward = navigationButton(forward);
    m_home = navigationButton(home);

    m_findStatus = new QLabel;
    m_findBox = new QLineEdit;
    m_findBox->setPlaceholderText(QStringLiteral("Find"));
    m_findBox->setClearButtonEnabled(true);
    m_findBox->setToolTip(
        QStringLiteral("Find on this page (%1); Enter for the next, "
                       "Shift+Enter for the one before")
            .arg(QKeySequence(QKeySequence::Find).toString(QKeySequence::NativeText)));
    m_findBox->setMaximumWidth(220);
    // Enter and Shift+Enter are caught before the line edit sees them, which cannot tell
    // them apart by its returnPressed signal.
    m_findBox->installEventFilter(this);

    m_browser = new QTextBrowser;
    // Links out of the guide open in the desktop's web browser rather than in here.
    m_browser->setOpenExternalLinks(true);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(m_back);
    bar->addWidget(m_forward);
    bar->addWidget(m_home);
    bar->addStretch(1);
    bar->addWidget(m_findStatus);
    bar->addWidget(m_findBox);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    layout->addLayout(bar);
    layout->addWidget(m_browser, 1);

    auto* find = new QAction(this);
    find->setShortcuts(QKeySequence::Find);
    auto* findNext = new QAction(this);
    findNext->setShortcuts(QKeySequence::FindNext);
    auto* findPrevious = new QAction(this);
    findPrevious->setShortcuts(QKeySequence::FindPrevious);
    addActions({find, findNext, findPrevious});

    connect(back, &QAction::triggered, m_browser, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, m_browser, &QTextBrowser::forward);
    connect(home, &QAction::triggered, this, [this] { showPage(HelpPage::Contents); });
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(m_browser, &QTextBrowser::sourceChanged, m_findStatus, &QLabel::clear);
    connect(m_findBox, &QLineEdit::textChanged, m_findStatus, &QLabel::clear);
    connect(find, &QAction::triggered, this, &THelpWindow::focusFindBox);
    connect(findNext, &QAction::triggered, this, [this] { findFromBox(false); });
    connect(findPrevious, &QAction::triggered, this, [this] { findFromBox(true); });

    m_browser->setFocus();
}

void THelpWindow::showPage(HelpPage page) {
    const QUrl url(helpPageUrl(page));
    if (m_browser->source() == url) {
        // Asked for the page being shown: start it again from the top, with no new step
        // in the history.
        m_browser->verticalScrollBar()->setValue(0);
        m_browser->horizontalScrollBar()->setValue(0);
        return;
    }
    m_browser->setSource(url);
}

bool THelpWindow::findText(const QString& text, bool backward) {
    if (text.isEmpty()) {
        return false;
    }
    QTextDocument::FindFlags flags;
    if (backward) {
        flags |= QTextDocument::FindBackward;
    }
    if (m_browser->find(text, flags)) {
        return true;
    }
    // Past the last match: carry on from the other end of the page, and leave the
    // selection where it was when there is no match at all.
    const QTextCursor kept = m_browser->textCursor();
    QTextCursor end(m_browser->document());
    end.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
    m_browser->setTextCursor(end);
    if (m_browser->find(text, flags)) {
        return true;
    }
    m_browser->setTextCursor(kept);
    return false;
}

QString THelpWindow::findStatus() const {
    return m_findStatus->text();
}

bool THelpWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_findBox && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            findFromBox((key->modifiers() & Qt::ShiftModifier) != 0);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void THelpWindow::findFromBox(bool backward) {
    const QString text = m_findBox->text();
    if (text.isEmpty()) {
        focusFindBox();
        return;
    }
    m_findStatus->setText(findText(text, backward) ? QString() : QStringLiteral("Not found"));
}

void THelpWindow::focusFindBox() {
    m_findBox->setFocus(Qt::ShortcutFocusReason);
    m_findBox->selectAll();
}

void showHelp(QWidget* parent, HelpPage page) {
    QPointer<THelpWindow>& window = sharedWindow();
    if (window.isNull()) {
        window = new THelpWindow(parent);
    }
    window->showPage(page);
    presentHelpWindow(window, parent);
}

THelpWindow* sharedHelpWindow() {
    return sharedWindow().data();
}

}  // namespace cvkapp
