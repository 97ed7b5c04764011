// What `cvktool record` and `cvktool playwave` cost while they wait on the sound server:
// the CPU time (user and system, every thread) of a whole run from launch to exit, in
// percent of one core, and how many poll() calls a second the process makes, counted in a
// second run of the same command under `strace -f -c` (which slows the calls it counts,
// so its runs give no CPU figure).
//
// The commands: a 10 s take with the monitor on, the same with a 300 ms echo, one without
// the monitor, and the playback of a 10 s take the benchmark writes (a tone, 22,050 Hz
// mono, 16-bit). Each run is a fresh process; the commands take turns.
//
//   source scripts/pulse-server.sh && pulse_start
//   voice_tool_cpu [--runs N] [--seconds S] [--cvktool PATH]

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "ChildProcess.h"
#include "Table.h"
#include "TestServer.h"
#include "WaveBuilder.h"
#include "platform/system.h"

namespace {

const char* const kUsage = "usage: voice_tool_cpu [--runs N] [--seconds S] [--cvktool PATH]\n";
constexpr std::uint32_t kTakeRate = 22050;
// A run that lasts this much longer than its take has hung.
constexpr auto kOverrun = std::chrono::seconds(30);

struct Command {
    std::string label;
    std::vector<std::string> arguments;  // after `cvktool`
    players::Cell cpu;
    players::Cell wall;
    players::Cell polls;
};

struct Outcome {
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

std::string lastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last.empty() ? "no output" : "last output: " + last;
}

// Runs `argv` to its end; nothing, with the reason, when it fails or hangs.
std::optional<Outcome> runToEnd(const std::vector<std::string>& argv, const std::string& scratch,
                                std::chrono::seconds patience, std::string& failure) {
    const std::string log = scratch + "/run.log";
    std::remove(log.c_str());
    players::ChildProcess child;
    // A configuration folder of the benchmark's own: none of the user's settings takes part.
    const auto started = std::chrono::steady_clock::now();
    if (!child.start(argv, {{"XDG_CONFIG_HOME", scratch}}, log)) {
        failure = "cannot start " + argv[0];
        return std::nullopt;
    }
    while (child.running() && std::chrono::steady_clock::now() - started < patience) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (child.running()) {
        child.stop();
        failure = "still running after " + std::to_string(patience.count()) + " s (" +
                  lastLine(log) + ")";
        return std::nullopt;
    }
    const int status = child.exitStatus();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failure = "failed (" + lastLine(log) + ")";
        return std::nullopt;
    }
    return Outcome{wall, child.cpuSecondsAtExit()};
}

// poll() and ppoll() calls in the summary `strace -c` wrote: the fourth column of their
// rows (`% time seconds usecs/call calls [errors] syscall`).
std::optional<double> pollCalls(const std::string& summaryPath) {
    std::ifstream in(summaryPath);
    std::string line;
    std::optional<double> calls;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> field;
        for (std::string f; fields >> f;) {
            field.push_back(f);
        }
        if (field.size() >= 5 && (field.back() == "poll" || field.back() == "ppoll")) {
            calls = calls.value_or(0) + std::atof(field[3].c_str());
        } else if (field.size() >= 5 && field.back() == "total") {
            calls = calls.value_or(0);  // the summary is there, with no poll() in it
        }
    }
    return calls;
}

bool haveStrace() {
    return std::system("strace -V >/dev/null 2>&1") == 0;
}

