#include "MixerCommand.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Terminal.h"
#include "audio/mixer.h"
#include "faderlib/faderlib.h"

namespace cvktool {
namespace {

using audio::ComponentType;
using audio::ControlType;
using audio::MixerControlInfo;
using audio::MixerError;
using audio::MixerId;
using audio::MixerLineInfo;

constexpr const char* kMixerUsage =
    "usage: cvktool mixer [list | get NAME | set NAME VALUE | select-source K |\n"
    "                      pass-through [--seconds N]]\n"
    "  list               every device, line, control and source with its value\n"
    "  get NAME           one control, NAME as list prints it (\"Speakers/Volume\")\n"
    "  set NAME VALUE     sets it (a volume 0..65535, or LEFT,RIGHT; a switch 0 or 1)\n"
    "  select-source K    selects the devices as the player does and records from source K\n"
    "  pass-through       plays the recording source through the speakers until Ctrl-C,\n"
    "                     SIGTERM or N seconds\n";

constexpr ControlType kControlTypes[] = {ControlType::Volume, ControlType::Mute, ControlType::OnOff,
                                         ControlType::Mux, ControlType::Mixer};

std::string typeName(ControlType type) {
    switch (type) {
        case ControlType::Volume:
            return "Volume";
        case ControlType::Mute:
            return "Mute";
        case ControlType::OnOff:
            return "Switch";
        default:
            return "Select";
    }
}

struct Control {
    std::string name;  // LINE/CONTROL
    MixerLineInfo line;
    MixerControlInfo info;
};

// Every line of a mixer's destinations with each of its controls.
std::vector<Control> controlsOf(MixerId mixer, std::vector<MixerLineInfo>& lines) {
    std::vector<Control> controls;
    for (ComponentType destination : {ComponentType::DstSpeakers, ComponentType::DstWaveIn}) {
        MixerLineInfo dest;
        if (audio::mixerDestination(mixer, destination, dest) != MixerError::Ok) {
            continue;
        }
        lines.push_back(dest);
        for (std::uint32_t s = 0; s < dest.connections; ++s) {
            MixerLineInfo line;
            if (audio::mixerSourceLine(mixer, dest.destination, s, line) == MixerError::Ok) {
                lines.push_back(line);
            }
        }
    }
    for (const MixerLineInfo& line : lines) {
        for (ControlType type : kControlTypes) {
            MixerControlInfo info;
            if (audio::mixerLineControl(mixer, line.lineId, type, info) == MixerError::Ok) {
                controls.push_back({line.name + "/" + typeName(type), line, info});
            }
        }
    }
    return controls;
}

std::string valueText(MixerId mixer, const Control& control) {
    if (audio::isMultipleItem(control.info.type)) {
        std::vector<std::string> texts;
        std::vector<std::uint32_t> values(control.info.items, 0);
        if (audio::mixerItemTexts(mixer, control.info.controlId, texts) != MixerError::Ok ||
            audio::mixerGetValues(mixer, control.info.controlId, 1, values) != MixerError::Ok) {
            return " (unreadable)";
        }
        std::string text;
        for (std::size_t i = 0; i < texts.size() && i < values.size(); ++i) {
            text += "\n    " + std::to_string(i) + (values[i] != 0 ? " * " : "   ") + texts[i];
        }
        return text;
    }
    const std::uint32_t channels =
        control.info.type == ControlType::Volume ? control.line.channels : 1;
    std::vector<std::uint32_t> values(channels, 0);
    if (audio::mixerGetValues(mixer, control.info.controlId, channels, values) != MixerError::Ok) {
        return " (unreadable)";
    }
    std::string text;
    for (std::uint32_t value : values) {
        text += (text.empty() ? " " : ",") + std::to_string(value);
    }
    return text;
}

bool firstMixer(MixerId& mixer) {
    if (audio::mixerIdOfOutput(0, mixer) != MixerError::Ok) {
        std::fputs("cvktool: no output device with a mixer (is the sound server running?)\n",
                   stderr);
        return false;
    }
    return true;
}

int list() {
    const std::uint32_t outputs = audio::mixerOutputDeviceCount();
    const std::uint32_t inputs = audio::mixerInputDeviceCount();
    std::string name;
    for (std::uint32_t i = 0; i < outputs; ++i) {
        audio::mixerOutputDeviceName(i, name);
        std::printf("output %u: %s\n", i, name.c_str());
    }
    for (std::uint32_t i = 0; i < inputs; ++i) {
        audio::mixerInputDeviceName(i, name);
        std::printf("input %u: %s\n", i, name.c_str());
    }
    MixerId mixer = 0;
    if (!firstMixer(mixer)) {
        return 1;
    }
    std::vector<MixerLineInfo> lines;
    const std::vector<Control> controls = controlsOf(mixer, lines);
    for (const MixerLineInfo& line : lines) {
        // Destinations' component types lie below the sources' range.
        const bool destination = static_cast<std::uint32_t>(line.type) < 0x1000;
        std::printf("%s%s\n", destination ? "" : "  ", line.name.c_str());
        for (const Control& control : controls) {
            if (control.line.lineId == line.lineId) {
                std::printf("%s  %s =%s\n", destination ? "" : "  ", control.name.c_str(),
                            valueText(mixer, control).c_str());
            }
        }
    }
    return 0;
}

std::optional<Control> find(MixerId mixer, std::string_view name) {
    std::vector<MixerLineInfo> lines;
    for (Control& control : controlsOf(mixer, lines)) {
        if (control.name == name) {
            return control;
        }
    }
    std::fprintf(stderr, "cvktool: no control named '%.*s'; see cvktool mixer list\n",
                 static_cast<int>(name.size()), name.data());
    return std::nullopt;
}

int get(std::string_view name) {
    MixerId mixer = 0;
    if (!firstMixer(mixer)) {
        return 1;
    }
    const std::optional<Control> control = find(mixer, name);
    if (!control) {
        return 1;
    }
    std::printf("%s =%s\n", control->name.c_str(), valueText(mixer, *control).c_str());
    return 0;
}

// Numbers 0..4294967295 separated by commas; nothing when any is something else. Digits
// only: a sign is refused, not wrapped around into a huge volume.
std::optional<std::vector<std::uint32_t>> parseValues(std::string_view text) {
    std::vector<std::uint32_t> values;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::string_view part =
            text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        std::uint32_t value = 0;
        const char* end = part.data() + part.size();
        const auto [stop, error] = std::from_chars(part.data(), end, value);
        if (part.empty() || error != std::errc() || stop != end) {
            return std::nullopt;
        }
        values.push_back(value);
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return values;
}

int set(std::string_view name, std::string_view text) {
    std::optional<std::vector<std::uint32_t>> values = parseValues(text);
    if (!values || values->size() > 2) {
        std::fprintf(stderr, "cvktool: '%.*s' is not a value: a number from 0 up, or LEFT,RIGHT\n",
                     static_cast<int>(text.size()), text.data());
        std::fputs(kMixerUsage, stderr);
        return 2;
    }
    MixerId mixer = 0;
    if (!firstMixer(mixer)) {
        return 1;
    }
    const std::optional<Control> control = find(mixer, name);
    if (!control) {
        return 1;
    }
    const bool onOff = control->info.type == ControlType::Mute || control->info.type == ControlType::OnOff;
    if (onOff && std::any_of(values->begin(), values->end(), [](std::uint32_t v) { return v > 1; })) {
        std::fprintf(stderr, "cvktool: %s is 0 or 1\n", control->name.c_str());
        return 1;
    }
    std::uint32_t channels = static_cast<std::uint32_t>(values->size());
    if (audio::isMultipleItem(control->info.type)) {
        // An item number: that item on, the others off.
        const std::uint32_t item = (*values)[0];
        values->assign(control->info.items, 0);
        if (item >= values->size()) {
            std::fprintf(stderr, "cvktool: %s has items 0..%u\n", control->name.c_str(),
                         control->info.items - 1);
            return 1;
        }
        (*values)[item] = 1;
        channels = 1;
    }
    if (audio::mixerSetValues(mixer, control->info.controlId, channels, *values) !=
        MixerError::Ok) {
        std::fprintf(stderr, "cvktool: the mixer refused %s\n", control->name.c_str());
        return 1;
    }
    std::printf("%s =%s\n", control->name.c_str(), valueText(mixer, *control).c_str());
    return 0;
}

int selectSource(std::string_view text) {
    const std::optional<std::vector<std::uint32_t>> index = parseValues(text);
    if (!index || index->size() != 1) {
        std::fputs(kMixerUsage, stderr);
        return 2;
    }
    SetCallbackWindow(0);
    bool output = false;
    for (int32_t device = 0; device < GetNumberOfOutputDevices() && !output; ++device) {
        output = SelectOutputDevice(device) == 0;
    }
    bool input = false;
    for (int32_t device = 0; device < GetNumberOfInputDevices() && !input; ++device) {
        input = SelectInputDevice(device) == 0;
    }
    const int32_t source = static_cast<int32_t>((*index)[0]);
    const int32_t result = input ? SelectInputSource(source) : -1;
    char name[64] = "";
    GetInputSourceDescription(source, name);
    if (result != 0) {
        std::fprintf(stderr, "cvktool: cannot select source %d (%d)\n", source, result);
    } else {
        std::printf("recording source %d: %s, input level %d\n", source, name,
                    GetCurrentInputLevel());
    }
    DeSelectInputDevice();
    DeSelectOutputDevice();
    return result == 0 ? 0 : 1;
}

// The microphone through the speakers until a stop signal or `seconds` have passed; off
// again at the end however it came.
int passThrough(std::span<const std::string_view> args) {
    double seconds = -1;
    if (args.size() == 2 && args[0] == "--seconds") {
        const std::string text(args[1]);
        char* end = nullptr;
        seconds = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(seconds >= 0)) {
            std::fputs(kMixerUsage, stderr);
            return 2;
        }
    } else if (!args.empty()) {
        std::fputs(kMixerUsage, stderr);
        return 2;
    }
    MixerId mixer = 0;
    if (!firstMixer(mixer)) {
        return 1;
    }
    const std::optional<Control> mute = find(mixer, "Microphone/Mute");
    if (!mute) {
        return 1;
    }
    const std::uint32_t on[1] = {0};
    if (audio::mixerSetValues(mixer, mute->info.controlId, 1, on) != MixerError::Ok) {
        std::fputs(
            "cvktool: the pass-through cannot be made (the recording source must not be the "
            "speakers' own monitor)\n",
            stderr);
        return 1;
    }
    std::fputs("the microphone plays through the speakers; Ctrl-C stops\n", stderr);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = seconds < 0
                                      ? Clock::time_point::max()
                                      : Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                           std::chrono::duration<double>(seconds));
    // A stop signal cuts the sleep short.
    while (!stopRequested() && Clock::now() < end) {
        const auto left = std::min<Clock::duration>(end - Clock::now(), std::chrono::seconds(1));
        const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec pause{static_cast<time_t>(nanos / 1'000'000'000),
                       static_cast<long>(nanos % 1'000'000'000)};
        ::nanosleep(&pause, nullptr);
    }
    const std::uint32_t off[1] = {1};
    audio::mixerSetValues(mixer, mute->info.controlId, 1, off);
    return 0;
}

}  // namespace

int runMixer(std::span<const std::string_view> args) {
    // A stop signal lets the command end as it does by itself: a pass-through it made is
    // unloaded on the way out, never left playing the microphone into the speakers.
    installStopSignals();
    if (args.empty() || (args.size() == 1 && args[0] == "list")) {
        return list();
    }
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(kMixerUsage, stdout);
        return 0;
    }
    if (args[0] == "get" && args.size() == 2) {
        return get(args[1]);
    }
    if (args[0] == "set" && args.size() == 3) {
        return set(args[1], args[2]);
    }
    if (args[0] == "select-source" && args.size() == 2) {
        return selectSource(args[1]);
    }
    if (args[0] == "pass-through") {
        return passThrough(args.subspan(1));
    }
    std::fputs(kMixerUsage, stderr);
    return 2;
}

}  // namespace cvktool
