// Finding songs: the full-text index's prefix queries ranked by bm25, and plain lists.

#include <algorithm>
#include <cstdint>

#include "Connection.h"
#include "SongSearch.h"
#include "library/Library.h"

namespace library {
namespace {

// The columns every list reads, in this order.
constexpr const char* kColumns = "s.path, s.folder, s.title, s.artist, s.has_lyrics, s.seconds";

Song songFromRow(const sql::Statement& row) {
    Song song;
    song.path = row.text(0);
    song.folder = row.text(1);
    song.title = row.text(2);
    song.artist = row.text(3);
    song.hasLyrics = row.integer(4) != 0;
    song.seconds = static_cast<int>(row.integer(5));
    return song;
}

}  // namespace

std::string matchExpression(std::string_view words) {
    std::string expression;
    std::size_t pos = 0;
    while (pos < words.size()) {
        while (pos < words.size() && (words[pos] == ' ' || words[pos] == '\t' || words[pos] == '\n')) {
            ++pos;
        }
        std::string word;
        bool hasLetter = false;
        while (pos < words.size() && words[pos] != ' ' && words[pos] != '\t' && words[pos] != '\n') {
            const char c = words[pos++];
            // A quote would end the string; everything else inside one is taken literally
            // and split by the same tokenizer that split the songs' texts.
            if (c == '"') {
                continue;
            }
            const auto byte = static_cast<unsigned char>(c);
            hasLetter = hasLetter || byte >= 0x80 || (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
            word += c;
        }
        if (hasLetter) {
            expression += expression.empty() ? "" : " ";
            expression += "\"" + word + "\"*";
        }
    }
    return expression;
}

// Ranking costs a few microseconds a match: beyond this many matches (the first letter or
// two of a common word), songs are listed by title instead, which the title index gives
// at once.
constexpr std::int64_t kMostRanked = 400;

std::vector<Song> Library::search(std::string_view words, std::size_t limit) {
    m_error.clear();
    const std::string expression = matchExpression(words);
    if (expression.empty()) {
        return list(limit);
    }
    sql::Database& db = m_db->db;
    std::vector<Song> songs;
    bool failed = false;
    const auto count = [&](const std::string& match) -> std::int64_t {
        sql::Statement read(db, "SELECT count(*) FROM songs_text WHERE songs_text MATCH ?1");
        read.bind(1, match);
        if (read.step() != SQLITE_ROW) {
            failed = true;
            return 0;
        }
        return read.integer(0);
    };
    const auto collect = [&](const std::string& query, const std::string& match, const std::string& without,
                             std::size_t most) {
        sql::Statement read(db, query.c_str());
        read.bind(1, match).bind(2, without).bind(3, static_cast<std::int64_t>(most));
        int code = SQLITE_DONE;
        while ((code = read.step()) == SQLITE_ROW) {
            songs.push_back(songFromRow(read));
        }
        failed = failed || code != SQLITE_DONE;
    };
    // A word found in the title weighs most, then the artist, the file name, the lyrics;
    // equals by title, then by path, so that a search always lists them alike.
    // The best are chosen from the index alone; only they are joined with their rows.
    const std::string ranked = std::string("SELECT ") + kColumns +
                               " FROM (SELECT rowid AS id, bm25(songs_text, 4.0, 10.0, 6.0, 1.0) AS score"
                               " FROM songs_text WHERE songs_text MATCH ?1 ORDER BY score LIMIT ?3) AS hit"
                               " JOIN songs s ON s.id = hit.id ORDER BY hit.score, s.title COLLATE NOCASE, s.path";
    // Matches of ?1 that are no match of ?2, by title.
    const std::string byTitle = std::string("SELECT ") + kColumns +
                                " FROM songs s INDEXED BY songs_by_title"
                                " WHERE s.id IN (SELECT rowid FROM songs_text WHERE songs_text MATCH ?1)"
                                " AND s.id NOT IN (SELECT rowid FROM songs_text WHERE songs_text MATCH ?2)"
                                " ORDER BY s.title COLLATE NOCASE, s.path LIMIT ?3";
    // Nothing matches this: the column filter of a word no tokenizer makes.
    const std::string none = "{name}: \"\"";

    const std::int64_t matches = count(expression);
    if (!failed && matches <= kMostRanked) {
        collect(ranked, expression, "", limit);
    } else if (!failed) {
        // Many matches: those in the names first, ranked when they are few, then the songs
        // that have the words in their lyrics only.
        const std::string names = "{name title artist}: (" + expression + ")";
        const std::int64_t inNames = count(names);
        if (!failed && inNames <= kMostRanked) {
            collect(ranked, names, "", limit);
        } else if (!failed) {
            collect(byTitle, names, none, limit);
        }
        if (!failed && songs.size() < limit) {
            collect(byTitle, expression, names, limit - songs.size());
        }
    }
    if (failed) {
        fail("Cannot search the library");
        return {};
    }
    return songs;
}

std::vector<Song> Library::list(std::size_t limit) {
    m_error.clear();
    const std::string query =
        std::string("SELECT ") + kColumns + " FROM songs s ORDER BY s.title COLLATE NOCASE, s.path LIMIT ?1";
    sql::Statement read(m_db->db, query.c_str());
    read.bind(1, static_cast<std::int64_t>(std::min<std::size_t>(limit, INT64_MAX)));
    std::vector<Song> songs;
    int code = SQLITE_DONE;
    while ((code = read.step()) == SQLITE_ROW) {
        songs.push_back(songFromRow(read));
    }
    if (code != SQLITE_DONE) {
        fail("Cannot read the library");
        return {};
    }
    return songs;
}

std::optional<Song> Library::song(const std::string& path) {
    m_error.clear();
    const std::string query = std::string("SELECT ") + kColumns + ", s.lyrics FROM songs s WHERE s.path = ?1";
    sql::Statement read(m_db->db, query.c_str());
    read.bind(1, path);
    const int code = read.step();
    if (code == SQLITE_ROW) {
        Song song = songFromRow(read);
        song.lyrics = read.text(6);
        return song;
    }
    if (code != SQLITE_DONE) {
        fail("Cannot read the library");
    }
    return std::nullopt;
}

}  // namespace library
