#pragma once

// A sound server of one test's own (scripts/pulse-server.sh, started beside the one the
// suite runs against), which the test may kill, start again or strip of its devices
// without disturbing any other test; and the process's streams pointed at it for a scope.

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>

#include "pulse_support.h"

namespace cvktest {

class OwnServer {
public:
    OwnServer() = default;
    OwnServer(const OwnServer&) = delete;
    OwnServer& operator=(const OwnServer&) = delete;
    ~OwnServer() {
        if (!m_dir.empty()) {
            script("pulse_stop");
        }
    }

    // Needs CVK_SOURCE_DIR (ctest sets it) to find the script.
    bool start() {
        std::istringstream said(run(
            "unset CVK_PULSE_PID CVK_PULSE_DIR; bash -c 'source \"$CVK_SOURCE_DIR/scripts/pulse-server.sh\" && "
            "pulse_start >&2 && echo \"$CVK_PULSE_DIR $CVK_PULSE_PID\"'"));
        return static_cast<bool>(said >> m_dir >> m_pid);
    }

    std::string address() const { return "unix:" + m_dir + "/native"; }

    // As a crash: the connections of its clients break.
    void kill() { ::kill(m_pid, SIGKILL); }

    bool restart() {
        std::istringstream said(script("pulse_restart >&2 && echo \"$CVK_PULSE_PID\""));
        return static_cast<bool>(said >> m_pid);
    }

    std::string pactl(const std::string& arguments) const {
        return run("PULSE_SERVER=" + address() + " pactl " + arguments);
    }

private:
    std::string script(const std::string& commands) const {
        return run("CVK_PULSE_DIR=" + m_dir + " CVK_PULSE_PID=" + std::to_string(m_pid) +
                   " bash -c 'source \"$CVK_SOURCE_DIR/scripts/pulse-server.sh\" && " + commands + "'");
    }

    std::string m_dir;
    pid_t m_pid = 0;
};

// PULSE_SERVER names `address` while it lives.
class ScopedServer {
public:
    explicit ScopedServer(const std::string& address) {
        if (const char* old = std::getenv("PULSE_SERVER")) {
            m_old = old;
        }
        ::setenv("PULSE_SERVER", address.c_str(), 1);
    }
    ~ScopedServer() {
        if (m_old) {
            ::setenv("PULSE_SERVER", m_old->c_str(), 1);
        } else {
            ::unsetenv("PULSE_SERVER");
        }
    }
    ScopedServer(const ScopedServer&) = delete;
    ScopedServer& operator=(const ScopedServer&) = delete;

private:
    std::optional<std::string> m_old;
};

}  // namespace cvktest
