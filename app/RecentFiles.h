#pragma once

// The five most recently loaded songs, newest first; an empty entry is no file.

#include <array>
#include <string>

namespace cvkapp {

using RecentList = std::array<std::string, 5>;

// Puts `path` in front. An entry naming the same file (letters compared without regard
// to case) moves up instead of appearing twice; otherwise the oldest entry falls off.
void pushRecentFile(RecentList& entries, const std::string& path);

// The File menu's caption of entry `index`: "&1 /songs/my.kar".
std::string recentCaption(int index, const std::string& path);
// The path back from a caption: the caption without its first three characters.
std::string recentPath(const std::string& caption);

}  // namespace cvkapp
