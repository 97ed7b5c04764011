// Opening the library (and setting a damaged one aside), its folders, forgetting, and the
// settings last used with each song.

#include "library/Library.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "Connection.h"
#include "FolderWalk.h"
#include "Schema.h"

namespace library {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string timeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Renames the damaged file and its journal beside it: "library.sqlite.damaged-<time>",
// with a number behind when that name is taken. The shared-memory index is rebuilt from
// the journal, so it is removed. Returns the new name, or empty when the rename failed.
std::string setAside(const std::string& path) {
    const std::string base = path + ".damaged-" + timeStamp();
    std::string target = base;
    for (int n = 2; std::filesystem::exists(target) && n < 100; ++n) {
        target = base + "-" + std::to_string(n);
    }
    if (std::rename(path.c_str(), target.c_str()) != 0) {
        return {};
    }
    std::rename((path + "-wal").c_str(), (target + "-wal").c_str());
    std::remove((path + "-shm").c_str());
    return target;
}

}  // namespace

Library::Library(std::string databasePath, bool checkWhole)
    : m_path(databasePath.empty() ? defaultDatabasePath() : std::move(databasePath)),
      m_checkWhole(checkWhole), m_db(std::make_unique<Connection>()) {
    open(checkWhole);
}

Library::~Library() = default;

std::string Library::defaultDatabasePath() {
    const std::string overridden = environment("CVK_LIBRARY_DATABASE");
    if (!overridden.empty()) {
        return overridden;
    }
    std::string data = environment("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') {
        data = environment("HOME") + "/.local/share";
    }
    return data + "/cantivo/library.sqlite";
}

int Library::schemaVersion() { return kSchemaVersion; }

bool Library::isOpen() const { return m_db->db.handle() != nullptr; }

bool Library::fail(const std::string& what) {
    m_error = what + ": " + m_db->db.error();
    if (m_checkWhole && sql::isDamage(m_db->db.errorCode())) {
        const std::string why = m_error;
        startFresh(why);
        m_error = why + ". " + m_notice;
    }
    return false;
}

// Opens the file, checks it is a sound database of a version this program knows, and
// brings its schema up to date. A damaged file is set aside and a new library started.
bool Library::open(bool checkWhole) {
    sql::Database& db = m_db->db;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path(), ignored);
    if (!db.open(m_path)) {
        m_error = "Cannot open the song library " + m_path + ": " + db.error();
        return false;
    }
    int version = -1;
    bool sound = false;
    {
        // Without the whole check, reading the schema still finds a file that is no database.
        sql::Statement check(db, checkWhole ? "PRAGMA quick_check" : "SELECT 'ok' FROM sqlite_schema LIMIT 1");
        const int code = check.ok() ? check.step() : SQLITE_ERROR;
        sound = code == SQLITE_DONE || (code == SQLITE_ROW && check.text(0) == "ok");
    }
    if (sound) {
        sql::Statement read(db, "PRAGMA user_version");
        if (read.ok() && read.step() == SQLITE_ROW) {
            version = static_cast<int>(read.integer(0));
        }
    }
    if (!sound || version < 0) {
        if (!sql::isDamage(db.errorCode()) && db.errorCode() != SQLITE_OK && !sound) {
            // Busy or unreadable rather than damaged: leave the file alone.
            m_error = "Cannot read the song library " + m_path + ": " + db.error();
            db.close();
            return false;
        }
        return startFresh("The song library " + m_path + " is damaged");
    }
    if (version > kSchemaVersion) {
        m_error = "The song library " + m_path + " was written by a newer version of the program (schema " +
                  std::to_string(version) + ")";
        db.close();
        return false;
    }
    // WAL: an index run that is cut off (a crash, a power failure) leaves the database as
    // it was after the last finished transaction, and readers never wait for the writer.
    if (!db.exec("PRAGMA journal_mode=WAL") || !db.exec("PRAGMA synchronous=NORMAL") ||
        !db.exec("PRAGMA mmap_size=268435456") ||
        !migrateSchema(db, version)) {
        if (sql::isDamage(db.errorCode())) {
            return startFresh("The song library " + m_path + " is damaged");
        }
        m_error = "Cannot prepare the song library " + m_path + ": " + db.error();
        db.close();
        return false;
    }
    return true;
}

// Sets the damaged file aside and starts an empty library in its place, keeping the list
// of added folders when the damaged file still gives it, so that the next refresh reads
// every song again.
bool Library::startFresh(const std::string& why) {
    sql::Database& db = m_db->db;
    std::vector<std::string> rescued;
    if (db.handle() != nullptr) {
        sql::Statement read(db, "SELECT path FROM folders ORDER BY added");
        while (read.ok() && read.step() == SQLITE_ROW) {
            rescued.push_back(read.text(0));
        }
    }
    db.close();
    const std::string aside = setAside(m_path);
    if (aside.empty()) {
        m_error = why + ", and it cannot be renamed: " + std::strerror(errno);
        return false;
    }
    m_notice = why + ". It was set aside as " + aside + " and a new library started" +
               (rescued.empty() ? "; add your folders again." : "; its folders are read again.");
    if (!db.open(m_path) || !db.exec("PRAGMA journal_mode=WAL") || !migrateSchema(db, 0)) {
        m_error = "Cannot start a new song library " + m_path + ": " + db.error();
        db.close();
        return false;
    }
    sql::Transaction transaction(db);
    sql::Statement insert(db, "INSERT OR IGNORE INTO folders(path, added) VALUES (?1, ?2)");
    for (std::size_t i = 0; i < rescued.size(); ++i) {
        insert.bind(1, rescued[i]).bind(2, static_cast<std::int64_t>(i)).run();
    }
    transaction.commit();
    return true;
}

