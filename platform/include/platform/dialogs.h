#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/export.h"
#include "platform/messages.h"

namespace platform {

enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageAnswer { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MessageBoxRequest {
    std::string text;
    std::string title;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    WindowHandle owner = 0;
};

using MessageBoxHandler = std::function<MessageAnswer(const MessageBoxRequest&)>;

// Shows a message box through the host's handler and returns the button pressed.
// Without a host handler the box goes to stderr and is answered with its first button.
CVK_PLATFORM_API MessageAnswer showMessageBox(const std::string& text, const std::string& title,
                                              MessageButtons buttons, MessageIcon icon,
                                              WindowHandle owner = 0);

// Installs the host's handler (the window program shows real boxes); an empty one restores
// the default. Returns the previous handler.
CVK_PLATFORM_API MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// The first button of a set: what a box is answered with when nobody is there to answer.
CVK_PLATFORM_API MessageAnswer defaultAnswer(MessageButtons buttons);

// For tests: while alive, answers boxes from a script and records every box shown.
// An unscripted box gets its first button. Boxes may come from any thread; read shown()
// once the threads that show boxes are done, and destroy the script after them.
class CVK_PLATFORM_API ScriptedMessageBoxes {
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes();
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    void answerNext(MessageAnswer answer);
    const std::vector<MessageBoxRequest>& shown() const { return m_shown; }
    // True once a scripted answer was not one of its box's buttons: the script is wrong.
    // The answer was returned anyway, so the test sees what it asked for.
    bool misuse() const;

private:
    MessageAnswer answer(const MessageBoxRequest& request);

    mutable std::mutex m_mutex;  // guards the script and the record against boxes from other threads
    std::deque<MessageAnswer> m_answers;
    std::vector<MessageBoxRequest> m_shown;
    bool m_misuse = false;
    MessageBoxHandler m_previous;
};

}  // namespace platform
