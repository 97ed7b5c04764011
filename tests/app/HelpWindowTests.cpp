#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "HelpWindow.h"

using namespace cvkapp;

namespace {

void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

void pressKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(widget, &release);
}

int helpWindowCount() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<THelpWindow*>(widget) != nullptr) {
            ++count;
        }
    }
    return count;
}

// Every link target and every anchor name of the page shown in `browser`.
struct Links {
    QStringList hrefs;
    QSet<QString> anchors;
};

Links linksOf(const QTextDocument& document) {
    Links links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor()) {
                if (!format.anchorHref().isEmpty()) {
                    links.hrefs << format.anchorHref();
                }
                for (const QString& name : format.anchorNames()) {
                    links.anchors.insert(name);
                }
            }
        }
    }
    return links;
}

TEST(HelpPages, AddressesAreDistinctPagesAmongTheResources) {
    const QString contents = helpPageUrl(HelpPage::Contents);
    const QString usingHelp = helpPageUrl(HelpPage::UsingHelp);
    EXPECT_NE(contents, usingHelp);
    for (const QString& url : {contents, usingHelp, helpPageUrl(HelpPage::ProcessingMode),
                               helpPageUrl(HelpPage::BufferTest),
                               helpPageUrl(HelpPage::SelectMidiDevice), helpPageUrl(HelpPage::Offset)}) {
        ASSERT_TRUE(url.startsWith("qrc:/help/")) << url.toStdString();
        // The same page as a resource path: ":/help/NAME.html".
        QFile file(QLatin1Char(':') + QUrl(url).path());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << url.toStdString();
        EXPECT_GT(file.size(), 500) << url.toStdString();
    }
}

TEST(HelpWindow, ShowsTheUsersGuide) {
    THelpWindow window;
    window.showPage(HelpPage::Contents);
    const QTextBrowser* browser = window.browser();
    EXPECT_EQ(browser->source(), QUrl(helpPageUrl(HelpPage::Contents)));
    EXPECT_EQ(browser->documentTitle(), "Cantivo Karaoke User's Guide");
    const QString text = browser->toPlainText();
    // The things a singer looks up: the controls' ranges and the lyric window's keys.
    for (const char* expected : {"Tempo", "60 to 240", "+01:02", "50 to 150", "Ctrl+F1", "Ctrl+F2",
                                 "Ctrl+F3", "CANTIVO.INI", ".pfc", "cvk song.kar"}) {
        EXPECT_TRUE(text.contains(QLatin1String(expected))) << expected;
    }
}

TEST(HelpWindow, ShowsHowToUseHelp) {
    THelpWindow window;
    window.showPage(HelpPage::UsingHelp);
    EXPECT_EQ(window.browser()->source(), QUrl(helpPageUrl(HelpPage::UsingHelp)));
    EXPECT_EQ(window.browser()->documentTitle(), "Using Help");
    const QString text = window.browser()->toPlainText();
    for (const char* expected : {"Back", "Forward", "Home", "Ctrl+F", "Esc"}) {
        EXPECT_TRUE(text.contains(QLatin1String(expected))) << expected;
    }
}

// A link to a missing page or anchor shows an empty page or goes nowhere; these guard the
// guide's table of contents and its links between the two pages.
TEST(HelpWindow, EveryLinkOfBothPagesLeadsSomewhere) {
    THelpWindow window;
    for (HelpPage page : {HelpPage::Contents, HelpPage::UsingHelp, HelpPage::ProcessingMode,
                          HelpPage::BufferTest, HelpPage::SelectMidiDevice, HelpPage::Offset}) {
        window.showPage(page);
        const Links links = linksOf(*window.browser()->document());
        EXPECT_FALSE(links.hrefs.isEmpty());
        // A dialog's help that opens at a place of its page: the place must be there.
        const QString place = QUrl(helpPageUrl(page)).fragment();
        EXPECT_TRUE(place.isEmpty() || links.anchors.contains(place)) << place.toStdString();
        for (const QString& href : links.hrefs) {
            const QUrl target = window.browser()->source().resolved(QUrl(href));
            if (href.startsWith('#')) {
                EXPECT_TRUE(links.anchors.contains(target.fragment())) << href.toStdString();
            } else {
                ASSERT_EQ(target.scheme(), "qrc") << href.toStdString();
                EXPECT_TRUE(QFile::exists(QLatin1Char(':') + target.path())) << href.toStdString();
            }
        }
    }
}

