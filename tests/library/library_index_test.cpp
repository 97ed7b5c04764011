// The library over a folder of generated songs: what a search finds, what a refresh reads
// again, what leaves, and what survives a damaged database.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "LibrarySongs.h"
#include "SongSummary.h"
#include "TempDir.h"
#include "library/Library.h"

namespace {

using librarytest::karaokeSong;
using librarytest::lyricEventSong;
namespace fs = std::filesystem;

std::vector<std::string> titles(const std::vector<library::Song>& songs) {
    std::vector<std::string> out;
    for (const library::Song& song : songs) {
        out.push_back(song.title);
    }
    return out;
}

// Moves a file's modification time, as an editor saving it a second later would.
void touchLater(const std::string& path, int seconds) {
    fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(seconds));
}

class LibraryFolder : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(songs.path("songs/pop"));
        fs::create_directories(songs.path("songs/fr"));
        songs.write("songs/pop/moon.kar", karaokeSong("Moon River", "Andy Singer", {"Moon", "river", "wider", "than", "a", "mile"}));
        songs.write("songs/pop/yesterday.kar", karaokeSong("Yesterday Once", "The Carpenters", {"when", "I", "was", "young"}));
        songs.write("songs/pop/bayou.mid", lyricEventSong("Blue Bayou", {"I", "feel", "so", "bad", "moon"}));
        songs.write("songs/fr/ete.kar", karaokeSong("\xC3\x89t\xC3\xA9 indien", "Jo Dassin", {"Tu", "sais", "je", "n'ai", "jamais"}));
        // A Latin-1 title, as files from older editors have them.
        songs.write("songs/fr/cancion.kar", karaokeSong("Canci\xF3" "n triste", "Mar\xED" "a", {"la", "noche", "oscura"}));
        songs.write("songs/fr/Les Amis - Sous le ciel.mid", librarytest::bareSong());
        songs.writeText("songs/pop/notes.mid", "shopping list, not a song");
        songs.writeText("songs/pop/readme.txt", "not looked at");
    }

    library::Library open() { return library::Library(songs.path("library.sqlite")); }

    testing_support::TempDir songs;
};

struct SearchCase {
    const char* words;
    std::vector<std::string> expected;  // titles, best first; empty: nothing found
};

