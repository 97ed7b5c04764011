// Finding songs: the full-text index's prefix queries ranked by bm25, and plain lists.

#include "Connection.h"
#include "SongSearch.h"
#include "library/Library.h"

namespace library {
namespace {

// The columns every list reads, in this order.
constexpr const char* kColumns = "s.path, s.folder, s.title, s.artist, length(s.lyrics) > 0, s.seconds";

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

std::vector<Song> Library::search(std::string_view words, std::size_t limit) {
    m_error.clear();
    const std::string expression = matchExpression(words);
    if (expression.empty()) {
        std::vector<Song> all = list();
        if (all.size() > limit) {
            all.resize(limit);
        }
        return all;
    }
    // A word found in the title weighs most, then the artist, the file name, the lyrics.
    const std::string query = std::string("SELECT ") + kColumns +
                              " FROM songs_text JOIN songs s ON s.id = songs_text.rowid"
                              " WHERE songs_text MATCH ?1"
                              " ORDER BY bm25(songs_text, 4.0, 10.0, 6.0, 1.0), s.title COLLATE NOCASE LIMIT ?2";
    sql::Statement read(m_db->db, query.c_str());
    read.bind(1, expression).bind(2, static_cast<std::int64_t>(limit));
    std::vector<Song> songs;
    int code = SQLITE_DONE;
    while ((code = read.step()) == SQLITE_ROW) {
        songs.push_back(songFromRow(read));
    }
    if (code != SQLITE_DONE) {
        fail("Cannot search the library");
        return {};
    }
    return songs;
}

std::vector<Song> Library::list() {
    m_error.clear();
    const std::string query = std::string("SELECT ") + kColumns + " FROM songs s ORDER BY s.title COLLATE NOCASE, s.path";
    sql::Statement read(m_db->db, query.c_str());
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
