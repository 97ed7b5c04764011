#include "platform/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>

#include "platform/atoms.h"

namespace platform {
namespace {

// A second start may race the first one between taking the lock and listening.
constexpr std::int64_t kConnectPatienceMs = 500;
constexpr std::int64_t kConnectRetryMs = 20;
// Accepts per poll(): a flood of connections must not hold the window thread.
constexpr int kMaxAcceptsPerPoll = 64;
constexpr std::size_t kMaxReadableStem = 40;

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Shut down before closing: a copy of the descriptor (a child caught between fork and
// exec) would otherwise keep the connection open and the client waiting.
void hangUp(int& fd) {
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
        closeFd(fd);
    }
}

bool isOurFolder(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

// The per-user folder, ending in '/'; empty when none can be trusted.
std::string privateFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        struct stat info {};
        if (::stat(runtime, &info) == 0 && isOurFolder(info)) {
            std::string folder(runtime);
            if (folder.back() != '/') {
                folder += '/';
            }
            return folder;
        }
    }
    // /tmp is shared by every user: the folder must be ours, not a link, and closed to
    // others, or someone could plant a socket there that collects the paths we send.
    const std::string folder = "/tmp/cantivo-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::string();
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !isOurFolder(info)) {
        return std::string();
    }
    if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        return std::string();
    }
    return folder + '/';
}

// Names may hold spaces or slashes. The file name keeps a readable part and a hash of
// the whole name, so that names differing only in dropped characters do not meet.
std::string fileStem(const std::string& name) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    std::string readable;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (readable.size() < kMaxReadableStem) {
            readable += plain ? c : '_';
        }
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", hash);
    return "cantivo-" + readable + "-" + hex;
}

std::string pathFor(const std::string& name, const char* suffix) {
    const std::string folder = privateFolder();
    return folder.empty() ? std::string() : folder + fileStem(name) + suffix;
}

bool makeAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::copy(path.begin(), path.end(), address.sun_path);
    return true;
}

int connectPatiently(const sockaddr_un& address) {
    const std::int64_t giveUpMs = steadyMs() + kConnectPatienceMs;
    for (;;) {
        // Non-blocking: a first instance that hangs with a full backlog must not hang us too.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return -1;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            return fd;
        }
        const int error = errno;
        ::close(fd);
        const bool worthRetrying =
            error == ENOENT || error == ECONNREFUSED || error == EAGAIN || error == EINTR;
        if (!worthRetrying || steadyMs() >= giveUpMs) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryMs));
    }
}

bool sendAll(int fd, const std::string& bytes) {
    const std::int64_t giveUpMs = steadyMs() + SingleInstance::kClientDeadlineMs;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t put = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (put > 0) {
            sent += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        const std::int64_t leftMs = giveUpMs - steadyMs();
        if (put == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || leftMs <= 0) {
            return false;
        }
        pollfd writable{fd, POLLOUT, 0};
        ::poll(&writable, 1, static_cast<int>(leftMs));
    }
    return true;
}

}  // namespace

std::string SingleInstance::socketPath(const std::string& name) noexcept {
    try {
        return pathFor(name, ".sock");
    } catch (...) {
        return std::string();
    }
}

std::string SingleInstance::lockPath(const std::string& name) noexcept {
    try {
        return pathFor(name, ".lock");
    } catch (...) {
        return std::string();
    }
}

std::unique_ptr<SingleInstance> SingleInstance::claim(const std::string& name) noexcept {
    try {
        const std::string lockFile = lockPath(name);
        if (lockFile.empty()) {
            return nullptr;
        }
        std::unique_ptr<SingleInstance> instance(new SingleInstance());
        // The lock file stays when we exit. Removing it would let a newcomer lock a fresh
        // file while a latecomer still holds the old one, and both would think they were first.
        instance->m_lockFd =
            ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (instance->m_lockFd < 0 || ::flock(instance->m_lockFd, LOCK_EX | LOCK_NB) != 0) {
            return nullptr;
        }
        // Being first matters more than receiving hand-overs: a socket that cannot be set
        // up leaves a claim that only holds the lock.
        instance->m_clients.reserve(kMaxClients);
        if (!instance->listenAt(socketPath(name))) {
            instance->stopListening();
        }
        return instance;
    } catch (...) {
        return nullptr;
    }
}

bool SingleInstance::listenAt(const std::string& path) {
    sockaddr_un address{};
    if (!makeAddress(path, address)) {
        return false;
    }
    // We hold the lock, so whatever sits at the path was left by an instance that died.
    ::unlink(path.c_str());
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return false;
    }
    m_socketPath = path;
    // Owner only, should the folder ever be open to others; the peer check on accept holds
    // regardless.
    ::chmod(path.c_str(), 0600);
    if (::listen(m_listenFd, static_cast<int>(kMaxClients)) != 0) {
        return false;
    }
    m_eventFd = ::epoll_create1(EPOLL_CLOEXEC);
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_eventFd < 0 || m_timerFd < 0) {
        return false;
    }
    for (const int fd : {m_listenFd, m_timerFd}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (::epoll_ctl(m_eventFd, EPOLL_CTL_ADD, fd, &event) != 0) {
            return false;
        }
    }
    return true;
}

