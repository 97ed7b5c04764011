#include "Schema.h"

#include <string>

namespace library {
namespace {

// Step N takes version N-1 to version N. A released step is never changed: a new version
// appends a step.
const char* const kSteps[] = {
    // 1: folders, songs with their full-text index, files that are not songs, settings.
    // The file name is indexed too, so "artist - title.kar" is found by either; letters
    // are compared without case and accents ("remove_diacritics 2" takes them off every
    // letter, composed or not). Prefixes of up to three letters have an index of their
    // own: the first letters typed match thousands of words. The title index holds every
    // column a list shows, so a list by title never reads the rows themselves. The lyrics come last in a
    // row, so that reading the other columns never walks the pages of a long text.
    R"sql(
CREATE TABLE folders(
    path TEXT PRIMARY KEY,
    added INTEGER NOT NULL
);
CREATE TABLE songs(
    id INTEGER PRIMARY KEY,
    path TEXT NOT NULL UNIQUE,
    folder TEXT NOT NULL,
    name TEXT NOT NULL,
    size INTEGER NOT NULL,
    mtime INTEGER NOT NULL,
    title TEXT NOT NULL,
    artist TEXT NOT NULL,
    seconds INTEGER NOT NULL,
    has_lyrics INTEGER NOT NULL,
    lyrics TEXT NOT NULL
);
CREATE INDEX songs_by_title ON songs(title COLLATE NOCASE, path, folder, artist, has_lyrics, seconds);
CREATE VIRTUAL TABLE songs_text USING fts5(
    name, title, artist, lyrics,
    content='songs', content_rowid='id',
    tokenize='unicode61 remove_diacritics 2',
    prefix='1 2 3'
);
CREATE TRIGGER songs_text_insert AFTER INSERT ON songs BEGIN
    INSERT INTO songs_text(rowid, name, title, artist, lyrics)
        VALUES (new.id, new.name, new.title, new.artist, new.lyrics);
END;
CREATE TRIGGER songs_text_delete AFTER DELETE ON songs BEGIN
    INSERT INTO songs_text(songs_text, rowid, name, title, artist, lyrics)
        VALUES ('delete', old.id, old.name, old.title, old.artist, old.lyrics);
END;
CREATE TRIGGER songs_text_update AFTER UPDATE ON songs BEGIN
    INSERT INTO songs_text(songs_text, rowid, name, title, artist, lyrics)
        VALUES ('delete', old.id, old.name, old.title, old.artist, old.lyrics);
    INSERT INTO songs_text(rowid, name, title, artist, lyrics)
        VALUES (new.id, new.name, new.title, new.artist, new.lyrics);
END;
CREATE TABLE skipped(
    path TEXT PRIMARY KEY,
    size INTEGER NOT NULL,
    mtime INTEGER NOT NULL,
    reason TEXT NOT NULL
);
CREATE TABLE song_settings(
    path TEXT PRIMARY KEY,
    key INTEGER NOT NULL,
    tempo INTEGER NOT NULL,
    volume INTEGER NOT NULL
);
)sql",
};

static_assert(sizeof kSteps / sizeof kSteps[0] == kSchemaVersion, "one step per version");

}  // namespace

bool migrateSchema(sql::Database& db, int from) {
    for (int version = from + 1; version <= kSchemaVersion; ++version) {
        sql::Transaction transaction(db);
        if (!transaction.begun() || !db.exec(kSteps[version - 1]) ||
            !db.exec(("PRAGMA user_version = " + std::to_string(version)).c_str()) || !transaction.commit()) {
            return false;
        }
    }
    return true;
}

}  // namespace library
