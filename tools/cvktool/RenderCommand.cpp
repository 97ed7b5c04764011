// cvktool render: the song as the player plays it - tempo, key, volumes, instruments, its
// own tempo map when asked - rendered by the built-in synthesizer without a sound server,
// with a performance's voice placed over it, into a WAV, FLAC or Ogg Vorbis file.

#include "RenderCommand.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "AudioFile.h"
#include "Mixdown.h"
#include "Performance.h"
#include "PlayCommand.h"
#include "PlayOptions.h"
#include "SongSchedule.h"
#include "SongTempoMap.h"
#include "platform/files.h"
#include "synth/soundfont.h"

namespace cvktool {
namespace {

const char* const kRenderUsage =
    "usage: cvktool render SONG|PFC OUT.wav|OUT.flac|OUT.ogg [--tempo BPM] [--key SEMITONES]\n"
    "                      [--volumes V0,...] [--instruments P0,...] [--soundfont FILE]\n"
    "                      [--follow-tempo [--tempo-ratio N/D]] [--voice FILE.wav]\n"
    "                      [--voice-gain DB] [--voice-offset SECONDS] [--no-voice] [--loudness LUFS]\n";

struct RenderOptions {
    PlayOptions play;
    std::string target;
    std::string voiceFile;  // a take to mix in place of a performance's voice
    std::optional<std::pair<std::uint32_t, std::uint32_t>> tempoRatio;
    double voiceGainDb = 0.0;
    int voiceOffsetSeconds = 0;
    bool noVoice = false;
    std::optional<double> loudness;
};

std::optional<double> parseNumber(std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// The render's own options and OUT are taken here; the rest are the player's.
std::variant<RenderOptions, std::string> parse(std::span<const std::string_view> args) {
    RenderOptions options;
    std::vector<std::string_view> rest;
    std::vector<std::string_view> files;
    bool ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (ended || arg.size() < 2 || arg.substr(0, 2) != "--") {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            ended = true;
            continue;
        }
        if (arg == "--no-voice") {
            options.noVoice = true;
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const std::size_t equals = arg.find('='); equals != std::string_view::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        if (name != "--voice-gain" && name != "--voice-offset" && name != "--loudness" && name != "--voice" &&
            name != "--tempo-ratio") {
            rest.push_back(arg);
            // The player's options with a separate value keep it.
            if (!value && i + 1 < args.size() &&
                (name == "--tempo" || name == "--key" || name == "--volumes" || name == "--instruments" ||
                 name == "--soundfont" || name == "--device" || name == "--settings" || name == "--capture")) {
                rest.push_back(args[++i]);
            }
            continue;
        }
        if (!value) {
            if (i + 1 == args.size()) {
                return "option '" + std::string(name) + "' needs a value";
            }
            value = args[++i];
        }
        if (name == "--voice") {
            if (value->empty()) {
                return std::string("--voice needs a file name");
            }
            options.voiceFile = std::string(*value);
            continue;
        }
        if (name == "--tempo-ratio") {
            const std::size_t slash = value->find('/');
            const std::optional<double> numerator = parseNumber(value->substr(0, slash));
            const std::optional<double> denominator =
                slash == std::string_view::npos ? std::optional<double>(1.0) : parseNumber(value->substr(slash + 1));
            const auto whole = [](std::optional<double> v) {
                return v && *v >= 1 && *v <= pulsant::TempoMap::kMaxScaleTerm && *v == std::floor(*v);
            };
            if (!whole(numerator) || !whole(denominator)) {
                return std::string("--tempo-ratio takes N/D, whole numbers from 1 to 1048576");
            }
            options.tempoRatio.emplace(static_cast<std::uint32_t>(*numerator), static_cast<std::uint32_t>(*denominator));
            continue;
        }
        const std::optional<double> number = parseNumber(*value);
        if (name == "--voice-gain") {
            if (!number || *number < -60.0 || *number > 24.0) {
                return "--voice-gain takes decibels from -60 to 24";
            }
            options.voiceGainDb = *number;
        } else if (name == "--voice-offset") {
            if (!number || *number != std::floor(*number) || std::abs(*number) > 3600) {
                return "--voice-offset takes whole seconds from -3600 to 3600";
            }
            options.voiceOffsetSeconds = static_cast<int>(*number);
        } else {
            if (!number || *number < -70.0 || *number > 0.0) {
                return "--loudness takes LUFS from -70 to 0";
            }
            options.loudness = *number;
        }
    }
    if (files.size() != 2) {
        return std::string("render takes SONG and OUT");
    }
    options.target = std::string(files[1]);
    if (!render::FormatOfName(options.target)) {
        return "OUT must end in .wav, .flac or .ogg: " + options.target;
    }
    rest.insert(rest.begin(), files[0]);
    const PlayCommandLine play = parsePlayOptions(rest);
    if (const auto* error = std::get_if<UsageError>(&play)) {
        return error->message;
    }
    if (std::holds_alternative<HelpRequested>(play)) {
        return std::string("help");
    }
    options.play = std::get<PlayOptions>(play);
    if (options.play.device || options.play.capture || options.play.settings || options.play.virtualClock ||
        options.play.noSplit || options.play.lyrics) {
        return std::string("render plays through the built-in synthesizer only");
    }
    return options;
}

// Progress on a terminal as a bar redrawn in place; otherwise a line per tenth.
class ProgressView {
public:
    ProgressView() : m_terminal(::isatty(STDOUT_FILENO) != 0) {}
    ~ProgressView() {
        if (m_terminal && m_shown) {
            std::printf("\n");
        }
    }
    void show(const char* stage, double done) {
        const int percent = static_cast<int>(done * 100.0);
        if (m_terminal) {
            const int filled = percent * 30 / 100;
            std::printf("\r%-10s [%.*s%*s] %3d%%", stage, filled, "##############################", 30 - filled, "",
                        percent);
            std::fflush(stdout);
            m_shown = true;
        } else if (stage != m_lastStage || percent / 10 != m_lastTenth) {
            std::printf("%s %d%%\n", stage, percent);
            std::fflush(stdout);
            m_lastStage = stage;
            m_lastTenth = percent / 10;
        }
    }

private:
    bool m_terminal;
    bool m_shown = false;
    std::string m_lastStage;
    int m_lastTenth = -1;
};

volatile std::sig_atomic_t g_stop = 0;

void onStopSignal(int) { g_stop = 1; }

int fault(const std::string& message) {
    std::fprintf(stderr, "cvktool render: %s\n", message.c_str());
    return 1;
}

}  // namespace

int runRender(std::span<const std::string_view> args) {
    const auto parsed = parse(args);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        if (*error == "help") {
            std::fputs(kRenderUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "cvktool render: %s\n%s", error->c_str(), kRenderUsage);
        return 2;
    }
    const RenderOptions& options = std::get<RenderOptions>(parsed);
    const PlayOptions& play = options.play;
    const std::string& song = play.file;

    // Ctrl-C or SIGTERM: the work stops at the next step and nothing is left behind.
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    ProgressView view;
    const auto progress = [&view](const char* stage) {
        return [&view, stage](double done) {
            view.show(stage, done);
            return g_stop == 0;
        };
    };

    const auto loaded = loadSequencer();
    if (const auto* error = std::get_if<std::string>(&loaded)) {
        return fault(*error);
    }
    const SequencerTable& sequencer = std::get<SequencerTable>(loaded);

    SongFile split;
    if (const std::string failure = split.prepare(song, false); !failure.empty()) {
        return fault(failure);
    }
    // A take given, or a performance's voice, unless left out.
    std::optional<render::Samples> voice;
    if (!options.noVoice && !options.voiceFile.empty()) {
        auto read = render::ReadVoice(options.voiceFile);
        if (const auto* error = std::get_if<std::string>(&read)) {
            return fault(*error);
        }
        voice = std::move(std::get<render::Samples>(read));
    } else if (!options.noVoice) {
        const songfile::PerformanceInfo probe = songfile::ProbePerformance(song);
        if (probe.message.empty() && probe.voice.hasVoice()) {
            const songfile::VoiceReadResult extracted =
                songfile::ExtractPerformanceVoice(song, probe.waveOffset, platform::tempFolder(), "CVR");
            if (!extracted.hasVoice()) {
                return fault(extracted.message);
            }
            auto read = render::ReadVoice(extracted.voiceFile);
            platform::removeFile(extracted.voiceFile);
            if (const auto* error = std::get_if<std::string>(&read)) {
                return fault(*error);
            }
            voice = std::move(std::get<render::Samples>(read));
        }
    }

    render::ScheduleRequest request;
    request.splitFile = split.path();
    request.tempo = play.tempo;
    request.key = play.key;
    request.volumes = play.volumes.data();
    request.instruments = play.instruments.data();
    if (play.followTempo) {
        const std::optional<pulsant::TempoMap> map = songfile::ReadTempoMap(split.path());
        request.followTempo = map.has_value();
        if (map && options.tempoRatio) {
            request.scaleNumerator = options.tempoRatio->first;
            request.scaleDenominator = options.tempoRatio->second;
        } else if (map && play.tempo != 0) {
            const pulsant::TempoMap::Scale scale = map->scaleForTempoAt(0, static_cast<std::uint32_t>(play.tempo));
            request.scaleNumerator = scale.numerator;
            request.scaleDenominator = scale.denominator;
        }
    }
    view.show("schedule", 0.0);
    auto scheduled = render::ScheduleSong(sequencer, request);
    if (const auto* error = std::get_if<std::string>(&scheduled)) {
        return fault(song + ": " + *error);
    }
    const auto& messages = std::get<std::vector<render::TimedMessage>>(scheduled);

    if (play.soundFont) {
        synth::setSoundFontChoice(*play.soundFont);
    }
    std::string why;
    const std::unique_ptr<synth::OfflineSynth> synthesizer = synth::OfflineSynth::open(why);
    if (synthesizer == nullptr) {
        return fault(why);
    }
    std::optional<render::Samples> mix = render::SynthesizeSong(*synthesizer, messages, progress("render"));
    if (!mix) {
        return fault("cancelled; " + options.target + " was not written");
    }
    if (voice) {
        render::MixVoice(*mix, *voice, std::int64_t{options.voiceOffsetSeconds} * render::kRate,
                         static_cast<float>(std::pow(10.0, options.voiceGainDb / 20.0)));
    }
    render::SetLevel(*mix, options.loudness);
    const std::string written =
        render::WriteAudioFile(options.target, *render::FormatOfName(options.target), *mix, progress("write"));
    if (!written.empty()) {
        return fault(written == "cancelled" ? "cancelled; " + options.target + " was not written" : written);
    }
    return 0;
}

}  // namespace cvktool
