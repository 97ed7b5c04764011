#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// `cvktool library`: the song library the window uses, from the terminal.
namespace cvktool {

extern const char* const kLibraryUsage;

// `text` (UTF-8) as a JSON string, quotes included.
std::string jsonText(std::string_view text);

// Returns the exit status: 0 done, 1 the library failed (with a message), 2 usage error.
int runLibraryCommand(const std::vector<std::string>& args);
int runLibrary(std::span<const std::string_view> args);

}  // namespace cvktool
