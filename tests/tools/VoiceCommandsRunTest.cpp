// cvktool's voice commands run as a user runs them, on the virtual sound devices.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "RunningProgram.h"
#include "ToolTestSupport.h"
#include "WaveBuilder.h"

using namespace tooltest;
using testing_support::pcmFormat;
using testing_support::rampData;
using testing_support::waveFile;

namespace {

std::uint32_t u32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The `data` chunk's payload, wherever the chunks before it end.
std::vector<std::uint8_t> payload(const std::vector<std::uint8_t>& file) {
    for (std::size_t at = 12; at + 8 <= file.size(); at += 8 + u32(file, at + 4)) {
        if (std::equal(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at) + 4, "data")) {
            return {file.begin() + static_cast<std::ptrdiff_t>(at) + 8, file.end()};
        }
    }
    return {};
}

std::vector<std::string> virtualDevices(const std::string& microphone, const std::string& speakers) {
    return {"CVK_VIRTUAL_WAVE=1", "CVK_WAVE_MICROPHONE=" + microphone, "CVK_WAVE_SPEAKERS=" + speakers};
}

}  // namespace

// Guards the three commands end to end: the take holds the microphone's audio, playwave
// plays it with the offset's silence first, mix writes the sum; and their exit codes.
TEST(VoiceCommandsRun, RecordPlayAndMixATake) {
    TempFolder folder;
    const auto voice = rampData(3 * 44100);
    const std::string mic = folder.file("mic.wav");
    testing_support::TempDir scratch;
    std::filesystem::copy_file(scratch.write("m.wav", waveFile(pcmFormat(22050, 1, 16), voice)), mic);
    const std::string take = folder.file("take.wav");
    const RunResult recorded = runProgram({CVKTOOL_PATH, "record", take, "--seconds", "1", "--no-monitor"},
                                          "/dev/null", virtualDevices(mic, folder.file("heard.wav")));
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
    const auto takeBytes = fileBytes(take);
    const auto data = payload(takeBytes);
    ASSERT_GE(data.size(), 40'000u);
    EXPECT_EQ(data, std::vector<std::uint8_t>(voice.begin(), voice.begin() + static_cast<std::ptrdiff_t>(data.size())));
    EXPECT_EQ(u32(takeBytes, 42), data.size());

    const RunResult played = runProgram({CVKTOOL_PATH, "playwave", take, "--offset", "-1", "--virtual-clock"},
                                        "/dev/null", virtualDevices(mic, folder.file("out.wav")));
    ASSERT_EQ(played.exitCode, 0) << played.err;
    std::vector<std::uint8_t> expected(44100, 0);
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(payload(fileBytes(folder.file("out.wav"))), expected);

    const RunResult mixed = runProgram({CVKTOOL_PATH, "mix", take, take, folder.file("double.wav")});
    ASSERT_EQ(mixed.exitCode, 0) << mixed.err;
    EXPECT_EQ(fileBytes(folder.file("double.wav")).size(), takeBytes.size());

    const std::vector<std::pair<std::vector<std::string>, int>> failures{
        {{"record"}, 2},
        {{"record", take, "--echo", "5000"}, 2},
        {{"playwave", take, "--offset", "x"}, 2},
        {{"mix", take, take}, 2},
        {{"playwave", folder.file("none.wav")}, 1},
        {{"mix", take, mic + "x", folder.file("m.wav")}, 1},
    };
    for (const auto& [args, code] : failures) {
        SCOPED_TRACE(testing::PrintToString(args));
        std::vector<std::string> argv{CVKTOOL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(runProgram(argv, "/dev/null", virtualDevices(mic, folder.file("x.wav"))).exitCode, code);
    }
}

// Guards a take against a crash: a recorder killed mid-take leaves its temporary file as
// a valid wave file holding all but at most the last second of what it captured.
TEST(VoiceCommandsRun, AKilledRecorderLeavesAPlayableTake) {
    TempFolder folder;
    const auto voice = rampData(10 * 44100);
    testing_support::TempDir scratch;
    const std::string mic = folder.file("mic.wav");
    std::filesystem::copy_file(scratch.write("m.wav", waveFile(pcmFormat(22050, 1, 16), voice)), mic);
    testing_support::RunningProgram recorder;
    ASSERT_TRUE(recorder.start({CVKTOOL_PATH, "record", folder.file("take.wav"), "--no-monitor"},
                               {"CVK_VIRTUAL_WAVE=1", "CVK_WAVE_MICROPHONE=" + mic}));
    // Killed once the take holds some 2.5 s, however long a busy machine took to get there.
    std::string temporary;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (bool enough = false; !enough && std::chrono::steady_clock::now() < giveUp;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path(), ignored)) {
            if (entry.path().filename().string().rfind("WW", 0) == 0) {
                temporary = entry.path().string();
                enough = entry.file_size(ignored) >= 46 + 5 * 44100 / 2;
            }
        }
    }
    recorder.signal(SIGKILL);
    ASSERT_EQ(recorder.finish(60.0), 128 + SIGKILL) << recorder.said();
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        left.push_back(entry.path().filename().string());
    }
    ASSERT_EQ(left.size(), 2u) << testing::PrintToString(left);
    ASSERT_FALSE(temporary.empty()) << "no take was being written";
    EXPECT_EQ(std::filesystem::path(temporary).filename().string().substr(0, 2), "WW");
    const auto bytes = fileBytes(temporary);
    ASSERT_GE(bytes.size(), 46u + 5 * 44100 / 2) << "killed before the take had grown";
    const std::uint32_t dataSize = u32(bytes, 42);
    EXPECT_EQ(u32(bytes, 4), dataSize + 38);
    EXPECT_LE(dataSize, bytes.size() - 46);
    // Some 2.5 s were captured; the sizes cover all but the last second of them.
    EXPECT_GE(dataSize + 44100, bytes.size() - 46);
    EXPECT_GE(dataSize, 44100u);
    EXPECT_TRUE(std::equal(bytes.begin() + 46, bytes.begin() + 46 + dataSize, voice.begin()));
}
