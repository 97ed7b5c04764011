// cvktool: the karaoke player's libraries from the command line.

#include <cstdio>
#include <span>
#include <string_view>
#include <vector>

#include "LibraryCommand.h"
#include "MixerCommand.h"
#include "PfcCommands.h"
#include "PlayCommand.h"
#include "RenderCommand.h"
#include "ScoreCommand.h"
#include "SongCommands.h"
#include "SplitCommand.h"
#include "VoiceCommands.h"
#include "synth/synthesizer.h"

namespace {

struct Command {
    std::string_view name;
    int (*run)(std::span<const std::string_view> args);
    std::string_view summary;
};

// A new subcommand is one more row here.
constexpr Command kCommands[] = {
    {"play", cvktool::runPlay, "play FILE [options]   play a song; --help for the options"},
    {"split", cvktool::runSplit, "split IN OUT          rewrite a song with one channel per track"},
    {"lyrics", cvktool::runLyrics, "lyrics FILE [--mode .KAR|.MID] [--as-shown] [--json]   the song's lyric items"},
    {"tracks", cvktool::runTracks, "tracks FILE [--json]  the song's per-track information"},
    {"write", cvktool::runWrite,
     "write SRC DST [--tempo BPM] [--key N] [--volumes V0,...] [--instruments P0,...]"},
    {"mixer", cvktool::runMixer,
     "mixer [list | get NAME | set NAME VALUE | select-source K | pass-through]   the sound server's mixer"},
    {"record", cvktool::runRecord,
     "record OUT.wav [--seconds N] [--buffer BYTES] [--no-monitor] [--echo MS] [--device K]"},
    {"playwave", cvktool::runPlayWave, "playwave FILE [--offset UNITS] [--echo MS]   play a take"},
    {"mix", cvktool::runMix, "mix A.wav B.wav OUT.wav   mix two takes"},
    {"render", cvktool::runRender,
     "render SONG|PFC OUT.wav|.flac|.ogg [options]   the song (and voice) to an audio file; --help"},
    {"pfc", cvktool::runPfc,
     "pfc info FILE [--json] | extract FILE OUT.wav | make SONG VOICE.wav OUT.pfc [--tempo BPM] [--key N]"},
    {"library", cvktool::runLibrary,
     "library add DIR... | search WORDS... [--json] | list [--json] | forget PATH   the song library"},
    {"score", cvktool::runScore, "score SONG|PFC [VOICE.wav] [--json] [--trail CSV]   a take against the melody"},
};

void printUsage(std::FILE* out) {
    std::fputs("usage: cvktool COMMAND [ARGS...]\n\ncommands:\n", out);
    for (const Command& command : kCommands) {
        std::fprintf(out, "  %.*s\n", static_cast<int>(command.summary.size()),
                     command.summary.data());
    }
}

}  // namespace

int main(int argc, char** argv) {
    synth::install();
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return 0;
    }
    const std::vector<std::string_view> args(argv + 2, argv + argc);
    for (const Command& command : kCommands) {
        if (command.name == name) {
            return command.run(args);
        }
    }
    std::fprintf(stderr, "cvktool: unknown command '%.*s'\n", static_cast<int>(name.size()),
                 name.data());
    printUsage(stderr);
    return 2;
}
