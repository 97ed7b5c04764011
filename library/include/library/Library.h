#pragma once

// The song library: every song under the folders the user added, kept in an SQLite
// database with a full-text index of file names, titles, artists and lyrics, and the key,
// tempo and volume last used with each song.
//
// Threads. One Library object is one connection: use it from one thread at a time. Two
// objects (the window's and its indexing thread's, or two programs) may share one database
// file: the database runs in WAL mode, so searches go on while an index run writes, and a
// writer waits up to a few seconds for another before it reports the library busy.
//
// Failures are results: nothing here throws. A method that fails returns false or an empty
// answer and leaves the reason in lastError().

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace library {

// One song as the library knows it. Texts are UTF-8.
struct Song {
    std::string path;    // absolute
    std::string folder;  // the folder holding the file
    std::string title;   // never empty: the file name when the song names no title
    std::string artist;  // may be empty
    bool hasLyrics = false;
    std::string lyrics;  // the words, lines joined by "\n": filled by song() only
    int seconds = 0;     // playing time at the song's own tempo
};

// What the user last played a song with: semitones, beats per minute, volume 0..127.
struct SongSettings {
    int key = 0;
    int tempo = 0;
    int volume = 0;
};

// A file under an added folder that is not a song (or could not be read), and why.
struct SkippedFile {
    std::string path;
    std::string reason;
};

struct IndexProgress {
    std::size_t done = 0;   // files looked at so far
    std::size_t total = 0;  // files found; grows while folders are still being walked
};

struct IndexReport {
    std::size_t added = 0;      // songs new to the library
    std::size_t updated = 0;    // songs read again because their size or time changed
    std::size_t unchanged = 0;  // songs not read again
    std::size_t removed = 0;    // songs whose file is gone
    std::vector<SkippedFile> skipped;  // files of this run that are not songs
    std::vector<std::string> unreadableFolders;  // kept as they were: their songs stay
    std::vector<std::string> folders;            // every folder read (to watch for changes)
    bool cancelled = false;
};

// Called on the indexing thread; keep it short (post to the window, print a line).
using ProgressCallback = std::function<void(const IndexProgress&)>;

class Library {
public:
    // Opens (creating when missing) the database at `databasePath`; empty means
    // defaultDatabasePath(). A file that is not a database or is damaged is renamed beside
    // itself ("library.sqlite.damaged-20261210-133000") and a new library is started in
    // its place; notice() then says so. Check isOpen().
    //
    // `checkWhole`: every page is read to find damage (about 0.1 s for 10,000 songs).
    // Without it only the header and the schema are read, for a window's thread; damage
    // found later by a search is reported, and set aside at the next whole check (the
    // next index run).
    explicit Library(std::string databasePath = {}, bool checkWhole = true);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // $CVK_LIBRARY_DATABASE when set, else $XDG_DATA_HOME/cantivo/library.sqlite, else
    // ~/.local/share/cantivo/library.sqlite.
    static std::string defaultDatabasePath();

    bool isOpen() const;
    const std::string& databasePath() const { return m_path; }
    // Why the last call failed.
    const std::string& lastError() const { return m_error; }
    // What opening had to do that the user should know (a damaged library set aside).
    const std::string& notice() const { return m_notice; }

    // Adds folders (and everything under them) and indexes them: see index().
    bool addFolders(const std::vector<std::string>& folders, IndexReport& report,
                    const ProgressCallback& progress = {}, const std::atomic<bool>* cancel = nullptr);
    // Brings every added folder up to date: new files are read, files whose size or
    // modification time changed are read again, others are not, vanished ones leave.
    // Files are read on worker threads; the database is written on the calling thread in
    // short transactions, so a crash or a cancel leaves every song written so far.
    bool refresh(IndexReport& report, const ProgressCallback& progress = {},
                 const std::atomic<bool>* cancel = nullptr);

    // The added folders, in the order they were added.
    std::vector<std::string> folders();

    // Songs matching every word (a word matches words starting with it, letter case and
    // accents aside) in the file name, title, artist or lyrics, best match first. Words
    // empty: every song, by title.
    std::vector<Song> search(std::string_view words, std::size_t limit = 1000);
    // Every song (the first `limit`), by title then path.
    std::vector<Song> list(std::size_t limit = SIZE_MAX);
    std::optional<Song> song(const std::string& path);

    // Forgets a song, or an added folder with every song under it. False when the library
    // knows neither.
    bool forget(const std::string& path);

    // The settings last used with a song, and storing them; the song's file is never
    // touched.
    std::optional<SongSettings> lastSettings(const std::string& path);
    bool saveSettings(const std::string& path, const SongSettings& settings);

    // The database's schema version this program writes.
    static int schemaVersion();

private:
    struct Connection;
    bool open(bool checkWhole);
    bool startFresh(const std::string& why);
    bool index(const std::vector<std::string>& roots, IndexReport& report, const ProgressCallback& progress,
               const std::atomic<bool>* cancel);
    bool fail(const std::string& what);

    std::string m_path;
    std::string m_error;
    std::string m_notice;
    bool m_checkWhole = true;  // also: damage found later is set aside at once
    std::unique_ptr<Connection> m_db;
};

}  // namespace library
