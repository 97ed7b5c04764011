#pragma once

// Running the split on built bytes and reading back what it wrote.

#include <fstream>
#include <iterator>
#include <string>

#include "MidiSplit.h"
#include "SmfBuilder.h"
#include "TempDir.h"

namespace split_support {

using testing_support::ByteVector;

struct SplitRun {
    songfile::SplitResult result;
    ByteVector output;
    std::string sourcePath;
};

// The target exists beforehand, as the program's temporary file does.
inline SplitRun splitBytes(const testing_support::TempDir& dir, const ByteVector& input) {
    SplitRun run;
    run.sourcePath = dir.write("song.mid", input);
    const std::string target = dir.write("split.mid", {});
    run.result = songfile::SplitMidiFile(run.sourcePath, target);
    run.output = testing_support::fileBytes(target);
    return run;
}

}  // namespace split_support
