#pragma once

// The song files under a folder. Symbolic links are followed, to files and to folders,
// but a folder already visited (the same device and inode, reached again through a link
// or a loop) is not entered twice, so no link loop makes the walk endless.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace library {

struct FoundFile {
    std::string path;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;  // modification time, nanoseconds since the epoch
};

struct FolderContents {
    std::vector<FoundFile> files;  // song files only (see isSongFileName), sorted by path
    // Folders that could not be read (vanished during the walk, no permission): what the
    // library knows under them stays as it is.
    std::vector<std::string> unreadableFolders;
    std::vector<std::string> folders;  // every folder read, the root first
    bool cancelled = false;
};

// .mid, .midi, .kar, .rmi and .pfc in any letter case.
bool isSongFileName(const std::string& name);

// `root` without a trailing slash, made absolute against the current folder; "." and ".."
// parts are resolved, links are not.
std::string absoluteFolder(const std::string& root);

// Walks `root`. `found` is told the number of song files found so far, now and then.
FolderContents walkFolder(const std::string& root, const std::atomic<bool>* cancel,
                          const std::function<void(std::size_t)>& found = {});

}  // namespace library
