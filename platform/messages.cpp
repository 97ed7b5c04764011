#include "platform/messages.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <thread>

#include "platform/lockfree_queue.h"

namespace platform {
namespace {

constexpr std::uint32_t kMaxWindows = 256;

struct WindowQueue {
    BoundedQueue<Message, MessageQueue::kCapacity> messages;
    int eventFd = -1;
};

// A registered window. Posters announce themselves in `users` before they look at
// `handle`, and the owner clears `handle` before it waits for `users` to drain, so a
// queue is never freed under a poster's feet.
struct WindowSlot {
    std::atomic<WindowHandle> handle{0};
    std::atomic<WindowQueue*> queue{nullptr};
    std::atomic<std::uint32_t> users{0};
};

struct State {
    std::array<WindowSlot, kMaxWindows> slots;     // any thread
    std::atomic<std::uint32_t> nextGeneration{1};  // any thread
};

State& state() {
    static State s;
    return s;
}

std::uint32_t slotIndex(WindowHandle handle) { return (handle - 1) % kMaxWindows; }

}  // namespace

MessageQueue::MessageQueue() {
    auto queue = std::make_unique<WindowQueue>();
    queue->eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (queue->eventFd < 0) {
        throw std::runtime_error("eventfd failed");
    }
    State& s = state();
    for (std::uint32_t i = 0; i < kMaxWindows; ++i) {
        WindowSlot& slot = s.slots[i];
        WindowQueue* expected = nullptr;
        if (slot.queue.compare_exchange_strong(expected, queue.get())) {
            const std::uint32_t generation = s.nextGeneration.fetch_add(1);
            m_handle = generation * kMaxWindows + i + 1;
            m_eventFd = queue->eventFd;
            queue.release();
            slot.handle.store(m_handle);
            return;
        }
    }
    close(queue->eventFd);
    throw std::runtime_error("too many message queues");
}

MessageQueue::~MessageQueue() {
    WindowSlot& slot = state().slots[slotIndex(m_handle)];
    slot.handle.store(0);
    while (slot.users.load() != 0) {
        std::this_thread::yield();
    }
    WindowQueue* queue = slot.queue.load();
    close(queue->eventFd);
    delete queue;
    slot.queue.store(nullptr);
}

bool MessageQueue::peek(Message& out) {
    WindowQueue* queue = state().slots[slotIndex(m_handle)].queue.load(std::memory_order_acquire);
    return queue->messages.pop(out);
}

void MessageQueue::acknowledge() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = read(m_eventFd, &count, sizeof count);
}

bool MessageQueue::wait(Message& out, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (peek(out)) {
            return true;
        }
        int remaining = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            remaining = static_cast<int>(left.count());
        }
        pollfd pfd{m_eventFd, POLLIN, 0};
        if (poll(&pfd, 1, remaining) > 0) {
            acknowledge();
        }
    }
}

bool postMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                 std::intptr_t lParam) noexcept {
    if (window == 0) {
        return false;
    }
    WindowSlot& slot = state().slots[slotIndex(window)];
    slot.users.fetch_add(1);
    bool posted = false;
    if (slot.handle.load() == window) {
        WindowQueue* queue = slot.queue.load();
        posted = queue->messages.push(Message{message, wParam, lParam});
        if (posted) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto put = write(queue->eventFd, &one, sizeof one);
        }
    }
    slot.users.fetch_sub(1);
    return posted;
}

}  // namespace platform
