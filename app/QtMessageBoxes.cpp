#include "QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace cvkapp {

namespace {

using platform::MessageAnswer;
using platform::MessageButtons;

QMessageBox::StandardButtons standardButtons(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok: return QMessageBox::Ok;
        case MessageButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case MessageButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
        case MessageButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MessageButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
        case MessageButtons::AbortRetryIgnore:
            return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon icon(platform::MessageIcon icon) {
    switch (icon) {
        case platform::MessageIcon::Information: return QMessageBox::Information;
        case platform::MessageIcon::Warning: return QMessageBox::Warning;
        case platform::MessageIcon::Error: return QMessageBox::Critical;
        case platform::MessageIcon::Question: return QMessageBox::Question;
        case platform::MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

MessageAnswer answerOf(int button) {
    switch (button) {
        case QMessageBox::Ok: return MessageAnswer::Ok;
        case QMessageBox::Cancel: return MessageAnswer::Cancel;
        case QMessageBox::Abort: return MessageAnswer::Abort;
        case QMessageBox::Retry: return MessageAnswer::Retry;
        case QMessageBox::Ignore: return MessageAnswer::Ignore;
        case QMessageBox::Yes: return MessageAnswer::Yes;
        case QMessageBox::No: return MessageAnswer::No;
        default: break;
    }
    return MessageAnswer::Cancel;
}

}  // namespace

MessageAnswer showQtMessageBox(const platform::MessageBoxRequest& request) {
    QMessageBox box(icon(request.icon), QString::fromStdString(request.title),
                    QString::fromLocal8Bit(request.text.c_str()), standardButtons(request.buttons),
                    QApplication::activeWindow());
    const int pressed = box.exec();
    // Closing a box with Esc or its title bar counts as its cancelling button.
    if (pressed != QMessageBox::Ok && pressed != QMessageBox::Cancel &&
        pressed != QMessageBox::Yes && pressed != QMessageBox::No &&
        pressed != QMessageBox::Abort && pressed != QMessageBox::Retry &&
        pressed != QMessageBox::Ignore) {
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::No
               : request.buttons == MessageButtons::Ok  ? MessageAnswer::Ok
                                                        : MessageAnswer::Cancel;
    }
    return answerOf(pressed);
}

}  // namespace cvkapp
