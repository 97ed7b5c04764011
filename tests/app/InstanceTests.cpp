#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "CantivoHarness.h"
#include "platform/instance.h"

extern char** environ;

using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;

// A watchdog for waits on another process or the event loop, never a measure of speed.
bool waitFor(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!done() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// The program as a child process with the test's environment, killed and reaped however
// the test ends.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
    }
    ~Program() {
        if (running()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool running() {
        int status = 0;
        if (m_pid > 0 && !m_status && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = status;
        }
        return m_pid > 0 && !m_status;
    }
    // The exit code once the program ended by itself; nothing when it did not.
    std::optional<int> exitCode() {
        waitFor([this] { return !running(); });
        if (!m_status || !WIFEXITED(*m_status)) {
            return std::nullopt;
        }
        return WEXITSTATUS(*m_status);
    }

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

class InstanceTest : public CantivoTest {
protected:
    void SetUp() override {
        CantivoTest::SetUp();
        // A runtime folder of the test's own holds the instance's lock and socket.
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
            m_runtime = runtime;
        }
        ::mkdir(path("run").c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", path("run").c_str(), 1);
        // The program started from here draws offscreen too.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    void TearDown() override {
        unsetenv("CVK_MESSAGE_LOG");
        m_runtime ? setenv("XDG_RUNTIME_DIR", m_runtime->c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
        CantivoTest::TearDown();
    }

private:
    std::optional<std::string> m_runtime;
};

// Guards against a second start keeping its song instead of handing it to the running one.
TEST_F(InstanceTest, SecondStartHandsItsSongToTheRunningProgram) {
    const std::string program =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "cvk";
    ASSERT_TRUE(std::filesystem::exists(program)) << "the program is not built beside the tests";
    const std::string tune = song("tune.kar", karaokeSong({"la", "la"}));
    Program first({program});
    // The window has read its settings once it writes the offset back.
    ASSERT_TRUE(waitFor([&] {
        return !first.running() || stringSetting("Configuration", "Slider Position") != "<missing>";
    }));
    ASSERT_TRUE(first.running());

    EXPECT_EQ(Program({program, tune}).exitCode(), 0);
    // The load ends with the last recent-file entry written.
    EXPECT_TRUE(waitFor([&] {
        return !first.running() || stringSetting("Most Recently Used Files", "mru4") != "<missing>";
    }));
    EXPECT_EQ(stringSetting("Most Recently Used Files", "mru0"), tune);

    const ByteVector settings = fileBytes(ini());
    EXPECT_EQ(Program({program}).exitCode(), 0);
    EXPECT_TRUE(first.running());
    EXPECT_EQ(fileBytes(ini()), settings);
}

// The "Message Box" lines of a box log the program wrote (CVK_MESSAGE_LOG).
std::vector<std::string> loadFailures(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream in(fileText(log));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Message Box\t", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

// Guards against a second start with a file nobody can read exiting quietly as if the
// running window had opened it, or reporting it differently from a first start.
TEST_F(InstanceTest, SecondStartReportsAnUnreadableFileAsTheFirstDoes) {
    const std::string program =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "cvk";
    ASSERT_TRUE(std::filesystem::exists(program)) << "the program is not built beside the tests";
    const std::string log = path("boxes.log");
    setenv("CVK_MESSAGE_LOG", log.c_str(), 1);
    const std::string missing = path("missing.kar");
    Program first({program, missing});
    ASSERT_TRUE(waitFor([&] { return !first.running() || !loadFailures(log).empty(); }));
    ASSERT_TRUE(first.running());
    const std::vector<std::string> firstStart = loadFailures(log);
    ASSERT_EQ(firstStart.size(), 1u);

    EXPECT_EQ(Program({program, missing}).exitCode(), 1);
    EXPECT_EQ(loadFailures(log), std::vector<std::string>(2, firstStart[0]));
    ::mkdir(path("folder.kar").c_str(), 0700);
    EXPECT_EQ(Program({program, path("folder.kar")}).exitCode(), 1);
    EXPECT_EQ(loadFailures(log).back(), "Message Box\tError Reading from " + path("folder.kar"));

    EXPECT_TRUE(first.running());
    // Nothing was loaded, so the recent-file list was never written.
    EXPECT_EQ(stringSetting("Most Recently Used Files", "mru0"), "<missing>");
}

// Guards against hand-overs not reaching the window, or a missing file's loading anything.
TEST_F(InstanceTest, HandOverLoadsAnExistingSongOnly) {
    const std::string name = "cvk-app-test-" + std::to_string(::getpid());
    const std::unique_ptr<platform::SingleInstance> claim = platform::SingleInstance::claim(name);
    ASSERT_NE(claim, nullptr);
    open();
    window().AttachInstance(claim.get());
    const std::string present = song("song.kar", karaokeSong({"la", "la"}));
    EXPECT_TRUE(platform::SingleInstance::handOver(path("missing.kar"), name));
    EXPECT_TRUE(platform::SingleInstance::handOver(present, name));
    EXPECT_TRUE(waitFor([&] {
        QApplication::processEvents();
        return window().SongLoaded;
    }));
    EXPECT_EQ(window().SongFileName, present);
    EXPECT_EQ(stringSetting("Most Recently Used Files", "mru1"), "");
    EXPECT_TRUE(boxTexts().empty());
    window().AttachInstance(nullptr);
}

}  // namespace
