#include "VoiceWindow.h"

#include <poll.h>

#include "audio/wave.h"
#include "platform/mm_timer.h"
#include "voxcapt/voxcapt.h"

namespace cvktool {

void VoiceWindow::pump(std::optional<std::uint32_t> deadlineMs, KeyboardInput* keyboard,
                       std::vector<Key>* keys) {
    int timeoutMs = -1;
    if (platform::clockMode() == platform::ClockMode::Virtual) {
        timeoutMs = 1;
    } else if (deadlineMs) {
        // Differences of the 32-bit clock stay right across its wrap.
        const auto left = static_cast<std::int32_t>(*deadlineMs - platform::clockMillis());
        timeoutMs = left > 0 ? left : 0;
    }
    // Once a stop has come the signal's pipe stays readable; what follows (the take
    // coming back whole) is waited for on the notifications alone.
    pollfd fds[3] = {{m_queue.notifyFd(), POLLIN, 0},
                     {keyboard != nullptr ? keyboard->fd() : -1, POLLIN, 0},
                     {stopRequested() ? -1 : stopSignalFd(), POLLIN, 0}};
    ::poll(fds, 3, timeoutMs);
    if (keyboard != nullptr && keys != nullptr && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
        keyboard->read(*keys);
    }
    drain();
}

void VoiceWindow::drain() {
    m_queue.acknowledge();
    platform::Message m;
    while (m_queue.peek(m)) {
        dispatch(m);
    }
}

void VoiceWindow::dispatch(const platform::Message& m) {
    switch (m.message) {
        case audio::kWaveOutCloseMessage:
            m_outputClosed = true;
            break;
        case audio::kWaveInCloseMessage:
            m_inputClosed = true;
            break;
        case audio::kWaveOutErrorMessage:
            m_outputFailed = true;
            break;
        default:
            break;
    }
    switch (m.message) {
        case audio::kWaveOutOpenMessage:
        case audio::kWaveOutCloseMessage:
        case audio::kWaveOutDoneMessage:
        case audio::kWaveOutErrorMessage:
            ProcessWavePlayMsg(m.message, m.wParam, m.lParam);
            break;
        case audio::kWaveInOpenMessage:
        case audio::kWaveInCloseMessage:
        case audio::kWaveInDataMessage:
        case audio::kWaveInErrorMessage:
            ProcessWaveRecMsg(m.message, m.wParam, m.lParam);
            break;
        default:
            break;
    }
}

}  // namespace cvktool