// Guards against a field left out of the index, prefixes or accents not matching, or two
// words matching either one instead of both.
TEST_F(LibraryFolder, SearchTable) {
    library::Library library = open();
    ASSERT_TRUE(library.isOpen()) << library.lastError();
    library::IndexReport report;
    ASSERT_TRUE(library.addFolders({songs.path("songs")}, report)) << library.lastError();
    EXPECT_EQ(report.added, 6u);
    ASSERT_EQ(report.skipped.size(), 1u);
    EXPECT_EQ(report.skipped[0].path, songs.path("songs/pop/notes.mid"));

    const std::vector<SearchCase> table = {
        {"yesterday", {"Yesterday Once"}},                     // a word of the title
        {"carpenters", {"Yesterday Once"}},                    // of the artist
        {"young", {"Yesterday Once"}},                         // of the lyrics
        {"ciel", {"Sous le ciel"}},                            // of the file name
        {"amis", {"Sous le ciel"}},                            // an artist from the file name
        {"moon", {"Moon River", "Blue Bayou"}},                // title before lyrics
        {"moon mile", {"Moon River"}},                         // two words: both needed
        {"river feel", {}},                                    // in two different songs
        {"yest", {"Yesterday Once"}},                          // a prefix
        {"ETE", {"\xC3\x89t\xC3\xA9 indien"}},                 // without accents
        {"\xC3\xA9t\xC3\xA9", {"\xC3\x89t\xC3\xA9 indien"}},   // with them
        {"cancion maria", {"Canci\xC3\xB3n triste"}},          // from Latin-1 bytes
        {"n'ai", {"\xC3\x89t\xC3\xA9 indien"}},                // an apostrophe
        {"\"moon", {"Moon River", "Blue Bayou"}},              // a stray quote is no syntax error
        {"zebra", {}},                                         // nothing
        {"- * (", {"Blue Bayou", "Canci\xC3\xB3n triste", "Moon River", "Sous le ciel", "Yesterday Once",
                   "\xC3\x89t\xC3\xA9 indien"}},               // no word at all: every song, by title
    };
    for (const SearchCase& entry : table) {
        const std::vector<library::Song> found = library.search(entry.words);
        EXPECT_EQ(library.lastError(), "") << entry.words;
        EXPECT_EQ(titles(found), entry.expected) << entry.words;
    }
    const std::vector<library::Song> moon = library.search("moon river");
    ASSERT_EQ(moon.size(), 1u);
    EXPECT_EQ(moon[0].path, songs.path("songs/pop/moon.kar"));
    EXPECT_EQ(moon[0].folder, songs.path("songs/pop"));
    EXPECT_EQ(moon[0].artist, "Andy Singer");
    EXPECT_TRUE(moon[0].hasLyrics);
    EXPECT_EQ(moon[0].seconds, 4);
    EXPECT_FALSE(library.search("ciel")[0].hasLyrics);

    // The same song in two folders ranks alike: listed by path, the same way every time
    // (a list that changed order between two searches would open another song on Enter).
    fs::create_directories(songs.path("songs/pop/copies"));
    fs::copy_file(songs.path("songs/pop/moon.kar"), songs.path("songs/pop/copies/moon.kar"));
    ASSERT_TRUE(library.addFolders({songs.path("songs")}, report)) << library.lastError();
    for (int round = 0; round < 5; ++round) {
        const std::vector<library::Song> twins = library.search("moon river");
        ASSERT_EQ(twins.size(), 2u);
        EXPECT_EQ(twins[0].path, songs.path("songs/pop/copies/moon.kar"));
        EXPECT_EQ(twins[1].path, songs.path("songs/pop/moon.kar"));
    }
}

// Guards against every file being read on every refresh, a changed one not being read, or
// a removed one lingering in searches.
TEST_F(LibraryFolder, RefreshReadsOnlyWhatChanged) {
    library::Library library = open();
    library::IndexReport report;
    ASSERT_TRUE(library.addFolders({songs.path("songs")}, report)) << library.lastError();

    ASSERT_TRUE(library.refresh(report)) << library.lastError();
    EXPECT_EQ(report.added + report.updated, 0u);
    EXPECT_EQ(report.unchanged, 6u);
    EXPECT_TRUE(report.skipped.empty());  // the non-song is not read again either

    songs.write("songs/pop/moon.kar", karaokeSong("Harvest Moon", "Neil Young", {"come", "a", "little", "bit", "closer"}));
    touchLater(songs.path("songs/pop/moon.kar"), 5);
    fs::remove(songs.path("songs/pop/yesterday.kar"));
    songs.write("songs/fr/new.kar", karaokeSong("Nouvelle", "Quelqu'un", {"bonjour"}));
    ASSERT_TRUE(library.refresh(report)) << library.lastError();
    EXPECT_EQ(report.updated, 1u);
    EXPECT_EQ(report.added, 1u);
    EXPECT_EQ(report.removed, 1u);
    EXPECT_EQ(report.unchanged, 4u);
    EXPECT_EQ(titles(library.search("moon")), (std::vector<std::string>{"Harvest Moon", "Blue Bayou"}));
    EXPECT_TRUE(library.search("mile").empty());
    EXPECT_TRUE(library.search("carpenters").empty());
    EXPECT_EQ(titles(library.search("bonjour")), std::vector<std::string>{"Nouvelle"});

    // A file that becomes a song is read again although it was skipped before.
    songs.write("songs/pop/notes.mid", lyricEventSong("Fixed Notes", {"now"}));
    touchLater(songs.path("songs/pop/notes.mid"), 5);
    ASSERT_TRUE(library.refresh(report));
    EXPECT_EQ(report.added, 1u);
}

