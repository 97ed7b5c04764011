#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "SmfBuilder.h"
#include "ToolTestSupport.h"

using namespace tooltest;

namespace {

bool folderEmpty(const TempFolder& folder) { return std::filesystem::is_empty(folder.path()); }

// Guards against the lyrics command losing the example's items or leaving its split copy.
TEST(SongCommandsRun, LyricsJsonOfExample) {
    TempFolder scratch;
    const RunResult run = runProgram({CVKTOOL_PATH, "lyrics", EXAMPLE_SONG, "--json"}, "/dev/null",
                                     {"TMPDIR=" + scratch.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("{\"tempo\": 100, \"offset\": 2902, \"items\": [{\"start\": 1920, \"end\": 1920, \"text\": \"/\"}", 0), 0u)
        << run.out;
    EXPECT_TRUE(folderEmpty(scratch));
}

// Guards against a failed split going unreported or leaving its temporary file.
TEST(SongCommandsRun, LyricsOfMissingFile) {
    TempFolder scratch;
    const RunResult run = runProgram({CVKTOOL_PATH, "lyrics", scratch.file("none.kar")}, "/dev/null",
                                     {"TMPDIR=" + scratch.path().string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Error Reading from "), std::string::npos) << run.err;
    EXPECT_TRUE(folderEmpty(scratch));
}

// Guards against write changing a song whose settings are its own, or creating DST on failure.
TEST(SongCommandsRun, WriteExitCodes) {
    TempFolder folder;
    const std::string out = folder.file("out.kar");
    RunResult run = runProgram({CVKTOOL_PATH, "write", EXAMPLE_SONG, out});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fileBytes(out), fileBytes(EXAMPLE_SONG));
    run = runProgram({CVKTOOL_PATH, "write", EXAMPLE_SONG, out, "--tempo", "60", "--key", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fileBytes(out).size(), fileBytes(EXAMPLE_SONG).size());
    EXPECT_NE(fileBytes(out), fileBytes(EXAMPLE_SONG));

    writeText(folder.file("bad.mid"), "MThd");
    run = runProgram({CVKTOOL_PATH, "write", folder.file("bad.mid"), folder.file("new.mid")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(folder.file("new.mid")));
    EXPECT_EQ(runProgram({CVKTOOL_PATH, "write", EXAMPLE_SONG}).exitCode, 2);
}

// Guards against the instrument name being off by one from its program number.
TEST(SongCommandsRun, TracksNameTheInstruments) {
    TempFolder folder;
    using testing_support::Track;
    const auto bytes = testing_support::smf(
        1, 96, {Track().tempo(0, 500000).end(), Track().program(0, 0, 4).noteOn(0, 0, 60, 100).noteOff(96, 0, 60).end(),
                Track().program(0, 1, 127).end()});
    const std::string song = folder.file("song.mid");
    writeText(song, std::string(bytes.begin(), bytes.end()));
    const RunResult run = runProgram({CVKTOOL_PATH, "tracks", song});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("0\tprogram 255\tfile program 255\t"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1\tprogram 4 Rhodes Piano\tfile program 4 Rhodes Piano\t"), std::string::npos);
    EXPECT_NE(run.out.find("2\tprogram 127 Gunshot\t"), std::string::npos);
    const RunResult json = runProgram({CVKTOOL_PATH, "tracks", song, "--json"});
    EXPECT_NE(json.out.find("\"program\": 4, \"instrument\": \"Rhodes Piano\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"program\": 255, \"instrument\": null"), std::string::npos);
}

// Guards against --as-shown printing other words than the window's, without the rule's
// name, or the plain command taking the further rules' words.
TEST(SongCommandsRun, LyricsAsShownNameTheRule) {
    TempFolder folder;
    using testing_support::Track;
    const auto bytes = testing_support::smf(
        1, 96, {Track().meta(0, 1, "@TSong").meta(0, 1, "(C) 1999 Owner").meta(96, 1, "Hel").meta(48, 1, "lo\r")
                    .meta(48, 1, "\\wor").meta(48, 1, "ld").end(),
                Track().noteOn(0, 0, 60, 100).noteOff(96, 0, 60).end()});
    const std::string song = folder.file("song.kar");
    writeText(song, std::string(bytes.begin(), bytes.end()));
    const RunResult plain = runProgram({CVKTOOL_PATH, "lyrics", song});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    ASSERT_EQ(plain.out.find('\t'), std::string::npos) << "the scan found items: " << plain.out;
    const RunResult shown = runProgram({CVKTOOL_PATH, "lyrics", song, "--as-shown"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(shown.out, "rule text-track\n" + plain.out +
                             "96\t144\tHel\n144\t192\tlo\\x0d\n192\t192\t/\n192\t240\twor\n240\t240\tld\n");
}

}  // namespace
