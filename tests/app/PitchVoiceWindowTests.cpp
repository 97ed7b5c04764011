// The singer's voice in the window: the live trail from what the microphone hears (a take
// or the monitor alone), and the score box's Apply Key after a take. The microphone is the
// test backend's, singing the pitch tests' melody.

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>

#include <chrono>
#include <cmath>
#include <thread>

#include "CantivoHarness.h"
#include "PitchStrip.h"
#include "PitchTestSong.h"
#include "audio/wave.h"

using namespace testing_support;

namespace {

constexpr int kRate = 22050;  // what the window records and monitors at

// The melody sung as the window's microphone delivers it, 16-bit mono, from `fromSeconds`
// into the song (a microphone opened then hears the singer from there on).
std::vector<std::uint8_t> sungBytes(double offsetSemitones, double fromSeconds = 0.0) {
    pitch_test::VoiceShape shape;
    shape.offsetSemitones = offsetSemitones;
    const std::vector<float> sung = pitch_test::singMelody(shape, kRate);
    std::vector<std::uint8_t> bytes;
    for (auto at = static_cast<std::size_t>(fromSeconds * kRate); at < sung.size(); ++at) {
        const float sample = sung[at];
        const auto value = static_cast<std::int16_t>(std::lround(sample * 32767.0f));
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }
    return bytes;
}

class PitchVoiceWindowTest : public CantivoTest {
protected:
    void TearDown() override {
        CantivoTest::TearDown();
        audio::useRealWave();
    }

    void openWithStrip(double sungOffset, double heardFrom = 0.0) {
        audio::VirtualWaveSetup wave;
        wave.microphone = sungBytes(sungOffset, heardFrom);
        audio::useVirtualWave(wave);
        setting("Pitch", "Strip", "1");
        setting("Configuration", "Configured", "1");
        open();
        openSong(songFile("tune.kar", pitch_test::songBytes(true)));
        ASSERT_EQ(window().melodyTrack(), pitch_test::melodyTrack(true));
    }
    lyrics::TPitchStrip* strip() { return window().LyricPanel->findChild<lyrics::TPitchStrip*>(); }

    // The clock moves and the window takes its messages, as its event loop would.
    void step(int ticks = 1) {
        for (int i = 0; i < ticks; ++i) {
            tick();
            window().PumpMessages();
        }
    }

