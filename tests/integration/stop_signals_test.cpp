// Stop signals to the program and to cvktool while the microphone pass-through plays, on
// the test server (scripts/pulse-server.sh): each ends the way it ends by itself, and no
// loopback of theirs is left playing the microphone into the speakers.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "TestServer.h"
#include "pulse_support.h"

extern char** environ;

namespace {

using cvktest::run;
using Clock = std::chrono::steady_clock;

// A watchdog for waits on another process, never a measure of its speed.
bool waitFor(const std::function<bool()>& done) {
    const auto giveUp = Clock::now() + std::chrono::seconds(30);
    while (!done() && Clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// A program started with this process's environment and `overrides` ("NAME=value"),
// killed and reaped however the test ends.
class Child {
public:
    Child(std::vector<std::string> args, const std::vector<std::string>& overrides) {
        std::vector<std::string> environment = overrides;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string variable = *entry;
            const std::string name = variable.substr(0, variable.find('=') + 1);
            bool overridden = false;
            for (const std::string& override : overrides) {
                overridden = overridden || override.rfind(name, 0) == 0;
            }
            if (!overridden) {
                environment.push_back(variable);
            }
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& variable : environment) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
            m_pid = -1;
        }
    }
    ~Child() {
        if (running()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    bool running() {
        int status = 0;
        if (m_pid > 0 && !m_status && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = status;
        }
        return m_pid > 0 && !m_status;
    }
    // The wait status once it ended; nothing while it runs on.
    std::optional<int> ended() {
        waitFor([this] { return !running(); });
        return m_status;
    }

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

// Pass-through loopbacks the process loaded (they carry its id).
int loopbacksOf(pid_t pid) {
    const std::string modules = run("pactl list modules");
    const std::string mark = "cantivo.pass_through_pid=" + std::to_string(pid);
    int count = 0;
    for (std::size_t at = modules.find(mark); at != std::string::npos;
         at = modules.find(mark, at + 1)) {
        const char after = at + mark.size() < modules.size() ? modules[at + mark.size()] : ' ';
        count += after < '0' || after > '9' ? 1 : 0;
    }
    return count;
}

// Starts the program, waits for its pass-through, sends the signal; then it must have
// ended by itself with `exitCode` and unloaded its loopback.
void stopWhilePassingThrough(Child& child, int signal, int exitCode) {
    ASSERT_GT(child.pid(), 0) << "could not start";
    ASSERT_TRUE(waitFor([&] { return loopbacksOf(child.pid()) > 0 || !child.running(); }));
    ASSERT_EQ(loopbacksOf(child.pid()), 1) << "the pass-through never came on";
    ::kill(child.pid(), signal);
    const std::optional<int> status = child.ended();
    ASSERT_TRUE(status.has_value()) << "still running after the signal";
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by the signal itself";
    EXPECT_EQ(WEXITSTATUS(*status), exitCode);
    EXPECT_EQ(loopbacksOf(child.pid()), 0) << "the pass-through outlived the program";
}

#ifdef CVK_PATH
// The player's environment in `dir`: settings there, and a runtime folder of its own so
// that another player running on this machine does not take the start.
std::vector<std::string> playerEnvironment(const testing_support::TempDir& dir) {
    const std::string runtime = dir.path("run");
    ::mkdir(runtime.c_str(), 0700);
    return {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime, "XDG_CONFIG_HOME=" + dir.path("config"),
            "CVK_MESSAGE_LOG=" + dir.path("boxes.log"), "CVK_TEST_PASS_THROUGH=1"};
}
#endif

// Guards the pass-through outliving the player: SIGTERM, SIGHUP and SIGINT close the
// window as File > Exit does, without a question, and the program exits 0.
TEST(StopSignals, ThePlayerClosesAndTakesItsPassThroughWithIt) {
    SKIP_WITHOUT_TEST_SERVER();
#ifndef CVK_PATH
    GTEST_SKIP() << "the program is not built";
#else
    testing_support::TempDir dir;
    // Not a first start: the audio wizard would take the microphone off the speakers.
    std::filesystem::create_directories(dir.path("config/cantivo"));
    dir.writeText("config/cantivo/CANTIVO.INI", "[Configuration]\nRunConfigWizard=0\n");
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        Child player({CVK_PATH}, playerEnvironment(dir));
        stopWhilePassingThrough(player, signal, 0);
    }
#endif
}

// Guards a first start's audio wizard, which takes the microphone off the speakers and
// gives it back when it closes: a signal while it is open must still end the program with
// no pass-through left behind.
TEST(StopSignals, AWizardOpenAtTheFirstStartLeavesNoPassThrough) {
    SKIP_WITHOUT_TEST_SERVER();
#ifndef CVK_PATH
    GTEST_SKIP() << "the program is not built";
#else
    testing_support::TempDir dir;
    Child player({CVK_PATH}, playerEnvironment(dir));
    ASSERT_GT(player.pid(), 0) << "could not start";
    // The wizard comes 50 ms after the window and writes its flag back at once.
    ASSERT_TRUE(waitFor([&] {
        const auto settings = testing_support::fileBytes(dir.path("config/cantivo/CANTIVO.INI"));
        return std::string(settings.begin(), settings.end()).find("RunConfigWizard=0") != std::string::npos ||
               !player.running();
    }));
    ASSERT_TRUE(player.running());
    ::kill(player.pid(), SIGTERM);
    const std::optional<int> status = player.ended();
    ASSERT_TRUE(status.has_value()) << "still running after the signal";
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by the signal itself";
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_EQ(loopbacksOf(player.pid()), 0) << "the pass-through outlived the program";
#endif
}

// Guards cvktool's pass-through: Ctrl-C or SIGTERM end the command as its seconds would,
// with the loopback unloaded.
TEST(StopSignals, CvktoolsPassThroughEndsWithItsCommand) {
    SKIP_WITHOUT_TEST_SERVER();
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        Child tool({CVKTOOL_PATH, "mixer", "pass-through"}, {});
        stopWhilePassingThrough(tool, signal, 0);
    }
}

}  // namespace
