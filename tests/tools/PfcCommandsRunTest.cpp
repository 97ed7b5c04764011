#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ToolTestSupport.h"
#include "WaveBuilder.h"

using namespace tooltest;

namespace {

bool folderEmpty(const TempFolder& folder) { return std::filesystem::is_empty(folder.path()); }

std::string waveText(std::size_t dataBytes) {
    const auto wave = testing_support::waveFile(testing_support::pcmFormat(22050, 1, 16),
                                                testing_support::rampData(dataBytes));
    return std::string(wave.begin(), wave.end());
}

// Guards against make writing anything but the player's song part followed by the voice
// byte for byte (with its pad byte), and against info and extract disagreeing with it.
TEST(PfcCommandsRun, MakeInfoExtractRoundTrip) {
    TempFolder folder;
    TempFolder scratch;
    const std::string voice = folder.file("voice.wav");
    writeText(voice, waveText(44100) + "!");  // odd: a pad byte follows
    const std::string pfc = folder.file("twinkle.pfc");
    const std::vector<std::string> env = {"TMPDIR=" + scratch.path().string()};
    RunResult run = runProgram({CVKTOOL_PATH, "pfc", "make", EXAMPLE_SONG, voice, pfc, "--tempo", "90"}, "/dev/null", env);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // The song part is what `write` makes of the split song with the same settings.
    const std::string split = folder.file("split.mid");
    const std::string song = folder.file("song.mid");
    ASSERT_EQ(runProgram({CVKTOOL_PATH, "split", EXAMPLE_SONG, split}).exitCode, 0);
    ASSERT_EQ(runProgram({CVKTOOL_PATH, "write", split, song, "--tempo", "90"}).exitCode, 0);
    const std::string songBytes = readText(song);
    const std::string voiceBytes = readText(voice);
    const std::string expected = songBytes + "Rvpf" + std::string{char(voiceBytes.size() & 0xFF), char((voiceBytes.size() >> 8) & 0xFF), 0, 0} +
                                 voiceBytes + std::string(1, '\0');
    EXPECT_EQ(readText(pfc), expected);

    run = runProgram({CVKTOOL_PATH, "pfc", "info", pfc, "--json"}, "/dev/null", env);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string offset = std::to_string(songBytes.size());
    EXPECT_NE(run.out.find("\"songBytes\": " + offset + ", \"waveOffset\": " + offset + ", \"voice\": \"voice\""),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"rate\": 22050"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"seconds\": 1.000"), std::string::npos) << run.out;

    const std::string out = folder.file("out.wav");
    run = runProgram({CVKTOOL_PATH, "pfc", "extract", pfc, out}, "/dev/null", env);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readText(out), voiceBytes);
    EXPECT_TRUE(folderEmpty(scratch));
}

struct ExitCase {
    const char* name;
    std::vector<std::string> args;  // "@" stands for the test's folder
    int exitCode;
    const char* message;  // in stderr
};

// Guards against faults going unreported, a usage error passing as a file fault (or the
// reverse), a message that does not name the file, and a failed command touching its output.
TEST(PfcCommandsRun, ExitCodesAndMessages) {
    TempFolder folder;
    TempFolder scratch;
    const std::string at = folder.path().string();
    writeText(at + "/voice.wav", waveText(100));
    writeText(at + "/text.wav", "not a wave");
    writeText(at + "/old.pfc", "old");
    writeText(at + "/broken.pfc", readText(EXAMPLE_SONG) + std::string("Rvpf\x05\0\0\0hello", 13));
    const ExitCase cases[] = {
        {"no action", {}, 2, "info, extract or make"},
        {"unknown action", {"show", "x"}, 2, "unknown action"},
        {"info without file", {"info"}, 2, "info takes one FILE"},
        {"make option to info", {"info", EXAMPLE_SONG, "--tempo", "90"}, 2, "unknown option"},
        {"bad tempo", {"make", EXAMPLE_SONG, "@/voice.wav", "@/old.pfc", "--tempo", "0"}, 2, "--tempo"},
        {"bad key", {"make", EXAMPLE_SONG, "@/voice.wav", "@/old.pfc", "--key=200"}, 2, "--key"},
        {"info of missing file", {"info", "@/none.pfc"}, 1, "@/none.pfc"},
        {"extract without voice", {"extract", EXAMPLE_SONG, "@/old.pfc"}, 1, "holds no voice recording"},
        {"extract of damaged voice", {"extract", "@/broken.pfc", "@/old.pfc"}, 1, "@/broken.pfc is damaged"},
        {"make from missing song", {"make", "@/none.kar", "@/voice.wav", "@/old.pfc"}, 1, "@/none.kar"},
        {"make with a voice not a wave", {"make", EXAMPLE_SONG, "@/text.wav", "@/old.pfc"}, 1, "@/text.wav, is not a WAVE"},
        {"make with a missing voice", {"make", EXAMPLE_SONG, "@/none.wav", "@/old.pfc"}, 1, "@/none.wav"},
    };
    const auto expand = [&](std::string text) {
        for (std::size_t pos; (pos = text.find('@')) != std::string::npos;) {
            text.replace(pos, 1, at);
        }
        return text;
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = {CVKTOOL_PATH, "pfc"};
        for (const std::string& arg : c.args) {
            argv.push_back(expand(arg));
        }
        const RunResult run = runProgram(argv, "/dev/null", {"TMPDIR=" + scratch.path().string()});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(expand(c.message)), std::string::npos) << run.err;
        EXPECT_EQ(readText(at + "/old.pfc"), "old");
        EXPECT_TRUE(folderEmpty(scratch));
    }
    const RunResult info = runProgram({CVKTOOL_PATH, "pfc", "info", at + "/broken.pfc"});
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_NE(info.out.find("voice\tnot-wave\nchunk bytes\t5 (5 in the file)\n"), std::string::npos) << info.out;
}

}  // namespace
