// Following a song's own tempo changes from the window: the display, the steps, the start
// and the save.

#include <QLabel>

#include "CantivoHarness.h"
#include "LyricScan.h"
#include "Prefrenc.h"

using namespace testing_support;

namespace {

constexpr std::uint32_t kQuarter = 96;

// 120 beats per minute for 8 quarters, then 60 (the one tempo the song has without its
// map, as its first track's last); a note on every quarter.
ByteVector ritardando() {
    Track conductor;
    conductor.tempo(0, 500'000).tempo(8 * kQuarter, 1'000'000).end();
    Track notes;
    for (int i = 0; i < 16; ++i) {
        notes.noteOn(i == 0 ? 0 : kQuarter / 2, 0, 60, 100).noteOff(kQuarter / 2, 0, 60);
    }
    notes.end();
    return smf(1, kQuarter, {conductor, notes});
}

class TempoMapWindow : public CantivoTest {
protected:
    void follow(bool on) {
        setting(TPreference::kFollowTempoSection, TPreference::kFollowTempoKey, on ? "1" : "0");
    }
    std::string shown() { return window().TempoDisplay->text().toStdString(); }
};

// Guards against a display that shows the song's one tempo (its last), steps that move it
// by other than one beat per minute where the song is, a start that forgets the ratio,
// a stop that leaves the display on the last section, and a save that writes one tempo
// everywhere; and against the choice leaking into the one tempo a song plays at when it is off.
TEST_F(TempoMapWindow, TheDisplayTheStepsThePlayAndTheSaveFollowTheMap) {
    follow(true);
    open();
    const std::string file = songFile("ritardando.mid", ritardando());
    openSong(file);
    EXPECT_EQ(shown(), "120");
    window().TempoSpinUpClick();
    window().TempoSpinUpClick();
    EXPECT_EQ(shown(), "122");

    window().PlayButtonClick();
    ASSERT_TRUE(window().SongPlaying);
    play(5'000);
    EXPECT_EQ(shown(), " 61") << "the slow section at the same ratio";
    window().TempoSpinDownClick();
    EXPECT_EQ(shown(), " 60");
    window().StopButtonClick();
    EXPECT_EQ(shown(), "120") << "back to the start at the ratio in force (1/1)";

    // The ratio reached the sequencer at the start: quarter 8 at 8 × 60/122 s.
    std::vector<Captured> ons;
    for (const Captured& m : captured()) {
        if (m.isNoteOn()) {
            ons.push_back(m);
        }
    }
    ASSERT_GE(ons.size(), 9u);
    EXPECT_NEAR(static_cast<double>(ons[8].micros - ons[0].micros), 8 * 60e6 / 122, 1000.0);

    window().TempoSpinDownClick();
    EXPECT_EQ(shown(), "119");
    window().Save1Click();
    EXPECT_TRUE(boxTexts().empty());
    std::uint16_t division = 0;
    std::vector<songfile::SongTempo> tempos;
    ASSERT_TRUE(songfile::CollectTempoEvents(file, division, tempos));
    ASSERT_EQ(tempos.size(), 2u);
    EXPECT_EQ(tempos[0].MicrosPerQuarter, 504'202u);    // 500,000 × 120/119
    EXPECT_EQ(tempos[1].MicrosPerQuarter, 1'008'403u);  // 1,000,000 × 120/119

    follow(false);
    openSong(songFile("again.mid", ritardando()));
    EXPECT_EQ(shown(), " 60");
    window().TempoSpinUpClick();
    EXPECT_EQ(shown(), " 61");
}

}  // namespace
