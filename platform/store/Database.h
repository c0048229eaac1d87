#pragma once

// A thin owner of one SQLite connection and its prepared statements. Every value reaches SQLite
// through a bound parameter; the SQL texts are the store's own constants.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace platform::store {

class Statement {
public:
    Statement(sqlite3* db, std::string_view sql);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    Statement& Bind(int index, std::string_view text);
    Statement& Bind(int index, std::int64_t number);
    Statement& BindBlob(int index, std::string_view bytes);
    // True while a row is available.
    bool Step();
    // Runs to completion, for statements without rows.
    void Run();
    void Reset();

    std::int64_t Integer(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class Database {
public:
    // Opens (creating if needed) the database file in WAL mode with a busy timeout, so that
    // several threads and processes can save at once.
    explicit Database(const std::filesystem::path& file);
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    void Execute(const char* sql);
    // A statement prepared once per connection and reset before each use.
    Statement& Prepared(const char* sql);
    std::int64_t LastInsertId() const;
    sqlite3* Handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
    struct Cache;
    std::unique_ptr<Cache> cache_;
};

// Turns the connection's last failure into a platform::Error naming what was being done.
[[noreturn]] void ThrowDatabaseError(sqlite3* db, std::string_view doing);

} // namespace platform::store
