#include <gtest/gtest.h>

#include <QImage>
#include <QThread>

#include "PitchStrip.h"

using namespace lyrics;

namespace {

const QRgb kBar = qRgb(90, 160, 255);
const QRgb kTrail = qRgb(255, 200, 40);

QImage drawn(TPitchStrip& strip) { return strip.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QRgb at(const QImage& image, double x, double y) {
    return image.pixel(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
}

// Three notes: one at the now line, one coming, one beyond the strip's four seconds.
std::vector<pitch::MelodyNote> melody() { return {{9.5, 10.5, 60.0}, {11.0, 12.0, 67.0}, {15.0, 16.0, 72.0}}; }

}  // namespace

// Guards against bars drawn at the wrong time or pitch (a scale turned the wrong way, the
// song position ignored), and against notes beyond the strip's seconds being drawn.
TEST(PitchStrip, BarsWhereTheNotesAre) {
    TPitchStrip strip;
    strip.resize(500, 72);
    strip.setMelody(melody());
    strip.setSongSeconds(10.0);
    const QImage image = drawn(strip);
    const StripScale s = strip.scale();
    EXPECT_EQ(at(image, s.x(11.5), s.y(67.0)), kBar);  // the coming note, a fifth up
    EXPECT_EQ(at(image, s.x(10.25), s.y(60.0)), kBar);  // the sounding one, past the now line
    EXPECT_NE(at(image, s.x(11.5), s.y(60.0)), kBar);  // nothing at C4 then
    EXPECT_NE(at(image, s.x(10.75), s.y(67.0)), kBar);  // the gap between them
    EXPECT_GT(s.y(60.0), s.y(67.0));                    // higher notes higher up
    // The note at 15 s lies beyond the right edge: its row is empty all along.
    for (int x = 0; x < image.width(); ++x) {
        ASSERT_NE(image.pixel(x, static_cast<int>(s.y(72.0))), kBar) << x;
    }
}

// Guards against octave errors of the trail: a voice an octave below the melody is drawn
// on the bar it sings, not off the strip.
TEST(PitchStrip, TrailSitsOnTheNoteItSings) {
    TPitchStrip strip;
    strip.resize(500, 72);
    strip.setMelody(melody());
    strip.setSongSeconds(10.4);
    std::vector<pitch::PitchFrame> frames;
    for (double t = 9.6; t <= 10.4; t += 0.01) {
        frames.push_back({t, 48.0f, 1.0f});  // C3, an octave under the C4 of the note
    }
    frames.push_back({10.41, 0.0f, 0.0f});
    strip.addSung(frames);
    const QImage image = drawn(strip);
    const StripScale s = strip.scale();
    EXPECT_EQ(at(image, s.x(10.0), s.y(60.0)), kTrail);
    // Cleared with the take: the bar shows again where the trail was.
    strip.clearSung();
    EXPECT_EQ(at(drawn(strip), s.x(10.0), s.y(60.0)), kBar);
}

// Guards against the glide between polls running away when the loop stops polling (a
// stalled window): the shown position stays within two polls of the last one.
TEST(PitchStrip, GlideBoundedByTheLastPoll) {
    TPitchStrip strip;
    strip.setPlaying(true);
    strip.setSongSeconds(3.0);
    QThread::msleep(150);
    EXPECT_GE(strip.shownSeconds(), 3.0);
    EXPECT_LE(strip.shownSeconds(), 3.1);
    strip.setPlaying(false);
    EXPECT_EQ(strip.shownSeconds(), 3.0);
}

// The strip's range: a melody within a few notes still gets an octave and a half, and a
// wide one keeps a tone of room on either side.
TEST(PitchStrip, RangeFitsTheMelody) {
    EXPECT_EQ(StripRange({{0, 1, 60.0}, {1, 2, 62.0}}), std::make_pair(52.0, 70.0));
    EXPECT_EQ(StripRange({{0, 1, 48.0}, {1, 2, 79.0}}), std::make_pair(46.0, 81.0));
    EXPECT_DOUBLE_EQ(NearestOctave(47.5, 60.0), 59.5);
    EXPECT_DOUBLE_EQ(NearestOctave(73.0, 60.0), 61.0);
}

struct HeardCase {
    const char* name;
    double songThen;  // where the song is at the second delivery (10.0 at the first)
    double heard;     // seconds of voice heard by the second delivery (0.5 at the first)
    std::size_t kept;  // frames on the strip after it
    double last;       // where the second delivery's last frame is drawn
};

class PitchStripHeard : public testing::TestWithParam<HeardCase> {};

// Guards against the live trail placed by the wrong clock (the voice's own start rather
// than where the song is), thrown away when the song's 50 ms polls and the voice's 10 ms
// pieces disagree by a little (it kept under half a second of trail on a desktop), or left
// standing ahead of a song moved back.
TEST_P(PitchStripHeard, PlacedWhereTheSongWasWhenHeard) {
    const HeardCase& c = GetParam();
    TPitchStrip strip;
    strip.setSongSeconds(10.0);
    const auto frames = [](double from) {
        std::vector<pitch::PitchFrame> out;
        for (int i = 0; i < 10; ++i) {
            out.push_back({from + 0.01 * i, 60.0f, 1.0f});
        }
        return out;
    };
    strip.addHeard(frames(0.35), 0.5);
    ASSERT_EQ(strip.sung().size(), 10u);
    EXPECT_NEAR(strip.sung().front().seconds, 9.85, 1e-9) << "0.15 s before the newest sample heard";
    strip.setSongSeconds(c.songThen);
    strip.addHeard(frames(c.heard - 0.15), c.heard);
    EXPECT_EQ(strip.sung().size(), c.kept);
    EXPECT_NEAR(strip.sung().back().seconds, c.last, 1e-9);
    for (std::size_t i = 1; i < strip.sung().size(); ++i) {
        EXPECT_LE(strip.sung()[i - 1].seconds, strip.sung()[i].seconds) << "the trail in order at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, PitchStripHeard,
    testing::Values(HeardCase{"InStep", 10.1, 0.6, 20, 10.04},
                    // The song polled 30 ms behind the voice: the new frames would start
                    // before the last ones; they are kept, in order.
                    HeardCase{"SongPolledLate", 10.07, 0.6, 20, 10.01},
                    HeardCase{"Rewound", 8.0, 0.6, 10, 7.94}),
    [](const auto& row) { return std::string(row.param.name); });
