// Index runs: walk the added folders, read new and changed files on worker threads, write
// what they give in short transactions, and let vanished files go.

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "Connection.h"
#include "FolderWalk.h"
#include "SongSummary.h"
#include "library/Library.h"

namespace library {
namespace {

// Songs written per transaction: short enough that a search or another program waits
// only a moment for the write lock, long enough that 10,000 songs take few commits.
constexpr std::size_t kBatch = 256;

struct KnownFile {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool song = false;  // false: listed as skipped
};

struct ReadResult {
    const FoundFile* file = nullptr;
    SongSummary summary;
    std::string error;  // not empty: not a song
};

// Reads the files on worker threads; the thread that owns the database takes the results.
class Readers {
public:
    Readers(const std::vector<const FoundFile*>& files, const std::atomic<bool>* cancel)
        : m_files(files), m_cancel(cancel) {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const std::size_t count = std::min<std::size_t>({cores, 8, std::max<std::size_t>(files.size(), 1)});
        for (std::size_t i = 0; i < count; ++i) {
            m_threads.emplace_back([this] { work(); });
        }
    }
    ~Readers() {
        m_stop.store(true);
        for (std::thread& thread : m_threads) {
            thread.join();
        }
    }
    Readers(const Readers&) = delete;
    Readers& operator=(const Readers&) = delete;

    // The next finished results (waiting for at least one), or none when all are taken.
    std::vector<ReadResult> take() {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_done.empty() || m_taken == m_files.size() || m_stopped(); });
        std::vector<ReadResult> results(std::make_move_iterator(m_done.begin()), std::make_move_iterator(m_done.end()));
        m_done.clear();
        m_taken += results.size();
        return results;
    }

private:
    bool m_stopped() const { return m_cancel != nullptr && m_cancel->load() && m_running == 0; }

    void work() {
        {
            std::lock_guard lock(m_mutex);
            ++m_running;
        }
        for (;;) {
            const std::size_t index = m_next.fetch_add(1);
            if (index >= m_files.size() || m_stop.load() || (m_cancel != nullptr && m_cancel->load())) {
                break;
            }
            ReadResult result;
            result.file = m_files[index];
            result.summary = summarizeSongFile(result.file->path, result.error);
            std::lock_guard lock(m_mutex);
            m_done.push_back(std::move(result));
            m_ready.notify_one();
        }
        std::lock_guard lock(m_mutex);
        --m_running;
        m_ready.notify_one();
    }

