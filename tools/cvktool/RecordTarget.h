#pragma once

#include <string>

// Where `cvktool record` puts its take, checked before anything is recorded and held while
// the take is recorded.
namespace cvktool {

// Why a take cannot be recorded to `path`, found before recording starts: it is a folder
// or a read-only file, or its folder is missing or cannot be written. Empty when nothing
// stands in the way.
std::string recordTargetProblem(const std::string& path);

// A lock beside a take's target, held while the take is recorded: a second recorder of
// the same target refuses instead of silently replacing the first take. It is an advisory
// lock on a hidden file next to the target, so it dies with its process, and a crash never
// leaves a lock that blocks; the file itself goes when the lock is let go.
class TakeLock {
public:
    TakeLock() = default;
    ~TakeLock();
    TakeLock(const TakeLock&) = delete;
    TakeLock& operator=(const TakeLock&) = delete;

    // False, with the reason, when another recorder holds it or it cannot be made.
    bool acquire(const std::string& target, std::string& problem);

private:
    int m_fd = -1;
    std::string m_path;
};

}  // namespace cvktool