void measure(const std::string& cvktool, const std::string& scratch, int seconds, bool strace,
             Command& command, int round) {
    std::vector<std::string> argv{cvktool};
    argv.insert(argv.end(), command.arguments.begin(), command.arguments.end());
    const auto patience = std::chrono::seconds(seconds) + kOverrun;
    std::string failure;
    ++command.cpu.runs;
    ++command.wall.runs;
    if (const std::optional<Outcome> run = runToEnd(argv, scratch, patience, failure)) {
        command.cpu.values.push_back(100.0 * run->cpuSeconds / run->wallSeconds);
        command.wall.values.push_back(run->wallSeconds);
        std::fprintf(stderr, "%s, run %d: %.2f s CPU in %.2f s\n", command.label.c_str(), round,
                     run->cpuSeconds, run->wallSeconds);
    } else {
        command.cpu.failure = command.wall.failure = failure;
        std::fprintf(stderr, "%s, run %d: %s\n", command.label.c_str(), round, failure.c_str());
    }
    if (!strace) {
        return;
    }
    ++command.polls.runs;
    const std::string summary = scratch + "/strace.txt";
    std::remove(summary.c_str());
    std::vector<std::string> traced{"strace", "-f", "-c", "-e", "trace=poll,ppoll", "-o", summary};
    traced.insert(traced.end(), argv.begin(), argv.end());
    failure.clear();
    const std::optional<Outcome> run = runToEnd(traced, scratch, patience, failure);
    const std::optional<double> calls = run ? pollCalls(summary) : std::nullopt;
    if (!calls) {
        command.polls.failure = run ? "no strace summary" : failure;
        std::fprintf(stderr, "%s under strace, run %d: %s\n", command.label.c_str(), round,
                     command.polls.failure.c_str());
        return;
    }
    command.polls.values.push_back(*calls / run->wallSeconds);
    std::fprintf(stderr, "%s under strace, run %d: %.0f poll() calls in %.2f s\n",
                 command.label.c_str(), round, *calls, run->wallSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    int seconds = 10;
    std::string cvktool = platform::programFolder() + "cvktool";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (arg == "--cvktool" && i + 1 < argc) {
            cvktool = argv[++i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (runs <= 0 || seconds <= 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!testing_support::benchServerGiven("voice_tool_cpu")) {
        return 77;
    }
    if (::access(cvktool.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "voice_tool_cpu: %s is not there\n", cvktool.c_str());
        return 1;
    }
    const bench::Scratch scratch("Built-in Synthesizer");
    std::vector<std::int16_t> tone(static_cast<std::size_t>(seconds) * kTakeRate);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<std::int16_t>(
            8000.0 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / kTakeRate));
    }
    const std::string take = scratch.write(
        "take.wav", testing_support::waveFile(testing_support::pcmFormat(kTakeRate, 1, 16),
                                              testing_support::samples16(tone)));
    const std::string out = scratch.dir + "/out.wav";
    const std::string length = std::to_string(seconds);
    std::vector<Command> commands{
        {"record, monitor", {"record", out, "--seconds", length}, {}, {}, {}},
        {"record, monitor, echo 300 ms",
         {"record", out, "--seconds", length, "--echo", "300"},
         {},
         {},
         {}},
        {"record --no-monitor", {"record", out, "--seconds", length, "--no-monitor"}, {}, {}, {}},
        {"playwave, " + length + " s take", {"playwave", take}, {}, {}, {}},
    };
    const bool strace = haveStrace();
    std::printf("%s\n%s\nload average at the start: %s (%ld cores)\n", cvktool.c_str(),
                strace ? "poll() calls counted under strace -f -c"
                       : "strace is not installed: no poll() count",
                players::loadAverage().c_str(), ::sysconf(_SC_NPROCESSORS_ONLN));
    std::fflush(stdout);
    for (int round = 1; round <= runs; ++round) {
        for (Command& command : commands) {
            measure(cvktool, scratch.dir, seconds, strace, command, round);
            std::remove(out.c_str());
        }
    }
    const std::string of = ": median [min..max] of " + std::to_string(runs) + " runs";
    players::Table cpu(
        "CPU of cvktool's voice commands, " + length + " s each, launch to exit" + of,
        {"CPU, % of one core", "wall, s"});
    players::Table polls("poll() calls a second, under strace" + of, {"poll() calls a second"});
    for (const Command& command : commands) {
        cpu.addRow(command.label, 2, {command.cpu, command.wall});
        polls.addRow(command.label, 0, {command.polls});
    }
    cpu.print();
    if (strace) {
        polls.print();
    }
    std::printf("\nload average at the end: %s\n", players::loadAverage().c_str());
    return 0;
}
