#pragma once

// A program run beside the test (cvktool recording or playing), whose standard error the
// test reads as it is printed: the test waits for what the program says or does
// ("recording ...", a file growing), not for a guess at how long that takes.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace testing_support {

class RunningProgram {
public:
    RunningProgram() = default;
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_err >= 0) {
            ::close(m_err);
        }
    }

    // Starts argv[0] with `settings` (NAME=VALUE) added to our environment, standard input
    // and output on /dev/null, standard error read by the test. False when it cannot start.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& settings = {}) {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0) {
            return false;
        }
        std::vector<std::string> variables;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            variables.emplace_back(*entry);
        }
        variables.insert(variables.end(), settings.begin(), settings.end());
        std::vector<char*> envp;
        for (std::string& variable : variables) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        std::vector<std::string> arguments = argv;
        std::vector<char*> args;
        for (std::string& argument : arguments) {
            args.push_back(argument.data());
        }
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], 2);
        const int spawned = ::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        if (spawned != 0) {
            m_pid = -1;
            ::close(pipe[0]);
            return false;
        }
        m_err = pipe[0];
        return true;
    }

    // Reads what the child prints until `text` is among it (true), the child closes its
    // standard error, or `seconds` pass.
    bool waitForText(const std::string& text, double seconds) {
        const auto giveUp = deadline(seconds);
        while (m_said.find(text) == std::string::npos) {
            if (m_err < 0 || Clock::now() > giveUp || !readSome(50)) {
                return m_said.find(text) != std::string::npos;
            }
        }
        return true;
    }

    void signal(int number) const {
        if (m_pid > 0) {
            ::kill(m_pid, number);
        }
    }

    // Waits for the child to end, reading what it prints, `seconds` at most (then kills
    // it). Its exit code, 128 + the signal's number when a signal ended it (as a shell
    // says), -1 when the watchdog did.
    int finish(double seconds) {
        const auto giveUp = deadline(seconds);
        int status = 0;
        while (m_pid > 0 && Clock::now() < giveUp) {
            if (m_err >= 0) {
                readSome(50);
            } else if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else {
                ::usleep(10'000);
            }
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        return -1;
    }

    // Everything the child has printed on its standard error so far.
    const std::string& said() const { return m_said; }

private:
    using Clock = std::chrono::steady_clock;
    static Clock::time_point deadline(double seconds) {
        return Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    }

    // False once the child has closed its standard error.
    bool readSome(int timeoutMs) {
        pollfd fd{m_err, POLLIN, 0};
        if (::poll(&fd, 1, timeoutMs) <= 0) {
            return true;
        }
        char buffer[4096];
        const ssize_t got = ::read(m_err, buffer, sizeof buffer);
        if (got <= 0) {
            ::close(m_err);
            m_err = -1;
            return false;
        }
        m_said.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    pid_t m_pid = -1;
    int m_err = -1;
    std::string m_said;
};

}  // namespace testing_support
