#include "LibraryCommand.h"

#include <unistd.h>

#include <cstdio>
#include <variant>

#include "CommandArguments.h"
#include "library/Library.h"

namespace cvktool {

const char* const kLibraryUsage =
    "usage: cvktool library add DIR...\n"
    "       cvktool library search WORDS... [--json]\n"
    "       cvktool library list [--json]\n"
    "       cvktool library forget PATH\n"
    "  The song library the player's Song Library window shows.\n"
    "  add      adds folders and reads the songs under them; files that are not songs\n"
    "           are listed as skipped. Folders already added are brought up to date.\n"
    "  search   songs with every word (or a word starting with it) in the file name,\n"
    "           title, artist or lyrics, best match first.\n"
    "  list     every song, by title.\n"
    "  forget   leaves a song, or an added folder with its songs, out of the library.\n"
    "  --json   a list of objects: path, title, artist, seconds, lyrics (true/false),\n"
    "           folder.\n"
    "  The library is $CVK_LIBRARY_DATABASE when set, else\n"
    "  $XDG_DATA_HOME/cantivo/library.sqlite (~/.local/share when unset).\n";

namespace {

int usage(const std::string& message) {
    std::fprintf(stderr, "cvktool library: %s\n%s", message.c_str(), kLibraryUsage);
    return 2;
}

int failed(const library::Library& songs) {
    std::fprintf(stderr, "cvktool library: %s\n", songs.lastError().c_str());
    return 1;
}

std::string length(int seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
    return text;
}

void printSongs(const std::vector<library::Song>& songs, bool json) {
    std::string out;
    if (json) {
        out = "[";
        for (const library::Song& song : songs) {
            out += out.size() == 1 ? "" : ",\n ";
            out += "{\"path\": " + jsonText(song.path) + ", \"title\": " + jsonText(song.title) +
                   ", \"artist\": " + jsonText(song.artist) + ", \"seconds\": " + std::to_string(song.seconds) +
                   ", \"lyrics\": " + (song.hasLyrics ? "true" : "false") + ", \"folder\": " + jsonText(song.folder) +
                   "}";
        }
        out += "]\n";
    } else {
        for (const library::Song& song : songs) {
            out += song.title + "\t" + song.artist + "\t" + length(song.seconds) + "\t" +
                   (song.hasLyrics ? "lyrics" : "-") + "\t" + song.path + "\n";
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// Progress as one line rewritten in place, on a terminal only.
library::ProgressCallback terminalProgress() {
    if (::isatty(STDERR_FILENO) == 0) {
        return {};
    }
    return [](const library::IndexProgress& progress) {
        std::fprintf(stderr, "\rreading songs: %zu of %zu", progress.done, progress.total);
        std::fflush(stderr);
    };
}

int add(library::Library& songs, const std::vector<std::string>& folders) {
    library::IndexReport report;
    const library::ProgressCallback progress = terminalProgress();
    const bool done = songs.addFolders(folders, report, progress);
    if (progress) {
        std::fputs("\n", stderr);
    }
    if (!done) {
        return failed(songs);
    }
    for (const library::SkippedFile& file : report.skipped) {
        std::printf("skipped %s: %s\n", file.path.c_str(), file.reason.c_str());
    }
    for (const std::string& folder : report.unreadableFolders) {
        std::printf("unreadable folder %s: its songs are kept\n", folder.c_str());
    }
    std::printf("%zu added, %zu read again, %zu unchanged, %zu removed, %zu skipped\n", report.added, report.updated,
                report.unchanged, report.removed, report.skipped.size());
    return 0;
}

}  // namespace

std::string jsonText(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int runLibraryCommand(const std::vector<std::string>& args) {
    const auto split = splitArguments(args, {{"json", false}});
    if (const auto* error = std::get_if<UsageError>(&split)) {
        return usage(error->message);
    }
    const Arguments& arguments = std::get<Arguments>(split);
    if (arguments.help) {
        std::fputs(kLibraryUsage, stdout);
        return 0;
    }
    if (arguments.files.empty()) {
        return usage("no subcommand");
    }
    const std::string& action = arguments.files[0];
    const std::vector<std::string> rest(arguments.files.begin() + 1, arguments.files.end());
    const bool json = arguments.flag("json");
    if (action == "add" && (rest.empty() || json)) {
        return usage(json ? "add takes no --json" : "add needs at least one folder");
    }
    if (action == "search" && rest.empty()) {
        return usage("search needs words to look for");
    }
    if (action == "list" && !rest.empty()) {
        return usage("list takes no arguments");
    }
    if (action == "forget" && (rest.size() != 1 || json)) {
        return usage("forget takes one path");
    }
    if (action != "add" && action != "search" && action != "list" && action != "forget") {
        return usage("unknown subcommand '" + action + "'");
    }

    library::Library songs;
    if (!songs.notice().empty()) {
        std::fprintf(stderr, "cvktool library: %s\n", songs.notice().c_str());
    }
    if (!songs.isOpen()) {
        return failed(songs);
    }
    if (action == "add") {
        return add(songs, rest);
    }
    if (action == "forget") {
        return songs.forget(rest[0]) ? 0 : failed(songs);
    }
    std::vector<library::Song> found;
    if (action == "list") {
        found = songs.list();
    } else {
        std::string words;
        for (const std::string& word : rest) {
            words += (words.empty() ? "" : " ") + word;
        }
        found = songs.search(words);
    }
    if (!songs.lastError().empty()) {
        return failed(songs);
    }
    printSongs(found, json);
    return 0;
}

int runLibrary(std::span<const std::string_view> args) {
    return runLibraryCommand(std::vector<std::string>(args.begin(), args.end()));
}

}  // namespace cvktool
