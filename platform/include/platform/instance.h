#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/export.h"
#include "platform/messages.h"

namespace platform {

// One running program per user. The first start holds an exclusive lock on a per-user
// file and listens on a per-user local socket beside it; a later start hands its file
// path over that socket and exits. The first instance turns each path it receives into
// an atom (platform/atoms.h) posted to its window as kOpenFileMessage.
//
// Both files live in $XDG_RUNTIME_DIR, or in a private /tmp/cantivo-<uid>/ when that is
// not set. Only the lock decides who is first: a socket file without a lock holder is
// left over from a crash and is replaced.
class CVK_PLATFORM_API SingleInstance {
public:
    static constexpr const char* kDefaultName = "CVK FirstInstance";
    // Longest hand-over accepted, in bytes as received (a trailing newline counts).
    static constexpr std::size_t kMaxMessageBytes = 255;
    // A client must have sent its path and closed within this long of being accepted.
    static constexpr int kClientDeadlineMs = 1000;
    // Clients being read at once; more are refused until some finish.
    static constexpr std::size_t kMaxClients = 16;

    // Any thread, once at start-up. The claim when this is the first instance of `name`;
    // nullptr when another instance holds it or the lock cannot be made (the caller then
    // behaves as a second instance). A claim whose socket could not be set up still holds
    // the lock but has notifyFd() == -1 and receives nothing.
    static std::unique_ptr<SingleInstance> claim(const std::string& name = kDefaultName) noexcept;

    // Any thread, in a second instance. Sends `path` (made absolute against the current
    // folder) to the first instance. True when all of it was written; false for an empty
    // path, a path longer than kMaxMessageBytes, or no first instance listening.
    static bool handOver(const std::string& path, const std::string& name = kDefaultName) noexcept;

    // Where the socket and the lock of `name` live; empty when there is no private folder.
    static std::string socketPath(const std::string& name = kDefaultName) noexcept;
    static std::string lockPath(const std::string& name = kDefaultName) noexcept;

    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Readable whenever poll() has work: a new client, bytes from a client, or a client's
    // deadline passed. Watch it with a socket notifier or poll(); no timer is needed.
    int notifyFd() const { return m_eventFd; }

    // The window that receives hand-overs; 0 drops them.
    void setWindow(WindowHandle window) { m_window = window; }

    // Window thread. Accepts and reads whatever is ready without blocking, drops clients
    // that are too slow, too long or another user, and posts each complete hand-over that
    // names an existing regular file by absolute path.
    void poll() noexcept;

private:
    struct Client {
        int fd = -1;
        std::int64_t deadlineMs = 0;  // steady clock
        std::string bytes;
    };

    SingleInstance() = default;
    bool listenAt(const std::string& path);
    void stopListening() noexcept;
    void acceptClients(std::int64_t nowMs) noexcept;
    // False when the client is done with: delivered, too long, or failed.
    bool readClient(Client& client) noexcept;
    void deliver(std::string path) noexcept;
    void armDeadlineTimer() noexcept;

    int m_lockFd = -1;
    int m_listenFd = -1;
    int m_eventFd = -1;  // epoll over the listening socket, the clients and m_timerFd
    int m_timerFd = -1;  // fires at the earliest client deadline
    std::string m_socketPath;
    WindowHandle m_window = 0;
    std::vector<Client> m_clients;
};

}  // namespace platform
