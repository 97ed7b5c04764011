// The synthesizer beside a voice while a song changes programs: the synthesizer's longest
// render (write) callback, and how often a voice at the echo monitor's 20 ms latency,
// which shares the sound server connection's thread with it, runs dry.
//
// A run plays, from a real 1 ms platform timer as the sequencer sends a song, a note on
// the first channel every 500 ms for 5 s through the built-in synthesizer (MIDI device 0),
// each after a program change to an instrument not played before: 10 changes in 5 s.
// For comparison, `steady` runs play the same notes on one instrument, selected before
// the timer starts. Each run is a process of its own with the SoundFont given
// (CVK_SOUNDFONT), since instruments once loaded stay loaded for the process; the longest
// callback is the one the synthesizer reports at the session's end under CVK_DEBUG.
// Runs of the rows take turns, so a busy moment of the machine does not fall on one row.
//
//   source scripts/pulse-server.sh && pulse_start
//   synth_programs [--runs N] [--sf2 FILE] [--sf3 FILE]

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ChildProcess.h"
#include "Table.h"
#include "TestServer.h"
#include "VoiceBeside.h"
#include "platform/midi_out.h"
#include "platform/mm_timer.h"
#include "synth/synthesizer.h"

namespace {

constexpr std::uint32_t kIntervalMs = 500;
constexpr std::uint32_t kNoteMs = 400;
constexpr std::uint32_t kNotes = 10;
constexpr std::uint32_t kKey = 60;
// Ten instruments far apart in the General MIDI set, none of them the default piano, so
// each change selects samples the synthesizer has not loaded yet.
constexpr std::uint8_t kPrograms[kNotes] = {19, 24, 40, 56, 65, 73, 11, 33, 48, 81};
constexpr std::uint8_t kSteadyProgram = 48;
// The voice plays this long before the first note and after the last one.
constexpr auto kVoiceLead = std::chrono::milliseconds(500);
constexpr auto kVoiceTail = std::chrono::milliseconds(300);
// Loading a large SoundFont on a busy machine takes seconds; a run that takes this long
// has hung.
constexpr auto kRunPatience = std::chrono::seconds(90);

const char* const kUsage = "usage: synth_programs [--runs N] [--sf2 FILE] [--sf3 FILE]\n";

// ---- one run, in a process of its own --------------------------------------------------

struct Sender {
    platform::MidiOutHandle handle = 0;
    bool changes = true;
    std::uint32_t tick = 0;  // timer thread only
    std::atomic<bool> done{false};
};

void onTick(std::uint32_t, void* user) {
    auto* sender = static_cast<Sender*>(user);
    const std::uint32_t tick = sender->tick++;
    if (tick >= kNotes * kIntervalMs) {
        sender->done.store(true, std::memory_order_release);
        return;
    }
    const std::uint32_t note = tick / kIntervalMs;
    const std::uint32_t phase = tick % kIntervalMs;
    if (phase == 0) {
        if (sender->changes) {
            platform::midiOutShortMessage(sender->handle,
                                          0xC0 | (std::uint32_t{kPrograms[note]} << 8));
        }
        platform::midiOutShortMessage(sender->handle, 0x90 | (kKey << 8) | (100u << 16));
    } else if (phase == kNoteMs) {
        platform::midiOutShortMessage(sender->handle, 0x80 | (kKey << 8));
    }
}

// Prints the voice's underruns; the synthesizer prints its longest callback (CVK_DEBUG)
// when it is closed.
int runOnce(bool changes) {
    Sender sender;
    sender.changes = changes;
    const platform::MidiError opened = platform::midiOutOpen(&sender.handle, 0);
    if (opened != platform::MidiError::Ok) {
        std::printf("synth_programs: %s\n", platform::midiOutErrorText(opened).c_str());
        return 1;
    }
    if (!changes) {
        // From this thread, not the timer's: the instrument is ready before the notes.
        platform::midiOutShortMessage(sender.handle, 0xC0 | (std::uint32_t{kSteadyProgram} << 8));
    }
    bench::VoiceBeside voice(false);
    std::this_thread::sleep_for(kVoiceLead);
    const std::uint32_t timer = platform::timerStart(1, onTick, &sender);
    if (timer == 0) {
        std::printf("synth_programs: no timer\n");
        platform::midiOutClose(sender.handle);
        return 1;
    }
    while (!sender.done.load(std::memory_order_acquire)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    platform::timerKill(timer);
    std::this_thread::sleep_for(kVoiceTail);
    voice.stop();
    std::fflush(stderr);
    if (!voice.played()) {
        std::printf("synth_programs: the voice could not play\n");
        platform::midiOutClose(sender.handle);
        return 1;
    }
    std::printf("voice underruns %llu\n", static_cast<unsigned long long>(voice.underruns()));
    std::fflush(stdout);
    platform::midiOutClose(sender.handle);
    return 0;
}

// ---- the runs, side by side ---------------------------------------------------------------

struct Row {
    std::string label;
    std::string font;
    bool changes;
    players::Cell longest;
    players::Cell underruns;
};

// What a run's log says after `key`, as a number.
std::optional<double> numberAfter(const std::string& log, const std::string& key) {
    const std::size_t at = log.rfind(key);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const char* start = log.c_str() + at + key.size();
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    return end == start ? std::nullopt : std::optional<double>(value);
}

std::string lastLine(const std::string& log) {
    std::size_t end = log.find_last_not_of('\n');
    if (end == std::string::npos) {
        return "no output";
    }
    const std::size_t start = log.rfind('\n', end);
    return log.substr(start == std::string::npos ? 0 : start + 1,
                      end - (start == std::string::npos ? 0 : start + 1) + 1);
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One run of `row` as a child process; records its figures, or why it failed.
void runChild(const std::string& self, const std::string& folder, Row& row, int round) {
    const std::string logPath = folder + "/run.log";
    std::remove(logPath.c_str());
    players::ChildProcess child;
    ++row.longest.runs;
    ++row.underruns.runs;
    std::string failure;
    if (!child.start({self, "--one", row.changes ? "changes" : "steady"},
                     {{"CVK_DEBUG", "1"}, {"CVK_SOUNDFONT", row.font}}, logPath)) {
        failure = "cannot start " + self;
    } else {
        const auto giveUp = std::chrono::steady_clock::now() + kRunPatience;
        while (child.running() && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (child.running()) {
            failure = "did not end within 90 s";
        }
        child.stop();
    }
    const std::string log = readAll(logPath);
    const std::optional<double> longest = numberAfter(log, "longest block ");
    const std::optional<double> underruns = numberAfter(log, "voice underruns ");
    // A SoundFont that cannot be read is passed over for another: that run measured
    // the wrong font.
    if (failure.empty() && log.find("synth: SoundFont " + row.font + "\n") == std::string::npos) {
        failure = "the synthesizer did not play " + row.font + " (" + lastLine(log) + ")";
    } else if (failure.empty() && (!longest || !underruns)) {
        failure = "no figures in the run's output (" + lastLine(log) + ")";
    }
    if (!failure.empty()) {
        row.longest.failure = row.underruns.failure = failure;
        std::fprintf(stderr, "%s, run %d: %s\n", row.label.c_str(), round, failure.c_str());
        return;
    }
    row.longest.values.push_back(*longest);
    row.underruns.values.push_back(*underruns);
    std::fprintf(stderr, "%s, run %d: longest callback %.1f ms, %.0f underruns\n",
                 row.label.c_str(), round, *longest, *underruns);
}

std::string firstReadable(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (::access(path.c_str(), R_OK) == 0) {
            return path;
        }
    }
    return {};
}

std::string selfPath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
    // A linker that leaves out unreferenced libraries would leave out the synthesizer.
    synth::install();
    if (argc == 3 && std::string(argv[1]) == "--one") {
        return runOnce(std::string(argv[2]) == "changes");
    }
    int runs = 5;
    // fluid-soundfont-gm; musescore-general-soundfont-small (or its larger sibling) for a
    // compressed one. default-GM.sf3 is left out: Debian points it at an .sf2 file when no
    // .sf3 font is installed.
    std::string sf2 = firstReadable({"/usr/share/sounds/sf2/FluidR3_GM.sf2"});
    std::string sf3 = firstReadable({"/usr/share/sounds/sf3/MuseScore_General_Lite.sf3",
                                     "/usr/share/sounds/sf3/MuseScore_General.sf3"});
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--sf2" && i + 1 < argc) {
            sf2 = argv[++i];
        } else if (arg == "--sf3" && i + 1 < argc) {
            sf3 = argv[++i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (runs <= 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!testing_support::benchServerGiven("synth_programs")) {
        return 77;
    }
    std::vector<Row> rows;
    for (const auto& [kind, font, package] :
         {std::tuple{"sf2", sf2, "fluid-soundfont-gm"},
          std::tuple{"sf3", sf3, "musescore-general-soundfont-small"}}) {
        if (font.empty()) {
            std::printf("%s: skipped, no %s SoundFont found (Debian package %s)\n", kind, kind,
                        package);
            continue;
        }
        std::printf("%s: %s\n", kind, font.c_str());
        rows.push_back({std::string(kind) + ", 10 program changes", font, true, {}, {}});
        rows.push_back({std::string(kind) + ", no change", font, false, {}, {}});
    }
    if (rows.empty()) {
        return 1;
    }
    std::printf("load average at the start: %s (%ld cores)\n", players::loadAverage().c_str(),
                ::sysconf(_SC_NPROCESSORS_ONLN));
    std::fflush(stdout);
    char pattern[] = "/tmp/cvkbench-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    if (folder == nullptr) {
        return 1;
    }
    const std::string self = selfPath();
    for (int round = 1; round <= runs; ++round) {
        for (Row& row : rows) {
            runChild(self, folder, row, round);
        }
    }
    std::remove((std::string(folder) + "/run.log").c_str());
    ::rmdir(folder);

    players::Table longest(
        "The synthesizer's longest render callback and the voice's underruns: median "
        "[min..max] of " +
            std::to_string(runs) + " runs",
        {"longest callback, ms", "voice underruns"});
    for (const Row& row : rows) {
        longest.addRow(row.label, 1, {row.longest, row.underruns});
    }
    longest.print();
    std::printf("(underruns of a voice at %u ms latency over %.1f s; a note every %u ms)\n",
                audio::kWaveOutMonitorLatencyMs,
                (std::chrono::duration<double>(kVoiceLead + kVoiceTail).count() +
                 kNotes * kIntervalMs / 1000.0),
                kIntervalMs);
    std::printf("\nload average at the end: %s\n", players::loadAverage().c_str());
    return 0;
}