// Guards against a folder that vanished (a disk not mounted) emptying the library, and an
// unreadable subfolder losing its songs.
TEST_F(LibraryFolder, VanishedFolderKeepsItsSongs) {
    library::Library library = open();
    library::IndexReport report;
    ASSERT_TRUE(library.addFolders({songs.path("songs/pop"), songs.path("songs/fr")}, report));
    fs::rename(songs.path("songs/fr"), songs.path("elsewhere"));
    ASSERT_TRUE(library.refresh(report)) << library.lastError();
    EXPECT_EQ(report.unreadableFolders, std::vector<std::string>{songs.path("songs/fr")});
    EXPECT_EQ(report.removed, 0u);
    EXPECT_EQ(library.list().size(), 6u);
    fs::rename(songs.path("elsewhere"), songs.path("songs/fr"));

    if (::geteuid() != 0) {  // root reads every folder
        ::chmod(songs.path("songs/pop").c_str(), 0);
        ASSERT_TRUE(library.refresh(report)) << library.lastError();
        ::chmod(songs.path("songs/pop").c_str(), 0755);
        EXPECT_EQ(report.removed, 0u);
        EXPECT_EQ(library.list().size(), 6u);
    }
}

// Guards against a link loop making the walk endless or a song counted once per way to it.
TEST_F(LibraryFolder, LinkLoopsEndTheWalk) {
    fs::create_directory_symlink(songs.path("songs"), songs.path("songs/pop/loop"));
    fs::create_directory_symlink(songs.path("songs/pop"), songs.path("songs/fr/back"));
    fs::create_symlink(songs.path("nowhere"), songs.path("songs/dangling.kar"));
    library::Library library = open();
    library::IndexReport report;
    ASSERT_TRUE(library.addFolders({songs.path("songs")}, report)) << library.lastError();
    EXPECT_EQ(report.added, 6u);
    EXPECT_EQ(library.list().size(), 6u);
}

// Guards against forget leaving a folder's songs behind, or forgetting what it was not asked to.
TEST_F(LibraryFolder, ForgetSongAndFolder) {
    library::Library library = open();
    library::IndexReport report;
    ASSERT_TRUE(library.addFolders({songs.path("songs/pop"), songs.path("songs/fr")}, report));
    EXPECT_TRUE(library.forget(songs.path("songs/pop/moon.kar")));
    EXPECT_EQ(library.list().size(), 5u);
    EXPECT_TRUE(library.forget(songs.path("songs/fr") + "/"));
    EXPECT_EQ(titles(library.list()), (std::vector<std::string>{"Blue Bayou", "Yesterday Once"}));
    EXPECT_EQ(library.folders(), std::vector<std::string>{songs.path("songs/pop")});
    EXPECT_FALSE(library.forget(songs.path("songs/fr")));
    EXPECT_NE(library.lastError(), "");
}

// Guards against a cancelled run leaving a half-written song, or losing what it wrote.
TEST_F(LibraryFolder, CancelledRunKeepsWhatItWrote) {
    library::Library library = open();
    std::atomic<bool> cancel{false};
    library::IndexReport report;
    ASSERT_TRUE(library.addFolders({songs.path("songs")}, report, [&](const library::IndexProgress&) { cancel = true; },
                                   &cancel));
    EXPECT_TRUE(report.cancelled);
    const std::size_t kept = library.list().size();
    EXPECT_LE(kept, 6u);
    ASSERT_TRUE(library.refresh(report));
    EXPECT_FALSE(report.cancelled);
    EXPECT_EQ(report.added, 6u - kept);
    EXPECT_EQ(library.list().size(), 6u);
}

