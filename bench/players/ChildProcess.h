#pragma once

// A player run as a child process in a process group of its own, so that its CPU time can
// be counted with anything it starts, and everything it started can be stopped together.

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace players {

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { stop(); }

    // Runs `argv` (argv[0] looked up in PATH) with `environment` added to ours, stdin from
    // /dev/null and stdout and stderr appended to `logPath`. False when it cannot be started.
    bool start(const std::vector<std::string>& argv,
               const std::vector<std::pair<std::string, std::string>>& environment,
               const std::string& logPath);

    // True until the child has exited.
    bool running();

    // User and system CPU seconds of every process in the child's group, and of the
    // children they have already waited for.
    double cpuSeconds() const;

    // Once running() has seen the child exit on its own: its status as waitpid gives it,
    // and the user and system CPU seconds of all its threads and of the children it waited
    // for.
    int exitStatus() const { return m_status; }
    double cpuSecondsAtExit() const { return m_exitCpu; }

    // SIGTERM to the group, SIGKILL to what is left after two seconds; waits for the child.
    void stop();

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = -1;
    double m_exitCpu = 0;
};

}  // namespace players
