// From a sung note to its trail on screen, the whole path the window takes: a thread in
// the place of the sound server writes the microphone's audio into the capture tap in
// 10 ms pieces at the pace it is heard (16-bit mono at 22,050 Hz, as the window records
// and monitors); the live voice is read and analysed on the GUI thread at the strip's
// frame rate, placed on the strip, and the strip painted (offscreen). Measured: from the
// piece holding a note's first sample reaching the tap to the first paint of the strip
// that draws a point of that note. Notes of 300 ms with 200 ms of silence between, each
// a different pitch from the last. Median and worst over the notes.
//
//   trail_latency [--notes N] [--poll-ms MS]
//
// --poll-ms 50 reads the voice at the window's 50 ms loop instead of the frame rate, for
// comparison.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "LiveVoice.h"
#include "PitchStrip.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 22050;
constexpr int kPieceFrames = kRate / 100;  // 10 ms, as the sound server hands captures over
constexpr double kNoteSeconds = 0.3;
constexpr double kGapSeconds = 0.2;
constexpr int kKeys[] = {57, 64, 60, 67, 62, 69, 59, 65};

double hertz(int key) { return 440.0 * std::pow(2.0, (key - 69) / 12.0); }

// A paint of the strip: does it draw a point of the note awaited?
class PaintWatch : public QObject {
public:
    PaintWatch(lyrics::TPitchStrip& strip, std::vector<Clock::time_point>& onsets, std::mutex& lock,
               std::vector<double>& latencies, int notes)
        : m_strip(strip), m_onsets(onsets), m_lock(lock), m_latencies(latencies), m_notes(notes) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Paint || m_next >= m_notes) {
            return false;
        }
        const int key = kKeys[m_next % std::size(kKeys)];
        const double now = m_strip.shownSeconds();
        for (const pitch::PitchFrame& frame : m_strip.sung()) {
            if (frame.pitch > 0.0f && std::abs(frame.pitch - key) < 0.5f && frame.seconds <= now &&
                frame.seconds >= now - lyrics::StripScale::kBehindSeconds) {
                const std::lock_guard<std::mutex> guard(m_lock);
                if (static_cast<int>(m_onsets.size()) > m_next) {
                    m_latencies.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - m_onsets[static_cast<std::size_t>(m_next)])
                            .count());
                    ++m_next;
                }
                break;
            }
        }
        return false;
    }

private:
    lyrics::TPitchStrip& m_strip;
    std::vector<Clock::time_point>& m_onsets;
    std::mutex& m_lock;
    std::vector<double>& m_latencies;
    int m_notes;
    int m_next = 0;
};

}  // namespace

int main(int argc, char** argv) {
    int notes = 40;
    int pollMs = 16;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--notes") == 0) {
            notes = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--poll-ms") == 0) {
            pollMs = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    lyrics::TPitchStrip strip;
    strip.resize(800, 96);
    strip.show();
    pitch::LiveVoice live;
    audio::WaveFormat format;
    format.samplesPerSec = kRate;
    format.avgBytesPerSec = kRate * 2;
    live.tap().restart(format);

    std::mutex lock;
    std::vector<Clock::time_point> onsets;  // when each note's first piece reached the tap
    std::vector<double> latencies;
    PaintWatch watch(strip, onsets, lock, latencies, notes);
    strip.installEventFilter(&watch);

    // The song's clock, polled every 50 ms as the window's loop does.
    QElapsedTimer song;
    song.start();
    strip.setPlaying(true);
    QTimer loop;
    loop.setInterval(50);
    QObject::connect(&loop, &QTimer::timeout, [&] { strip.setSongSeconds(static_cast<double>(song.elapsed()) / 1000.0); });
    loop.start();
    // The live voice read as the window reads it.
    QTimer reader;
    reader.setInterval(pollMs);
    QObject::connect(&reader, &QTimer::timeout, [&] {
        const pitch::LiveVoice::Heard heard = live.poll();
        strip.addHeard(heard.frames, heard.seconds);
    });
    reader.start();

    const double noteEvery = kNoteSeconds + kGapSeconds;
    const auto totalFrames = static_cast<std::size_t>((notes * noteEvery + 0.5) * kRate);
    std::atomic<bool> done{false};
    std::thread server([&] {
        std::vector<std::uint8_t> piece(kPieceFrames * 2);
        const Clock::time_point start = Clock::now();
        double phase = 0.0;
        for (std::size_t first = 0, n = 0; first < totalFrames; first += kPieceFrames, ++n) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(10'000 * (n + 1)));
            bool onset = false;
            for (int i = 0; i < kPieceFrames; ++i) {
                const double t = static_cast<double>(first + static_cast<std::size_t>(i)) / kRate;
                const auto note = static_cast<int>(t / noteEvery);
                const double into = t - note * noteEvery;
                double value = 0.0;
                if (note < notes && into < kNoteSeconds) {
                    onset = onset || into < 1.0 / kRate;
                    phase += hertz(kKeys[note % std::size(kKeys)]) / kRate;
                    phase -= std::floor(phase);
                    value = 0.3 * std::sin(2.0 * M_PI * phase);
                }
                const auto sample = static_cast<std::int16_t>(value * 32767.0);
                piece[2 * static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(sample & 0xFF);
                piece[2 * static_cast<std::size_t>(i) + 1] = static_cast<std::uint8_t>((sample >> 8) & 0xFF);
            }
            if (onset) {
                const std::lock_guard<std::mutex> guard(lock);
                onsets.push_back(Clock::now());
            }
            live.tap().write(piece.data(), piece.size());
            live.tap().flush();
        }
        done.store(true);
    });
    QTimer finish;
    finish.setInterval(100);
    QObject::connect(&finish, &QTimer::timeout, [&] {
        if (done.load()) {
            QTimer::singleShot(300, &app, &QApplication::quit);
        }
    });
    finish.start();
    app.exec();
    server.join();

    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) {
        std::printf("no note reached the trail\n");
        return 1;
    }
    std::printf("note to trail on screen (tap, analysis every %d ms, strip, paint): median %.1f ms, "
                "best %.1f ms, worst %.1f ms (%zu of %d notes)\n",
                pollMs, latencies[latencies.size() / 2], latencies.front(), latencies.back(), latencies.size(), notes);
    return 0;
}