// Guards against the settings being lost when the program closes, or one song's given to another.
TEST_F(LibraryFolder, SettingsRoundTrip) {
    const std::string moon = songs.path("songs/pop/moon.kar");
    {
        library::Library library = open();
        EXPECT_FALSE(library.lastSettings(moon).has_value());
        EXPECT_TRUE(library.saveSettings(moon, {-2, 104, 90}));
        EXPECT_TRUE(library.saveSettings(songs.path("songs/fr/ete.kar"), {3, 80, 127}));
        EXPECT_TRUE(library.saveSettings(moon, {-2, 104, 100}));
    }
    library::Library library = open();
    const auto settings = library.lastSettings(moon);
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->key, -2);
    EXPECT_EQ(settings->tempo, 104);
    EXPECT_EQ(settings->volume, 100);
}

// Guards against two connections (the window's and its indexing thread's, or two
// programs) getting in each other's way.
TEST_F(LibraryFolder, TwoConnectionsShareOneDatabase) {
    library::Library first = open();
    library::Library second = open();
    library::IndexReport report;
    std::vector<library::Song> seen;
    ASSERT_TRUE(first.addFolders({songs.path("songs")}, report, [&](const library::IndexProgress&) {
        seen = second.search("moon");
        EXPECT_EQ(second.lastError(), "");
    }));
    EXPECT_EQ(titles(second.search("moon")), (std::vector<std::string>{"Moon River", "Blue Bayou"}));
    EXPECT_TRUE(second.saveSettings(songs.path("songs/pop/moon.kar"), {1, 2, 3}));
    EXPECT_TRUE(first.lastSettings(songs.path("songs/pop/moon.kar")).has_value());
}

