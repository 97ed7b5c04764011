#include "VoiceCommands.h"

#include <poll.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Terminal.h"
#include "faderlib/faderlib.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/mm_timer.h"
#include "audio/wave.h"
#include "voxcapt/voxcapt.h"

namespace cvktool {
namespace {

constexpr const char* kRecordUsage =
    "usage: cvktool record OUT.wav [--seconds N] [--buffer BYTES] [--no-monitor] [--echo MS]\n"
    "                              [--device K] [--virtual-clock]\n";
constexpr const char* kPlayUsage =
    "usage: cvktool playwave FILE [--offset UNITS] [--echo MS] [--virtual-clock]\n";
constexpr const char* kMixUsage = "usage: cvktool mix A.wav B.wav OUT.wav\n";

constexpr int kSeekSeconds = 5;

std::optional<long long> number(std::string_view text, long long low, long long high) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// Set when the device of a stream has closed: playback has ended, or a take is finished
// and named (the library closes the input device right before it renames the take).
bool g_outputClosed = false;
bool g_inputClosed = false;

// Hands the devices' notifications back to the library, as the player's window does.
void dispatch(const platform::Message& m) {
    g_outputClosed = g_outputClosed || m.message == audio::kWaveOutCloseMessage;
    g_inputClosed = g_inputClosed || m.message == audio::kWaveInCloseMessage;
    if (m.message >= audio::kWaveOutOpenMessage && m.message <= audio::kWaveOutDoneMessage) {
        ProcessWavePlayMsg(m.message, m.wParam, m.lParam);
    } else if (m.message >= audio::kWaveInOpenMessage && m.message <= audio::kWaveInDataMessage) {
        ProcessWaveRecMsg(m.message, m.wParam, m.lParam);
    }
}

// Waits up to `timeoutMs` for notifications and for keys; handles what came. With the
// virtual clock, time moves only as the devices move it, so the wait is short.
void pumpOnce(platform::MessageQueue& window, int timeoutMs, KeyboardInput* keyboard,
              std::vector<Key>* keys) {
    pollfd fds[2] = {{window.notifyFd(), POLLIN, 0}, {keyboard != nullptr ? keyboard->fd() : -1, POLLIN, 0}};
    ::poll(fds, 2, timeoutMs);
    if (keyboard != nullptr && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
        keyboard->read(*keys);
    }
    platform::Message m;
    while (window.peek(m)) {
        dispatch(m);
    }
}

int waitMs() { return platform::clockMode() == platform::ClockMode::Virtual ? 1 : 20; }

// Selects the mixer's recording source K as the player's devices see it.
bool selectRecordingSource(std::int32_t source) {
    bool input = false;
    for (int32_t device = 0; device < GetNumberOfInputDevices() && !input; ++device) {
        input = SelectInputDevice(device) == 0;
    }
    if (!input || SelectInputSource(source) != 0) {
        std::fprintf(stderr, "cvktool: cannot record from source %d (see cvktool mixer list)\n", source);
        return false;
    }
    return true;
}

struct RecordOptions {
    std::string file;
    std::optional<long long> seconds;
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
        } else if (arg == "--seconds" && hasValue && (value = number(args[++i], 0, 24 * 3600))) {
            options.seconds = value;
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

}  // namespace

int runRecord(std::span<const std::string_view> args) {
    const std::optional<RecordOptions> options = parseRecord(args);
    if (!options) {
        std::fputs(kRecordUsage, stderr);
        return 2;
    }
    if (options->virtualClock) {
        platform::setClockMode(platform::ClockMode::Virtual);
    }
    if (options->device && !selectRecordingSource(static_cast<std::int32_t>(*options->device))) {
        return 1;
    }
    installStopSignals();
    platform::MessageQueue window;
    AudioSetEchoDelay(static_cast<std::int32_t>(options->echoMs));
    if (AudioStartRecord(window.handle(), options->file.c_str(), 22050, 1, 16,
                         static_cast<std::int32_t>(options->buffer), options->monitor ? -1 : 0, 0) == 0) {
        DeSelectInputDevice();
        return 1;
    }
    std::fprintf(stderr, "recording %s (monitor %s, echo %lld ms); Ctrl-C stops\n",
                 options->file.c_str(), options->monitor ? "on" : "off", options->echoMs);
    const std::uint32_t started = platform::clockMillis();
    while (!stopRequested() &&
           (!options->seconds || platform::clockMillis() - started < *options->seconds * 1000)) {
        pumpOnce(window, waitMs(), nullptr, nullptr);
    }
    AudioStopRecord();
    // The take gets its name once the last buffer is back.
    const std::uint32_t stopped = platform::clockMillis();
    while (!g_inputClosed && platform::clockMillis() - stopped < 10'000) {
        pumpOnce(window, waitMs(), nullptr, nullptr);
    }
    DeSelectInputDevice();
    const platform::FileAttributes take = platform::fileAttributes(options->file);
    if (!g_inputClosed || !take.exists) {
        std::fprintf(stderr, "cvktool: the take was not finished\n");
        return 1;
    }
    std::fprintf(stderr, "recorded %s\n", options->file.c_str());
    return 0;
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
    installStopSignals();
    platform::MessageQueue window;
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
    while (!g_outputClosed && !stopRequested() && !quit) {
        keys.clear();
        pumpOnce(window, waitMs(), &keyboard, &keys);
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
    platform::Message m;
    while (window.peek(m)) {
        dispatch(m);
    }
    return 0;
}

int runMix(std::span<const std::string_view> args) {
    if (args.size() != 3) {
        std::fputs(kMixUsage, stderr);
        return 2;
    }
    const std::string first(args[0]);
    const std::string second(args[1]);
    const std::string output(args[2]);
    if (AudioMixFiles(first.c_str(), second.c_str(), output.c_str()) == 0) {
        std::fprintf(stderr,
                     "cvktool: cannot mix %s and %s into %s (both must be 16-bit mono wave files of one rate)\n",
                     first.c_str(), second.c_str(), output.c_str());
        return 1;
    }
    return 0;
}

}  // namespace cvktool
