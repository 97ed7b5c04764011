#include "RecentFiles.h"

#include <algorithm>
#include <cctype>

namespace cvkapp {

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::toupper(x) == std::toupper(y);
    });
}

}  // namespace

void pushRecentFile(RecentList& entries, const std::string& path) {
    if (path.empty()) {
        return;
    }
    auto match = std::find_if(entries.begin(), entries.end(), [&](const std::string& entry) {
        return sameIgnoringCase(entry, path);
    });
    if (match == entries.end()) {
        match = entries.end() - 1;  // the oldest falls off
    }
    std::move_backward(entries.begin(), match, match + 1);
    entries[0] = path;
}

std::string recentCaption(int index, const std::string& path) {
    return "&" + std::to_string(index + 1) + " " + path;
}

std::string recentPath(const std::string& caption) {
    return caption.size() > 3 ? caption.substr(3) : std::string();
}

}  // namespace cvkapp
