#include "RecordTarget.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace cvktool {

std::string recordTargetProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return "it is a folder";
        }
        if (!S_ISREG(info.st_mode)) {
            return "it is not a regular file";
        }
        if (platform::fileAttributes(path).readOnly) {
            return "the file is read-only";
        }
    } else if (errno != ENOENT) {
        return std::strerror(errno);
    }
    const std::string folder = platform::folderOf(path);
    if (::stat(folder.c_str(), &info) != 0) {
        return errno == ENOENT ? "the folder " + folder + " does not exist" : std::strerror(errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        return folder + " is not a folder";
    }
    // The take is written beside its target and renamed at the end: the folder itself must
    // take new files.
    if (::access(folder.c_str(), W_OK) != 0) {
        return errno == EROFS ? "the folder " + folder + " is on a read-only file system"
                              : "the folder " + folder + " cannot be written (" +
                                    std::strerror(errno) + ")";
    }
    return {};
}

TakeLock::~TakeLock() {
    if (m_fd >= 0) {
        // Removed while still held: a recorder waiting on this file finds it gone and
        // locks a new one.
        ::unlink(m_path.c_str());
        ::close(m_fd);
    }
}

bool TakeLock::acquire(const std::string& target, std::string& problem) {
    const std::string folder = platform::folderOf(target);
    const std::size_t slash = target.rfind('/');
    m_path = folder + "/." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".lock";
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            problem = std::strerror(errno);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            problem = error == EWOULDBLOCK ? "another recorder is recording to it" : std::strerror(error);
            return false;
        }
        // A holder before us removes the file as it lets go: a lock on a file that no
        // longer has the name locks nothing, so look again.
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(m_path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            m_fd = fd;
            return true;
        }
        ::close(fd);
    }
    problem = "its lock file keeps changing";
    return false;
}

}  // namespace cvktool
