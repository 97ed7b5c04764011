#include "platform/dialogs.h"

#include <cstdio>
#include <utility>

namespace platform {
namespace {

struct State {
    std::mutex mutex;           // guards handler; taken by any thread that shows or installs
    MessageBoxHandler handler;  // the host's; empty means stderr and the first button
};

// Built on first use: libraries may show a box while their own statics are constructed.
State& state() {
    static State instance;
    return instance;
}

bool isButtonOf(MessageButtons buttons, MessageAnswer answer) {
    switch (buttons) {
    case MessageButtons::Ok:
        return answer == MessageAnswer::Ok;
    case MessageButtons::OkCancel:
        return answer == MessageAnswer::Ok || answer == MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return answer == MessageAnswer::Yes || answer == MessageAnswer::No;
    case MessageButtons::YesNoCancel:
        return answer == MessageAnswer::Yes || answer == MessageAnswer::No || answer == MessageAnswer::Cancel;
    case MessageButtons::RetryCancel:
        return answer == MessageAnswer::Retry || answer == MessageAnswer::Cancel;
    case MessageButtons::AbortRetryIgnore:
        return answer == MessageAnswer::Abort || answer == MessageAnswer::Retry || answer == MessageAnswer::Ignore;
    }
    return false;
}

}  // namespace

// Any thread but a real-time one: the host's handler may wait for the user. The handler is
// called without the lock held, so it may show a nested box or install another handler.
MessageAnswer showMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                             MessageIcon icon, WindowHandle owner) {
    try {
        MessageBoxHandler handler;
        {
            const std::lock_guard<std::mutex> lock(state().mutex);
            handler = state().handler;
        }
        if (!handler) {
            std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
            return defaultAnswer(buttons);
        }
        return handler(MessageBoxRequest{text, title, buttons, icon, owner});
    } catch (...) {
        return defaultAnswer(buttons);
    }
}

// Any thread. Returns the handler that was installed (empty for the default).
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
    const std::lock_guard<std::mutex> lock(state().mutex);
    std::swap(state().handler, handler);
    return handler;
}

// Any thread. The first button of the set.
MessageAnswer defaultAnswer(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
    case MessageButtons::OkCancel:
        return MessageAnswer::Ok;
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
        return MessageAnswer::Yes;
    case MessageButtons::RetryCancel:
        return MessageAnswer::Retry;
    case MessageButtons::AbortRetryIgnore:
        return MessageAnswer::Abort;
    }
    return MessageAnswer::Ok;
}

ScriptedMessageBoxes::ScriptedMessageBoxes()
    : m_previous(setMessageBoxHandler([this](const MessageBoxRequest& request) { return answer(request); })) {}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { setMessageBoxHandler(std::move(m_previous)); }

void ScriptedMessageBoxes::answerNext(MessageAnswer answer) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(answer);
}

bool ScriptedMessageBoxes::misuse() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_misuse;
}

MessageAnswer ScriptedMessageBoxes::answer(const MessageBoxRequest& request) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_shown.push_back(request);
    if (m_answers.empty()) {
        return defaultAnswer(request.buttons);
    }
    const MessageAnswer scripted = m_answers.front();
    m_answers.pop_front();
    if (!isButtonOf(request.buttons, scripted)) {
        m_misuse = true;
    }
    return scripted;
}

}  // namespace platform
