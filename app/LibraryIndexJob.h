#pragma once

// An index run of the song library on a thread of its own, with its own connection to the
// database, so that the window's thread only ever searches and shows. Progress and the
// end are posted to the window's thread (queued calls on `receiver`); the job can be
// cancelled, and its destructor cancels and waits.

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "library/Library.h"

namespace cvkapp {

class LibraryIndexJob {
public:
    struct Result {
        bool ok = false;
        std::string error;
        std::string notice;
        library::IndexReport report;
    };
    using Progress = std::function<void(const library::IndexProgress&)>;
    using Finished = std::function<void(const Result&)>;

    // Starts at once: adds `folders` (none: refreshes every added folder). The callbacks
    // run on `receiver`'s thread, and not at all once `receiver` is gone.
    LibraryIndexJob(std::string databasePath, std::vector<std::string> folders, QObject* receiver,
                    Progress progress, Finished finished);
    ~LibraryIndexJob();
    LibraryIndexJob(const LibraryIndexJob&) = delete;
    LibraryIndexJob& operator=(const LibraryIndexJob&) = delete;

    void cancel() { m_cancel.store(true); }

private:
    void run(std::string databasePath, std::vector<std::string> folders);

    QPointer<QObject> m_receiver;
    Progress m_progress;
    Finished m_finished;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

}  // namespace cvkapp
