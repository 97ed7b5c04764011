#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// `cvktool pfc info|extract|make`: performance files from the command line. `info` shows
// where the song part ends, where the player looks for the voice and what the voice is;
// `extract` takes the voice out as a wave file; `make` writes a performance from a song
// and a wave file exactly as the player saves one.
namespace cvktool {

extern const char* const kPfcUsage;

// The arguments after "pfc"; the exit status (0 done, 1 a file fault, named on stderr,
// 2 usage error).
int runPfcCommand(const std::vector<std::string>& args);

// The same, in the shape of cvktool's command table.
int runPfc(std::span<const std::string_view> args);

}  // namespace cvktool
