// The program: one window per user. A later start hands its song to the running window
// and exits without a window of its own.

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Cantivo.h"
#include "MidiSplit.h"
#include "QtMessageBoxes.h"
#include "StopSignals.h"
#include "faderlib/faderlib.h"
#include "platform/dialogs.h"
#include "platform/instance.h"
#include "synth/synthesizer.h"

namespace {

// Message boxes on screen; or, when CVK_MESSAGE_LOG names a file (tests of the built
// program), appended to it as "title<TAB>text" lines and answered with their first button.
platform::MessageBoxHandler messageBoxes() {
    const char* log = std::getenv("CVK_MESSAGE_LOG");
    if (log == nullptr || log[0] == '\0') {
        return cvkapp::showQtMessageBox;
    }
    return [path = std::string(log)](const platform::MessageBoxRequest& request) {
        if (FILE* out = std::fopen(path.c_str(), "a")) {
            std::fprintf(out, "%s\t%s\n", request.title.c_str(), request.text.c_str());
            std::fclose(out);
        }
        return platform::defaultAnswer(request.buttons);
    };
}

// A later start. The running window drops a file it cannot read without a word, so the
// file is checked here and a failure reported as a first start would report it.
int handOverToRunningProgram(int argc, char** argv, const std::string& file) {
    if (file.empty()) {
        return 0;
    }
    if (const std::string error = songfile::sourceReadError(file); !error.empty()) {
        synth::install();
    QApplication app(argc, argv);
        platform::setMessageBoxHandler(messageBoxes());
        platform::showMessageBox(error, "Message Box", platform::MessageButtons::Ok,
                                 platform::MessageIcon::None);
        platform::setMessageBoxHandler({});
        return 1;
    }
    return platform::SingleInstance::handOver(file) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string file = argc > 1 ? argv[1] : "";
    std::unique_ptr<platform::SingleInstance> instance = platform::SingleInstance::claim();
    if (!instance) {
        return handOverToRunningProgram(argc, argv, file);
    }

    QApplication app(argc, argv);
    // No display name: the toolkit would append it to every window's title, and ours are
    // exactly what each window sets.
    QApplication::setApplicationName("Cantivo Karaoke");
    QApplication::setDesktopFileName("cantivo");
    platform::setMessageBoxHandler(messageBoxes());

    // Before the window, so that a signal while it starts up is not lost: the notifier
    // hands it over once the event loop runs.
    cvkapp::StopSignals stopSignals;

    cvkapp::CantivoOptions options;
    options.commandLineFile = QString::fromLocal8Bit(file.c_str());
    cvkapp::TCantivo window(options);
    window.AttachInstance(instance.get());
    // The program ends with the window, whatever else is open (the help window).
    QObject::connect(&stopSignals, &cvkapp::StopSignals::stopRequested, &window, [&window] {
        window.CloseWithoutQuestions([] { QCoreApplication::exit(0); });
    });
    if (std::getenv("CVK_TEST_PASS_THROUGH") != nullptr) {
        // Tests of the built program: the microphone pass-through on, as the hardware
        // monitor switches it during a take, which the window cannot record yet.
        SetMicOutMuteSetting(0);
    }
    window.show();
    const int result = QApplication::exec();
    window.AttachInstance(nullptr);
    platform::setMessageBoxHandler({});
    return result;
}
