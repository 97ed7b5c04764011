#include "midi_sender.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/mm_timer.h"

namespace platform::detail {
namespace {

// How often a waiting window-thread sender, or close, looks again. Only a full queue or
// a closing device waits at all, so this costs nothing while music plays.
constexpr auto kRecheck = std::chrono::microseconds(200);

}  // namespace

// The sender thread sleeps in poll() on an eventfd, and a sender wakes it with one
// write(): a non-blocking descriptor never makes write() wait (the counter cannot fill),
// a message usually reaches the sink some tens of microseconds after it was sent, and no
// CPU is spent while nothing is sent. Polling the queue instead would cost either latency
// (a 1 ms nap is a whole timer period late) or a core spinning. The write is made only
// when the thread is asleep, so a burst of messages costs one system call.
MidiSender::MidiSender(MidiSink sink, std::chrono::nanoseconds stallLimit)
    : m_sink(std::move(sink)), m_stallLimit(stallLimit) {
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    try {
        m_thread = std::thread([this] { run(); });
    } catch (...) {
        ::close(m_wakeFd);
        throw;
    }
}

MidiSender::~MidiSender() {
    close();
    ::close(m_wakeFd);
}

void MidiSender::send(std::uint32_t message) noexcept {
    const Queued item{clockMicros(), message};
    if (!m_queue.push(item)) {
        if (onTimerThread() || !waitForRoom(item)) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
    wakeIfAsleep();
}

bool MidiSender::waitForRoom(const Queued& item) noexcept {
    std::uint64_t taken = m_taken.load(std::memory_order_acquire);
    if (taken == m_stalledAt.load(std::memory_order_relaxed)) {
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + m_stallLimit;
    for (;;) {
        std::this_thread::sleep_for(kRecheck);
        if (m_queue.push(item)) {
            return true;
        }
        const std::uint64_t now = m_taken.load(std::memory_order_acquire);
        if (now != taken) {
            taken = now;
            deadline = std::chrono::steady_clock::now() + m_stallLimit;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            m_stalledAt.store(taken, std::memory_order_relaxed);
            return false;
        }
    }
}

// Every change of m_asleep is an exchange, and exchanges of one atomic are totally
// ordered, each reading the one before: either this sender's comes after the thread's
// announcement of its sleep and wakes it, or the thread's comes after this one and,
// synchronising with it, finds the message in the queue.
void MidiSender::wakeIfAsleep() noexcept {
    if (m_asleep.exchange(false, std::memory_order_acq_rel)) {
        wake();
    }
}

void MidiSender::wake() noexcept {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
}

void MidiSender::deliver(const Queued& item) noexcept {
    if (m_discarding.load(std::memory_order_relaxed)) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
    } else {
        try {
            m_sink(item.message, item.micros);
        } catch (...) {
        }
    }
    m_taken.fetch_add(1, std::memory_order_release);
}

void MidiSender::run() noexcept {
    Queued item;
    for (;;) {
        const bool closing = m_closing.load(std::memory_order_acquire);
        while (m_queue.pop(item)) {
            deliver(item);
        }
        if (closing) {
            break;
        }
        m_asleep.exchange(true, std::memory_order_acq_rel);
        if (m_queue.pop(item)) {
            m_asleep.exchange(false, std::memory_order_acq_rel);
            deliver(item);
            continue;
        }
        pollfd wait{m_wakeFd, POLLIN, 0};
        while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
        }
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &count, sizeof count);
        m_asleep.exchange(false, std::memory_order_acq_rel);
    }
    m_finished.store(true, std::memory_order_release);
}

void MidiSender::close() noexcept {
    if (!m_thread.joinable()) {
        return;
    }
    m_closing.store(true, std::memory_order_release);
    wake();
    std::uint64_t taken = m_taken.load(std::memory_order_acquire);
    bool stalled = taken == m_stalledAt.load(std::memory_order_relaxed);
    auto deadline = std::chrono::steady_clock::now() + m_stallLimit;
    while (!m_finished.load(std::memory_order_acquire)) {
        if (stalled) {
            // The thread is stuck in the sink; it drops whatever it takes after this.
            m_discarding.store(true, std::memory_order_relaxed);
            Queued item;
            while (m_queue.pop(item)) {
                m_dropped.fetch_add(1, std::memory_order_relaxed);
            }
            break;
        }
        std::this_thread::sleep_for(kRecheck);
        const std::uint64_t now = m_taken.load(std::memory_order_acquire);
        if (now != taken) {
            taken = now;
            deadline = std::chrono::steady_clock::now() + m_stallLimit;
        } else {
            stalled = std::chrono::steady_clock::now() >= deadline;
        }
    }
    m_thread.join();
}

}  // namespace platform::detail
