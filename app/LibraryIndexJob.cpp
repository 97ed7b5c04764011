#include "LibraryIndexJob.h"

#include <QMetaObject>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>

namespace cvkapp {
namespace {

// Progress is shown a few times a second at most: every post is work for the window.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr int kIndexNice = 10;

}  // namespace

LibraryIndexJob::LibraryIndexJob(std::string databasePath, std::vector<std::string> folders, QObject* receiver,
                                 Progress progress, Finished finished)
    : m_receiver(receiver), m_progress(std::move(progress)), m_finished(std::move(finished)) {
    m_thread = std::thread([this, path = std::move(databasePath), list = std::move(folders)]() mutable {
        run(std::move(path), std::move(list));
    });
}

LibraryIndexJob::~LibraryIndexJob() {
    m_cancel.store(true);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void LibraryIndexJob::run(std::string databasePath, std::vector<std::string> folders) {
    // Below the window's thread: on a machine of two cores the readers and the writer
    // would otherwise take the window's turn for whole scheduler slices. The readers the
    // run starts inherit the value (it is per thread on Linux).
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kIndexNice);
    Result result;
    QObject* receiver = m_receiver.data();
    {
        library::Library songs(databasePath);
        result.notice = songs.notice();
        auto lastPost = std::chrono::steady_clock::now() - kProgressInterval;
        const library::ProgressCallback progress = [&](const library::IndexProgress& now) {
            const auto time = std::chrono::steady_clock::now();
            if (time - lastPost < kProgressInterval || receiver == nullptr) {
                return;
            }
            lastPost = time;
            QMetaObject::invokeMethod(receiver, [report = m_progress, now] { report(now); }, Qt::QueuedConnection);
        };
        if (songs.isOpen()) {
            result.ok = folders.empty() ? songs.refresh(result.report, progress, &m_cancel)
                                        : songs.addFolders(folders, result.report, progress, &m_cancel);
        }
        result.error = songs.lastError();
        // The connection closes here, checkpointing the run's log into the database: the
        // window hears of the result only after it, so that joining this thread then is
        // instant and never holds up the window's thread.
    }
    if (receiver != nullptr) {
        QMetaObject::invokeMethod(receiver, [finished = m_finished, result] { finished(result); }, Qt::QueuedConnection);
    }
}

}  // namespace cvkapp
