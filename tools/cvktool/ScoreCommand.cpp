#include "ScoreCommand.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <variant>

#include "CommandArguments.h"
#include "LyricFallback.h"
#include "MidiSplit.h"
#include "Performance.h"
#include "Score.h"
#include "SongCommands.h"
#include "SongMelody.h"
#include "VoiceFile.h"
#include "platform/files.h"

namespace cvktool {

const char* const kScoreUsage =
    "usage: cvktool score SONG|PFC [VOICE.wav] [--json] [--trail CSV]\n"
    "  Scores a voice against the song's melody: the melody track chosen (by its notes\n"
    "  against the words, or the highest single line when there are none), the score\n"
    "  0..100 (the share of the melody's time sung within a semitone of the note, octaves\n"
    "  forgiven), the median offset of the voice in semitones, and the key that suits the\n"
    "  singer (-3: the voice sat 3 semitones below; none when the voice was in tune).\n"
    "  The voice is VOICE.wav (any wave file, any rate) or, for a performance file, the\n"
    "  voice it holds; it starts with the song.\n"
    "  --json prints one object {\"melody_track\", \"score\", \"median_offset\",\n"
    "  \"suggested_key\"}; --trail writes CSV with time, melody note and sung pitch (MIDI\n"
    "  key numbers, empty where none) every 10 ms.\n";

namespace {

int usage(const std::string& message) {
    std::fprintf(stderr, "cvktool score: %s\n%s", message.c_str(), kScoreUsage);
    return 2;
}

int fault(const std::string& message) {
    std::fprintf(stderr, "cvktool score: %s\n", message.c_str());
    return 1;
}

// Temporary files removed on every way out.
struct TemporaryPath {
    std::string path;
    ~TemporaryPath() {
        if (!path.empty()) {
            platform::removeFile(path);
        }
    }
};

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string upperExtension(const std::string& file) {
    std::string mode = songMode(file);
    for (char& c : mode) {
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return mode.substr(0, 4);
}

// The trail through a new file beside the target: a failed write leaves the old one.
bool writeTrail(const std::string& target, const std::vector<pitch::TrailPoint>& trail) {
    platform::ReplacementFile replacement(target, platform::ReplacementFile::Start::Empty);
    if (!replacement.valid()) {
        return false;
    }
    platform::FileWriter writer;
    if (!writer.open(replacement.path())) {
        return false;
    }
    std::string text = "time,melody,sung\n";
    for (const pitch::TrailPoint& point : trail) {
        text += fixed(point.seconds, 2) + "," + (point.melody ? fixed(*point.melody, 2) : "") + "," +
                (point.sung ? fixed(*point.sung, 2) : "") + "\n";
    }
    return writer.write(text.data(), text.size()) && writer.close() && replacement.commit();
}

int score(const Arguments& line) {
    if (line.files.empty() || line.files.size() > 2) {
        return usage("score takes SONG or PFC and at most one VOICE.wav");
    }
    const std::string& song = line.files[0];
    const std::string mode = upperExtension(song);
    TemporaryPath split{platform::createTempFile(platform::tempFolder(), "CV")};
    if (split.path.empty()) {
        return fault("cannot create a temporary file in " + platform::tempFolder());
    }
    const songfile::SplitResult result = songfile::SplitMidiFile(song, split.path);
    if (!result.message.empty()) {
        return fault(result.message);
    }

    // The voice: the one given, or the one the performance holds.
    std::string voicePath;
    TemporaryPath extracted;
    if (line.files.size() == 2) {
        voicePath = line.files[1];
    } else {
        const songfile::PerformanceInfo probe = songfile::ProbePerformance(song);
        if (!probe.message.empty()) {
            return fault(probe.message);
        }
        if (!probe.voice.hasVoice()) {
            return fault(song + " holds no voice; give VOICE.wav");
        }
        songfile::VoiceReadResult voice =
            songfile::ExtractPerformanceVoice(song, probe.waveOffset, platform::tempFolder(), "CV");
        if (!voice.hasVoice()) {
            return fault(voice.message);
        }
        extracted.path = voice.voiceFile;
        voicePath = voice.voiceFile;
    }

    const songfile::ShownLyrics lyrics =
        songfile::ScanShownLyrics(split.path, mode, [](const char*) { return true; });
    // The player plays the song at the one tempo its scan found, and the take follows it.
    const pitch::SongMelody melody = pitch::LoadSongMelody(
        split.path, lyrics.first, {0, static_cast<std::uint32_t>(std::max(1, lyrics.tempo)), 1, 1});
    songfile::FreeLyricList(lyrics.first);
    if (!melody.message.empty()) {
        return fault(melody.message);
    }
    const pitch::VoicePitch voice = pitch::ReadVoicePitch(voicePath);
    if (!voice.message.empty()) {
        return fault(line.files.size() == 2 ? voice.message : "the voice in " + song + " cannot be read");
    }
    const std::string* trailFile = line.value("trail");
    const pitch::TakeScore take = pitch::ScoreTake(melody.notes, voice.frames, trailFile != nullptr);
    if (trailFile != nullptr && !writeTrail(*trailFile, take.trail)) {
        return fault("cannot write " + *trailFile + "; it is unchanged");
    }

    const std::string track = melody.choice.track >= 0 ? std::to_string(melody.choice.track) : "";
    std::string out;
    if (line.flag("json")) {
        out = "{\"melody_track\": " + (track.empty() ? std::string("null") : track) +
              ", \"score\": " + std::to_string(take.score) + ", \"median_offset\": " +
              (take.medianOffset ? fixed(*take.medianOffset, 2) : "null") + ", \"suggested_key\": " +
              (take.suggestedKey ? std::to_string(*take.suggestedKey) : "null") + "}\n";
    } else {
        out = "melody track\t" + (track.empty() ? std::string("none") : track) + "\nscore\t" +
              std::to_string(take.score) + "\nmedian offset\t" +
              (take.medianOffset ? fixed(*take.medianOffset, 2) + " semitones" : std::string("none (not sung)")) +
              "\nsuggested key\t" + (take.suggestedKey ? std::to_string(*take.suggestedKey) : std::string("none")) +
              "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

}  // namespace

int runScoreCommand(const std::vector<std::string>& args) {
    try {
        const auto split = splitArguments(args, {{"json", false}, {"trail", true}});
        if (const auto* error = std::get_if<UsageError>(&split)) {
            return usage(error->message);
        }
        const Arguments& line = std::get<Arguments>(split);
        if (line.help) {
            std::fputs(kScoreUsage, stdout);
            return 0;
        }
        return score(line);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cvktool score: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "cvktool score: unexpected failure\n");
    }
    return 1;
}

int runScore(std::span<const std::string_view> args) {
    return runScoreCommand(std::vector<std::string>(args.begin(), args.end()));
}

}  // namespace cvktool
