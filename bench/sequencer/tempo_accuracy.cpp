// Nominal against measured duration of a 64-quarter song on the virtual clock, for a
// table of divisions and tempi; beside it, what the classic truncated tick step would
// have played.

#include <cmath>
#include <cstdio>

#include "BenchSupport.h"
#include "platform/mm_timer.h"

using namespace testing_support;

int main() {
    platform::setClockMode(platform::ClockMode::Manual);
    bench::Scratch scratch("Capture");
    const std::string capture = scratch.dir + "/capture.csv";
    setenv("CVK_MIDI_CAPTURE", capture.c_str(), 1);
    platform::MessageQueue window;

    std::printf("%8s %6s %12s %12s %10s %14s\n", "division", "tempo", "nominal ms", "measured ms",
                "error ms", "classic err ms");
    double worst = 0;
    for (int division : {24, 96, 192, 480, 960, 1920}) {
        for (int tempo : {40, 120, 240}) {
            Track track;
            track.noteOn(0, 0, 60, 100);
            for (int q = 1; q <= 64; ++q) {
                track.noteOn(static_cast<std::uint32_t>(division), 0, 60, 100);
            }
            track.end();
            const std::string song = scratch.write("song.mid", smf(0, division, {track}));
            bench::startSong(song, window.handle(), scratch.ini, tempo);
            int minutes = 0;
            int seconds = 0;
            while (CallGetTime(window.handle(), &minutes, &seconds) == 1) {
                platform::advanceManualClock(1);
            }
            CallStopSong(window.handle());
            const auto sent = bench::readCapture(capture);
            std::vector<double> ons;
            for (const auto& s : sent) {
                if ((s.status & 0xF0) == 0x90) {
                    ons.push_back(s.micros);
                }
            }
            const double nominal = 64.0 * 60000.0 / tempo;
            const double measured = (ons.back() - ons.front()) / 1000.0;
            // The classic clock: 16000 / ticks-per-second truncated, waits truncated to
            // whole periods.
            const double ticksPerSecond = division * tempo / 60.0;
            const auto step = static_cast<unsigned>(16000.0 / ticksPerSecond);
            const double classic = 64.0 * std::max(1u, (static_cast<unsigned>(division) * step) >> 4);
            worst = std::max(worst, std::abs(measured - nominal));
            std::printf("%8d %6d %12.1f %12.1f %10.3f %14.1f\n", division, tempo, nominal, measured,
                        measured - nominal, classic - nominal);
        }
    }
    std::printf("worst error: %.3f ms\n", worst);
    return 0;
}
