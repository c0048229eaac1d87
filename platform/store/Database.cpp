// Opens the store's SQLite database with its busy wait, and runs statements with bound values,
// turning every SQLite failure into a platform error.

#include "platform/store/Database.h"

#include "platform/host/PrivateFiles.h"
#include "platform/store/StoreErrors.h"
#include "platform/store/WalGathering.h"

#include <algorithm>
#include <map>

namespace platform::store {

namespace {

// Long enough to wait out another writer's save, including the sinks it runs.
constexpr int kBusyTimeoutMs = 30000;

} // namespace

Error DatabaseError(sqlite3* db, int code, std::string_view doing, std::string_view detail) {
    const std::string file = db ? sqlite3_db_filename(db, "main") : "";
    const std::string what =
        "The store database " + file + " failed while " + std::string(doing) + ": ";
    const std::string reason = " (" + std::string(detail) + ")";
    // Failures of the disk under the database are told apart, so that a person knows what to fix.
    switch (code & 0xff) {
    case SQLITE_FULL:
        return Error(hr::STG_E_MEDIUMFULL, what + "the disk is full" + reason);
    case SQLITE_READONLY:
        return Error(hr::E_ACCESSDENIED, what + "the file is read-only" + reason);
    case SQLITE_IOERR:
        if (code == SQLITE_IOERR_READ || code == SQLITE_IOERR_SHORT_READ)
            return Error(hr::STG_E_READFAULT, what + "the disk failed a read" + reason);
        return Error(hr::STG_E_WRITEFAULT, what + "the disk failed" + reason);
    default:
        return Error(hr::STORE_E_DATABASE, what + std::string(detail));
    }
}

void ThrowDatabaseError(sqlite3* db, std::string_view doing) {
    if (!db)
        throw Error(hr::STORE_E_DATABASE,
                    "The store database failed while " + std::string(doing) + ": cannot open");
    throw DatabaseError(db, sqlite3_extended_errcode(db), doing, sqlite3_errmsg(db));
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt_, nullptr) != SQLITE_OK)
        ThrowDatabaseError(db, "preparing a statement");
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int index, std::string_view text) {
    if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        ThrowDatabaseError(db_, "binding a value");
    return *this;
}

Statement& Statement::Bind(int index, std::int64_t number) {
    if (sqlite3_bind_int64(stmt_, index, number) != SQLITE_OK)
        ThrowDatabaseError(db_, "binding a value");
    return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
    if (sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_STATIC) != SQLITE_OK)
        ThrowDatabaseError(db_, "binding a value");
    return *this;
}

bool Statement::Step(const char* shownAs) {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(stmt_);
    ThrowDatabaseError(db_, shownAs ? "running \"" + std::string(shownAs) + "\""
                                    : std::string("running a statement"));
}

void Statement::Run(const char* shownAs) {
    while (Step(shownAs)) {
    }
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::Integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string Statement::Text(int column) const {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    return data ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

BlobRead::BlobRead(sqlite3* db, const char* table, const char* column, std::int64_t rowid)
    : db_(db) {
    if (sqlite3_blob_open(db, "main", table, column, rowid, 0, &blob_) != SQLITE_OK)
        ThrowDatabaseError(db, "opening a value to read part of it");
}

BlobRead::~BlobRead() {
    sqlite3_blob_close(blob_);
}

std::uint64_t BlobRead::Size() const {
    return static_cast<std::uint64_t>(sqlite3_blob_bytes(blob_));
}

std::string BlobRead::Read(std::uint64_t offset, std::uint64_t count) const {
    const auto size = Size();
    if (offset >= size)
        return std::string();
    // SQLite keeps no value longer than an int counts, so both fit one from here on.
    std::string bytes(std::min(count, size - offset), '\0');
    if (!bytes.empty() && sqlite3_blob_read(blob_, bytes.data(), static_cast<int>(bytes.size()),
                                            static_cast<int>(offset)) != SQLITE_OK)
        // SQLITE_ABORT would be a write to the row through this connection since the open.
        ThrowDatabaseError(db_, "reading part of a value");
    return bytes;
}

struct Database::Cache {
    std::map<const char*, std::unique_ptr<Statement>> statements;
};

namespace {

// Every delivery in a shared commit runs in savepoints of its own, whose undo copies of the pages
// it changes (some tens of KB for a usual message) SQLite keeps in memory only up to 64 KB and
// then moves to a temporary file: a file made, written and removed for nearly every batch. A
// larger threshold keeps a usual delivery's copies in memory, while a message of megabytes still
// goes to a file instead of into the server's memory.
//
// It may not exceed what SQLite's unix file layer writes in one call: that layer keeps only the
// low 17 bits of a write's length (128 KiB - 1, enough for any page), and moving the copies to
// the file writes all that was kept in memory at once. A threshold of 256 KiB made that write
// come out short, which SQLite reports as a full disk: ordinary mail for two mailboxes was
// refused. SQLite takes this only before it first starts in the process (a program that started
// it earlier keeps the default, which works as well).
constexpr int kUndoCopiesInMemory = 0x1ffff;

void ConfigureSqliteOnce() {
    static const bool started = [] {
        sqlite3_config(SQLITE_CONFIG_STMTJRNL_SPILL, kUndoCopiesInMemory);
        return sqlite3_initialize() == SQLITE_OK;
    }();
    (void)started;
}

} // namespace

Database::Database(const std::filesystem::path& file) : cache_(std::make_unique<Cache>()) {
    ConfigureSqliteOnce();
    // SQLite gives the -wal and -shm files the mode of the database file, so creating that
    // private keeps all three from other local users. Files of an older, laxer store are made
    // private as well.
    try {
        host::CreatePrivateFile(file);
        for (const char* suffix : {"-wal", "-shm"})
            host::MakePrivateIfPresent(file.string() + suffix);
    } catch (const std::filesystem::filesystem_error& failure) {
        throw Error(hr::STORE_E_DATABASE,
                    "Cannot open the store database " + file.string() + ": " + failure.what());
    }
    if (sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        WalGatheringVfs()) != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw Error(hr::STORE_E_DATABASE,
                    "Cannot open the store database " + file.string() + ": " + message);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    try {
        Execute("PRAGMA journal_mode=WAL");
        // A save is acknowledged (an SMTP 250) only once it is on disk: FULL syncs the WAL at
        // every commit, where NORMAL would sync only at checkpoints, which wait for the last
        // connection. The VFS's gathering of log writes relies on that sync too.
        Execute("PRAGMA synchronous=FULL");
        Execute("PRAGMA foreign_keys=ON");
    } catch (...) {
        // No destructor runs for a constructor that fails (a full disk, say): the connection
        // would stay open.
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

Database::~Database() {
    cache_.reset();
    sqlite3_close(db_);
}

void Database::Execute(const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string text = message ? message : "unknown failure";
        sqlite3_free(message);
        throw DatabaseError(db_, sqlite3_extended_errcode(db_),
                            "running \"" + std::string(sql) + "\"", text);
    }
}

Statement& Database::Cached(const char* sql) {
    auto& slot = cache_->statements[sql];
    if (!slot)
        slot = std::make_unique<Statement>(db_, sql);
    return *slot;
}

StatementUse Database::Prepared(const char* sql) {
    return StatementUse(Cached(sql));
}

void Database::Run(const char* sql) {
    auto& statement = Cached(sql);
    const StatementUse reset(statement);
    statement.Run(sql);
}

std::int64_t Database::LastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

} // namespace platform::store