TEST(HelpWindow, IsTitledAndSizedAsTheProgramsHelp) {
    THelpWindow window;
    EXPECT_EQ(window.windowTitle(), "Cantivo Karaoke Help");
    EXPECT_EQ(window.size(), QSize(THelpWindow::kWidth, THelpWindow::kHeight));
    EXPECT_FALSE(window.isModal());
}

TEST(HelpWindow, BackForwardAndHomeFollowTheHistory) {
    THelpWindow window;
    window.show();
    window.showPage(HelpPage::Contents);
    EXPECT_FALSE(window.backButton()->isEnabled());
    EXPECT_FALSE(window.forwardButton()->isEnabled());

    window.showPage(HelpPage::UsingHelp);
    EXPECT_TRUE(window.backButton()->isEnabled());
    window.backButton()->click();
    EXPECT_EQ(window.browser()->source(), QUrl(helpPageUrl(HelpPage::Contents)));
    EXPECT_FALSE(window.backButton()->isEnabled());
    EXPECT_TRUE(window.forwardButton()->isEnabled());
    window.forwardButton()->click();
    EXPECT_EQ(window.browser()->source(), QUrl(helpPageUrl(HelpPage::UsingHelp)));

    // Home is the guide's start, even when help was first opened on another page.
    window.homeButton()->click();
    EXPECT_EQ(window.browser()->source(), QUrl(helpPageUrl(HelpPage::Contents)));
}

TEST(HelpWindow, AskingForTheShownPageAgainStartsItFromTheTop) {
    THelpWindow window;
    window.show();
    window.showPage(HelpPage::Contents);
    settle();
    QScrollBar* scroll = window.browser()->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0) << "the guide should be longer than the window";
    scroll->setValue(scroll->maximum());
    window.showPage(HelpPage::Contents);
    EXPECT_EQ(scroll->value(), 0);
    EXPECT_FALSE(window.backButton()->isEnabled()) << "no new step in the history";
}

TEST(HelpWindow, FindSelectsEachPlaceInTurnAndGoesRoundTheEnd) {
    THelpWindow window;
    window.showPage(HelpPage::Contents);
    const QString text = window.browser()->toPlainText();
    const QString word = "semitones";
    const int count = text.count(word, Qt::CaseInsensitive);
    ASSERT_GE(count, 2);

    std::vector<int> starts;
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(window.findText(word));
        const QTextCursor found = window.browser()->textCursor();
        EXPECT_EQ(found.selectedText().toLower(), word);
        starts.push_back(found.selectionStart());
    }
    EXPECT_TRUE(std::is_sorted(starts.begin(), starts.end()));
    EXPECT_EQ(std::set<int>(starts.begin(), starts.end()).size(), starts.size());

    // One more goes round to the first place; backward from there goes round to the last.
    ASSERT_TRUE(window.findText(word));
    EXPECT_EQ(window.browser()->textCursor().selectionStart(), starts.front());
    ASSERT_TRUE(window.findText(word, true));
    EXPECT_EQ(window.browser()->textCursor().selectionStart(), starts.back());
}

TEST(HelpWindow, FindIgnoresCase) {
    THelpWindow window;
    window.showPage(HelpPage::Contents);
    EXPECT_TRUE(window.findText("CANTIVO KARAOKE"));
    EXPECT_TRUE(window.findText("cantivo karaoke"));
}

TEST(HelpWindow, FindOfAbsentTextKeepsTheSelection) {
    THelpWindow window;
    window.showPage(HelpPage::Contents);
    ASSERT_TRUE(window.findText("Volume"));
    const QTextCursor before = window.browser()->textCursor();
    EXPECT_FALSE(window.findText("xylophonequartz"));
    EXPECT_EQ(window.browser()->textCursor().selectionStart(), before.selectionStart());
    EXPECT_EQ(window.browser()->textCursor().selectionEnd(), before.selectionEnd());
    EXPECT_FALSE(window.findText(QString()));
}

