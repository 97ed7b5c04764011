// cvktool's refusals that need the sound server's mixer: each says what is wrong and
// changes nothing on the server.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "TempDir.h"
#include "TestServer.h"

namespace {

struct Ran {
    int exitCode = -1;
    std::string output;  // standard output and error
};

Ran runShell(const std::string& command) {
    Ran ran;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return ran;
    }
    std::array<char, 512> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) {
        ran.output += chunk.data();
    }
    const int status = ::pclose(pipe);
    ran.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

// Guards a recording source out of range ("cannot record from source 9" left the user
// guessing): the command names the sources there are, and records nothing.
TEST(TakeSafety, ARecordingSourceOutOfRangeNamesTheSourcesThereAre) {
    SKIP_WITHOUT_TEST_SERVER();
    const std::string tool = CVKTOOL_PATH;
    const Ran listed = runShell(tool + " mixer list");
    ASSERT_EQ(listed.exitCode, 0) << listed.output;
    testing_support::TempDir dir;
    const Ran ran = runShell(tool + " record '" + dir.path("take.wav") + "' --seconds 1 --device 99");
    EXPECT_EQ(ran.exitCode, 1);
    EXPECT_EQ(ran.output.rfind("cvktool: there is no recording source 99; the sources are 0 Microphone", 0), 0u)
        << ran.output;
    EXPECT_NE(ran.output.find(", 1 Stereo Mix"), std::string::npos) << ran.output;
    EXPECT_EQ(ran.output.find("recording " + dir.path("take.wav")), std::string::npos) << "refused before recording";
}

// Guards a mute set to something other than on or off: refused, the server's mute
// unchanged.
TEST(TakeSafety, AMuteIsZeroOrOne) {
    SKIP_WITHOUT_TEST_SERVER();
    const std::string tool = CVKTOOL_PATH;
    for (const char* value : {"2", "65535", "1,2"}) {
        SCOPED_TRACE(value);
        const Ran ran = runShell(tool + " mixer set Speakers/Mute " + value);
        EXPECT_EQ(ran.exitCode, 1);
        EXPECT_EQ(ran.output, "cvktool: Speakers/Mute is 0 or 1\n");
        EXPECT_EQ(runShell("pactl get-sink-mute speakers").output, "Mute: no\n");
    }
}

}  // namespace
