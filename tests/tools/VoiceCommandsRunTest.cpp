// cvktool's voice commands run as a user runs them, on the virtual sound devices.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "RunningProgram.h"
#include "ToolTestSupport.h"
#include "WaveBuilder.h"

extern char** environ;

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

std::vector<std::string> entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The first file in `folder` whose name starts with `prefix`, once it holds `bytes`; empty
// when none does before the process `pid` ends or a minute passes.
std::string awaitFile(const std::filesystem::path& folder, const std::string& prefix,
                      std::uintmax_t bytes, pid_t pid) {
    for (int i = 0; i < 60'000 && ::kill(pid, 0) == 0; ++i) {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) == 0 && entry.file_size(ignored) >= bytes) {
                return entry.path().string();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return {};
}

// cvktool started in the background, with its standard error kept; killed and reaped
// at the end of the test whatever happens.
class Background {
public:
    Background(const std::vector<std::string>& args, const std::vector<std::string>& environment,
               const std::string& errorFile) {
        std::vector<std::string> argv{CVKTOOL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            env.emplace_back(*e);
        }
        env.insert(env.end(), environment.begin(), environment.end());
        std::vector<char*> argp;
        for (auto& a : argv) {
            argp.push_back(a.data());
        }
        argp.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&m_pid, argv[0].c_str(), &actions, nullptr, argp.data(), envp.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Background() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    pid_t pid() const { return m_pid; }
    bool ended() {
        int status = 0;
        if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = status;
            m_pid = -1;
        }
        return m_pid <= 0;
    }
    // The wait status; a run past a minute is killed (a hang fails instead of stalling).
    int wait() {
        for (int i = 0; i < 6000 && !ended(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &m_status, 0);
            m_pid = -1;
        }
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

// Runs cvktool with its file size limited to `limitKb` and the limit's signal ignored: a
// write beyond it fails as on a full disk (and nothing much reaches the disk meanwhile).
RunResult runLimited(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                     int limitKb) {
    TempFolder streams;
    std::string command = "ulimit -f " + std::to_string(limitKb * 2) + "; trap '' XFSZ; exec env";
    for (const std::string& setting : environment) {
        command += " " + shellQuoted(setting);
    }
    command += " timeout -s KILL 60 " + shellQuoted(CVKTOOL_PATH);
    for (const std::string& arg : args) {
        command += " " + shellQuoted(arg);
    }
    command += " </dev/null >" + shellQuoted(streams.file("out")) + " 2>" + shellQuoted(streams.file("err"));
    const int status = std::system(command.c_str());
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = readText(streams.file("err"));
    return result;
}

// A wave file of `dataBytes` of silence that takes no room: its data is a hole.
void writeSparseWave(const std::string& path, std::uint32_t dataBytes) {
    auto bytes = waveFile(pcmFormat(22050, 1, 16), {});
    for (int i = 0; i < 4; ++i) {
        bytes[4 + i] = static_cast<std::uint8_t>((38 + std::uint64_t{dataBytes}) >> (8 * i));
        bytes[42 + i] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    std::filesystem::resize_file(path, bytes.size() + dataBytes);
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
        // The recorder's lock file may stay behind a kill; it locks nothing once its process is gone.
        if (entry.path().filename() != ".take.wav.lock") {
            left.push_back(entry.path().filename().string());
        }
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

// Guards a recorder killed in its first half second: its take's header already claims
// the audio written, not 0 bytes over the first buffers.
TEST(VoiceCommandsRun, ARecorderKilledInItsFirstHalfSecondLeavesAPlayableTake) {
    TempFolder folder;
    const auto voice = rampData(10 * 44100);
    testing_support::TempDir scratch;
    const std::string mic = folder.file("mic.wav");
    std::filesystem::copy_file(scratch.write("m.wav", waveFile(pcmFormat(22050, 1, 16), voice)), mic);
    Background recorder({"record", folder.file("take.wav"), "--no-monitor", "--buffer", "4096"},
                        virtualDevices(mic, ""), folder.file("err.txt"));
    // Two buffers on the disk: the sizes were patched after the first one.
    const std::string take = awaitFile(folder.path(), "WW", 46 + 2 * 4096, recorder.pid());
    ::kill(recorder.pid(), SIGKILL);
    recorder.wait();
    ASSERT_FALSE(take.empty()) << readText(folder.file("err.txt"));
    const auto bytes = fileBytes(take);
    ASSERT_GE(bytes.size(), 46u + 2 * 4096);
    if (bytes.size() - 46 >= 22050) {
        GTEST_SKIP() << "the recorder had written " << bytes.size() - 46
                     << " bytes, past its first half second, before it could be killed";
    }
    const std::uint32_t dataSize = u32(bytes, 42);
    EXPECT_EQ(u32(bytes, 4), dataSize + 38);
    EXPECT_GE(dataSize, 4096u);
    EXPECT_LE(dataSize, bytes.size() - 46);
    EXPECT_TRUE(std::equal(bytes.begin() + 46, bytes.begin() + 46 + dataSize, voice.begin()));
}

// Guards takes recorded into what cannot hold them (a folder's name, a missing folder,
// a read-only file, a folder nobody may write): a take ran, "succeeded" or ended in the
// temporary folder. The command refuses at once, naming the target and why.
TEST(VoiceCommandsRun, RecordRefusesATargetItCannotWriteBeforeRecording) {
    TempFolder folder;
    std::filesystem::create_directory(folder.file("takes.wav"));
    writeText(folder.file("locked.wav"), "old");
    ::chmod(folder.file("locked.wav").c_str(), 0444);
    const struct {
        std::string target;
        std::string reason;
    } cases[] = {
        {folder.file("takes.wav"), "it is a folder"},
        {folder.file("missing/take.wav"), "the folder " + folder.file("missing") + " does not exist"},
        {folder.file("locked.wav"), "the file is read-only"},
        // Not even root may make files there.
        {"/proc/1/take.wav", "the folder /proc/1 cannot be written"},
    };
    const auto before = entries(folder.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const RunResult run = runProgram({CVKTOOL_PATH, "record", c.target, "--seconds", "1", "--no-monitor"},
                                         "/dev/null", virtualDevices("", ""));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err.rfind("cvktool: cannot record to " + c.target + ": " + c.reason, 0), 0u) << run.err;
        EXPECT_EQ(run.err.find("recording"), std::string::npos) << "refused before recording";
        EXPECT_EQ(entries(folder.path()), before);
    }
}

// Guards two recorders of one take: both "succeeded" and the first take was silently
// replaced. The second refuses while the first runs; a recorder that crashed leaves no
// lock that blocks the next.
TEST(VoiceCommandsRun, ASecondRecorderOfTheSameTakeRefusesWhileTheFirstRuns) {
    TempFolder folder;
    const auto voice = rampData(30 * 44100);
    testing_support::TempDir scratch;
    const std::string mic = folder.file("mic.wav");
    std::filesystem::copy_file(scratch.write("m.wav", waveFile(pcmFormat(22050, 1, 16), voice)), mic);
    const std::string take = folder.file("take.wav");
    {
        Background first({"record", take, "--seconds", "3", "--no-monitor"}, virtualDevices(mic, ""),
                         folder.file("first.txt"));
        ASSERT_FALSE(awaitFile(folder.path(), "WW", 46, first.pid()).empty());
        const RunResult second = runProgram({CVKTOOL_PATH, "record", take, "--seconds", "1", "--no-monitor"},
                                            "/dev/null", virtualDevices(mic, ""));
        if (first.ended() && second.exitCode == 0) {
            GTEST_SKIP() << "the first recorder ended before the second started";
        }
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_EQ(second.err, "cvktool: cannot record to " + take + ": another recorder is recording to it\n");
        const int status = first.wait();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readText(folder.file("first.txt"));
        const auto data = payload(fileBytes(take));
        EXPECT_GE(data.size(), 44100u) << "the first recorder's take";
        EXPECT_TRUE(std::equal(data.begin(), data.end(), voice.begin()));
    }
    {
        Background crashed({"record", take, "--no-monitor"}, virtualDevices(mic, ""), folder.file("crashed.txt"));
        ASSERT_FALSE(awaitFile(folder.path(), "WW", 46, crashed.pid()).empty());
        ::kill(crashed.pid(), SIGKILL);
        crashed.wait();
    }
    const RunResult after = runProgram({CVKTOOL_PATH, "record", take, "--seconds", "0.3", "--no-monitor"},
                                       "/dev/null", virtualDevices(mic, ""));
    EXPECT_EQ(after.exitCode, 0) << after.err;
}

struct VoiceRun {
    const char* name;
    std::vector<std::string> args;  // <take>, <long>, <empty>, <mic>, <header>, <huge> stand for files
    std::vector<std::string> environment;  // with <mic> too
    int limitKb;  // nonzero: writes beyond this many KB fail as on a full disk
    int exitCode;
    std::vector<std::string> said;  // lines standard error holds, in order, among others
};

// Guards what the voice commands tell the user and the exit status they end with: a take
// the library stopped (a failed write, a dead stream) ends the command at once with 1
// instead of running out its time; decimals for --seconds; a stream that dies during
// playback; a file without audio that never ended; no sound server; and the mix's
// refusals, each with its reason.
TEST(VoiceCommandsRun, VoiceCommandsSayWhatWentWrong) {
    TempFolder folder;
    testing_support::TempDir scratch;
    const std::string mic = folder.file("mic.wav");
    std::filesystem::copy_file(scratch.write("m.wav", waveFile(pcmFormat(22050, 1, 16), rampData(60 * 44100))), mic);
    const std::string longWave = mic;
    const std::string empty = scratch.write("empty.wav", waveFile(pcmFormat(22050, 1, 16), {}));
    const std::string header = scratch.write("header.wav", waveFile(pcmFormat(22050, 1, 16), rampData(100), 3000));
    const std::string bigHeader = scratch.write("big-header.wav", waveFile(pcmFormat(22050, 1, 16), rampData(100), 1000));
    const std::string huge = scratch.path("huge.wav");
    writeSparseWave(huge, 0xFFFFFF00u);
    const std::string take = folder.file("take.wav");
    const std::vector<std::string> virtualWave{"CVK_VIRTUAL_WAVE=1", "CVK_WAVE_MICROPHONE=<mic>"};
    const std::vector<std::string> noServer{"CVK_VIRTUAL_WAVE=", "PULSE_SERVER=unix:" + folder.file("nowhere")};
    const std::string stoppedEarly = "cvktool: the take stopped early; what was recorded is in " + take;
    const std::string serverGone =
        "ERROR!: The sound server is not running, so the voice can be neither played nor recorded. "
        "Start PulseAudio or PipeWire and try again.";
    const VoiceRun runs[] = {
        {"HalfASecond", {"record", "<take>", "--seconds", "0.5", "--no-monitor"}, virtualWave, 0, 0,
         {"recorded " + take}},
        {"NegativeSeconds", {"record", "<take>", "--seconds", "-1"}, virtualWave, 0, 2, {}},
        {"DiskFills", {"record", "<take>", "--seconds", "600", "--no-monitor"}, virtualWave, 60, 1,
         {"ERROR!: Error saving recording to disk", stoppedEarly}},
        {"MicrophoneStreamDies", {"record", "<take>", "--seconds", "600"},
         {"CVK_VIRTUAL_WAVE=1", "CVK_WAVE_MICROPHONE=<mic>", "CVK_WAVE_FAIL_MS=700"}, 0, 1,
         {"ERROR!: The recording stopped: the microphone's stream failed (the sound server went away). "
          "What was recorded so far is kept.",
          stoppedEarly}},
        {"PlaybackStreamDies", {"playwave", "<long>"}, {"CVK_VIRTUAL_WAVE=1", "CVK_WAVE_FAIL_MS=300"}, 0, 1,
         {"ERROR!: Playback stopped: the voice's stream failed (the sound server went away)."}},
        {"NoAudioToPlay", {"playwave", "<empty>"}, virtualWave, 0, 0, {empty + " holds no audio"}},
        {"RecordWithoutServer", {"record", "<take>", "--seconds", "1"}, noServer, 0, 1, {serverGone}},
        {"PlayWithoutServer", {"playwave", "<long>"}, noServer, 0, 1, {serverGone}},
        {"MixInputMissing", {"mix", "<long>", folder.file("gone.wav"), folder.file("mix.wav")}, {}, 0, 1,
         {"cvktool: " + folder.file("gone.wav") + " does not exist"}},
        {"MixHeaderTooLong", {"mix", "<header>", "<long>", folder.file("mix.wav")}, {}, 0, 1,
         {"cvktool: " + header + " has 3026 bytes of chunks before its audio; a mix carries at most 2048"}},
        {"MixBeyondAWaveFile", {"mix", "<big-header>", "<huge>", folder.file("mix.wav")}, {}, 60, 1,
         {"cvktool: the mix of " + bigHeader + " and " + huge + " would be larger than a wave file can hold (4 GiB)"}},
    };
    const auto expand = [&](std::string text) {
        for (const auto& [name, path] : std::vector<std::pair<std::string, std::string>>{
                 {"<take>", take}, {"<long>", longWave}, {"<empty>", empty}, {"<mic>", mic},
                 {"<header>", header}, {"<big-header>", bigHeader}, {"<huge>", huge}}) {
            if (const auto at = text.find(name); at != std::string::npos) {
                text.replace(at, name.size(), path);
            }
        }
        return text;
    };
    for (const VoiceRun& run : runs) {
        SCOPED_TRACE(run.name);
        std::filesystem::remove(take);
        std::vector<std::string> args;
        std::vector<std::string> environment;
        for (const auto& arg : run.args) {
            args.push_back(expand(arg));
        }
        for (const auto& setting : run.environment) {
            environment.push_back(expand(setting));
        }
        std::vector<std::string> argv{CVKTOOL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult result = run.limitKb != 0 ? runLimited(args, environment, run.limitKb)
                                                  : runProgram(argv, "/dev/null", environment);
        EXPECT_EQ(result.exitCode, run.exitCode) << result.err;
        std::size_t from = 0;
        for (const auto& line : run.said) {
            const std::size_t at = result.err.find(line + "\n", from);
            EXPECT_NE(at, std::string::npos) << "missing: " << line << "\nin:\n" << result.err;
            from = at == std::string::npos ? from : at + line.size();
        }
        if (std::string(run.name) == "HalfASecond") {
            EXPECT_LT(payload(fileBytes(take)).size(), 44100u) << "half a second, not rounded up";
        }
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("mix.wav")));
}

// Guards a mix cut short by Ctrl-C or a termination: its hidden, half-written output
// (a gigabyte within seconds) stayed beside OUT.
TEST(VoiceCommandsRun, AnInterruptedMixLeavesNothingBehind) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        TempFolder folder;
        writeSparseWave(folder.file("a.wav"), 1u << 30);
        writeSparseWave(folder.file("b.wav"), 1u << 30);
        Background mix({"mix", folder.file("a.wav"), folder.file("b.wav"), folder.file("out.wav")}, {},
                       folder.file("err.txt"));
        const std::string partial = awaitFile(folder.path(), ".out.wav.", 1 << 20, mix.pid());
        if (partial.empty()) {
            GTEST_SKIP() << "the mix ended before its output could be seen growing: "
                         << readText(folder.file("err.txt"));
        }
        ::kill(mix.pid(), signal);
        const int status = mix.wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(entries(folder.path()), (std::vector<std::string>{"a.wav", "b.wav", "err.txt"}));
    }
}
