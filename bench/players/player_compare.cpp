// `cvktool play` side by side with timidity and the fluidsynth command, each started as a
// child process playing a song it generates, heard on a null sink of its own:
//
//   start   time from starting the player to its first sound at the sink
//   cpu     the player's CPU over a stretch in the middle of the song, % of one core
//   click   claves every 53 ms for 10 s: the spread of onset - nominal time
//   dropouts  the dense song for 20 s beside busy loops: runs of exact silence over 5 ms
//           between its first sound and its last, and the time to the first sound
//
//   source scripts/pulse-server.sh && pulse_start
//   player_compare [start,cpu,click,dropouts] [--runs N] [--songs dense,medium,sparse]
//                  [--players cvktool,timidity,fluidsynth] [--cvktool PATH] [--cpu-seconds S]
//                  [--busy N]
//
// Players that are not installed are skipped with a note. Runs of the players alternate,
// so a busy moment of the machine does not fall on one player alone.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Measures.h"
#include "Songs.h"
#include "Table.h"
#include "TestServer.h"
#include "platform/system.h"

using namespace players;

namespace {

constexpr int kClickIntervalMs = 53;
constexpr int kClickNoteMs = 30;
constexpr int kClickSeconds = 10;
// The CPU window begins this long after the start, past loading and the first notes.
constexpr int kCpuLeadSeconds = 5;
// The dense song never rests, so any run of exact silence this long inside it is a
// dropout: a player or the server that ran dry. A period of the sound server is 10 ms or
// more, so a dropout is never shorter.
constexpr int kDropoutSeconds = 20;
constexpr double kShortestDropoutMs = 5.0;

struct Options {
    std::vector<std::string> measures{"start", "cpu", "click"};
    std::vector<std::string> songs{"dense", "medium", "sparse"};
    std::vector<std::string> players{"cvktool", "timidity", "fluidsynth"};
    std::string cvktool = platform::programFolder() + "cvktool";
    int runs = 3;
    int cpuSeconds = 20;
    int busyLoops = 2;  // beside the players during the dropouts measure
};

const char* const kUsage =
    "usage: player_compare [start,cpu,click,dropouts] [--runs N] [--songs dense,medium,sparse]\n"
    "                      [--players cvktool,timidity,fluidsynth] [--cvktool PATH] [--cpu-seconds S]\n"
    "                      [--busy N]\n";

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (!item.empty()) {
            items.push_back(item);
        }
    }
    return items;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--runs" && hasValue) {
            options.runs = std::atoi(argv[++i]);
        } else if (arg == "--songs" && hasValue) {
            options.songs = splitList(argv[++i]);
        } else if (arg == "--players" && hasValue) {
            options.players = splitList(argv[++i]);
        } else if (arg == "--cvktool" && hasValue) {
            options.cvktool = argv[++i];
        } else if (arg == "--cpu-seconds" && hasValue) {
            options.cpuSeconds = std::atoi(argv[++i]);
        } else if (arg == "--busy" && hasValue) {
            options.busyLoops = std::atoi(argv[++i]);
        } else if (arg.rfind("--", 0) != 0) {
            options.measures = splitList(arg);
        } else {
            return false;
        }
    }
    return options.runs > 0 && options.cpuSeconds > 0 && options.busyLoops >= 0;
}

bool wanted(const std::vector<std::string>& list, const std::string& name) {
    for (const std::string& item : list) {
        if (item == name) {
            return true;
        }
    }
    return false;
}

// One run of a measure by the player of that index: a value, or nothing with the reason.
using Run = std::function<std::optional<double>(std::size_t, std::string&)>;

// Runs every player `runs` times, the players taking turns, and logs each run to stderr.
std::vector<Cell> runPlayers(const std::vector<Player>& players, int runs, const std::string& what, const Run& run) {
    std::vector<Cell> cells(players.size());
    for (int round = 0; round < runs; ++round) {
        for (std::size_t p = 0; p < players.size(); ++p) {
            std::string failure;
            const std::optional<double> value = run(p, failure);
            ++cells[p].runs;
            if (value) {
                cells[p].values.push_back(*value);
                std::fprintf(stderr, "%s, %s, run %d: %.2f\n", what.c_str(), players[p].name.c_str(), round + 1, *value);
            } else {
                cells[p].failure = failure;
                std::fprintf(stderr, "%s, %s, run %d: %s\n", what.c_str(), players[p].name.c_str(), round + 1,
                             failure.c_str());
            }
        }
    }
    return cells;
}

