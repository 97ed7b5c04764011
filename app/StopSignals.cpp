#include "StopSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace cvkapp {

namespace {

constexpr std::array<int, 3> kStopSignals = {SIGTERM, SIGHUP, SIGINT};

// The pipe's ends live in plain statics because the handler writes to them.
int g_readEnd = -1;
volatile std::sig_atomic_t g_writeEnd = -1;
volatile std::sig_atomic_t g_taken = 0;
struct sigaction g_previous[kStopSignals.size()];

extern "C" void onStopSignal(int signal) {
    if (g_taken != 0) {
        // The close is under way and another signal came: it takes its own course.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_taken = 1;
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &number, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    int ends[2];
    if (g_writeEnd >= 0 || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    g_readEnd = ends[0];
    g_writeEnd = ends[1];
    g_taken = 0;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        sigaction(kStopSignals[i], &action, &g_previous[i]);
    }
    m_notifier = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::takeSignals);
}

StopSignals::~StopSignals() {
    if (m_notifier == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        sigaction(kStopSignals[i], &g_previous[i], nullptr);
    }
    delete m_notifier;
    ::close(g_readEnd);
    ::close(g_writeEnd);
    g_readEnd = -1;
    g_writeEnd = -1;
}

void StopSignals::takeSignals() {
    unsigned char number = 0;
    while (::read(g_readEnd, &number, 1) == 1) {
        emit stopRequested(number);
    }
}

}  // namespace cvkapp