bool damagedFileBeside(const std::string& database) {
    const fs::path folder = fs::path(database).parent_path();
    const std::string prefix = fs::path(database).filename().string() + ".damaged-";
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

// Guards against a damaged database crashing the program or leaving it without a library:
// cut at random points, it is set aside (never deleted) and a new library started, which
// reads the same folders again.
TEST_F(LibraryFolder, TruncatedDatabaseIsSetAsideAndRebuilt) {
    const std::string database = songs.path("library.sqlite");
    {
        library::Library library = open();
        library::IndexReport report;
        // Enough songs for a database of many pages.
        for (int i = 0; i < 150; ++i) {
            songs.write("songs/many" + std::to_string(i) + ".kar",
                        karaokeSong("Copy " + std::to_string(i), "Choir", {"la", "la", std::to_string(i)}));
        }
        ASSERT_TRUE(library.addFolders({songs.path("songs")}, report)) << library.lastError();
    }
    const std::vector<std::uint8_t> whole = testing_support::fileBytes(database);
    ASSERT_GT(whole.size(), 8192u);
    ASSERT_FALSE(fs::exists(database + "-wal") && fs::file_size(database + "-wal") > 0);
    std::mt19937 random(20261210);
    for (int round = 0; round < 12; ++round) {
        for (const fs::directory_entry& entry : fs::directory_iterator(songs.path(""))) {
            if (entry.path().filename().string().rfind("library.sqlite", 0) == 0) {
                fs::remove(entry.path());
            }
        }
        std::vector<std::uint8_t> cut = whole;
        cut.resize(std::uniform_int_distribution<std::size_t>(1, whole.size() - 1)(random));
        songs.write("library.sqlite", cut);
        library::Library library = open();
        ASSERT_TRUE(library.isOpen()) << cut.size() << ": " << library.lastError();
        EXPECT_NE(library.notice(), "") << cut.size();
        EXPECT_TRUE(damagedFileBeside(database)) << cut.size();
        library::IndexReport report;
        ASSERT_TRUE(library.refresh(report)) << library.lastError();
        // The folder list may be lost with the damage; then the user adds it again.
        if (library.folders().empty()) {
            ASSERT_TRUE(library.addFolders({songs.path("songs")}, report)) << library.lastError();
        }
        EXPECT_EQ(library.list().size(), 156u) << cut.size();
        EXPECT_EQ(titles(library.search("yesterday")), std::vector<std::string>{"Yesterday Once"});
    }
}

// Guards against a file that was never a database being overwritten or crashing the
// program, and a newer program's library being set aside as damaged.
TEST_F(LibraryFolder, ForeignAndNewerFiles) {
    const std::string database = songs.path("library.sqlite");
    songs.writeText("library.sqlite", std::string(5000, 'x'));
    {
        library::Library library = open();
        ASSERT_TRUE(library.isOpen()) << library.lastError();
        EXPECT_NE(library.notice().find("set aside"), std::string::npos) << library.notice();
        EXPECT_TRUE(damagedFileBeside(database));
        library.saveSettings("/x.kar", {0, 120, 100});
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(database.c_str(), &raw), SQLITE_OK);
        sqlite3_exec(raw, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    library::Library newer = open();
    EXPECT_FALSE(newer.isOpen());
    EXPECT_NE(newer.lastError().find("newer version"), std::string::npos) << newer.lastError();
    EXPECT_TRUE(fs::exists(database));
}

}  // namespace

namespace {

// Guards against a common word in a large library burying the songs named by it under
// those that only sing it, or a search of thousands of matches returning nothing.
TEST(LibraryLarge, NamesBeforeLyricsWhenManyMatch) {
    testing_support::TempDir folder;
    fs::create_directories(folder.path("songs"));
    for (int i = 0; i < 1700; ++i) {
        folder.write("songs/s" + std::to_string(i) + ".kar",
                     karaokeSong("Song " + std::to_string(10000 + i), "Choir", {"my", "love", "is", "here"}));
    }
    folder.write("songs/named.kar", karaokeSong("Endless Love", "Duet", {"my", "first"}));
    folder.write("songs/artist.kar", karaokeSong("Another", "Lovebirds", {"hello"}));
    library::Library library(folder.path("library.sqlite"));
    library::IndexReport report;
    ASSERT_TRUE(library.addFolders({folder.path("songs")}, report)) << library.lastError();
    const std::vector<library::Song> found = library.search("love", 300);
    EXPECT_EQ(library.lastError(), "");
    ASSERT_EQ(found.size(), 300u);
    EXPECT_EQ(found[0].title, "Endless Love");
    EXPECT_EQ(found[1].title, "Another");
    EXPECT_EQ(found[2].title, "Song 10000");
    EXPECT_EQ(found[3].title, "Song 10001");
    EXPECT_EQ(library.search("lo choir", 5000).size(), 1700u);
    EXPECT_EQ(library.search("song 10001").size(), 1u);
}

}  // namespace

namespace {

// Guards against an unreadable or oversized file stopping the run or being listed as a song.
TEST(LibraryBadFiles, EachSkippedWithItsReason) {
    testing_support::TempDir folder;
    fs::create_directories(folder.path("songs"));
    folder.write("songs/good.kar", karaokeSong("Good", "Band", {"la"}));
    folder.write("songs/locked.kar", karaokeSong("Locked", "Band", {"la"}));
    folder.writeText("songs/empty.mid", "");
    {
        std::ofstream huge(folder.path("songs/huge.mid"), std::ios::binary);
        huge.seekp(static_cast<std::streamoff>(library::kMaxSongBytes));
        huge.put('x');
    }
    const bool canLock = ::geteuid() != 0 && ::chmod(folder.path("songs/locked.kar").c_str(), 0) == 0;
    library::Library library(folder.path("library.sqlite"));
    library::IndexReport report;
    ASSERT_TRUE(library.addFolders({folder.path("songs")}, report)) << library.lastError();
    std::map<std::string, std::string> reasons;
    for (const library::SkippedFile& file : report.skipped) {
        reasons[fs::path(file.path).filename().string()] = file.reason;
    }
    EXPECT_EQ(reasons["empty.mid"], "not a Standard MIDI file");
    EXPECT_EQ(reasons["huge.mid"], "too large for a song");
    if (canLock) {
        EXPECT_EQ(reasons["locked.kar"], "cannot be opened for reading");
        EXPECT_EQ(titles(library.list()), std::vector<std::string>{"Good"});
    }
}

}  // namespace
