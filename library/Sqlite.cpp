#include "Sqlite.h"

namespace library::sql {

Database::~Database() { close(); }

bool Database::open(const std::string& path) {
    close();
    const int code = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                     nullptr);
    if (code != SQLITE_OK) {
        m_code = code;
        m_error = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(code);
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 0);
    // Another program (or the window's own indexing thread) may hold the write lock for
    // one short transaction; wait for it rather than fail at once.
    sqlite3_busy_timeout(m_db, 5000);
    return true;
}

void Database::close() {
    if (m_db != nullptr) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool Database::exec(const char* sql) {
    char* message = nullptr;
    const int code = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (code != SQLITE_OK) {
        m_code = code;
        m_error = message != nullptr ? message : sqlite3_errstr(code);
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool Database::fail() {
    m_code = m_db != nullptr ? sqlite3_errcode(m_db) : SQLITE_MISUSE;
    m_error = m_db != nullptr ? sqlite3_errmsg(m_db) : "no database";
    return false;
}

bool isDamage(int code) { return code == SQLITE_CORRUPT || code == SQLITE_NOTADB; }

Statement::Statement(Database& db, const char* sql) : m_db(db) {
    if (db.handle() == nullptr || sqlite3_prepare_v2(db.handle(), sql, -1, &m_statement, nullptr) != SQLITE_OK) {
        m_statement = nullptr;
        db.fail();
    }
}

Statement::~Statement() { sqlite3_finalize(m_statement); }

Statement& Statement::bind(int index, std::string_view text) {
    if (m_statement != nullptr) {
        sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (m_statement != nullptr) {
        sqlite3_bind_int64(m_statement, index, value);
    }
    return *this;
}

int Statement::step() {
    if (m_statement == nullptr) {
        return SQLITE_MISUSE;
    }
    const int code = sqlite3_step(m_statement);
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        m_db.fail();
    }
    return code;
}

bool Statement::run() {
    const int code = step();
    reset();
    return code == SQLITE_DONE || code == SQLITE_ROW;
}

void Statement::reset() {
    if (m_statement != nullptr) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(m_statement, column); }

std::string Statement::text(int column) const {
    const unsigned char* value = sqlite3_column_text(m_statement, column);
    const int bytes = sqlite3_column_bytes(m_statement, column);
    return value != nullptr ? std::string(reinterpret_cast<const char*>(value), static_cast<std::size_t>(bytes))
                            : std::string();
}

Transaction::Transaction(Database& db) : m_db(db) { m_begun = db.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (m_begun) {
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

bool Transaction::commit() {
    if (!m_begun) {
        return false;
    }
    if (!m_db.exec("COMMIT")) {
        return false;
    }
    m_begun = false;
    return true;
}

}  // namespace library::sql
