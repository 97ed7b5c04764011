#include "VoiceCommands.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "RecordTarget.h"
#include "Terminal.h"
#include "VoiceWindow.h"
#include "WaveFile.h"
#include "faderlib/faderlib.h"
#include "platform/files.h"
#include "platform/mm_timer.h"
#include "voxcapt/voxcapt.h"

namespace cvktool {
namespace {

constexpr const char* kRecordUsage =
    "usage: cvktool record OUT.wav [--seconds N] [--buffer BYTES] [--no-monitor] [--echo MS]\n"
    "                              [--device K] [--virtual-clock]\n";
constexpr const char* kPlayUsage =
    "usage: cvktool playwave FILE [--offset UNITS] [--echo MS] [--virtual-clock]\n";

constexpr int kSeekSeconds = 5;
// How long a stopped take may take to come back whole before the command gives up on it.
constexpr std::uint32_t kFinishWaitMs = 10'000;

std::optional<long long> number(std::string_view text, long long low, long long high) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// A duration in seconds, decimals allowed ("0.5", "2.25"), as whole milliseconds.
std::optional<std::uint32_t> milliseconds(std::string_view text, double highSeconds) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (error != std::errc() || stop != end || !std::isfinite(value) || value < 0 || value > highSeconds) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(std::llround(value * 1000));
}

// The mixer's recording sources as "0 Microphone, 1 Stereo Mix (Speakers)".
std::string sourceList() {
    std::string list;
    for (int32_t source = 0; source < GetNumberOfInputSources(); ++source) {
        char name[64] = "";
        GetInputSourceDescription(source, name);
        list += (list.empty() ? "" : ", ") + std::to_string(source) + " " + name;
    }
    return list;
}

// Selects the mixer's recording source K as the player's devices see it.
bool selectRecordingSource(std::int32_t source) {
    bool input = false;
    for (int32_t device = 0; device < GetNumberOfInputDevices() && !input; ++device) {
        input = SelectInputDevice(device) == 0;
    }
    if (!input) {
        std::fputs("cvktool: no input device with a mixer (is the sound server running?)\n", stderr);
        return false;
    }
    if (source >= GetNumberOfInputSources()) {
        const std::string list = sourceList();
        std::fprintf(stderr, "cvktool: there is no recording source %d; %s\n", source,
                     list.empty() ? "the mixer has none"
                                  : ("the sources are " + list).c_str());
        DeSelectInputDevice();
        return false;
    }
    if (SelectInputSource(source) != 0) {
        std::fprintf(stderr, "cvktool: cannot record from source %d (see cvktool mixer list)\n", source);
        DeSelectInputDevice();
        return false;
    }
    return true;
}

struct RecordOptions {
    std::string file;
    std::optional<std::uint32_t> ms;
    long long buffer = 4096;
    bool monitor = true;
    long long echoMs = 0;
    std::optional<long long> device;
    bool virtualClock = false;
};

std::optional<RecordOptions> parseRecord(std::span<const std::string_view> args) {
    RecordOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const bool hasValue = i + 1 < args.size();
        std::optional<long long> value;
        if (arg == "--no-monitor") {
            options.monitor = false;
        } else if (arg == "--virtual-clock") {
            options.virtualClock = true;
        } else if (arg == "--seconds" && hasValue) {
            options.ms = milliseconds(args[++i], 24 * 3600);
            if (!options.ms) {
                return std::nullopt;
            }
        } else if (arg == "--buffer" && hasValue && (value = number(args[++i], 2, 4 * 1024 * 1024))) {
            options.buffer = *value;
        } else if (arg == "--echo" && hasValue && (value = number(args[++i], 0, 1000))) {
            options.echoMs = *value;
        } else if (arg == "--device" && hasValue && (value = number(args[++i], 0, 255))) {
            options.device = value;
        } else if (!arg.starts_with("--") && options.file.empty()) {
            options.file = arg;
        } else {
            return std::nullopt;
        }
    }
    if (options.file.empty()) {
        return std::nullopt;
    }
    return options;
}

// Says how the take ended; the exit status.
int reportTake(const std::string& target, bool finished) {
    char where[4096] = "";
    const std::int32_t result = finished ? AudioGetRecordResult(where, sizeof where) : -1;
    switch (result) {
        case 1:
            std::fprintf(stderr, "recorded %s\n", target.c_str());
            return 0;
        case 2:
            // The library's box said what stopped it.
            std::fprintf(stderr, "cvktool: the take stopped early; what was recorded is in %s\n", where);
            return 1;
        case 0:
            std::fprintf(stderr, "cvktool: the take was not saved as %s; it is kept as %s\n",
                         target.c_str(), *where != '\0' ? where : "nothing");
            return 1;
        default:
            // Still running: the library finishes it and puts it in place as the program ends.
            std::fprintf(stderr, "cvktool: the take was not finished in time; what was recorded is kept as %s\n",
                         target.c_str());
            return 1;
    }
}

}  // namespace

