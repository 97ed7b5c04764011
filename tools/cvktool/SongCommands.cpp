#include "SongCommands.h"

#include <cstdio>
#include <exception>
#include <initializer_list>
#include <limits>
#include <utility>

#include "CommandArguments.h"
#include "InstrumentNames.h"
#include "LyricFallback.h"
#include "LyricScan.h"
#include "MidiSplit.h"
#include "SongWriter.h"
#include "platform/files.h"

namespace cvktool {

const char* const kLyricsUsage =
    "usage: cvktool lyrics FILE [--mode .KAR|.MID] [--as-shown] [--json]\n"
    "  Splits FILE as the player does and prints its tempo, the offset after its last\n"
    "  track chunk and its lyric items (start tick, end tick, text). The mode defaults\n"
    "  to FILE's extension; any mode other than .KAR or .MID finds no lyrics.\n"
    "  --as-shown prints the lyrics the window shows instead, after a line 'rule NAME':\n"
    "  the scans song loading runs for the mode (.KAR, .MID and .PFC try both rules;\n"
    "  the other rule's words are taken as if the user answered Yes), then, when both\n"
    "  found nothing, the further rules. NAME is karaoke (text events of the third\n"
    "  track), song (lyric events), text-track (text events of the track with the most\n"
    "  that look sung), lyric-events (lyric events at tick 0) or none.\n";

const char* const kTracksUsage =
    "usage: cvktool tracks FILE [--json]\n"
    "  Splits FILE as the player does and prints the information of its 64 tracks:\n"
    "  name, copyright, text, first program with its instrument's name, channel, and\n"
    "  whether more programs follow.\n";

const char* const kWriteUsage =
    "usage: cvktool write SRC DST [--tempo BPM] [--key SEMITONES]\n"
    "                     [--volumes V0,...,V63] [--instruments P0,...,P63]\n"
    "  Writes SRC (a split song) over the start of DST with the settings burnt in;\n"
    "  bytes of DST behind the song are kept, a missing DST is created. Defaults: the\n"
    "  song's own tempo, key 0, velocity offsets 0, instruments 255 (the song's own).\n";

namespace {

constexpr unsigned kMaxWriteTempo = 60'000'000;  // one microsecond per quarter note

// One to 64 comma-separated entries for the first tracks; later tracks keep their default.
std::optional<std::string> parseTable(std::string_view text, std::string_view what, long long low, long long high,
                                      bool (*allowed)(long long), std::array<std::int16_t, kTrackSlots>& out) {
    std::size_t count = 0;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        if (count == kTrackSlots) {
            return "at most 64 " + std::string(what) + " may be given";
        }
        const std::optional<long long> value = parseNumber(item, low, high);
        if (!value || !allowed(*value)) {
            return "bad " + std::string(what) + " entry '" + std::string(item) + "'";
        }
        out[count++] = static_cast<std::int16_t>(*value);
        if (comma == std::string_view::npos) {
            return std::nullopt;
        }
        text.remove_prefix(comma + 1);
    }
}

bool anyValue(long long) { return true; }
bool programOrKeep(long long value) { return value < 0x80 || value == kKeepProgram; }

// Removes the split copy on every way out of a command.
class TemporaryFile {
public:
    TemporaryFile() : m_path(platform::createTempFile(platform::tempFolder(), "CV")) {}
    ~TemporaryFile() {
        if (!m_path.empty()) {
            platform::removeFile(m_path);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Splits `file` into `split` as song loading does; on failure prints why and returns the
// exit status.
std::optional<int> splitSong(const char* command, const std::string& file, const TemporaryFile& split) {
    if (split.path().empty()) {
        std::fprintf(stderr, "cvktool %s: cannot create a temporary file in %s\n", command,
                     platform::tempFolder().c_str());
        return 1;
    }
    const songfile::SplitResult result = songfile::SplitMidiFile(file, split.path());
    if (!result.message.empty()) {
        std::fprintf(stderr, "%s\n", result.message.c_str());
        return 1;
    }
    return std::nullopt;
}

// Usage errors and help requests end a command before it touches a file.
template <typename Options>
std::optional<int> handleCommandLine(const char* command, const SongCommandLine<Options>& line, const char* usage) {
    if (std::holds_alternative<HelpRequested>(line)) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (const auto* error = std::get_if<UsageError>(&line)) {
        std::fprintf(stderr, "cvktool %s: %s\n%s", command, error->message.c_str(), usage);
        return 2;
    }
    return std::nullopt;
}

void appendHex(std::string& out, unsigned char byte) {
    static const char kDigits[] = "0123456789abcdef";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

std::string byteField(std::uint8_t value) { return std::to_string(value); }

// A program number with its instrument's name behind it: "4 Rhodes Piano"; 255 (no
// program) stays a bare number.
std::string programField(std::uint8_t program) {
    const std::string_view name = resources::instrumentName(program);
    return byteField(program) + (name.empty() ? std::string() : " " + std::string(name));
}

std::string jsonName(std::uint8_t program) {
    const std::string_view name = resources::instrumentName(program);
    return name.empty() ? std::string("null") : jsonBytes(name);
}

// `rule`: the line (or key) naming the rule that found the lyrics, when asked for.
void printLyrics(const songfile::TlyricList* first, int tempo, const std::optional<std::uint64_t>& offset,
                 bool json, const char* rule = nullptr) {
    std::string out;
    if (json) {
        out = std::string("{") + (rule != nullptr ? "\"rule\": \"" + std::string(rule) + "\", " : "") + "\"tempo\": " + std::to_string(tempo) + ", \"offset\": " +
              (offset ? std::to_string(*offset) : std::string("null")) + ", \"items\": [";
        for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
            out += item == first ? "" : ", ";
            out += "{\"start\": " + std::to_string(item->StartTick) + ", \"end\": " + std::to_string(item->EndTick) +
                   ", \"text\": " + jsonBytes(item->Text) + "}";
        }
        out += "]}\n";
    } else {
        out = (rule != nullptr ? "rule " + std::string(rule) + "\n" : "") + "tempo " + std::to_string(tempo) + "\noffset " + (offset ? std::to_string(*offset) : std::string("none")) + "\n";
        for (const songfile::TlyricList* item = first; item != nullptr; item = item->Next) {
            out += std::to_string(item->StartTick) + "\t" + std::to_string(item->EndTick) + "\t" +
                   printableBytes(item->Text) + "\n";
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// Runs the scans song loading runs for a file of this extension; the last one leaves
// the track information the player shows.
void scanAsLoading(const std::string& split, const std::string& mode) {
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    const auto scan = [&](const char* rule) {
        songfile::TlyricList* first = songfile::ExtractLyrics(split, rule, tempo, offset);
        const bool found = first != nullptr;
        songfile::FreeLyricList(first);
        return found;
    };
    if (mode == ".PFC") {
        if (!scan(".KAR")) {
            scan(".MID");
        }
    } else if (!scan(mode.c_str())) {
        if (mode == ".MID") {
            scan(".KAR");
        } else if (mode == ".KAR") {
            scan(".MID");
        }
    }
}

void printTracks(bool json) {
    std::string out = json ? "[" : "";
    for (std::size_t index = 0; index < songfile::kTrackInfoCount; ++index) {
        const songfile::trackInfo& info = songfile::TrackInfoTable[index];
        if (json) {
            out += index == 0 ? "" : ", ";
            out += "{\"track\": " + std::to_string(index) + ", \"name\": " + jsonBytes(info.TrackName) +
                   ", \"copyright\": " + jsonBytes(info.Copyright) + ", \"info\": " + jsonBytes(info.Info) +
                   ", \"fileProgram\": " + byteField(info.FileProgram) + ", \"program\": " + byteField(info.Program) +
                   ", \"instrument\": " + jsonName(info.Program) +
                   ", \"channel\": " + byteField(info.Channel) +
                   ", \"morePrograms\": " + (info.MorePrograms ? "true" : "false") + "}";
        } else {
            out += std::to_string(index) + "\tprogram " + programField(info.Program) + "\tfile program " +
                   programField(info.FileProgram) + "\tchannel " + byteField(info.Channel) +
                   (info.MorePrograms ? "\tand others" : "") + "\tname \"" + printableBytes(info.TrackName) +
                   "\"\tcopyright \"" + printableBytes(info.Copyright) + "\"\tinfo \"" +
                   printableBytes(info.Info) + "\"\n";
        }
    }
    out += json ? "]\n" : "";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

int lyricsCommand(const std::vector<std::string>& args) {
    const SongCommandLine<LyricsOptions> line = parseLyricsOptions(args);
    if (const std::optional<int> status = handleCommandLine("lyrics", line, kLyricsUsage)) {
        return *status;
    }
    const LyricsOptions& options = std::get<LyricsOptions>(line);
    const TemporaryFile split;
    if (const std::optional<int> status = splitSong("lyrics", options.file, split)) {
        return *status;
    }
    if (options.asShown) {
        std::string mode = options.mode.value_or(songMode(options.file));
        for (char& c : mode) {
            c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
        const songfile::ShownLyrics shown =
            songfile::ScanShownLyrics(split.path(), mode.substr(0, 4), [](const char*) { return true; });
        printLyrics(shown.first, shown.tempo, shown.offset, options.json, songfile::LyricSourceName(shown.source));
        songfile::FreeLyricList(shown.first);
        return 0;
    }
    int tempo = 0;
    std::optional<std::uint64_t> offset;
    songfile::TlyricList* first =
        songfile::ExtractLyrics(split.path(), options.mode.value_or(songMode(options.file)), tempo, offset);
    printLyrics(first, tempo, offset, options.json);
    songfile::FreeLyricList(first);
    return 0;
}

int tracksCommand(const std::vector<std::string>& args) {
    const SongCommandLine<TracksOptions> line = parseTracksOptions(args);
    if (const std::optional<int> status = handleCommandLine("tracks", line, kTracksUsage)) {
        return *status;
    }
    const TracksOptions& options = std::get<TracksOptions>(line);
    const TemporaryFile split;
    if (const std::optional<int> status = splitSong("tracks", options.file, split)) {
        return *status;
    }
    scanAsLoading(split.path(), songMode(options.file));
    printTracks(options.json);
    return 0;
}

int writeCommand(const std::vector<std::string>& args) {
    const SongCommandLine<WriteOptions> line = parseWriteOptions(args);
    if (const std::optional<int> status = handleCommandLine("write", line, kWriteUsage)) {
        return *status;
    }
    const WriteOptions& options = std::get<WriteOptions>(line);
    unsigned tempo = 0;
    if (options.tempo) {
        tempo = *options.tempo;
    } else {
        // The song's own tempo, as the player starts with it; 120 when the scan finds none.
        int found = 0;
        std::optional<std::uint64_t> offset;
        songfile::FreeLyricList(songfile::ExtractLyrics(options.source, "", found, offset));
        tempo = static_cast<unsigned>(found > 0 ? found : 120);
    }
    if (!songfile::WriteEditedSong(options.source, tempo, options.instruments.data(), options.target, options.key,
                                   options.volumes.data())) {
        std::fprintf(stderr, "cvktool write: cannot write %s from %s; %s is unchanged\n", options.target.c_str(),
                     options.source.c_str(), options.target.c_str());
        return 1;
    }
    return 0;
}

// Commands print what went wrong instead of letting an exception end the program.
// `arguments` yields the arguments inside the guard, as copying them may fail too.
template <typename Command, typename Arguments>
int guarded(const char* name, Command command, Arguments arguments) {
    try {
        return command(arguments());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cvktool %s: %s\n", name, error.what());
    } catch (...) {
        std::fprintf(stderr, "cvktool %s: unexpected failure\n", name);
    }
    return 1;
}

}  // namespace

SongCommandLine<LyricsOptions> parseLyricsOptions(const std::vector<std::string>& args) {
    const auto split = splitArguments(args, {{"mode", true}, {"json", false}, {"as-shown", false}});
    if (const auto* error = std::get_if<UsageError>(&split)) {
        return *error;
    }
    const Arguments& parsed = std::get<Arguments>(split);
    if (parsed.help) {
        return HelpRequested{};
    }
    if (parsed.files.size() != 1) {
        return UsageError{parsed.files.empty() ? "FILE is missing" : "only one FILE may be given"};
    }
    LyricsOptions options;
    options.file = parsed.files.front();
    if (const std::string* mode = parsed.value("mode")) {
        options.mode = *mode;
    }
    options.json = parsed.flag("json");
    options.asShown = parsed.flag("as-shown");
    return options;
}

SongCommandLine<TracksOptions> parseTracksOptions(const std::vector<std::string>& args) {
    const auto split = splitArguments(args, {{"json", false}});
    if (const auto* error = std::get_if<UsageError>(&split)) {
        return *error;
    }
    const Arguments& parsed = std::get<Arguments>(split);
    if (parsed.help) {
        return HelpRequested{};
    }
    if (parsed.files.size() != 1) {
        return UsageError{parsed.files.empty() ? "FILE is missing" : "only one FILE may be given"};
    }
    TracksOptions options;
    options.file = parsed.files.front();
    options.json = parsed.flag("json");
    return options;
}

SongCommandLine<WriteOptions> parseWriteOptions(const std::vector<std::string>& args) {
    const auto split =
        splitArguments(args, {{"tempo", true}, {"key", true}, {"volumes", true}, {"instruments", true}});
    if (const auto* error = std::get_if<UsageError>(&split)) {
        return *error;
    }
    const Arguments& parsed = std::get<Arguments>(split);
    if (parsed.help) {
        return HelpRequested{};
    }
    if (parsed.files.size() != 2) {
        return UsageError{"SRC and DST are needed, and nothing more"};
    }
    WriteOptions options;
    options.source = parsed.files[0];
    options.target = parsed.files[1];
    if (const std::string* text = parsed.value("tempo")) {
        const std::optional<long long> tempo = parseNumber(*text, 1, kMaxWriteTempo);
        if (!tempo) {
            return UsageError{"--tempo must be a whole number of beats per minute, 1 to 60000000"};
        }
        options.tempo = static_cast<unsigned>(*tempo);
    }
    if (const std::string* text = parsed.value("key")) {
        const std::optional<long long> key = parseNumber(*text, -kMaxKey, kMaxKey);
        if (!key) {
            return UsageError{"--key must be a whole number of semitones, -127 to 127"};
        }
        options.key = static_cast<int>(*key);
    }
    if (const std::string* text = parsed.value("volumes")) {
        if (auto error = parseTable(*text, "volume", std::numeric_limits<std::int16_t>::min(),
                                    std::numeric_limits<std::int16_t>::max(), anyValue, options.volumes)) {
            return UsageError{*error};
        }
    }
    if (const std::string* text = parsed.value("instruments")) {
        if (auto error = parseTable(*text, "instrument", 0, kKeepProgram, programOrKeep, options.instruments)) {
            return UsageError{*error + " (0 to 127, or 255 for the song's own)"};
        }
    }
    return options;
}

std::string songMode(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::string();
    }
    std::string mode = path.substr(dot, 4);
    for (char& c : mode) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return mode;
}

std::string jsonBytes(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                appendHex(out, byte);
            } else if (byte < 0x80) {
                out += c;
            } else {
                // U+0080..U+00FF in UTF-8.
                out += static_cast<char>(0xC0 | (byte >> 6));
                out += static_cast<char>(0x80 | (byte & 0x3F));
            }
        }
    }
    out += '"';
    return out;
}

std::string printableBytes(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            appendHex(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

int runLyricsCommand(const std::vector<std::string>& args) {
    return guarded("lyrics", lyricsCommand, [&]() -> const std::vector<std::string>& { return args; });
}

int runTracksCommand(const std::vector<std::string>& args) {
    return guarded("tracks", tracksCommand, [&]() -> const std::vector<std::string>& { return args; });
}

int runWriteCommand(const std::vector<std::string>& args) {
    return guarded("write", writeCommand, [&]() -> const std::vector<std::string>& { return args; });
}

namespace {

std::vector<std::string> copied(std::span<const std::string_view> args) {
    return std::vector<std::string>(args.begin(), args.end());
}

}  // namespace

int runLyrics(std::span<const std::string_view> args) {
    return guarded("lyrics", lyricsCommand, [&] { return copied(args); });
}

int runTracks(std::span<const std::string_view> args) {
    return guarded("tracks", tracksCommand, [&] { return copied(args); });
}

int runWrite(std::span<const std::string_view> args) {
    return guarded("write", writeCommand, [&] { return copied(args); });
}

}  // namespace cvktool
