#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <cstdlib>

#include "CantivoHarness.h"
#include "LibraryWindow.h"
#include "library/Library.h"
#include "library/SingerQueue.h"

using namespace testing_support;
using platform::MessageAnswer;

namespace {

class LibraryWindowTest : public CantivoTest {
protected:
    void SetUp() override {
        CantivoTest::SetUp();
        setenv("CVK_LIBRARY_DATABASE", path("library.sqlite").c_str(), 1);
        moon = songFile("Ann Artist - Moon Song.kar", karaokeSong({"Shine ", "on ", "silver ", "moon"}));
        sun = songFile("Sunny Band - Sun Song.kar", karaokeSong({"Here ", "comes ", "the ", "sun"}));
        rain = songFile("Rain Choir - Rain Song.kar", karaokeSong({"Rain ", "drops ", "keep ", "falling"}));
    }
    void TearDown() override {
        CantivoTest::TearDown();
        unsetenv("CVK_LIBRARY_DATABASE");
    }

    // The library window, its folder read. The index runs on its own thread: this waits
    // for it with a watchdog of a minute, which only a hang reaches.
    cvkapp::LibraryWindow& libraryWithSongs() {
        window().SongLibrary1Click();
        cvkapp::LibraryWindow& library = *window().SongLibraryWindow;
        library.addFolder(path("songs"));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (library.indexing() && std::chrono::steady_clock::now() < deadline) {
            QTest::qWait(10);
        }
        EXPECT_FALSE(library.indexing()) << "the index run did not end";
        return library;
    }

    void search(cvkapp::LibraryWindow& library, const QString& words) {
        library.searchBox()->clear();
        QTest::keyClicks(library.searchBox(), words);
    }

    // Typed at the library window as the user types it, through the shortcut handling.
    void queueCurrentRow(cvkapp::LibraryWindow& library, const QString& singer) {
        dialogs.texts.push_back(singer);
        library.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&library));
        QTest::keyClick(&library, Qt::Key_Q, Qt::ControlModifier);
    }

    // The song plays to its end on the manual clock.
    void playToTheEnd() {
        window().PlayButtonClick();
        ASSERT_TRUE(window().SongPlaying);
        for (int i = 0; i < 400 && window().SongPlaying; ++i) {
            tick(50);
        }
        ASSERT_FALSE(window().SongPlaying) << "the song's end was not seen";
        QApplication::processEvents();
    }

    QString nextLine() {
        const auto* line = window().findChild<QLabel*>("NextSinger");
        return line != nullptr && !line->isHidden() ? line->text() : QString();
    }

    std::string moon;
    std::string sun;
    std::string rain;
};

