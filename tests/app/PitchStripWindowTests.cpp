// The pitch strip in the window: off unless asked for, and then following the song.

#include <QLayout>
#include <QMenu>

#include "CantivoHarness.h"
#include "Lyricbox.h"
#include "PitchStrip.h"
#include "PitchTestSong.h"

using namespace testing_support;

namespace {

class PitchStripWindowTest : public CantivoTest {
protected:
    QAction* stripItem() {
        for (QAction* action : window().Lyrics1->actions()) {
            if (action->text() == "&Pitch Strip") {
                return action;
            }
        }
        return nullptr;
    }
    lyrics::TPitchStrip* strip() { return window().LyricPanel->findChild<lyrics::TPitchStrip*>(); }
};

}  // namespace

// Guards against the strip taking room from the lyrics while it is off (or most of it
// while on), coming back on without the user's say, or its switch not being kept.
TEST_F(PitchStripWindowTest, OffLeavesTheLayoutAndTheSwitchIsKept) {
    open();
    window().LyricPanel->layout()->activate();
    const QRect lyrics = window().LyricBox1->geometry();
    ASSERT_NE(stripItem(), nullptr);
    EXPECT_EQ(stripItem()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
    EXPECT_FALSE(window().pitchStripOn());
    EXPECT_TRUE(strip()->isHidden());

    stripItem()->trigger();
    window().LyricPanel->layout()->activate();
    EXPECT_TRUE(window().pitchStripOn());
    EXPECT_FALSE(strip()->isHidden());
    EXPECT_LT(window().LyricBox1->height(), lyrics.height());
    // The words keep most of the room, even in the small normal layout.
    EXPECT_GE(window().LyricBox1->height(), lyrics.height() * 2 / 3);
    EXPECT_EQ(stringSetting("Pitch", "Strip"), "1");

    destroyWindow();
    open();
    EXPECT_TRUE(window().pitchStripOn());
    stripItem()->trigger();
    window().LyricPanel->layout()->activate();
    EXPECT_EQ(window().LyricBox1->geometry(), lyrics);
    EXPECT_EQ(stringSetting("Pitch", "Strip"), "0");
}

// Guards against the strip drawing the wrong track, missing the key the singer chose, or
// standing still while the song plays.
TEST_F(PitchStripWindowTest, FollowsTheSongsMelody) {
    open();
    stripItem()->trigger();
    openSong(songFile("tune.kar", pitch_test::songBytes(true)));
    EXPECT_EQ(window().melodyTrack(), pitch_test::melodyTrack(true));
    ASSERT_EQ(strip()->melody().size(), pitch_test::melody().size());
    EXPECT_DOUBLE_EQ(strip()->melody()[0].pitch, pitch_test::melody()[0].key);

    window().KeySpinUpClick();
    EXPECT_DOUBLE_EQ(strip()->melody()[0].pitch, pitch_test::melody()[0].key + 1);

    window().PlayButtonClick();
    play(1500);
    EXPECT_TRUE(strip()->playing());
    EXPECT_NEAR(strip()->songSeconds(), 1.5, 0.15);
    window().StopButtonClick();
    tick();
    EXPECT_FALSE(strip()->playing());
    EXPECT_EQ(strip()->songSeconds(), 0.0);
}