    QMessageBox* scoreBox() {
        for (QMessageBox* box : window().findChildren<QMessageBox*>()) {
            if (box->windowTitle() == "Your Score" && box->isVisible()) {
                return box;
            }
        }
        return nullptr;
    }
};

struct LiveCase {
    std::string name;
    bool take;  // recorded; otherwise the monitor alone (the audio settings' test)
    double sungOffset;
    int monitorAfterTicks;  // the monitor opened this many 50 ms loops into the song
};

class LiveTrail : public PitchVoiceWindowTest, public testing::WithParamInterface<LiveCase> {};

// Guards against a trail that needs a take file (none while only monitoring), one that
// lags or leads the song (frames placed by the wrong clock), and one that is not the
// singer's pitch: the trail's points lie on the melody's bars, an octave down too.
TEST_P(LiveTrail, PointsLieOnTheMelody) {
    const LiveCase& c = GetParam();
    openWithStrip(c.sungOffset, c.monitorAfterTicks * 0.05);
    if (c.take) {
        window().RecButtonClick();
        ASSERT_TRUE(window().Recording);
    } else {
        window().PlayButtonClick();
        step(c.monitorAfterTicks);
        ASSERT_TRUE(window().StartMonitorTest(2048, false));
    }
    step(80);  // four seconds: the trail kept holds the last two
    ASSERT_TRUE(strip()->playing());

    const std::vector<pitch::MelodyNote>& melody = strip()->melody();
    int voiced = 0;
    int inTune = 0;
    int insideNotes = 0;
    for (const pitch::PitchFrame& frame : strip()->sung()) {
        // Well inside a note: its start and end are where a detector may differ.
        const auto note = std::find_if(melody.begin(), melody.end(), [&](const pitch::MelodyNote& n) {
            return frame.seconds > n.start + 0.06 && frame.seconds < n.end - 0.06;
        });
        if (note == melody.end()) {
            continue;
        }
        ++insideNotes;
        if (frame.pitch <= 0.0f) {
            continue;
        }
        ++voiced;
        if (std::abs(lyrics::NearestOctave(frame.pitch, note->pitch) - note->pitch) < 0.5) {
            ++inTune;
        }
    }
    EXPECT_GT(insideNotes, 100) << "two seconds of trail in 10 ms frames, most of it sung";
    EXPECT_GE(voiced, insideNotes * 9 / 10);
    EXPECT_GE(inTune, voiced * 95 / 100) << inTune << " of " << voiced << " voiced frames on their note";

    if (c.take) {
        window().StopButtonClick();
    } else {
        window().StopMonitorTest();
        window().StopButtonClick();
    }
    step(2);
}

INSTANTIATE_TEST_SUITE_P(Captures, LiveTrail,
                         testing::Values(LiveCase{"Take", true, 0.0, 0}, LiveCase{"MonitorOnly", false, 0.0, 0},
                                         LiveCase{"MonitorOnlyOctaveDown", false, -12.0, 0},
                                         LiveCase{"MonitorOpenedMidSong", false, 0.0, 30}),
                         CaseName());

struct KeyCase {
    std::string name;
    int keyBefore;      // set with the key control before the take
    double sungOffset;  // from the melody as written
    int keyAfter;
};

class ApplyKey : public PitchVoiceWindowTest, public testing::WithParamInterface<KeyCase> {};

// Guards against a suggestion applied the wrong way round, from the written key instead of
// the key the take was sung against, or to the number alone while the melody drawn and
// the key shown stay behind: Apply Key leaves the window as the key control's clicks do.
TEST_P(ApplyKey, DoesWhatTheKeyControlDoes) {
    const KeyCase& c = GetParam();
    openWithStrip(c.sungOffset);
    for (int i = 0; i < std::abs(c.keyBefore); ++i) {
        c.keyBefore < 0 ? window().KeySpinDownClick() : window().KeySpinUpClick();
    }
    window().RecButtonClick();
    ASSERT_TRUE(window().Recording);
    step(120);
    window().StopButtonClick();
    // The take is scored on a thread of its own; its box comes with a later loop.
    QMessageBox* box = nullptr;
    for (int i = 0; i < 400 && (box = scoreBox()) == nullptr; ++i) {
        step();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (box == nullptr) {
        GTEST_SKIP() << "the take's analysis did not finish within 4 s on this machine";
    }
    QAbstractButton* apply = nullptr;
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == "&Apply Key") {
            apply = button;
        }
    }
    ASSERT_NE(apply, nullptr) << box->informativeText().toStdString();
    apply->click();

    EXPECT_EQ(window().KeySetting, c.keyAfter);
    const std::vector<pitch::MelodyNote> applied = strip()->melody();
    const QString shown = window().KeyDisplay->text();
    // The key control from the written key, click by click, for comparison.
    while (window().KeySetting != 0) {
        window().KeySetting > 0 ? window().KeySpinDownClick() : window().KeySpinUpClick();
    }
    for (int i = 0; i < std::abs(c.keyAfter); ++i) {
        c.keyAfter < 0 ? window().KeySpinDownClick() : window().KeySpinUpClick();
    }
    EXPECT_EQ(shown, window().KeyDisplay->text());
    ASSERT_EQ(applied.size(), strip()->melody().size());
    EXPECT_DOUBLE_EQ(applied[0].pitch, strip()->melody()[0].pitch);
    EXPECT_DOUBLE_EQ(applied[0].pitch, pitch_test::melody()[0].key + c.keyAfter);
}

INSTANTIATE_TEST_SUITE_P(Suggestions, ApplyKey,
                         testing::Values(KeyCase{"ThreeLow", 0, -3.0, -3}, KeyCase{"TwoHigh", 0, 2.0, 2},
                                         KeyCase{"ThreeLowOfAKeyAlreadyUp", 2, -1.0, -1}),
                         CaseName());

}  // namespace
