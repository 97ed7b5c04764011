#include "PfcCommands.h"

#include <array>
#include <cstdio>
#include <exception>
#include <optional>
#include <utility>
#include <variant>

#include "CommandArguments.h"
#include "LyricScan.h"
#include "MidiSplit.h"
#include "Performance.h"
#include "PlayOptions.h"
#include "SongCommands.h"
#include "WaveFile.h"
#include "platform/files.h"

namespace cvktool {

const char* const kPfcUsage =
    "usage: cvktool pfc info FILE [--json]\n"
    "       cvktool pfc extract FILE OUT.wav\n"
    "       cvktool pfc make SONG VOICE.wav OUT.pfc [--tempo BPM] [--key SEMITONES]\n"
    "  info: the song part's length, the offset where the player looks for the voice,\n"
    "  and the voice's chunk, wave format and duration.\n"
    "  extract: the voice as a wave file; OUT.wav is replaced only when all is written.\n"
    "  make: SONG as the player saves it (split, with the tempo and key burnt in; the\n"
    "  song's own tempo and key 0 by default), then VOICE.wav in an \"Rvpf\" chunk.\n";

namespace {

constexpr long long kMaxTempo = 60'000'000;

struct Parsed {
    std::vector<std::string> files;
    std::optional<std::string> tempo;
    std::optional<std::string> key;
    bool json = false;
    bool help = false;
};

std::variant<Parsed, UsageError> parse(const std::vector<std::string>& args, bool takesSettings, bool takesJson) {
    const auto split = takesSettings ? splitArguments(args, {{"tempo", true}, {"key", true}})
                       : takesJson   ? splitArguments(args, {{"json", false}})
                                     : splitArguments(args, {});
    if (const auto* error = std::get_if<UsageError>(&split)) {
        return *error;
    }
    const Arguments& line = std::get<Arguments>(split);
    Parsed out;
    out.files = line.files;
    out.help = line.help;
    out.json = line.flag("json");
    if (const std::string* tempo = line.value("tempo")) {
        out.tempo = *tempo;
    }
    if (const std::string* key = line.value("key")) {
        out.key = *key;
    }
    return out;
}

int usage(const std::string& message) {
    std::fprintf(stderr, "cvktool pfc: %s\n%s", message.c_str(), kPfcUsage);
    return 2;
}

int fault(const std::string& message) {
    std::fprintf(stderr, "cvktool pfc: %s\n", message.c_str());
    return 1;
}

const char* voiceName(songfile::VoiceReadOutcome outcome) {
    switch (outcome) {
    case songfile::VoiceReadOutcome::Voice:
        return "voice";
    case songfile::VoiceReadOutcome::CutShort:
        return "cut-short";
    case songfile::VoiceReadOutcome::NoChunk:
        return "none";
    case songfile::VoiceReadOutcome::NotWave:
        return "not-wave";
    case songfile::VoiceReadOutcome::CannotOpen:
    case songfile::VoiceReadOutcome::CannotWrite:
        return "unreadable";
    }
    return "unreadable";
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

int info(const Parsed& parsed) {
    if (parsed.files.size() != 1) {
        return usage("info takes one FILE");
    }
    const std::string& file = parsed.files[0];
    const songfile::PerformanceInfo probe = songfile::ProbePerformance(file);
    if (!probe.message.empty()) {
        return fault(probe.message);
    }
    const songfile::VoiceReadResult& voice = probe.voice;
    const bool hasFormat = voice.hasVoice();
    const audio::WaveFormat& format = voice.format;
    std::string out;
    if (parsed.json) {
        out = "{\"file\": " + jsonBytes(file) + ", \"fileBytes\": " + std::to_string(probe.fileBytes) +
              ", \"songBytes\": " + (probe.songBytes ? std::to_string(*probe.songBytes) : "null") +
              ", \"waveOffset\": " + std::to_string(probe.waveOffset) + ", \"voice\": \"" +
              voiceName(voice.outcome) + "\", \"chunkBytes\": " + std::to_string(voice.declaredBytes) +
              ", \"heldBytes\": " + std::to_string(voice.heldBytes);
        if (hasFormat) {
            out += ", \"format\": {\"tag\": " + std::to_string(format.formatTag) +
                   ", \"channels\": " + std::to_string(format.channels) +
                   ", \"rate\": " + std::to_string(format.samplesPerSec) +
                   ", \"bits\": " + std::to_string(format.bitsPerSample) +
                   ", \"blockAlign\": " + std::to_string(format.blockAlign) +
                   "}, \"dataBytes\": " + std::to_string(voice.dataBytes) + ", \"seconds\": " +
                   seconds(probe.seconds());
        } else {
            out += ", \"format\": null, \"dataBytes\": 0, \"seconds\": 0";
        }
        out += "}\n";
    } else {
        out = "file bytes\t" + std::to_string(probe.fileBytes) + "\nsong bytes\t" +
              (probe.songBytes ? std::to_string(*probe.songBytes) : std::string("not a song")) +
              "\nwave offset\t" + std::to_string(probe.waveOffset) + "\nvoice\t" + voiceName(voice.outcome) + "\n";
        if (voice.outcome != songfile::VoiceReadOutcome::NoChunk) {
            out += "chunk bytes\t" + std::to_string(voice.declaredBytes) + " (" + std::to_string(voice.heldBytes) +
                   " in the file)\n";
        }
        if (hasFormat) {
            out += "format\t" + std::string(format.formatTag == audio::kWaveFormatPcm ? "PCM" : "tag " + std::to_string(format.formatTag)) +
                   " " + std::to_string(format.samplesPerSec) + " Hz, " + std::to_string(format.channels) +
                   (format.channels == 1 ? " channel, " : " channels, ") + std::to_string(format.bitsPerSample) +
                   " bits\nduration\t" + seconds(probe.seconds()) + " s\n";
        } else if (!voice.message.empty() && voice.outcome != songfile::VoiceReadOutcome::NoChunk) {
            out += "problem\t" + printableBytes(voice.message) + "\n";
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int extract(const Parsed& parsed) {
    if (parsed.files.size() != 2) {
        return usage("extract takes FILE and OUT.wav");
    }
    const std::string& file = parsed.files[0];
    const std::string& target = parsed.files[1];
    const songfile::PerformanceInfo probe = songfile::ProbePerformance(file);
    if (!probe.message.empty()) {
        return fault(probe.message);
    }
    const songfile::VoiceReadResult voice =
        songfile::ExtractPerformanceVoice(file, probe.waveOffset, platform::tempFolder(), "CV");
    if (!voice.hasVoice()) {
        return fault(voice.message);
    }
    // Through a new file beside the target, so that a failed copy leaves OUT as it was.
    platform::ReplacementFile replacement(target, platform::ReplacementFile::Start::Empty);
    const bool copied = replacement.valid() && platform::copyFile(voice.voiceFile, replacement.path()) &&
                        replacement.commit();
    platform::removeFile(voice.voiceFile);
    if (!copied) {
        return fault("cannot write " + target + "; it is unchanged");
    }
    if (voice.outcome == songfile::VoiceReadOutcome::CutShort) {
        std::fprintf(stderr, "cvktool pfc: the voice in %s is cut short: %llu of %u bytes\n", file.c_str(),
                     static_cast<unsigned long long>(voice.heldBytes), voice.declaredBytes);
    }
    return 0;
}

// Removes the split copy on every way out.
struct SplitCopy {
    std::string path = platform::createTempFile(platform::tempFolder(), "CV");
    ~SplitCopy() {
        if (!path.empty()) {
            platform::removeFile(path);
        }
    }
};

int make(const Parsed& parsed) {
    if (parsed.files.size() != 3) {
        return usage("make takes SONG, VOICE.wav and OUT.pfc");
    }
    std::optional<long long> tempo;
    long long key = 0;
    if (parsed.tempo && !(tempo = parseNumber(*parsed.tempo, 1, kMaxTempo))) {
        return usage("--tempo must be a whole number of beats per minute, 1 to 60000000");
    }
    if (parsed.key) {
        const std::optional<long long> value = parseNumber(*parsed.key, -kMaxKey, kMaxKey);
        if (!value) {
            return usage("--key must be a whole number of semitones, -127 to 127");
        }
        key = *value;
    }
    const std::string& songPath = parsed.files[0];
    const std::string& voice = parsed.files[1];
    const std::string& target = parsed.files[2];

    {
        platform::FileReader wave;
        voxcapt::ParsedWave format;
        if (!wave.open(voice)) {
            return fault(voxcapt::parseErrorText(voxcapt::WaveParseError::CannotOpen, voice));
        }
        const voxcapt::WaveParseError error = voxcapt::parseWave(wave, format);
        if (error != voxcapt::WaveParseError::None) {
            return fault(voxcapt::parseErrorText(error, voice));
        }
    }
    const SplitCopy split;
    if (split.path.empty()) {
        return fault("cannot create a temporary file in " + platform::tempFolder());
    }
    const songfile::SplitResult splitResult = songfile::SplitMidiFile(songPath, split.path);
    if (!splitResult.message.empty()) {
        return fault(splitResult.message);
    }
    if (!tempo) {
        // The song's own tempo, as the player starts with it.
        int found = 0;
        std::optional<std::uint64_t> offset;
        songfile::FreeLyricList(songfile::ExtractLyrics(split.path, "", found, offset));
        tempo = found > 0 ? found : 120;
    }
    std::array<std::int16_t, kTrackSlots> instruments;
    instruments.fill(static_cast<std::int16_t>(kKeepProgram));
    const std::array<std::int16_t, kTrackSlots> velocities{};
    const songfile::PerformanceSong song{split.path, static_cast<unsigned>(*tempo), instruments.data(),
                                         static_cast<int>(key), velocities.data(), {}};
    const songfile::PerformanceWriteResult result = songfile::WritePerformance(song, voice, target);
    if (!result.ok()) {
        return fault(result.message + "; " + target + " is unchanged");
    }
    return 0;
}

int pfcCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        return usage("info, extract or make is needed");
    }
    const std::string& action = args[0];
    if (action == "--help" || action == "-h") {
        std::fputs(kPfcUsage, stdout);
        return 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    const bool isMake = action == "make";
    if (action != "info" && action != "extract" && !isMake) {
        return usage("unknown action '" + action + "'");
    }
    const auto line = parse(rest, isMake, action == "info");
    if (const auto* error = std::get_if<UsageError>(&line)) {
        return usage(error->message);
    }
    const Parsed& parsed = std::get<Parsed>(line);
    if (parsed.help) {
        std::fputs(kPfcUsage, stdout);
        return 0;
    }
    if (action == "info") {
        return info(parsed);
    }
    return isMake ? make(parsed) : extract(parsed);
}

}  // namespace

int runPfcCommand(const std::vector<std::string>& args) {
    try {
        return pfcCommand(args);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cvktool pfc: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "cvktool pfc: unexpected failure\n");
    }
    return 1;
}

int runPfc(std::span<const std::string_view> args) {
    try {
        return runPfcCommand(std::vector<std::string>(args.begin(), args.end()));
    } catch (...) {
        std::fprintf(stderr, "cvktool pfc: unexpected failure\n");
        return 1;
    }
}

}  // namespace cvktool
