#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cvktool {

// `cvktool split IN OUT`: the arguments after the command name. Rewrites IN into OUT with
// one channel per track, as the player does with every song it opens. Prints
// "added tracks: N" and returns 0; prints the failure text to stderr and returns 1; returns
// 2 on a usage error.
int runSplitCommand(const std::vector<std::string>& args);

// The same, in the shape of cvktool's command table.
int runSplit(std::span<const std::string_view> args);

}  // namespace cvktool
