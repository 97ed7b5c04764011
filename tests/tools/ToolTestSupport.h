#pragma once

// Running the built tools as subprocesses, with a watchdog, in throwaway folders.

#include <stdlib.h>
#include <sys/wait.h>

#include <csignal>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"

namespace tooltest {

// A fresh folder, removed with everything in it when the test ends.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = ::testing::TempDir() + "cvktools-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempFolder() { std::filesystem::remove_all(m_path, m_ignored); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string file(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
    std::error_code m_ignored;
};

using testing_support::fileBytes;

inline std::string readText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = fileBytes(path);
    return {bytes.begin(), bytes.end()};
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct RunResult {
    int exitCode = -1;
    bool timedOut = false;
    std::string out;
    std::string err;
};

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs argv with stdin from `stdinPath` and the extra NAME=VALUE settings. A run longer
// than `timeoutSeconds` is killed, so a hang fails the test instead of stalling the suite.
inline RunResult runProgram(const std::vector<std::string>& argv,
                            const std::string& stdinPath = "/dev/null",
                            const std::vector<std::string>& environment = {},
                            int timeoutSeconds = 60) {
    TempFolder streams;
    std::string command = "env";
    for (const std::string& setting : environment) {
        command += " " + shellQuoted(setting);
    }
    command += " timeout -s KILL " + std::to_string(timeoutSeconds);
    for (const std::string& arg : argv) {
        command += " " + shellQuoted(arg);
    }
    command += " <" + shellQuoted(stdinPath) + " >" + shellQuoted(streams.file("out")) + " 2>" +
               shellQuoted(streams.file("err"));
    const int status = std::system(command.c_str());
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.timedOut = result.exitCode == 128 + SIGKILL;
    result.out = readText(streams.file("out"));
    result.err = readText(streams.file("err"));
    return result;
}

}  // namespace tooltest
