#include "ChildProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace players {

namespace {

struct ProcessTimes {
    pid_t group = 0;
    double own = 0;     // utime + stime
    double reaped = 0;  // cutime + cstime
};

// Fields of /proc/PID/stat after the command name, which may itself hold spaces and ')'.
bool readTimes(const std::string& pid, ProcessTimes& times) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return false;
    }
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field[15];  // state, ppid, pgrp, ..., utime (index 11) .. cstime (index 14)
    for (std::string& f : field) {
        fields >> f;
    }
    static const double ticksPerSecond = static_cast<double>(::sysconf(_SC_CLK_TCK));
    times.group = static_cast<pid_t>(std::atol(field[2].c_str()));
    times.own = (std::atof(field[11].c_str()) + std::atof(field[12].c_str())) / ticksPerSecond;
    times.reaped = (std::atof(field[13].c_str()) + std::atof(field[14].c_str())) / ticksPerSecond;
    return true;
}

}  // namespace

bool ChildProcess::start(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& environment,
                         const std::string& logPath) {
    // Everything the child needs is made before the fork: between fork and exec a child of
    // a threaded process may only make async-signal-safe calls.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        bool replaced = false;
        for (const auto& [name, value] : environment) {
            replaced = replaced || variable.rfind(name + "=", 0) == 0;
        }
        if (!replaced) {
            variables.push_back(variable);
        }
    }
    for (const auto& [name, value] : environment) {
        variables.push_back(name + "=" + value);
    }
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
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (input < 0 || log < 0) {
        ::close(input);
        ::close(log);
        return false;
    }

    m_exited = false;
    m_status = -1;
    m_exitCpu = 0;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::setpgid(0, 0);
        ::dup2(input, STDIN_FILENO);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(input);
    ::close(log);
    if (m_pid < 0) {
        return false;
    }
    ::setpgid(m_pid, m_pid);  // also here: whichever of the two runs first makes the group
    return true;
}

bool ChildProcess::running() {
    if (m_pid <= 0 || m_exited) {
        return false;
    }
    rusage usage{};
    int status = 0;
    if (::wait4(m_pid, &status, WNOHANG, &usage) == m_pid) {
        m_exited = true;
        m_status = status;
        const auto seconds = [](const timeval& time) {
            return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
        };
        m_exitCpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
    return !m_exited;
}

double ChildProcess::cpuSeconds() const {
    double total = 0;
    DIR* folder = ::opendir("/proc");
    if (folder == nullptr) {
        return total;
    }
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        ProcessTimes times;
        if (name.find_first_not_of("0123456789") == std::string::npos && readTimes(name, times) &&
            times.group == m_pid) {
            total += times.own + times.reaped;
        }
    }
    ::closedir(folder);
    return total;
}

void ChildProcess::stop() {
    if (m_pid <= 0) {
        return;
    }
    if (running()) {
        ::kill(-m_pid, SIGTERM);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (running() && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (running()) {
            ::kill(-m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        // Anything the player started and left behind in its group goes with it.
        ::kill(-m_pid, SIGKILL);
    }
    m_pid = -1;
    m_exited = true;
}

}  // namespace players
