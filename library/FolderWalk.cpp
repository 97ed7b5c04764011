#include "FolderWalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

namespace library {
namespace {

bool cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }

std::string lowerExtension(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return {};
    }
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return extension;
}

}  // namespace

bool isSongFileName(const std::string& name) {
    const std::string extension = lowerExtension(name);
    return extension == "mid" || extension == "midi" || extension == "kar" || extension == "rmi" ||
           extension == "pfc";
}

std::string absoluteFolder(const std::string& root) {
    std::error_code ignored;
    std::filesystem::path path = std::filesystem::absolute(root, ignored).lexically_normal();
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

FolderContents walkFolder(const std::string& root, const std::atomic<bool>* cancel,
                          const std::function<void(std::size_t)>& found) {
    FolderContents contents;
    std::set<std::pair<dev_t, ino_t>> visited;
    std::vector<std::string> pending{absoluteFolder(root)};
    while (!pending.empty()) {
        if (cancelled(cancel)) {
            contents.cancelled = true;
            break;
        }
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        struct stat folderStat {};
        if (::stat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode)) {
            contents.unreadableFolders.push_back(folder);
            continue;
        }
        if (!visited.insert({folderStat.st_dev, folderStat.st_ino}).second) {
            continue;
        }
        DIR* directory = ::opendir(folder.c_str());
        if (directory == nullptr) {
            contents.unreadableFolders.push_back(folder);
            continue;
        }
        contents.folders.push_back(folder);
        const std::string prefix = folder == "/" ? folder : folder + "/";
        while (const dirent* entry = ::readdir(directory)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = prefix + name;
            struct stat info {};
            if (::stat(path.c_str(), &info) != 0) {
                continue;  // a dangling link, or gone since the folder was read
            }
            if (S_ISDIR(info.st_mode)) {
                pending.push_back(path);
            } else if (S_ISREG(info.st_mode) && isSongFileName(name)) {
                contents.files.push_back({path, static_cast<std::uint64_t>(info.st_size),
                                          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                                              info.st_mtim.tv_nsec});
                if (found && contents.files.size() % 256 == 0) {
                    found(contents.files.size());
                }
            }
        }
        ::closedir(directory);
    }
    std::sort(contents.files.begin(), contents.files.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.path < b.path; });
    return contents;
}

}  // namespace library