std::vector<std::string> Library::folders() {
    m_error.clear();
    std::vector<std::string> result;
    sql::Statement read(m_db->db, "SELECT path FROM folders ORDER BY added, path");
    int code = SQLITE_DONE;
    while ((code = read.step()) == SQLITE_ROW) {
        result.push_back(read.text(0));
    }
    if (code != SQLITE_DONE) {
        fail("Cannot read the library's folders");
    }
    return result;
}

bool Library::addFolders(const std::vector<std::string>& folders, IndexReport& report,
                         const ProgressCallback& progress, const std::atomic<bool>* cancel) {
    report = {};
    if (!isOpen()) {
        return false;
    }
    std::vector<std::string> roots;
    {
        sql::Transaction transaction(m_db->db);
        sql::Statement insert(m_db->db,
                              "INSERT OR IGNORE INTO folders(path, added) "
                              "VALUES (?1, (SELECT COALESCE(MAX(added), 0) + 1 FROM folders))");
        if (!transaction.begun() || !insert.ok()) {
            return fail("Cannot add folders to the library");
        }
        for (const std::string& folder : folders) {
            const std::string absolute = absoluteFolder(folder);
            struct stat info {};
            if (::stat(absolute.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
                m_error = "Not a folder: " + folder;
                return false;
            }
            if (!insert.bind(1, absolute).run()) {
                return fail("Cannot add folders to the library");
            }
            roots.push_back(absolute);
        }
        if (!transaction.commit()) {
            return fail("Cannot add folders to the library");
        }
    }
    return index(roots, report, progress, cancel);
}

bool Library::refresh(IndexReport& report, const ProgressCallback& progress, const std::atomic<bool>* cancel) {
    report = {};
    if (!isOpen()) {
        return false;
    }
    const std::vector<std::string> roots = folders();
    if (!m_error.empty() && roots.empty()) {
        return false;
    }
    return index(roots, report, progress, cancel);
}

bool Library::forget(const std::string& path) {
    const std::string absolute = absoluteFolder(path);
    sql::Database& db = m_db->db;
    sql::Transaction transaction(db);
    sql::Statement folder(db, "DELETE FROM folders WHERE path = ?1");
    sql::Statement songsUnder(db, "DELETE FROM songs WHERE path >= ?1 AND path < ?2");
    sql::Statement skippedUnder(db, "DELETE FROM skipped WHERE path >= ?1 AND path < ?2");
    sql::Statement song(db, "DELETE FROM songs WHERE path = ?1");
    if (!transaction.begun() || !folder.ok() || !songsUnder.ok() || !skippedUnder.ok() || !song.ok()) {
        return fail("Cannot forget " + path);
    }
    if (!folder.bind(1, absolute).run()) {
        return fail("Cannot forget " + path);
    }
    bool known = sqlite3_changes(db.handle()) > 0;
    if (known) {
        // Songs under another added folder that holds this one stay.
        const bool inside = [&] {
            for (const std::string& other : folders()) {
                if (absolute.rfind(lowerBoundUnder(other), 0) == 0) {
                    return true;
                }
            }
            return false;
        }();
        if (!inside && (!songsUnder.bind(1, lowerBoundUnder(absolute)).bind(2, upperBoundUnder(absolute)).run() ||
                        !skippedUnder.bind(1, lowerBoundUnder(absolute)).bind(2, upperBoundUnder(absolute)).run())) {
            return fail("Cannot forget " + path);
        }
    } else {
        if (!song.bind(1, absolute).run()) {
            return fail("Cannot forget " + path);
        }
        known = sqlite3_changes(db.handle()) > 0;
    }
    if (!known) {
        m_error = "The library knows no song or folder " + absolute;
        return false;
    }
    return transaction.commit() || fail("Cannot forget " + path);
}

std::optional<SongSettings> Library::lastSettings(const std::string& path) {
    sql::Statement read(m_db->db, "SELECT key, tempo, volume FROM song_settings WHERE path = ?1");
    read.bind(1, path);
    const int code = read.step();
    if (code == SQLITE_ROW) {
        return SongSettings{static_cast<int>(read.integer(0)), static_cast<int>(read.integer(1)),
                            static_cast<int>(read.integer(2))};
    }
    if (code != SQLITE_DONE) {
        fail("Cannot read the settings of " + path);
    }
    return std::nullopt;
}

bool Library::saveSettings(const std::string& path, const SongSettings& settings) {
    sql::Transaction transaction(m_db->db);
    sql::Statement write(m_db->db,
                         "INSERT OR REPLACE INTO song_settings(path, key, tempo, volume) VALUES (?1, ?2, ?3, ?4)");
    if (!transaction.begun() || !write.bind(1, path)
                                     .bind(2, std::int64_t{settings.key})
                                     .bind(3, std::int64_t{settings.tempo})
                                     .bind(4, std::int64_t{settings.volume})
                                     .run() ||
        !transaction.commit()) {
        return fail("Cannot keep the settings of " + path);
    }
    return true;
}

}  // namespace library
