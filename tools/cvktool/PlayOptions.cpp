#include "PlayOptions.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace cvktool {

const char* const kPlayUsage =
    "usage: cvktool play FILE [--device NAME] [--tempo BPM] [--key SEMITONES]\n"
    "                         [--volumes V0,V1,...] [--instruments P0,P1,...]\n"
    "                         [--settings INI] [--capture CSV] [--virtual-clock] [--no-split]\n"
    "                         [--lyrics] [--soundfont FILE] [--follow-tempo]\n"
    "  --follow-tempo  play the song's own tempo changes as written; --tempo and the\n"
    "                  tempo keys then set the tempo where the song is, scaling them all\n";

namespace {

// A whole decimal number and nothing else; a leading '+' only where a sign makes sense.
std::optional<int> parseInt(std::string_view text, bool allowSign) {
    if (allowSign && !text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    if (!allowSign && !text.empty() && text.front() == '-') {
        return std::nullopt;
    }
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// Up to 64 comma-separated numbers, each accepted by `check`.
template <typename T, typename Check>
std::optional<std::string> parseList(std::string_view text, bool allowSign, Check check,
                                     std::array<T, kTrackSlots>& out, std::string_view what) {
    std::size_t count = 0;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        if (count == kTrackSlots) {
            return "at most 64 " + std::string(what) + " may be given";
        }
        const std::optional<int> value = parseInt(item, allowSign);
        if (!value || !check(*value)) {
            return "bad " + std::string(what) + " entry '" + std::string(item) + "'";
        }
        out[count++] = static_cast<T>(*value);
        if (comma == std::string_view::npos) {
            return std::nullopt;
        }
        text.remove_prefix(comma + 1);
    }
}

}  // namespace

PlayCommandLine parsePlayOptions(std::span<const std::string_view> args) {
    PlayOptions options;
    bool haveFile = false;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.substr(0, 2) != "--") {
            if (haveFile) {
                return UsageError{"only one FILE may be given"};
            }
            options.file = std::string(arg);
            haveFile = true;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help") {
            return HelpRequested{};
        }
        if (arg == "--virtual-clock") {
            options.virtualClock = true;
            continue;
        }
        if (arg == "--no-split") {
            options.noSplit = true;
            continue;
        }
        if (arg == "--lyrics") {
            options.lyrics = true;
            continue;
        }
        if (arg == "--follow-tempo") {
            options.followTempo = true;
            continue;
        }

        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const std::size_t equals = arg.find('='); equals != std::string_view::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        const bool takesValue = name == "--device" || name == "--tempo" || name == "--key" ||
                                name == "--volumes" || name == "--instruments" ||
                                name == "--settings" || name == "--capture" ||
                                name == "--soundfont";
        if (!takesValue) {
            return UsageError{"unknown option '" + std::string(name) + "'"};
        }
        if (!value) {
            if (i + 1 == args.size()) {
                return UsageError{"option '" + std::string(name) + "' needs a value"};
            }
            value = args[++i];
        }

        if (name == "--device") {
            options.device = std::string(*value);
        } else if (name == "--settings") {
            options.settings = std::string(*value);
        } else if (name == "--capture") {
            if (value->empty()) {
                return UsageError{"--capture needs a file name"};
            }
            options.capture = std::string(*value);
        } else if (name == "--soundfont") {
            if (value->empty()) {
                return UsageError{"--soundfont needs a file name"};
            }
            options.soundFont = std::string(*value);
        } else if (name == "--tempo") {
            const std::optional<int> tempo = parseInt(*value, false);
            if (!tempo || (*tempo != 0 && (*tempo < kMinTempo || *tempo > kMaxTempo))) {
                return UsageError{"--tempo must be 0 or 40..240"};
            }
            options.tempo = *tempo;
        } else if (name == "--key") {
            const std::optional<int> key = parseInt(*value, true);
            if (!key || *key < -kMaxKey || *key > kMaxKey) {
                return UsageError{"--key must be -127..127"};
            }
            options.key = *key;
        } else if (name == "--volumes") {
            options.volumes.fill(0);
            if (auto error = parseList(
                    *value, true, [](int v) { return v >= -128 && v <= 127; }, options.volumes,
                    "volume")) {
                return UsageError{*error + " (volumes are -128..127)"};
            }
        } else {
            options.instruments.fill(kKeepProgram);
            if (auto error = parseList(
                    *value, false, [](int p) { return (p >= 0 && p <= 127) || p == kKeepProgram; },
                    options.instruments, "instrument")) {
                return UsageError{*error + " (programs are 0..127, or 255 to keep the song's)"};
            }
        }
    }

    if (!haveFile) {
        return UsageError{"no FILE given"};
    }
    if (options.capture && options.device) {
        // The capture device is itself a device choice; two choices would silently lose one.
        return UsageError{"--capture and --device cannot be combined"};
    }
    return options;
}

std::string formatKey(int key) {
    const int magnitude = std::abs(key);
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", key > 0 ? '+' : (key < 0 ? '-' : ' '),
                  magnitude / 12, magnitude % 12);
    return text;
}

std::optional<BarBeatTick> splitPosition(std::uint32_t ticks, std::uint16_t division) {
    if (division == 0) {
        return std::nullopt;
    }
    const std::uint32_t quarters = ticks / division;
    return BarBeatTick{quarters / 4, quarters % 4, ticks % division};
}

std::string formatStatus(const StatusView& view) {
    char text[128];
    int length = std::snprintf(text, sizeof text, "  %02d:%02d", view.minutes, view.seconds);
    std::string line(text, static_cast<std::size_t>(length));
    if (view.position) {
        length = std::snprintf(text, sizeof text, "  %03u:%02u:%03u", view.position->bar,
                               view.position->beat, view.position->tick);
        line.append(text, static_cast<std::size_t>(length));
    }
    length = std::snprintf(text, sizeof text, "  tempo %d  key %s", view.tempo,
                           formatKey(view.key).c_str());
    line.append(text, static_cast<std::size_t>(length));
    if (view.paused) {
        line += "  [paused]";
    }
    return line;
}

}  // namespace cvktool
