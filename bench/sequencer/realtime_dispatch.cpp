// Lateness of every message sent by the sequencer on the real clock against its exact
// time, over a song of SECONDS (default 60): p50, p99 and max.
//
//   realtime_dispatch [SECONDS]

#include <cmath>
#include <cstdio>
#include <thread>

#include "BenchSupport.h"
#include "platform/mm_timer.h"

using namespace testing_support;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    platform::setClockMode(platform::ClockMode::Real);
    bench::Scratch scratch("Capture");
    const std::string capture = scratch.dir + "/capture.csv";
    setenv("CVK_MIDI_CAPTURE", capture.c_str(), 1);
    platform::MessageQueue window;

    // Division 480 at 100 bpm (800 ticks a second): sixteenths and odd offsets, so that
    // event times fall anywhere within a millisecond.
    constexpr int kDivision = 480;
    constexpr int kTempo = 100;
    const double microsPerTick = 60e6 / (kTempo * kDivision);
    Track track;
    std::vector<std::uint64_t> ticks;
    std::uint64_t at = 0;
    std::uint32_t seed = 7;
    const auto total = static_cast<std::uint64_t>(seconds * 1e6 / microsPerTick);
    track.noteOn(0, 0, 60, 90);
    ticks.push_back(0);
    while (true) {
        seed = seed * 1103515245u + 12345u;
        const std::uint64_t step = 37 + (seed >> 8) % 200;
        if (at + step > total) {
            break;
        }
        at += step;
        track.noteOn(static_cast<std::uint32_t>(step), 0, 60 + static_cast<int>(at % 12), 90);
        ticks.push_back(at);
    }
    track.end();
    const std::string song = scratch.write("song.mid", smf(0, kDivision, {track}));
    if (!bench::startSong(song, window.handle(), scratch.ini, kTempo)) {
        std::fprintf(stderr, "could not start the song\n");
        return 1;
    }
    int minutes = 0;
    int secs = 0;
    while (CallGetTime(window.handle(), &minutes, &secs) == 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    CallStopSong(window.handle());

    std::vector<double> ons;
    for (const auto& s : bench::readCapture(capture)) {
        if ((s.status & 0xF0) == 0x90) {
            ons.push_back(s.micros);
        }
    }
    if (ons.size() != ticks.size()) {
        std::fprintf(stderr, "expected %zu notes, captured %zu\n", ticks.size(), ons.size());
        return 1;
    }
    std::vector<double> lateness;
    for (std::size_t i = 0; i < ons.size(); ++i) {
        lateness.push_back((ons[i] - ons[0]) / 1000.0 - static_cast<double>(ticks[i]) * microsPerTick / 1000.0);
    }
    std::printf("messages: %zu over %d s\n", ons.size(), seconds);
    std::printf("lateness ms: p50 %.3f  p99 %.3f  max %.3f  min %.3f\n", bench::percentile(lateness, 0.5),
                bench::percentile(lateness, 0.99), bench::percentile(lateness, 1.0),
                bench::percentile(lateness, 0.0));
    return 0;
}
