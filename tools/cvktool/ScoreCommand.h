#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// `cvktool score SONG|PFC [VOICE.wav] [--json] [--trail CSV]`: a take scored against the
// song's melody as the window scores it, for scripts and for trying the scoring on
// recordings without the window.
namespace cvktool {

extern const char* const kScoreUsage;

// The arguments after "score"; the exit status (0 done, 1 a file fault, named on stderr,
// 2 usage error).
int runScoreCommand(const std::vector<std::string>& args);

// The same, in the shape of cvktool's command table.
int runScore(std::span<const std::string_view> args);

}  // namespace cvktool