using SongPaths = std::vector<std::pair<std::string, std::string>>;  // name, path

Table startTable(const std::vector<Player>& active, const std::vector<std::string>& columns, const SongPaths& songs,
                 const RunSetup& setup, int runs) {
    Table table("Start to first sound at the sink, ms: median [min..max] of " + std::to_string(runs) + " runs",
                columns);
    for (const auto& [name, path] : songs) {
        table.addRow(name, 1, runPlayers(active, runs, "start " + name, [&](std::size_t p, std::string& failure) {
                         return startToSound(active[p], path, setup, failure);
                     }));
    }
    return table;
}

Table cpuTable(const std::vector<Player>& active, const std::vector<std::string>& columns, const SongPaths& songs,
               const RunSetup& setup, const Options& options) {
    Table table("CPU of the player over " + std::to_string(options.cpuSeconds) + " s from " +
                    std::to_string(kCpuLeadSeconds) + " s in, % of one core: median [min..max] of " +
                    std::to_string(options.runs) + " runs",
                columns);
    for (const auto& [name, path] : songs) {
        table.addRow(name, 1, runPlayers(active, options.runs, "cpu " + name, [&](std::size_t p, std::string& failure) {
                         return cpuWhilePlaying(active[p], path, setup, kCpuLeadSeconds, options.cpuSeconds, failure);
                     }));
    }
    return table;
}

Table clickTable(const std::vector<Player>& active, const std::vector<std::string>& columns,
                 const bench::Scratch& scratch, const RunSetup& setup, int runs) {
    const std::string path =
        scratch.write("claves.mid", clavesSong(kClickSeconds, kClickIntervalMs, kClickNoteMs).bytes);
    const auto notes = static_cast<std::size_t>(clavesCount(kClickSeconds, kClickIntervalMs));
    // A run gives three figures: the count of matched onsets goes through runPlayers, the
    // spreads are kept aside.
    std::vector<std::vector<Spread>> spreads(active.size());
    const std::vector<Cell> matched = runPlayers(active, runs, "click", [&](std::size_t p, std::string& failure) {
        const std::optional<Spread> spread =
            clickSpread(active[p], path, setup, kClickIntervalMs, notes, kClickSeconds, failure);
        if (!spread) {
            return std::optional<double>();
        }
        spreads[p].push_back(*spread);
        std::fprintf(stderr, "  spread %.2f ms, p95 %.2f ms\n", spread->spreadMs, spread->p95Ms);
        return std::optional<double>(static_cast<double>(spread->matched));
    });
    std::vector<Cell> spreadCells = matched, p95Cells = matched;
    for (std::size_t p = 0; p < active.size(); ++p) {
        spreadCells[p].values.clear();
        p95Cells[p].values.clear();
        for (const Spread& spread : spreads[p]) {
            spreadCells[p].values.push_back(spread.spreadMs);
            p95Cells[p].values.push_back(spread.p95Ms);
        }
    }
    Table table("Claves every " + std::to_string(kClickIntervalMs) + " ms for " + std::to_string(kClickSeconds) +
                    " s (" + std::to_string(notes) + " notes), onset - nominal time, first note's latency removed, "
                    "ms: median [min..max] of " + std::to_string(runs) + " runs",
                columns);
    table.addRow("spread (max - min)", 2, spreadCells);
    table.addRow("p95 |offset - median|", 2, p95Cells);
    table.addRow("onsets matched to notes", 0, matched);
    return table;
}

