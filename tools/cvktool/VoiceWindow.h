#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Terminal.h"
#include "platform/messages.h"

namespace cvktool {

// The voice commands' window: the queue the wave devices post to, whose notifications go
// back to the wave library as the player's window hands them, and a wait that sleeps until
// something happens, so that a command idling through a take costs nothing.
class VoiceWindow {
public:
    platform::WindowHandle handle() const { return m_queue.handle(); }

    // Sleeps until a notification comes, a key is typed (with a keyboard; keys read are
    // appended), a stop signal arrives or the clock reaches `deadlineMs`, then hands every
    // waiting notification back. On the virtual clock, which the devices run ahead by
    // themselves, it sleeps a millisecond at most.
    void pump(std::optional<std::uint32_t> deadlineMs, KeyboardInput* keyboard = nullptr,
              std::vector<Key>* keys = nullptr);
    // Hands back what waits, without waiting.
    void drain();

    // An output device closed: playback has ended (or a recording's monitor closed).
    bool outputClosed() const { return m_outputClosed; }
    // The input device closed: the take is finished and in its place.
    bool inputClosed() const { return m_inputClosed; }
    // An output's stream failed (the library said what happened).
    bool outputFailed() const { return m_outputFailed; }

private:
    void dispatch(const platform::Message& m);

    platform::MessageQueue m_queue;
    bool m_outputClosed = false;
    bool m_inputClosed = false;
    bool m_outputFailed = false;
};

}  // namespace cvktool
