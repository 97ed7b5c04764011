#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "PitchTestSong.h"
#include "ToolTestSupport.h"
#include "WaveBuilder.h"

using namespace tooltest;

namespace {

// The test song's melody sung into a 16-bit wave file of `rate` and `channels`.
void writeVoice(const std::string& path, const pitch_test::VoiceShape& shape, int rate, int channels) {
    const std::vector<float> voice = pitch_test::singMelody(shape, rate, channels);
    std::vector<std::int16_t> samples(voice.size());
    for (std::size_t i = 0; i < voice.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(voice[i] * 32767.0f);
    }
    const auto wave = testing_support::waveFile(
        testing_support::pcmFormat(static_cast<std::uint32_t>(rate), static_cast<std::uint16_t>(channels), 16),
        testing_support::samples16(samples));
    writeText(path, std::string(wave.begin(), wave.end()));
}

// Guards against the command reading a voice at another rate wrongly, reading the voice
// kept in a performance differently from a wave given beside the song, and printing the
// key the wrong way round (a voice below the melody must bring the song down).
TEST(ScoreCommandRun, SongWithVoiceAndPerformance) {
    TempFolder folder;
    const std::string song = folder.file("tune.kar");
    const std::vector<std::uint8_t> bytes = pitch_test::songBytes(true);
    writeText(song, std::string(bytes.begin(), bytes.end()));
    const std::string low = folder.file("low.wav");
    writeVoice(low, {-3.0, 0.0, false}, 44100, 2);
    RunResult run = runProgram({CVKTOOL_PATH, "score", song, low, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("{\"melody_track\": 3, \"score\": "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"median_offset\": -3.0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"suggested_key\": -3}"), std::string::npos) << run.out;

    const std::string exact = folder.file("exact.wav");
    writeVoice(exact, {}, 22050, 1);
    const std::string pfc = folder.file("take.pfc");
    ASSERT_EQ(runProgram({CVKTOOL_PATH, "pfc", "make", song, exact, pfc}).exitCode, 0);
    const std::string trail = folder.file("trail.csv");
    run = runProgram({CVKTOOL_PATH, "score", pfc, "--trail", trail});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.out.rfind("melody track\t3\nscore\t", 0), 0u) << run.out;
    EXPECT_GE(std::stoi(run.out.substr(run.out.find("score\t") + 6)), 95) << run.out;
    EXPECT_NE(run.out.find("suggested key\tnone\n"), std::string::npos) << run.out;

    // One row every 10 ms; the first note (C4 at one second) sung where it is written.
    const std::string csv = readText(trail);
    EXPECT_EQ(csv.rfind("time,melody,sung\n0.00,,\n0.01,,\n", 0), 0u) << csv.substr(0, 80);
    EXPECT_NE(csv.find("\n1.10,60.00,60.0"), std::string::npos);
}

struct ExitCase {
    const char* name;
    std::vector<std::string> args;  // "@" stands for the test's folder
    int exitCode;
    const char* message;  // in stderr
};

// Guards against faults going unreported, a usage error passing as a file fault (or the
// reverse), a message that does not name the file, and a failed run touching the trail.
TEST(ScoreCommandRun, ExitCodesAndMessages) {
    TempFolder folder;
    const std::string at = folder.path().string();
    const std::vector<std::uint8_t> bytes = pitch_test::songBytes(true);
    writeText(at + "/tune.kar", std::string(bytes.begin(), bytes.end()));
    writeText(at + "/text.wav", "not a wave");
    writeText(at + "/old.csv", "old");
    const auto wave = testing_support::waveFile(testing_support::pcmFormat(22050, 1, 16), testing_support::rampData(4410));
    writeText(at + "/voice.wav", std::string(wave.begin(), wave.end()));
    const ExitCase cases[] = {
        {"no song", {}, 2, "takes SONG or PFC"},
        {"three files", {"@/tune.kar", "@/text.wav", "@/text.wav"}, 2, "at most one VOICE.wav"},
        {"unknown option", {"@/tune.kar", "--key", "2"}, 2, "unknown option"},
        {"missing song", {"@/none.kar", "@/text.wav"}, 1, "@/none.kar"},
        {"song without a voice", {"@/tune.kar", "--trail", "@/old.csv"}, 1, "@/tune.kar holds no voice"},
        {"voice not a wave", {"@/tune.kar", "@/text.wav", "--trail", "@/old.csv"}, 1, "@/text.wav"},
        {"missing voice", {"@/tune.kar", "@/none.wav"}, 1, "@/none.wav"},
        {"trail in a missing folder", {"@/tune.kar", "@/voice.wav", "--trail", "@/no/t.csv"}, 1, "@/no/t.csv"},
    };
    const auto expand = [&](std::string text) {
        for (std::size_t pos; (pos = text.find('@')) != std::string::npos;) {
            text.replace(pos, 1, at);
        }
        return text;
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = {CVKTOOL_PATH, "score"};
        for (const std::string& arg : c.args) {
            argv.push_back(expand(arg));
        }
        const RunResult run = runProgram(argv);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(expand(c.message)), std::string::npos) << run.err;
        EXPECT_EQ(readText(at + "/old.csv"), "old");
    }
}

}  // namespace
