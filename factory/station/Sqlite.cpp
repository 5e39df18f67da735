// The only place that calls SQLite's C interface directly.
#include "station/Sqlite.hpp"

namespace bw_station {

namespace {

// A reader that finds the writer in the middle of a checkpoint waits a little, never fails.
constexpr int kBusyTimeoutMs = 5000;

[[noreturn]] void failWith(sqlite3* db, const std::string& what) {
    throw DatabaseError(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

}  // namespace

Connection::Connection(const std::string& path, Access access) {
    const int flags = access == Access::readOnly ? SQLITE_OPEN_READONLY
                                                 : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string what = "cannot open the database " + path;
        if (db_ == nullptr) {
            failWith(nullptr, what);
        }
        const std::string message = sqlite3_errmsg(db_);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw DatabaseError(what + ": " + message);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

void Connection::execute(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail("database statement failed");
    }
}

void Connection::fail(const std::string& what) const {
    failWith(db_, what);
}

Statement::Statement(const Connection& connection, const char* sql) : db_(connection.get()) {
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK) {
        failWith(db_, "cannot prepare a database statement");
    }
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) {
        failWith(db_, "cannot bind a value");
    }
    return *this;
}

Statement& Statement::bind(int index, double value) {
    if (sqlite3_bind_double(stmt_, index, value) != SQLITE_OK) {
        failWith(db_, "cannot bind a value");
    }
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    if (sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8) != SQLITE_OK) {
        failWith(db_, "cannot bind a value");
    }
    return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
    if (sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT) !=
        SQLITE_OK) {
        failWith(db_, "cannot bind a value");
    }
    return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& text) {
    if (text) {
        return bind(index, std::string_view(*text));
    }
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) {
        failWith(db_, "cannot bind a value");
    }
    return *this;
}

bool Statement::step() {
    const int result = sqlite3_step(stmt_);
    if (result == SQLITE_ROW) {
        return true;
    }
    sqlite3_reset(stmt_);
    if (result != SQLITE_DONE) {
        failWith(db_, "database statement failed");
    }
    return false;
}

void Statement::run() {
    while (step()) {
    }
    sqlite3_clear_bindings(stmt_);
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double Statement::real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::string Statement::text(int column) const {
    const void* bytes = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return bytes == nullptr
               ? std::string()
               : std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

}  // namespace bw_station
