// Move-only owners of an SQLite connection and of a prepared statement; every failure is
// reported with SQLite's own message.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bw_station {

// The database cannot be used (opened, read, written): the command stops with this message.
class DatabaseError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class Access { readOnly, readWrite };

class Connection {
  public:
    Connection() = default;
    Connection(const std::string& path, Access access);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Connection(Connection&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
    Connection& operator=(Connection&& other) noexcept {
        std::swap(db_, other.db_);
        return *this;
    }
    ~Connection() { sqlite3_close_v2(db_); }

    sqlite3* get() const { return db_; }
    // Statements without parameters or results: the schema, BEGIN, COMMIT.
    void execute(const char* sql);
    [[noreturn]] void fail(const std::string& what) const;

  private:
    sqlite3* db_ = nullptr;
};

class Statement {
  public:
    Statement(const Connection& connection, const char* sql);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept : stmt_(other.stmt_), db_(other.db_) {
        other.stmt_ = nullptr;
    }
    Statement& operator=(Statement&&) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }

    // Parameters count from 1, as SQLite's do; an empty optional binds NULL.
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, double value);
    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, const std::string& text) {
        return bind(index, std::string_view(text));
    }
    Statement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
    Statement& bindBlob(int index, std::string_view bytes);
    Statement& bind(int index, const std::optional<std::string>& text);
    // True while a row is there to read; resets itself after the last row.
    bool step();
    // Runs a statement without result rows and makes it ready for the next binding.
    void run();
    void reset();

    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;

  private:
    sqlite3_stmt* stmt_ = nullptr;
    sqlite3* db_ = nullptr;
};

}  // namespace bw_station