Table dropoutTable(const std::vector<Player>& active, const std::vector<std::string>& columns,
                   const bench::Scratch& scratch, const RunSetup& setup, const Options& options) {
    // Long enough that every player is still playing when it is stopped.
    const std::string path = scratch.write("dense-dropouts.mid", denseSong(kDropoutSeconds + 15).bytes);
    std::vector<std::vector<Dropouts>> found(active.size());
    const std::vector<Cell> silences = runPlayers(active, options.runs, "dropouts", [&](std::size_t p,
                                                                                          std::string& failure) {
        const std::optional<Dropouts> run = dropoutsUnderLoad(active[p], path, setup, kDropoutSeconds,
                                                              options.busyLoops, kShortestDropoutMs, failure);
        if (!run) {
            return std::optional<double>();
        }
        found[p].push_back(*run);
        std::fprintf(stderr, "  first sound after %.1f ms; silences (at ms: length):", run->startMs);
        for (const auto& [at, length] : run->spans) {
            std::fprintf(stderr, " %.0f: %.1f", at, length);
        }
        std::fprintf(stderr, "\n");
        return std::optional<double>(run->silences);
    });
    std::vector<Cell> later = silences, silentMs = silences, longestMs = silences, startMs = silences;
    for (std::size_t p = 0; p < active.size(); ++p) {
        later[p].values.clear();
        silentMs[p].values.clear();
        longestMs[p].values.clear();
        startMs[p].values.clear();
        for (const Dropouts& run : found[p]) {
            later[p].values.push_back(run.laterSilences);
            silentMs[p].values.push_back(run.silentMs);
            longestMs[p].values.push_back(run.longestMs);
            startMs[p].values.push_back(run.startMs);
        }
    }
    Table table("The dense song for " + std::to_string(kDropoutSeconds) + " s from its first sound, " +
                    std::to_string(options.busyLoops) + " busy loops beside: median [min..max] of " +
                    std::to_string(options.runs) + " runs",
                columns);
    table.addRow("silences > 5 ms in the music", 0, silences);
    // Apart: a stutter while a player settles in differs from dropouts later on.
    table.addRow("  of them after the first 1 s", 0, later);
    table.addRow("silent in all, ms", 1, silentMs);
    table.addRow("longest silence, ms", 1, longestMs);
    table.addRow("start to first sound, ms", 1, startMs);
    return table;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!testing_support::benchServerGiven("player_compare")) {
        return 77;
    }
    cvktest::PrivateSink sink;
    std::string error;
    if (!sink.create(error)) {
        std::fprintf(stderr, "player_compare: %s\n", error.c_str());
        return 1;
    }
    bench::Scratch scratch("Built-in Synthesizer");
    const RunSetup setup{sink.monitor(), scratch.dir};

    std::vector<Player> active;
    std::vector<std::string> columns;
    for (Player& player : findPlayers(options.players, options.cvktool, scratch.dir, scratch.ini)) {
        if (!player.missing.empty()) {
            std::printf("%s: skipped, %s\n", player.name.c_str(), player.missing.c_str());
            continue;
        }
        std::printf("%s: %s\n", player.name.c_str(), player.detail.c_str());
        columns.push_back(player.name);
        active.push_back(std::move(player));
    }
    if (active.empty()) {
        std::fprintf(stderr, "player_compare: no player to run\n");
        return 1;
    }
    std::printf("load average at the start: %s (%ld cores)\n", loadAverage().c_str(), ::sysconf(_SC_NPROCESSORS_ONLN));

    const int songSeconds = kCpuLeadSeconds + options.cpuSeconds + 10;
    SongPaths songs;
    for (const Song& song : songsByName(options.songs, songSeconds)) {
        songs.emplace_back(song.name, scratch.write(song.name + ".mid", song.bytes));
    }
    if (wanted(options.measures, "start")) {
        startTable(active, columns, songs, setup, options.runs).print();
    }
    if (wanted(options.measures, "cpu")) {
        cpuTable(active, columns, songs, setup, options).print();
    }
    if (wanted(options.measures, "click")) {
        clickTable(active, columns, scratch, setup, options.runs).print();
    }
    if (wanted(options.measures, "dropouts")) {
        dropoutTable(active, columns, scratch, setup, options).print();
    }
    std::printf("\nload average at the end: %s\n", loadAverage().c_str());
    return 0;
}
