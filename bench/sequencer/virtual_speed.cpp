// How fast the virtual clock simulates songs: every song of a small corpus (the bundled
// songs, the sequencer's fuzz seeds and songs made here from sparse to dense), played to
// its end on the virtual clock into the capture device, with the timer jumping from one
// due event to the next and, for comparison, counting every millisecond. Then a song
// whose only note comes sixteen days after its start.
//
//   virtual_speed [ROUNDS]     (default 5; medians over the rounds)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "BenchSupport.h"
#include "engine.h"
#include "platform/mm_timer.h"

using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;

// `notesPerSecond` notes a second on `channels` channels for `seconds` at 120 bpm.
ByteVector madeSong(int channels, int notesPerSecond, int seconds) {
    constexpr int kDivision = 480;
    const int gap = kDivision * 2 / notesPerSecond;  // ticks between notes
    std::vector<Track> tracks;
    for (int c = 0; c < channels; ++c) {
        Track track;
        track.program(0, c, c * 8);
        for (int n = 0; n < notesPerSecond * seconds; ++n) {
            track.noteOn(n == 0 ? 0 : gap / 2, c, 48 + (n + c) % 24, 90)
                .noteOff(gap - gap / 2, c, 48 + (n + c) % 24);
        }
        tracks.push_back(track.end());
    }
    return smf(1, kDivision, tracks);
}

double g_songSeconds = 0;  // of the last simulate()

// Plays `file` to its end on the virtual clock; the wall time it took, in ms.
double simulate(const std::string& file, platform::WindowHandle window, const std::string& ini) {
    const auto begin = Clock::now();

    if (!bench::startSong(file, window, ini, 0)) {
        return -1;
    }
    while (!pulsant::engine().songEnded.load()) {
        std::this_thread::yield();
    }
    const pulsant::Engine& e = pulsant::engine();
    g_songSeconds = e.ticksPerSecond.load() != 0
                        ? static_cast<double>(e.songLength) / e.ticksPerSecond.load()
                        : 0.0;
    CallStopSong(window);
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const char* source = std::getenv("CVK_SOURCE_DIR");
    const std::filesystem::path sourceDir = source != nullptr ? source : CVK_SOURCE_DIR_DEFAULT;
    bench::Scratch scratch("Capture");
    ::setenv("CVK_MIDI_CAPTURE", (scratch.dir + "/capture.csv").c_str(), 1);
    platform::setClockMode(platform::ClockMode::Virtual);
    platform::MessageQueue window;

    std::vector<std::string> corpus;
    for (const char* folder : {"examples", "fuzz/sequencer/corpus"}) {
        for (const auto& entry : std::filesystem::directory_iterator(sourceDir / folder)) {
            const std::string extension = entry.path().extension().string();
            if (extension == ".mid" || extension == ".kar") {
                corpus.push_back(entry.path().string());
            }
        }
    }
    corpus.push_back(scratch.write("sparse.mid", madeSong(1, 1, 180)));
    corpus.push_back(scratch.write("medium.mid", madeSong(6, 4, 180)));
    corpus.push_back(scratch.write("dense.mid", madeSong(16, 16, 180)));

    for (const bool skips : {true, false}) {
        platform::setTimerSkipsAllowed(skips);
        std::vector<double> totals;
        double songSeconds = 0;
        for (int round = 0; round < rounds; ++round) {
            double total = 0;
            songSeconds = 0;
            for (const std::string& song : corpus) {
                total += simulate(song, window.handle(), scratch.ini);
                songSeconds += g_songSeconds;
            }
            totals.push_back(total);
        }
        const double median = bench::percentile(totals, 0.5);
        std::printf(
            "%s: %zu songs (%.0f s of music) in %.1f ms (median of %d) = %.1f songs, "
            "%.0f s of music a second\n",
            skips ? "jumping to the next event" : "counting every millisecond", corpus.size(),
            songSeconds, median, rounds, 1000.0 * static_cast<double>(corpus.size()) / median,
            1000.0 * songSeconds / median);
    }

    platform::setTimerSkipsAllowed(true);
    constexpr std::uint32_t kTicks = 16u * 86'400u * 192u;  // division 96 at 120 bpm
    Track late;
    late.noteOn(kTicks, 0, 64, 100).noteOff(96, 0, 64).end();
    const std::string sixteenDays = scratch.write("sixteen-days.mid", smf(0, 96, {late}));
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        times.push_back(simulate(sixteenDays, window.handle(), scratch.ini));
    }
    std::printf("a note sixteen days into the song: %.2f ms to the end (median of %d)\n",
                bench::percentile(times, 0.5), rounds);
    return 0;
}
