#pragma once

// A thin owner of one SQLite connection and its prepared statements. Every value reaches SQLite
// through a bound parameter; the SQL texts are the store's own constants.

#include "platform/core/Error.h"

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
    // The bytes are not copied (a message body may be megabytes): they must stay as they are
    // until the statement has run and been reset.
    Statement& BindBlob(int index, std::string_view bytes);
    // True while a row is available. A failure names the statement when `shownAs` is given.
    bool Step(const char* shownAs = nullptr);
    // Runs to completion, for statements without rows.
    void Run(const char* shownAs = nullptr);
    void Reset();

    std::int64_t Integer(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// One use of a cached statement: resets it when it goes out of scope, so that no statement
// keeps a read snapshot open after its use.
class StatementUse {
public:
    explicit StatementUse(Statement& statement) : statement_(&statement) {}
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;
    ~StatementUse() { statement_->Reset(); }

    StatementUse& Bind(int index, std::string_view text) {
        statement_->Bind(index, text);
        return *this;
    }
    StatementUse& Bind(int index, std::int64_t number) {
        statement_->Bind(index, number);
        return *this;
    }
    StatementUse& BindBlob(int index, std::string_view bytes) {
        statement_->BindBlob(index, bytes);
        return *this;
    }
    bool Step() { return statement_->Step(); }
    void Run() { statement_->Run(); }
    std::int64_t Integer(int column) const { return statement_->Integer(column); }
    std::string Text(int column) const { return statement_->Text(column); }
    bool IsNull(int column) const { return statement_->IsNull(column); }

private:
    Statement* statement_;
};

// A read of part of one BLOB or text value of a rowid table's row (SQLite's incremental blob
// I/O): only the pages holding the octets read leave the database. Read-only; it reads in the
// connection's current read, so open it while the statement that found the row is still
// stepping (or inside a transaction), and let it go before that statement is reset.
class BlobRead {
public:
    BlobRead(sqlite3* db, const char* table, const char* column, std::int64_t rowid);
    BlobRead(const BlobRead&) = delete;
    BlobRead& operator=(const BlobRead&) = delete;
    ~BlobRead();

    std::uint64_t Size() const;
    // Up to `count` octets from `offset` on: fewer at the value's end, none past it.
    std::string Read(std::uint64_t offset, std::uint64_t count) const;

private:
    sqlite3* db_;
    sqlite3_blob* blob_ = nullptr;
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
    // A statement without values, prepared once per connection: for those run with every save
    // (beginning, committing, savepoints), where parsing each time would be a good part of it.
    void Run(const char* sql);
    // A statement prepared once per connection; reset after each use.
    StatementUse Prepared(const char* sql);
    std::int64_t LastInsertId() const;
    // Part of the value in `column` of the row `rowid` of `table` (see BlobRead).
    BlobRead ReadBlob(const char* table, const char* column, std::int64_t rowid) {
        return BlobRead(db_, table, column, rowid);
    }
    sqlite3* Handle() const { return db_; }

private:
    // Statements are kept by the address of their text: pass string literals.
    Statement& Cached(const char* sql);

    sqlite3* db_ = nullptr;
    struct Cache;
    std::unique_ptr<Cache> cache_;
};

// The platform::Error for an SQLite result code (extended), naming the database file and what
// was being done; a full disk, a read-only file and disk failures get numbers of their own.
Error DatabaseError(sqlite3* db, int code, std::string_view doing, std::string_view detail);
// Turns the connection's last failure into a platform::Error naming what was being done.
[[noreturn]] void ThrowDatabaseError(sqlite3* db, std::string_view doing);

} // namespace platform::store
