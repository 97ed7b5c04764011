#pragma once

#include <cstdint>

#include "platform/export.h"

namespace platform {

// A window handle: a number that names a message queue registered by a host. 0 is none.
using WindowHandle = std::uint32_t;

struct Message {
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// Messages that the libraries post to their host window.
constexpr std::uint32_t kUserMessageBase = 1024;
constexpr std::uint32_t kSongEndedMessage = kUserMessageBase + 10;  // 1034
constexpr std::uint32_t kOpenFileMessage = kUserMessageBase + 50;   // 1074

// A window as far as the libraries are concerned: a bounded queue of posted messages.
// The host owns it and pumps it on its own thread; any thread may post to it.
class CVK_PLATFORM_API MessageQueue {
public:
    // Messages beyond this many waiting ones are refused, as a full queue refuses them.
    static constexpr std::uint32_t kCapacity = 4096;

    MessageQueue();
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    WindowHandle handle() const { return m_handle; }

    // Takes the oldest waiting message; false when none waits.
    bool peek(Message& out);
    // Waits up to timeoutMs (negative: forever) for a message.
    bool wait(Message& out, int timeoutMs);
    // A descriptor that is readable while messages may wait (for poll() or a socket notifier).
    int notifyFd() const { return m_eventFd; }
    // Makes notifyFd() unreadable until the next post. A host that waits on the descriptor
    // calls it before it takes the messages with peek(): one posted meanwhile wakes it
    // again, and a drained queue no longer does (the descriptor would otherwise stay
    // readable, and every wait would return at once).
    void acknowledge();

private:
    WindowHandle m_handle = 0;
    int m_eventFd = -1;
};

// Posts a message to a window from any thread. Lock-free and allocation-free, so the
// timer thread may call it. False when the window does not exist or its queue is full.
CVK_PLATFORM_API bool postMessage(WindowHandle window, std::uint32_t message,
                                  std::uintptr_t wParam, std::intptr_t lParam) noexcept;

}  // namespace platform