TEST(HelpWindow, FindBoxSearchesOnEnterAndSaysWhenNothingIsFound) {
    THelpWindow window;
    window.show();
    window.showPage(HelpPage::Contents);
    settle();

    window.findBox()->setText("lyric");
    pressKey(window.findBox(), Qt::Key_Return);
    EXPECT_TRUE(window.isVisible()) << "Enter in the find box must not close the window";
    EXPECT_EQ(window.browser()->textCursor().selectedText().toLower(), "lyric");
    EXPECT_TRUE(window.findStatus().isEmpty());
    const int first = window.browser()->textCursor().selectionStart();
    pressKey(window.findBox(), Qt::Key_Return);
    const int second = window.browser()->textCursor().selectionStart();
    EXPECT_GT(second, first);
    pressKey(window.findBox(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(window.browser()->textCursor().selectionStart(), first);

    window.findBox()->setText("xylophonequartz");
    pressKey(window.findBox(), Qt::Key_Return);
    EXPECT_FALSE(window.findStatus().isEmpty());
    // Typing again clears the verdict.
    window.findBox()->setText("xylophone");
    EXPECT_TRUE(window.findStatus().isEmpty());
}

TEST(HelpWindow, EscapeClosesIt) {
    THelpWindow window;
    window.show();
    window.showPage(HelpPage::Contents);
    settle();
    ASSERT_TRUE(window.isVisible());
    pressKey(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
}

// showHelp's window is shared by the whole program; each test gives it a parent of its own
// and takes it away again with that parent.
class SharedHelpWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(sharedHelpWindow(), nullptr); }
    void TearDown() override {
        parent.reset();
        EXPECT_EQ(sharedHelpWindow(), nullptr);
        EXPECT_EQ(helpWindowCount(), 0);
    }

    std::unique_ptr<QWidget> parent = std::make_unique<QWidget>();
};

TEST_F(SharedHelpWindow, ShowingHelpTwiceReusesOneWindow) {
    showHelp(parent.get(), HelpPage::Contents);
    THelpWindow* first = sharedHelpWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->parentWidget(), parent.get());
    EXPECT_EQ(first->browser()->source(), QUrl(helpPageUrl(HelpPage::Contents)));

    showHelp(parent.get(), HelpPage::UsingHelp);
    EXPECT_EQ(sharedHelpWindow(), first);
    EXPECT_EQ(helpWindowCount(), 1);
    EXPECT_EQ(first->browser()->source(), QUrl(helpPageUrl(HelpPage::UsingHelp)));
}

TEST_F(SharedHelpWindow, AClosedWindowComesBackOnTheNextRequest) {
    showHelp(parent.get(), HelpPage::UsingHelp);
    THelpWindow* window = sharedHelpWindow();
    ASSERT_NE(window, nullptr);
    settle();
    pressKey(window, Qt::Key_Escape);
    ASSERT_FALSE(window->isVisible());

    showHelp(parent.get(), HelpPage::Contents);
    EXPECT_EQ(sharedHelpWindow(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->browser()->source(), QUrl(helpPageUrl(HelpPage::Contents)));
    EXPECT_EQ(helpWindowCount(), 1);
}

TEST_F(SharedHelpWindow, ANewWindowIsMadeOnceTheOldOneHasGoneWithItsParent) {
    showHelp(parent.get(), HelpPage::Contents);
    ASSERT_NE(sharedHelpWindow(), nullptr);
    parent = std::make_unique<QWidget>();
    EXPECT_EQ(sharedHelpWindow(), nullptr);

    showHelp(parent.get(), HelpPage::Contents);
    ASSERT_NE(sharedHelpWindow(), nullptr);
    EXPECT_EQ(sharedHelpWindow()->parentWidget(), parent.get());
    EXPECT_EQ(helpWindowCount(), 1);
}

}  // namespace