    const std::vector<const FoundFile*>& m_files;
    const std::atomic<bool>* m_cancel;
    std::atomic<std::size_t> m_next{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<ReadResult> m_done;  // guarded by m_mutex
    std::size_t m_taken = 0;        // guarded by m_mutex
    std::size_t m_running = 0;      // guarded by m_mutex
    std::vector<std::thread> m_threads;
};

std::string folderOfPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOfPath(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool isUnder(const std::string& path, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (path.rfind(lowerBoundUnder(folder), 0) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool Library::index(const std::vector<std::string>& roots, IndexReport& report, const ProgressCallback& progress,
                    const std::atomic<bool>* cancel) {
    sql::Database& db = m_db->db;
    const auto isCancelled = [cancel] { return cancel != nullptr && cancel->load(); };

    // What the folders hold now.
    IndexProgress shown;
    std::vector<FoundFile> found;
    std::vector<std::string> walkedRoots;
    for (const std::string& root : roots) {
        const std::size_t before = found.size();
        FolderContents contents = walkFolder(root, cancel, [&](std::size_t count) {
            shown.total = before + count;
            if (progress) {
                progress(shown);
            }
        });
        if (contents.cancelled) {
            report.cancelled = true;
            return true;
        }
        report.unreadableFolders.insert(report.unreadableFolders.end(), contents.unreadableFolders.begin(),
                                        contents.unreadableFolders.end());
        report.folders.insert(report.folders.end(), contents.folders.begin(), contents.folders.end());
        if (std::find(contents.unreadableFolders.begin(), contents.unreadableFolders.end(), root) ==
            contents.unreadableFolders.end()) {
            walkedRoots.push_back(root);
        }
        std::move(contents.files.begin(), contents.files.end(), std::back_inserter(found));
    }
    shown.total = found.size();

    // What the library knows of them.
    std::unordered_map<std::string, KnownFile> known;
    {
        sql::Statement songs(db, "SELECT path, size, mtime FROM songs");
        while (songs.step() == SQLITE_ROW) {
            known[songs.text(0)] = {static_cast<std::uint64_t>(songs.integer(1)), songs.integer(2), true};
        }
        sql::Statement skipped(db, "SELECT path, size, mtime, reason FROM skipped");
        while (skipped.step() == SQLITE_ROW) {
            known[skipped.text(0)] = {static_cast<std::uint64_t>(skipped.integer(1)), skipped.integer(2), false};
        }
        if (!songs.ok() || !skipped.ok()) {
            return fail("Cannot read the library");
        }
    }
    std::vector<const FoundFile*> toRead;
    std::unordered_set<std::string> present;
    for (const FoundFile& file : found) {
        if (!present.insert(file.path).second) {
            continue;  // under two added folders
        }
        const auto entry = known.find(file.path);
        if (entry != known.end() && entry->second.size == file.size && entry->second.mtimeNs == file.mtimeNs) {
            report.unchanged += entry->second.song ? 1 : 0;
            ++shown.done;
            continue;
        }
        toRead.push_back(&file);
    }
    if (progress) {
        progress(shown);
    }

    // Read on worker threads, written here in batches.
    {
        sql::Statement writeSong(db,
                                 "INSERT INTO songs(path, folder, name, size, mtime, title, artist, lyrics, seconds, has_lyrics) "
                                 "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) "
                                 "ON CONFLICT(path) DO UPDATE SET folder = excluded.folder, name = excluded.name, "
                                 "size = excluded.size, mtime = excluded.mtime, title = excluded.title, "
                                 "artist = excluded.artist, lyrics = excluded.lyrics, seconds = excluded.seconds, "
                                 "has_lyrics = excluded.has_lyrics");
        sql::Statement dropSkipped(db, "DELETE FROM skipped WHERE path = ?1");
        sql::Statement writeSkipped(db, "INSERT OR REPLACE INTO skipped(path, size, mtime, reason) VALUES (?1, ?2, ?3, ?4)");
        sql::Statement dropSong(db, "DELETE FROM songs WHERE path = ?1");
        if (!writeSong.ok() || !dropSkipped.ok() || !writeSkipped.ok() || !dropSong.ok()) {
            return fail("Cannot write the library");
        }
        Readers readers(toRead, cancel);
        std::vector<ReadResult> pending;
        const auto flush = [&]() -> bool {
            if (pending.empty()) {
                return true;
            }
            sql::Transaction transaction(db);
            if (!transaction.begun()) {
                return false;
            }
            for (const ReadResult& result : pending) {
                const FoundFile& file = *result.file;
                const auto size = static_cast<std::int64_t>(file.size);
                bool written = false;
                if (result.error.empty()) {
                    written = writeSong.bind(1, file.path)
                                  .bind(2, folderOfPath(file.path))
                                  .bind(3, nameOfPath(file.path))
                                  .bind(4, size)
                                  .bind(5, file.mtimeNs)
                                  .bind(6, result.summary.title)
                                  .bind(7, result.summary.artist)
                                  .bind(8, result.summary.lyrics)
                                  .bind(9, std::int64_t{result.summary.seconds})
                                  .bind(10, std::int64_t{result.summary.lyrics.empty() ? 0 : 1})
                                  .run() &&
                              dropSkipped.bind(1, file.path).run();
                } else {
                    written = writeSkipped.bind(1, file.path).bind(2, size).bind(3, file.mtimeNs).bind(4, result.error).run() &&
                              dropSong.bind(1, file.path).run();
                }
                if (!written) {
                    return false;
                }
            }
            if (!transaction.commit()) {
                return false;
            }
            for (const ReadResult& result : pending) {
                const bool wasSong = known.count(result.file->path) != 0 && known[result.file->path].song;
                if (!result.error.empty()) {
                    report.skipped.push_back({result.file->path, result.error});
                } else if (wasSong) {
                    ++report.updated;
                } else {
                    ++report.added;
                }
            }
            shown.done += pending.size();
            pending.clear();
            if (progress) {
                progress(shown);
            }
            return true;
        };
        for (;;) {
            std::vector<ReadResult> results = readers.take();
            if (results.empty()) {
                break;
            }
            std::move(results.begin(), results.end(), std::back_inserter(pending));
            if (pending.size() >= kBatch && !flush()) {
                return fail("Cannot write the library");
            }
        }
        if (!flush()) {
            return fail("Cannot write the library");
        }
    }
    if (isCancelled()) {
        report.cancelled = true;
        return true;
    }

    // Files that are gone, under the folders walked whole: a folder that could not be read
    // keeps what the library knows under it (a disk not mounted is not a deleted one).
    std::vector<std::string> gone;
    for (const auto& [path, file] : known) {
        if (present.count(path) == 0 && isUnder(path, walkedRoots) && !isUnder(path, report.unreadableFolders)) {
            gone.push_back(path);
            report.removed += file.song ? 1 : 0;
        }
    }
    if (!gone.empty()) {
        sql::Transaction transaction(db);
        sql::Statement dropSong(db, "DELETE FROM songs WHERE path = ?1");
        sql::Statement dropSkipped(db, "DELETE FROM skipped WHERE path = ?1");
        if (!transaction.begun() || !dropSong.ok() || !dropSkipped.ok()) {
            return fail("Cannot write the library");
        }
        for (const std::string& path : gone) {
            if (!dropSong.bind(1, path).run() || !dropSkipped.bind(1, path).run()) {
                return fail("Cannot write the library");
            }
        }
        if (!transaction.commit()) {
            return fail("Cannot write the library");
        }
    }
    return true;
}

}  // namespace library
