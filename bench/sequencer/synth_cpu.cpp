// CPU used while the sequencer plays a dense song through the built-in synthesizer in
// real time (needs a sound server). Prints process CPU time over wall time.
//
//   synth_cpu [SECONDS]     (default 20)

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "BenchSupport.h"
#include "platform/mm_timer.h"
#include "synth/synthesizer.h"

using namespace testing_support;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    synth::install();
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    platform::setClockMode(platform::ClockMode::Real);
    bench::Scratch scratch("Built-in Synthesizer");
    platform::MessageQueue window;

    // Ten channels of sixteenths with chords, drums on channel 10: about 80 notes a second.
    constexpr int kDivision = 96;
    std::vector<Track> tracks;
    const int sixteenths = seconds * 8;
    for (int channel = 0; channel < 10; ++channel) {
        Track track;
        const int ch = channel == 9 ? 9 : channel;
        track.program(0, ch, channel * 8).noteOn(0, ch, 48 + channel * 3, 80);
        for (int i = 1; i < sixteenths; ++i) {
            track.noteOff(24, ch, 48 + channel * 3 + (i - 1) % 5).noteOn(0, ch, 48 + channel * 3 + i % 5, 80);
        }
        track.noteOff(24, ch, 48 + channel * 3 + (sixteenths - 1) % 5).end();
        tracks.push_back(track);
    }
    const std::string song = scratch.write("dense.mid", smf(1, kDivision, tracks));
    // Load the SoundFont once before measuring.
    if (CallInitMIDIOut(window.handle(), scratch.ini.c_str()) != 1) {
        std::fprintf(stderr, "the built-in synthesizer could not be opened\n");
        return 77;
    }
    if (!bench::startSong(song, window.handle(), scratch.ini, 120)) {
        std::fprintf(stderr, "could not start the song\n");
        return 1;
    }
    const double cpuStart = cpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    int minutes = 0;
    int secs = 0;
    while (CallGetTime(window.handle(), &minutes, &secs) == 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const double cpu = cpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    CallStopSong(window.handle());
    std::printf("played %.1f s: cpu %.2f s = %.1f %% of one core\n", wall, cpu, 100.0 * cpu / wall);
    return 0;
}
