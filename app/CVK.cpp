// The program: one window per user. A later start hands its song to the running window
// and exits without a window of its own.

#include <QApplication>

#include <string>

#include "Cantivo.h"
#include "QtMessageBoxes.h"
#include "platform/dialogs.h"
#include "platform/instance.h"

int main(int argc, char** argv) {
    const std::string file = argc > 1 ? argv[1] : "";
    std::unique_ptr<platform::SingleInstance> instance = platform::SingleInstance::claim();
    if (!instance) {
        if (!file.empty()) {
            platform::SingleInstance::handOver(file);
        }
        return 0;
    }

    QApplication app(argc, argv);
    // No display name: the toolkit would append it to every window's title, and ours are
    // exactly what each window sets.
    QApplication::setApplicationName("Cantivo Karaoke");
    QApplication::setDesktopFileName("cantivo");
    platform::setMessageBoxHandler(cvkapp::showQtMessageBox);

    cvkapp::CantivoOptions options;
    options.commandLineFile = QString::fromLocal8Bit(file.c_str());
    cvkapp::TCantivo window(options);
    window.AttachInstance(instance.get());
    window.show();
    const int result = QApplication::exec();
    window.AttachInstance(nullptr);
    platform::setMessageBoxHandler({});
    return result;
}
