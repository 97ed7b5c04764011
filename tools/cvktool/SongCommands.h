#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "PlayOptions.h"

// `cvktool lyrics`, `tracks` and `write`: the song scan and the song writer from the
// command line, for scripts and for looking into a song without the window.
namespace cvktool {

struct LyricsOptions {
    std::string file;
    std::optional<std::string> mode;  // nothing: from the file's extension
    bool json = false;
    bool asShown = false;  // the lyrics the window shows, with the rule that found them
};

struct TracksOptions {
    std::string file;
    bool json = false;
};

struct WriteOptions {
    std::string source;
    std::string target;
    std::optional<unsigned> tempo;  // nothing: the song's own
    int key = 0;
    std::array<std::int16_t, kTrackSlots> volumes{};
    std::array<std::int16_t, kTrackSlots> instruments;

    WriteOptions() { instruments.fill(static_cast<std::int16_t>(kKeepProgram)); }
};

template <typename Options>
using SongCommandLine = std::variant<Options, UsageError, HelpRequested>;

// Parse the arguments after the command name. Options may come before or after the
// files, as "--name VALUE" or "--name=VALUE"; "--" ends the options.
SongCommandLine<LyricsOptions> parseLyricsOptions(const std::vector<std::string>& args);
SongCommandLine<TracksOptions> parseTracksOptions(const std::vector<std::string>& args);
SongCommandLine<WriteOptions> parseWriteOptions(const std::vector<std::string>& args);

extern const char* const kLyricsUsage;
extern const char* const kTracksUsage;
extern const char* const kWriteUsage;

// The lyric rule song loading picks for a file: its extension with the dot, upper-cased,
// cut to four characters (".midi" gives ".MID"); empty when the name has no extension.
std::string songMode(const std::string& path);

// `bytes` as a JSON string, quotes included: each byte becomes the code point of the same
// number (U+0000..U+00FF), so any 8-bit text survives and decodes back byte for byte.
std::string jsonBytes(std::string_view bytes);

// `bytes` for a terminal line: control bytes and the backslash escaped as \xNN and \\,
// everything else as it is.
std::string printableBytes(std::string_view bytes);

// The commands; each returns the exit status (0 done, 1 failed, 2 usage error).
int runLyricsCommand(const std::vector<std::string>& args);
int runTracksCommand(const std::vector<std::string>& args);
int runWriteCommand(const std::vector<std::string>& args);

// The same, in the shape of cvktool's command table.
int runLyrics(std::span<const std::string_view> args);
int runTracks(std::span<const std::string_view> args);
int runWrite(std::span<const std::string_view> args);

}  // namespace cvktool
