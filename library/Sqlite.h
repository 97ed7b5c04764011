#pragma once

// A thin layer over the SQLite C interface: a connection, prepared statements that
// finalize themselves, and a transaction that rolls back unless committed. Errors are
// kept as the database's own text and code, never thrown.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace library::sql {

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens or creates the file; false with error() set when it cannot.
    bool open(const std::string& path);
    void close();
    sqlite3* handle() const { return m_db; }

    // Runs statements without results; false with error() set.
    bool exec(const char* sql);
    // The text and primary result code of the last failure.
    const std::string& error() const { return m_error; }
    int errorCode() const { return m_code; }
    // Records the connection's current error (after a failed step or prepare).
    bool fail();

private:
    sqlite3* m_db = nullptr;
    std::string m_error;
    int m_code = SQLITE_OK;
};

// True for result codes that mean the file is not a sound database.
bool isDamage(int code);

class Statement {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_statement != nullptr; }
    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::int64_t value);
    // SQLITE_ROW, SQLITE_DONE, or a failure the database records.
    int step();
    // Steps once and expects no row; false (recorded) on failure.
    bool run();
    void reset();

    std::int64_t integer(int column) const;
    std::string text(int column) const;

private:
    Database& m_db;
    sqlite3_stmt* m_statement = nullptr;
};

class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool begun() const { return m_begun; }
    bool commit();

private:
    Database& m_db;
    bool m_begun = false;
};

}  // namespace library::sql
