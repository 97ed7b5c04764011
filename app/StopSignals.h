#pragma once

// SIGTERM, SIGHUP and SIGINT as a request to close the program the way File > Exit does:
// the handler only writes the signal's number to a pipe, and a socket notifier reads it on
// the GUI thread, where the close runs. A second signal before the program has ended takes
// the signal's own course (the program ends at once). One per process.

#include <QObject>

class QSocketNotifier;

namespace cvkapp {

class StopSignals : public QObject {
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the pipe or a handler could not be had: the signals then end the program
    // as they would without this.
    bool installed() const { return m_notifier != nullptr; }

signals:
    void stopRequested(int signal);

private:
    void takeSignals();

    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace cvkapp
