#include "PitchStrip.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace lyrics {

namespace {

// The window's loop polls every 50 ms; the glide covers up to two polls late.
constexpr double kLongestGlide = 0.1;
constexpr int kFrameMs = 16;  // about the screen's frame rate
// The singer's frames kept: the strip shows one second behind the now line.
constexpr double kSungKept = 2.0;

const QColor kBackground(16, 16, 40);
const QColor kBar(90, 160, 255);
const QColor kNowLine(255, 255, 255);
const QColor kTrail(255, 200, 40);

}  // namespace

std::pair<double, double> StripRange(const std::vector<pitch::MelodyNote>& melody) {
    if (melody.empty()) {
        return {48.0, 84.0};
    }
    double low = melody.front().pitch;
    double high = low;
    for (const pitch::MelodyNote& note : melody) {
        low = std::min(low, note.pitch);
        high = std::max(high, note.pitch);
    }
    low -= 2.0;
    high += 2.0;
    if (high - low < 18.0) {
        const double middle = (low + high) / 2.0;
        low = middle - 9.0;
        high = middle + 9.0;
    }
    return {low, high};
}

double NearestOctave(double sung, double note) { return sung - 12.0 * std::round((sung - note) / 12.0); }

TPitchStrip::TPitchStrip(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_frameTimer.setInterval(kFrameMs);
    connect(&m_frameTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_sincePoll.start();
}

void TPitchStrip::setMelody(std::vector<pitch::MelodyNote> melody) {
    m_melody = std::move(melody);
    std::tie(m_lowKey, m_highKey) = StripRange(m_melody);
    update();
}

void TPitchStrip::setSongSeconds(double seconds) {
    m_sincePoll.restart();
    if (seconds == m_songSeconds) {
        return;
    }
    m_songSeconds = seconds;
    emit songSecondsChanged(seconds);
    update();
}

void TPitchStrip::setPlaying(bool on) {
    if (on == m_playing) {
        return;
    }
    m_playing = on;
    m_sincePoll.restart();
    if (on) {
        m_frameTimer.start();
    } else {
        m_frameTimer.stop();
    }
    emit playingChanged(on);
    update();
}

void TPitchStrip::addSung(const std::vector<pitch::PitchFrame>& frames) {
    m_sung.insert(m_sung.end(), frames.begin(), frames.end());
    if (!m_sung.empty()) {
        const double oldest = m_sung.back().seconds - kSungKept;
        const auto keep = std::find_if(m_sung.begin(), m_sung.end(),
                                       [&](const pitch::PitchFrame& f) { return f.seconds >= oldest; });
        m_sung.erase(m_sung.begin(), keep);
    }
    update();
}

void TPitchStrip::addHeard(const std::vector<pitch::PitchFrame>& frames, double heardSeconds) {
    if (frames.empty()) {
        return;
    }
    const double now = shownSeconds();
    std::vector<pitch::PitchFrame> placed = frames;
    for (pitch::PitchFrame& frame : placed) {
        frame.seconds = now - (heardSeconds - frame.seconds);
    }
    // A song moved back (a rewind) leaves the trail ahead of the new position; it goes.
    // Less than that is the two clocks' jitter (the song polled every 50 ms, the voice
    // heard in pieces): the trail stays in order instead.
    if (!m_sung.empty() && m_sung.back().seconds - placed.front().seconds > kLongestGlide) {
        m_sung.clear();
    }
    double earliest = m_sung.empty() ? placed.front().seconds : m_sung.back().seconds;
    for (pitch::PitchFrame& frame : placed) {
        frame.seconds = std::max(frame.seconds, earliest);
        earliest = frame.seconds;
    }
    addSung(placed);
}

void TPitchStrip::clearSung() {
    m_sung.clear();
    update();
}

double TPitchStrip::shownSeconds() const {
    if (!m_playing) {
        return m_songSeconds;
    }
    return m_songSeconds + std::min(kLongestGlide, static_cast<double>(m_sincePoll.elapsed()) / 1000.0);
}

StripScale TPitchStrip::scale() const {
    return {shownSeconds(), width(), height(), m_lowKey, m_highKey};
}

void TPitchStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const StripScale s = scale();
    const double first = s.nowSeconds - StripScale::kBehindSeconds;
    const double last = s.nowSeconds + StripScale::kAheadSeconds;
    const double bar = std::max(3.0, s.rowHeight());
    for (const pitch::MelodyNote& note : m_melody) {
        if (note.end < first || note.start > last) {
            continue;
        }
        painter.fillRect(QRectF(s.x(note.start), s.y(note.pitch) - bar / 2.0, s.x(note.end) - s.x(note.start), bar),
                         kBar);
    }
    painter.setPen(QPen(kNowLine, 2));
    painter.drawLine(QPointF(s.nowX(), 0), QPointF(s.nowX(), height()));

    // The trail: each sung frame against the note sounding then (or the last one).
    painter.setPen(Qt::NoPen);
    painter.setBrush(kTrail);
    auto note = m_melody.begin();
    for (const pitch::PitchFrame& frame : m_sung) {
        if (frame.pitch <= 0.0f || frame.seconds < first || frame.seconds > s.nowSeconds) {
            continue;
        }
        while (note != m_melody.end() && note + 1 != m_melody.end() && (note + 1)->start <= frame.seconds) {
            ++note;
        }
        const double key = note != m_melody.end() ? NearestOctave(frame.pitch, note->pitch) : frame.pitch;
        painter.drawEllipse(QPointF(s.x(frame.seconds), s.y(key)), 2.5, 2.5);
    }
}

}  // namespace lyrics
