#include "SplitCommand.h"

#include <cstdio>

#include "MidiSplit.h"

namespace cvktool {

namespace {

constexpr const char* kSplitUsage =
    "usage: cvktool split IN OUT\n"
    "  rewrites the song IN into OUT with each track holding one MIDI channel;\n"
    "  OUT is overwritten\n";

}  // namespace

int runSplitCommand(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kSplitUsage, stdout);
        return 0;
    }
    if (args.size() != 2) {
        std::fputs(kSplitUsage, stderr);
        return 2;
    }
    const songfile::SplitResult result = songfile::SplitMidiFile(args[0], args[1]);
    if (!result.message.empty()) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        return 1;
    }
    std::printf("added tracks: %d\n", result.addedTracks);
    return 0;
}

int runSplit(std::span<const std::string_view> args) {
    return runSplitCommand(std::vector<std::string>(args.begin(), args.end()));
}

}  // namespace cvktool
