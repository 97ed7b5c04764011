#pragma once

// The pitch strip under the lyric box: the melody's notes of the coming seconds as bars
// moving right to left toward a "now" line, and, while the microphone is recorded or
// monitored, the singer's pitch as a trail behind it.
//
// The song position comes from the window's 50 ms loop (setSongSeconds); between two polls
// the strip moves on by the time elapsed, redrawing at the screen's frame rate, so the
// bars glide instead of jumping every 50 ms. The sung pitch is drawn in the octave nearest
// the note it is sung against: a man singing a woman's melody an octave down sits on the
// bars, as the score counts him in tune.

#include <QColor>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <optional>
#include <vector>

#include "Melody.h"
#include "PitchTracker.h"

namespace lyrics {

// The strip's arithmetic, pure so that it can be checked by itself.
struct StripScale {
    double nowSeconds = 0.0;
    int width = 0;
    int height = 0;
    double lowKey = 48.0;   // bottom edge
    double highKey = 84.0;  // top edge

    static constexpr double kBehindSeconds = 1.0;  // shown left of the now line
    static constexpr double kAheadSeconds = 4.0;   // shown right of it

    double nowX() const { return width * kBehindSeconds / (kBehindSeconds + kAheadSeconds); }
    double x(double seconds) const {
        return nowX() + (seconds - nowSeconds) * width / (kBehindSeconds + kAheadSeconds);
    }
    // The centre of a key's row; higher keys higher up.
    double y(double key) const { return height * (highKey - key) / (highKey - lowKey); }
    double rowHeight() const { return height / (highKey - lowKey); }
};

// The keys the strip spans for a melody: its lowest and highest note with a tone of room,
// at least an octave and a half.
std::pair<double, double> StripRange(const std::vector<pitch::MelodyNote>& melody);

// `sung` moved by whole octaves to lie nearest `note`.
double NearestOctave(double sung, double note);

class TPitchStrip : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double songSeconds READ songSeconds WRITE setSongSeconds NOTIFY songSecondsChanged)
    Q_PROPERTY(bool playing READ playing WRITE setPlaying NOTIFY playingChanged)

public:
    explicit TPitchStrip(QWidget* parent = nullptr);

    // The melody as the song plays (key and tempo applied); empty: no melody, no bars.
    void setMelody(std::vector<pitch::MelodyNote> melody);
    const std::vector<pitch::MelodyNote>& melody() const { return m_melody; }

    // The song position the window's loop polled; starts the glide from there.
    double songSeconds() const { return m_songSeconds; }
    void setSongSeconds(double seconds);
    // While playing the strip redraws at the frame rate, gliding on from the last poll.
    bool playing() const { return m_playing; }
    void setPlaying(bool on);

    // Sung frames as the analysis hands them over, oldest first; 0 is not sung.
    void addSung(const std::vector<pitch::PitchFrame>& frames);
    // Frames of the voice heard live, timed from their capture's start, of which
    // `heardSeconds` have been heard: the newest sample heard is the song's position shown
    // now, and each frame goes where the song was when its samples were heard. So the trail
    // keeps to the song whether the capture started with it or not (monitoring only), and
    // whatever the two clocks drift apart.
    void addHeard(const std::vector<pitch::PitchFrame>& frames, double heardSeconds);
    void clearSung();
    // The sung frames kept (the last two seconds), on the song's clock.
    const std::vector<pitch::PitchFrame>& sung() const { return m_sung; }

    // The position drawn now: the last poll plus the time since, at most one poll's worth
    // of frames beyond it (a loop that stops polling does not let the strip run away).
    double shownSeconds() const;
    StripScale scale() const;

    QSize sizeHint() const override { return {400, 64}; }

signals:
    void songSecondsChanged(double seconds);
    void playingChanged(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<pitch::MelodyNote> m_melody;
    std::vector<pitch::PitchFrame> m_sung;
    double m_lowKey = 48.0;
    double m_highKey = 84.0;
    double m_songSeconds = 0.0;
    bool m_playing = false;
    QElapsedTimer m_sincePoll;
    QTimer m_frameTimer;
};

}  // namespace lyrics
