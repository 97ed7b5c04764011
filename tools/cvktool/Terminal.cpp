#include "Terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace cvktool {

namespace {

constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kCtrlC = 0x03;

// The saved terminal mode lives in plain statics because a signal handler restores it.
termios g_savedMode;
volatile std::sig_atomic_t g_rawMode = 0;
volatile std::sig_atomic_t g_stopSignals = 0;
// A pipe the stop handler writes to: a wait that checked stopRequested() just before the
// signal came still wakes up.
int g_stopPipe[2] = {-1, -1};

void restoreTerminal() {
    if (g_rawMode != 0) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedMode);
        g_rawMode = 0;
    }
}

extern "C" void onStopSignal(int signal) {
    if (g_stopSignals != 0) {
        restoreTerminal();  // tcsetattr is async-signal-safe
        ::_exit(128 + signal);
    }
    g_stopSignals = 1;
    if (g_stopPipe[1] >= 0) {
        const char stop = 's';
        [[maybe_unused]] const auto written = ::write(g_stopPipe[1], &stop, 1);  // async-signal-safe
    }
}

}  // namespace

std::optional<Key> KeyDecoder::feed(unsigned char byte) {
    switch (m_state) {
        case State::Escape:
            if (byte == '[' || byte == 'O') {
                m_state = State::Sequence;
                return std::nullopt;
            }
            // A lone escape (or Alt+key): forget it and take the byte on its own.
            m_state = State::Plain;
            break;
        case State::Sequence:
            // Parameters and intermediates (0x20..0x3F) run until a final byte 0x40..0x7E.
            if (byte >= 0x20 && byte <= 0x3F) {
                return std::nullopt;
            }
            m_state = State::Plain;
            switch (byte) {
                case 'A':
                    return Key::Up;
                case 'B':
                    return Key::Down;
                case 'C':
                    return Key::Right;
                case 'D':
                    return Key::Left;
                default:
                    return std::nullopt;
            }
        case State::Plain:
            break;
    }

    switch (byte) {
        case kEscape:
            m_state = State::Escape;
            return std::nullopt;
        case ' ':
            return Key::Space;
        case '+':
        case '=':
            return Key::TempoUp;
        case '-':
            return Key::TempoDown;
        case 'q':
        case 'Q':
        case kCtrlC:
            return Key::Quit;
        default:
            return std::nullopt;
    }
}

KeyboardInput::KeyboardInput() {
    if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &g_savedMode) != 0) {
        return;
    }
    termios raw = g_savedMode;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    static const bool atExitRegistered = std::atexit(restoreTerminal) == 0;
    (void)atExitRegistered;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) {
        g_rawMode = 1;
    }
}

KeyboardInput::~KeyboardInput() {
    restoreTerminal();
}

void KeyboardInput::read(std::vector<Key>& keys) {
    if (!m_open) {
        return;
    }
    unsigned char buffer[64];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0) {
        if (errno != EINTR && errno != EAGAIN) {
            m_open = false;
        }
        return;
    }
    if (count == 0) {
        m_open = false;  // end of a pipe or file: nothing more will come
        return;
    }
    for (ssize_t i = 0; i < count; ++i) {
        if (const std::optional<Key> key = m_decoder.feed(buffer[i])) {
            keys.push_back(*key);
        }
    }
}

void installStopSignals() {
    if (g_stopPipe[0] < 0 && ::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_stopPipe[0] = g_stopPipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the player's wait must wake up
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

bool stopRequested() {
    return g_stopSignals != 0;
}

int stopSignalFd() { return g_stopPipe[0]; }

}  // namespace cvktool
