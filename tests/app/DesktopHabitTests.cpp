#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "CantivoHarness.h"
#include "SmBmpBtn.h"

using namespace testing_support;
using platform::MessageAnswer;

namespace {

class DesktopHabitTest : public CantivoTest {
protected:
    // Typed at the window as the user types it: through the toolkit's shortcut handling,
    // which needs the window on screen and active.
    void pressSpace() {
        if (!window().isVisible()) {
            window().show();
            window().activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
        }
        QTest::keyClick(&window(), Qt::Key_Space);
    }

    // Drags `paths` over the window and drops them; true when the window took the drop.
    bool drop(const std::vector<std::string>& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const std::string& p : paths) {
            urls.push_back(p.find("://") == std::string::npos
                               ? QUrl::fromLocalFile(QString::fromStdString(p))
                               : QUrl(QString::fromStdString(p)));
        }
        data.setUrls(urls);
        const QPoint at = window().rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &dropped);
        QApplication::processEvents();
        return dropped.isAccepted();
    }
};

// Guards against Space doing nothing, or starting a second song instead of pausing.
TEST_F(DesktopHabitTest, SpacePlaysPausesAndResumes) {
    open();
    pressSpace();
    EXPECT_FALSE(window().SongPlaying);  // no song: nothing to play, and no box either
    EXPECT_TRUE(boxTexts().empty());

    openSong(song("song.kar", noteSong(20)));
    pressSpace();
    ASSERT_TRUE(window().SongPlaying);
    play(500);
    pressSpace();
    EXPECT_TRUE(window().SongPaused);
    EXPECT_TRUE(window().PauseButton->Paused());
    pressSpace();
    EXPECT_TRUE(window().SongPlaying);
    EXPECT_FALSE(window().SongPaused);
    EXPECT_FALSE(window().PauseButton->Paused());
    window().StopButtonClick();
}

struct DropCase {
    const char* name;
    std::vector<std::string> files;  // in the test's folder; "x://" kept as a URL
    bool opens;
};

class DropTest : public DesktopHabitTest, public ::testing::WithParamInterface<DropCase> {};

// Guards against drops that open what File > Open would refuse, or refuse a song.
TEST_P(DropTest, OnlyOneLocalSongFileOpens) {
    const DropCase& c = GetParam();
    open();
    std::vector<std::string> paths;
    for (const std::string& name : c.files) {
        paths.push_back(name.find("://") != std::string::npos ? name
                                                              : song(name, noteSong(2)));
    }
    EXPECT_EQ(drop(paths), c.opens);
    EXPECT_EQ(window().SongLoaded, c.opens);
    if (c.opens) {
        EXPECT_EQ(window().SongFileName, paths.front());
        EXPECT_EQ(window().LastOpenedFile, paths.front());
    }
    EXPECT_TRUE(boxTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Drops, DropTest,
    ::testing::Values(DropCase{"karaoke", {"a.kar"}, true},
                      DropCase{"upperCaseMidi", {"b.MID"}, true},
                      DropCase{"textFile", {"c.txt"}, false},
                      DropCase{"twoSongs", {"d.kar", "e.kar"}, false},
                      DropCase{"remote", {"https://example.org/f.kar"}, false}),
    CaseName{});

// Guards against a drop replacing a changed song without the question Open asks, or
// opening anything while a song plays.
TEST_F(DesktopHabitTest, DropAsksLikeOpenAndWaitsForStop) {
    open();
    const std::string first = song("first.kar", noteSong(20));
    openSong(first);
    window().TempoSpinUpClick();
    ASSERT_TRUE(window().SongModified);

    boxes.answerNext(MessageAnswer::Cancel);
    EXPECT_TRUE(drop({song("second.kar", noteSong(2))}));
    EXPECT_EQ(boxCount("The file " + first + "  has changed. Do you want to save it ?"), 1);
    EXPECT_EQ(window().SongFileName, first);

    window().PlayButtonClick();
    ASSERT_TRUE(window().SongPlaying);
    EXPECT_FALSE(drop({path("second.kar")}));
    EXPECT_EQ(window().SongFileName, first);
    window().StopButtonClick();

    boxes.answerNext(MessageAnswer::No);
    EXPECT_TRUE(drop({path("second.kar")}));
    EXPECT_EQ(window().SongFileName, path("second.kar"));
}

}  // namespace