void SingleInstance::stopListening() noexcept {
    for (Client& client : m_clients) {
        hangUp(client.fd);
    }
    m_clients.clear();
    closeFd(m_timerFd);
    closeFd(m_eventFd);
    closeFd(m_listenFd);
    if (!m_socketPath.empty()) {
        ::unlink(m_socketPath.c_str());
        m_socketPath.clear();
    }
}

SingleInstance::~SingleInstance() {
    // The socket goes before the lock: once the lock is free the path may already belong
    // to a new first instance.
    stopListening();
    closeFd(m_lockFd);
}

void SingleInstance::poll() noexcept {
    if (m_listenFd < 0) {
        return;
    }
    const std::int64_t nowMs = steadyMs();
    std::uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t cleared = ::read(m_timerFd, &expirations, sizeof expirations);
    acceptClients(nowMs);
    // Bytes already waiting count even when we come late: the deadline is for clients that
    // are slow, not for a window thread that was busy.
    const auto finished = [this, nowMs](Client& client) {
        if (readClient(client) && client.deadlineMs > nowMs) {
            return false;
        }
        hangUp(client.fd);
        return true;
    };
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(), finished), m_clients.end());
    armDeadlineTimer();
}

void SingleInstance::acceptClients(std::int64_t nowMs) noexcept {
    for (int accepted = 0; accepted < kMaxAcceptsPerPoll; ++accepted) {
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        // Whoever can reach the socket could make us open files on their behalf: only our
        // own user may, whatever the folder's permissions say.
        ucred peer{};
        socklen_t size = sizeof peer;
        const bool ourUser = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
                             size == sizeof peer && peer.uid == ::geteuid();
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.fd = fd;
        if (!ourUser || m_clients.size() >= kMaxClients ||
            ::epoll_ctl(m_eventFd, EPOLL_CTL_ADD, fd, &event) != 0) {
            hangUp(fd);
            continue;
        }
        // Capacity was reserved at claim: this never allocates, so never throws.
        m_clients.push_back(Client{fd, nowMs + kClientDeadlineMs, std::string()});
    }
}

bool SingleInstance::readClient(Client& client) noexcept {
    char buffer[kMaxMessageBytes + 1];
    for (;;) {
        const ssize_t got = ::read(client.fd, buffer, sizeof buffer);
        if (got > 0) {
            const auto count = static_cast<std::size_t>(got);
            if (client.bytes.size() + count > kMaxMessageBytes) {
                return false;
            }
            try {
                client.bytes.append(buffer, count);
            } catch (...) {
                return false;
            }
            continue;
        }
        if (got == 0) {
            deliver(std::move(client.bytes));
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

void SingleInstance::deliver(std::string path) noexcept {
    // A client written with echo sends a newline after the path.
    if (!path.empty() && path.back() == '\n') {
        path.pop_back();
    }
    // Absolute paths only: a relative one would be read against our folder, not the sender's.
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) {
        return;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return;
    }
    const std::uint16_t atom = addAtom(path);
    if (atom != 0 && !postMessage(m_window, kOpenFileMessage, atom, 0)) {
        takeAtom(atom);  // nobody will read it
    }
}

void SingleInstance::armDeadlineTimer() noexcept {
    itimerspec when{};
    if (!m_clients.empty()) {
        const auto earliest = std::min_element(m_clients.begin(), m_clients.end(),
                                               [](const Client& a, const Client& b) {
                                                   return a.deadlineMs < b.deadlineMs;
                                               })
                                  ->deadlineMs;
        // Relative to a fresh reading of the same clock: the timer never fires early, so the
        // poll() it causes sees the deadline as passed. An all-zero value would disarm it.
        const std::int64_t leftMs = std::max<std::int64_t>(earliest - steadyMs(), 1);
        when.it_value.tv_sec = static_cast<time_t>(leftMs / 1000);
        when.it_value.tv_nsec = static_cast<long>((leftMs % 1000) * 1000000);
    }
    ::timerfd_settime(m_timerFd, 0, &when, nullptr);
}

bool SingleInstance::handOver(const std::string& path, const std::string& name) noexcept {
    try {
        if (path.empty() || path.find('\0') != std::string::npos) {
            return false;
        }
        std::string absolute = path;
        if (path.front() != '/') {
            std::error_code error;
            const std::filesystem::path current = std::filesystem::current_path(error);
            if (error) {
                return false;
            }
            absolute = (current / path).string();
        }
        sockaddr_un address{};
        if (absolute.size() > kMaxMessageBytes || !makeAddress(socketPath(name), address)) {
            return false;
        }
        int fd = connectPatiently(address);
        if (fd < 0) {
            return false;
        }
        const bool written = sendAll(fd, absolute);
        closeFd(fd);
        return written;
    } catch (...) {
        return false;
    }
}

}  // namespace platform
