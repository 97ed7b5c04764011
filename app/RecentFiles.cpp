#include "RecentFiles.h"

#include <algorithm>

namespace cvkapp {

void pushRecentFile(RecentList& entries, const std::string& path) {
    if (path.empty()) {
        return;
    }
    auto match = std::find(entries.begin(), entries.end(), path);
    if (match == entries.end()) {
        match = entries.end() - 1;  // the oldest falls off
    }
    std::move_backward(entries.begin(), match, match + 1);
    entries[0] = path;
}

std::string recentCaption(int index, const std::string& path) {
    std::string caption = "&" + std::to_string(index + 1) + " ";
    for (const char c : path) {
        caption += c;
        if (c == '&') {
            caption += '&';
        }
    }
    return caption;
}

std::string recentPath(const std::string& caption) {
    std::string path;
    for (std::size_t i = 3; i < caption.size(); ++i) {
        path += caption[i];
        if (caption[i] == '&' && i + 1 < caption.size() && caption[i + 1] == '&') {
            ++i;
        }
    }
    return path;
}

}  // namespace cvkapp
