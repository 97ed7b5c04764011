// Arbitrary bytes as a song file: the split must not crash, read past a chunk or allocate
// beyond the file, and whatever it accepts must come out stable - splitting its own output
// again adds no track and writes the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../FuzzFiles.h"
#include "MidiSplit.h"


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzzing::scratchFile("input.mid");
    const std::string split = fuzzing::scratchFile("split.mid");
    const std::string again = fuzzing::scratchFile("again.mid");
    fuzzing::storeBytes(input, data, size);

    const songfile::SplitResult first = songfile::SplitMidiFile(input, split);
    if (!first.message.empty()) {
        if (first.addedTracks != 0) {
            std::abort();
        }
        return 0;
    }
    if (first.addedTracks < 0) {
        std::abort();
    }
    const songfile::SplitResult second = songfile::SplitMidiFile(split, again);
    if (!second.message.empty() || second.addedTracks != 0 || fuzzing::loadBytes(split) != fuzzing::loadBytes(again)) {
        std::fprintf(stderr, "second split: '%s', %d added\n", second.message.c_str(), second.addedTracks);
        std::abort();
    }
    return 0;
}
