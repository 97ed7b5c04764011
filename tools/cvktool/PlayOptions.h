#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

// The command line of `cvktool play` and the small pieces of text the player shows.
namespace cvktool {

constexpr std::size_t kTrackSlots = 64;
constexpr std::uint16_t kKeepProgram = 255;
constexpr int kMinTempo = 40;
constexpr int kMaxTempo = 240;
constexpr int kMaxKey = 127;

struct PlayOptions {
    std::string file;
    std::optional<std::string> device;
    std::optional<std::string> settings;
    std::optional<std::string> capture;
    std::optional<std::string> soundFont;  // for the built-in synthesizer
    int tempo = 0;  // 0 = the song's own
    int key = 0;
    std::array<std::int16_t, kTrackSlots> volumes{};
    std::array<std::uint16_t, kTrackSlots> instruments;
    bool virtualClock = false;
    bool noSplit = false;
    bool lyrics = false;  // show the lyrics as they are sung
    bool followTempo = false;  // play the song's own tempo changes; --tempo is its first

    PlayOptions() { instruments.fill(kKeepProgram); }
};

struct UsageError {
    std::string message;
};

struct HelpRequested {};

using PlayCommandLine = std::variant<PlayOptions, UsageError, HelpRequested>;

// Parses the arguments that follow "play". Options may come before or after FILE, as
// "--name VALUE" or "--name=VALUE"; "--" ends the options.
PlayCommandLine parsePlayOptions(std::span<const std::string_view> args);

extern const char* const kPlayUsage;

// A transposition as sign, octaves and semitones: +2 is "+00:02", 0 is " 00:00",
// -14 is "-01:02".
std::string formatKey(int key);

struct BarBeatTick {
    std::uint32_t bar = 0;
    std::uint32_t beat = 0;
    std::uint32_t tick = 0;
};

// Splits a song position into bar, beat and tick, counting from 0 in 4/4 as the player's
// display does whatever the song's own metre. Nothing when the division is unknown (0).
std::optional<BarBeatTick> splitPosition(std::uint32_t ticks, std::uint16_t division);

struct StatusView {
    int minutes = 0;
    int seconds = 0;
    std::optional<BarBeatTick> position;
    int tempo = 0;
    int key = 0;
    bool paused = false;
};

// "  01:23  012:03:240  tempo 100  key +00:02  [paused]"
std::string formatStatus(const StatusView& view);

}  // namespace cvktool