// Guards against the library's way to a song differing from File > Open's, the queue
// losing a singer, or the next song opening and playing at the wrong moment.
TEST_F(LibraryWindowTest, SearchOpenQueueAndAdvance) {
    open();
    EXPECT_EQ(window().SongLibrary1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    cvkapp::LibraryWindow& library = libraryWithSongs();
    EXPECT_EQ(library.results()->topLevelItemCount(), 3);

    search(library, "silv");
    ASSERT_EQ(library.results()->topLevelItemCount(), 1);
    EXPECT_EQ(library.results()->topLevelItem(0)->text(0), "Moon Song");
    EXPECT_EQ(library.results()->topLevelItem(0)->text(1), "Ann Artist");
    EXPECT_EQ(library.results()->topLevelItem(0)->text(3), "yes");
    QTest::keyClick(library.searchBox(), Qt::Key_Return);
    EXPECT_EQ(window().SongFileName, moon);

    search(library, "sunny");
    queueCurrentRow(library, "Ann");
    search(library, "rain");
    queueCurrentRow(library, "Bob");
    ASSERT_EQ(library.queueList()->count(), 2);
    EXPECT_EQ(library.queueList()->item(0)->text(), QString::fromUtf8("Ann \u2014 Sun Song"));
    EXPECT_EQ(intSetting("Queue", "Count"), 2);

    // The song ends: the first singer's song opens and counts down, then plays.
    playToTheEnd();
    EXPECT_EQ(window().SongFileName, sun);
    EXPECT_EQ(nextLine(), QString::fromUtf8("Next: Ann \u2014 Sun Song  10"));
    EXPECT_FALSE(window().SongPlaying);
    library.advanceCountdown(9000);
    EXPECT_EQ(nextLine(), QString::fromUtf8("Next: Ann \u2014 Sun Song  1"));
    EXPECT_FALSE(window().SongPlaying);
    library.advanceCountdown(1000);
    EXPECT_TRUE(window().SongPlaying);
    EXPECT_EQ(nextLine(), QString());
    EXPECT_EQ(library.queueList()->count(), 1);
    EXPECT_EQ(intSetting("Queue", "Count"), 1);

    // Stop holds the queue: the next song's end opens nothing.
    window().StopButtonClick();
    library.songEnded(false);
    EXPECT_EQ(window().SongFileName, sun);
    EXPECT_EQ(library.queueList()->count(), 1);
}

// Guards against the queue being lost when the program closes.
TEST_F(LibraryWindowTest, QueueComesBackWithTheSettings) {
    open();
    cvkapp::LibraryWindow& library = libraryWithSongs();
    search(library, "moon");
    queueCurrentRow(library, "Dee\tDee");
    search(library, "rain");
    queueCurrentRow(library, "Eve");
    destroyWindow();
    open();
    window().SongLibrary1Click();
    const cvkapp::LibraryWindow& again = *window().SongLibraryWindow;
    ASSERT_EQ(again.queueList()->count(), 2);
    EXPECT_EQ(again.queueList()->item(0)->text(), QString::fromUtf8("Dee Dee \u2014 Moon Song"));
    EXPECT_EQ(again.queueList()->item(1)->text(), QString::fromUtf8("Eve \u2014 Rain Song"));
}

// Guards against the last key and tempo being forgotten, applied without asking, or
// offered when they are what the song opens with.
TEST_F(LibraryWindowTest, LastSettingsAreOffered) {
    open();
    cvkapp::LibraryWindow& library = libraryWithSongs();
    search(library, "moon");
    QTest::keyClick(library.searchBox(), Qt::Key_Return);
    ASSERT_EQ(window().SongFileName, moon);
    window().KeySpinDownClick();
    window().KeySpinDownClick();
    for (int i = 0; i < 4; ++i) {
        window().TempoSpinUpClick();
    }
    boxes.answerNext(MessageAnswer::No);  // the tempo changed the song: not saved
    search(library, "sun");
    QTest::keyClick(library.searchBox(), Qt::Key_Return);
    ASSERT_EQ(window().SongFileName, sun);
    EXPECT_EQ(boxCount("Last time: key \u22122, tempo 124. Use them?"), 0);

    boxes.answerNext(MessageAnswer::Yes);
    search(library, "moon");
    QTest::keyClick(library.searchBox(), Qt::Key_Return);
    ASSERT_EQ(window().SongFileName, moon);
    EXPECT_EQ(boxCount("Last time: key \u22122, tempo 124. Use them?"), 1);
    EXPECT_EQ(window().KeySetting, -2);
    EXPECT_EQ(window().TempoSetting, 124);
}

// Guards against the queue's order in the list and the order it plays in parting after a drag.
TEST_F(LibraryWindowTest, DraggedRowsSetTheOrder) {
    open();
    cvkapp::LibraryWindow& library = libraryWithSongs();
    search(library, "moon");
    queueCurrentRow(library, "Ann");
    search(library, "sun");
    queueCurrentRow(library, "Bob");
    search(library, "rain");
    queueCurrentRow(library, "Cy");
    // A drop of the last row on the first, as the list's drag does it.
    QAbstractItemModel* rows = library.queueList()->model();
    ASSERT_TRUE(rows->moveRow(QModelIndex(), 2, QModelIndex(), 0));
    ASSERT_EQ(library.queue().entries().size(), 3u);
    EXPECT_EQ(library.queue().entries()[0].singer, "Cy");
    EXPECT_EQ(library.queue().entries()[1].singer, "Ann");
    EXPECT_EQ(stringSetting("Queue", "Row1").rfind("Cy\t" + rain, 0), 0u) << stringSetting("Queue", "Row1");
    library.queueList()->setCurrentRow(1);
    QTest::keyClick(library.queueList(), Qt::Key_Delete);
    ASSERT_EQ(library.queue().entries().size(), 2u);
    EXPECT_EQ(library.queue().entries()[1].singer, "Bob");
}

// Guards against a song copied into a folder while the window is open staying unfound
// until the program starts again. Waits for the watch with a watchdog of a minute.
TEST_F(LibraryWindowTest, FolderWatchFindsANewSong) {
    std::filesystem::create_directories(path("songs/later"));
    open();
    cvkapp::LibraryWindow& library = libraryWithSongs();
    song("songs/later/Storm Crew - Thunder Song.kar", karaokeSong({"Boom ", "goes ", "the ", "thunder"}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    search(library, "thunder");
    while (library.results()->topLevelItemCount() == 0 && std::chrono::steady_clock::now() < deadline) {
        QTest::qWait(50);
        if (!library.indexing()) {
            search(library, "thunder");
        }
    }
    ASSERT_EQ(library.results()->topLevelItemCount(), 1);
    EXPECT_EQ(library.results()->topLevelItem(0)->text(1), "Storm Crew");
}

// Guards against a window closed in the middle of an index run crashing the program or
// leaving its thread behind.
TEST_F(LibraryWindowTest, ClosedWhileIndexing) {
    std::filesystem::create_directories(path("songs/many"));
    for (int i = 0; i < 300; ++i) {
        song("songs/many/s" + std::to_string(i) + ".kar", karaokeSong({"la ", "la"}));
    }
    open();
    window().SongLibrary1Click();
    window().SongLibraryWindow->addFolder(path("songs"));
    EXPECT_TRUE(window().SongLibraryWindow->indexing());
    destroyWindow();
    // What the run wrote before it stopped is a library, not a damaged file.
    library::Library again(path("library.sqlite"));
    EXPECT_TRUE(again.isOpen()) << again.lastError();
    EXPECT_EQ(again.notice(), "");
}

}  // namespace