int runRecord(std::span<const std::string_view> args) {
    const std::optional<RecordOptions> options = parseRecord(args);
    if (!options) {
        std::fputs(kRecordUsage, stderr);
        return 2;
    }
    std::string problem = recordTargetProblem(options->file);
    TakeLock lock;
    if (!problem.empty() || !lock.acquire(options->file, problem)) {
        std::fprintf(stderr, "cvktool: cannot record to %s: %s\n", options->file.c_str(), problem.c_str());
        return 1;
    }
    if (options->virtualClock) {
        platform::setClockMode(platform::ClockMode::Virtual);
    }
    if (options->device && !selectRecordingSource(static_cast<std::int32_t>(*options->device))) {
        return 1;
    }
    installStopSignals();
    VoiceWindow window;
    AudioSetEchoDelay(static_cast<std::int32_t>(options->echoMs));
    if (AudioStartRecord(window.handle(), options->file.c_str(), 22050, 1, 16,
                         static_cast<std::int32_t>(options->buffer), options->monitor ? -1 : 0, 0) == 0) {
        DeSelectInputDevice();
        return 1;
    }
    std::fprintf(stderr, "recording %s (monitor %s, echo %lld ms); Ctrl-C stops\n",
                 options->file.c_str(), options->monitor ? "on" : "off", options->echoMs);
    std::optional<std::uint32_t> deadline;
    if (options->ms) {
        deadline = platform::clockMillis() + *options->ms;
    }
    const auto before = [](std::uint32_t at) { return static_cast<std::int32_t>(at - platform::clockMillis()) > 0; };
    // The library finishes a take it had to stop (a full disk, a failed write or stream):
    // its input then closes, and the command ends at once.
    while (!stopRequested() && !window.inputClosed() && (!deadline || before(*deadline))) {
        window.pump(deadline);
    }
    if (!window.inputClosed()) {
        AudioStopRecord();
        // The take gets its name once the last buffer is back.
        const std::uint32_t giveUp = platform::clockMillis() + kFinishWaitMs;
        while (!window.inputClosed() && before(giveUp)) {
            window.pump(giveUp);
        }
    }
    DeSelectInputDevice();
    return reportTake(options->file, window.inputClosed());
}

int runPlayWave(std::span<const std::string_view> args) {
    std::string file;
    long long offset = 0;
    long long echoMs = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::optional<long long> value;
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--virtual-clock") {
            platform::setClockMode(platform::ClockMode::Virtual);
        } else if (args[i] == "--offset" && hasValue && (value = number(args[++i], -3600, 3600))) {
            offset = *value;
        } else if (args[i] == "--echo" && hasValue && (value = number(args[++i], 0, 1000))) {
            echoMs = *value;
        } else if (!args[i].starts_with("--") && file.empty()) {
            file = args[i];
        } else {
            std::fputs(kPlayUsage, stderr);
            return 2;
        }
    }
    if (file.empty()) {
        std::fputs(kPlayUsage, stderr);
        return 2;
    }
    {
        // The library keeps a stream of nothing open until it is stopped; there is nothing
        // to wait for. A file it cannot read is left to it to explain.
        platform::FileReader reader;
        voxcapt::ParsedWave parsed;
        if (reader.open(file) && voxcapt::parseWave(reader, parsed) == voxcapt::WaveParseError::None &&
            parsed.dataSize == 0) {
            std::fprintf(stderr, "%s holds no audio\n", file.c_str());
            return 0;
        }
    }
    installStopSignals();
    VoiceWindow window;
    AudioSetEchoDelay(static_cast<std::int32_t>(echoMs));
    UpdateOffsetForPlayBack(static_cast<std::int32_t>(offset));
    if (AudioPlayFile(window.handle(), file.c_str()) == 0) {
        return 1;
    }
    // Where the voice stands, in the song's terms: the time it has played, not what the
    // library has read ahead.
    std::int64_t voiceMs = 0;
    std::uint32_t last = platform::clockMillis();
    bool paused = false;
    KeyboardInput keyboard;
    std::vector<Key> keys;
    bool quit = false;
    while (!window.outputClosed() && !stopRequested() && !quit) {
        keys.clear();
        window.pump(std::nullopt, &keyboard, &keys);
        const std::uint32_t now = platform::clockMillis();
        if (!paused) {
            voiceMs += now - last;
        }
        last = now;
        for (Key key : keys) {
            const auto seconds = static_cast<std::int32_t>(voiceMs / 1000);
            if (key == Key::Quit) {
                quit = true;
            } else if (key == Key::Space) {
                AudioPause();
                paused = !paused;
            } else if (key == Key::Right || key == Key::Left) {
                const std::int32_t target =
                    key == Key::Right ? seconds + kSeekSeconds : std::max(0, seconds - kSeekSeconds);
                if (key == Key::Right) {
                    AudioForward(target);
                } else {
                    AudioRewind(target);
                }
                voiceMs = static_cast<std::int64_t>(target) * 1000;
            }
        }
    }
    AudioStopPlaying();
    window.drain();
    // A stream that failed ended playback; the library's box said why.
    return window.outputFailed() ? 1 : 0;
}

}  // namespace cvktool
