#pragma once

// The five most recently loaded songs, newest first; an empty entry is no file.

#include <array>
#include <string>

namespace cvkapp {

using RecentList = std::array<std::string, 5>;

// Puts `path` in front. An entry with the same path moves up instead of appearing twice;
// otherwise the oldest entry falls off. Paths are compared exactly: file names that
// differ only in letter case are different files here.
void pushRecentFile(RecentList& entries, const std::string& path);

// The File menu's caption of entry `index`: "&1 /songs/my.kar". An "&" in the path is
// doubled, so the menu shows it instead of taking it for a shortcut mark.
std::string recentCaption(int index, const std::string& path);
// The path back from a caption: the caption without its first three characters, with
// doubled "&" made single again.
std::string recentPath(const std::string& caption);

}  // namespace cvkapp
