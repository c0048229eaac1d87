// Which format a store database has, and the steps that bring an older one up to date.

#include "platform/store/StoreFormat.h"

#include "platform/store/StoreErrors.h"

#include <string>

namespace platform::store {

namespace {

// Step N turns a database of format N-1 into one of format N. A step never changes what an
// earlier one made except by adding to it, so each is the difference between two formats.
constexpr const char* kSteps[kStoreFormat] = {
    R"(
        CREATE TABLE domains(
            id INTEGER PRIMARY KEY, name TEXT NOT NULL, key TEXT NOT NULL UNIQUE);
        CREATE TABLE mailboxes(
            id INTEGER PRIMARY KEY, domain_key TEXT NOT NULL, name TEXT NOT NULL,
            key TEXT NOT NULL UNIQUE, is_system INTEGER NOT NULL);
        CREATE INDEX mailboxes_system ON mailboxes(is_system);
        CREATE TABLE items(
            id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, parent_key TEXT NOT NULL,
            domain TEXT NOT NULL, mailbox TEXT NOT NULL, path TEXT NOT NULL,
            is_folder INTEGER NOT NULL, content_class TEXT NOT NULL);
        CREATE INDEX items_by_parent ON items(parent_key, content_class);
        CREATE TABLE properties(
            item_id INTEGER NOT NULL REFERENCES items(id) ON DELETE CASCADE,
            name TEXT NOT NULL, kind INTEGER NOT NULL, value BLOB NOT NULL,
            PRIMARY KEY(item_id, name)) WITHOUT ROWID;
    )",
    // The items already stored are numbered here, in the order they were made: left to the
    // first listing of their folder, they would come after any message delivered before it.
    R"(
        CREATE TABLE folder_numbers(
            folder_key TEXT PRIMARY KEY, validity INTEGER NOT NULL, next INTEGER NOT NULL);
        CREATE TABLE item_numbers(
            item_id INTEGER PRIMARY KEY REFERENCES items(id) ON DELETE CASCADE,
            folder_key TEXT NOT NULL, number INTEGER NOT NULL, received INTEGER NOT NULL);
        CREATE UNIQUE INDEX item_numbers_by_folder ON item_numbers(folder_key, number);
        INSERT INTO item_numbers(item_id, folder_key, number, received)
            SELECT id, parent_key, row_number() OVER (PARTITION BY parent_key ORDER BY id),
                   CAST(strftime('%s', 'now') AS INTEGER)
            FROM items WHERE is_folder = 0;
        INSERT INTO folder_numbers(folder_key, validity, next)
            SELECT folder_key, CAST(strftime('%s', 'now') AS INTEGER), max(number) + 1
            FROM item_numbers GROUP BY folder_key;
    )",
    // A folder's count starts at 0: a reader that kept a listing from before has none to match.
    R"(
        ALTER TABLE folder_numbers ADD COLUMN changes INTEGER NOT NULL DEFAULT 0;
        CREATE INDEX items_folders ON items(key) WHERE is_folder = 1;
    )",
    // The items already stored count as changed at their folder's count, raised by one so that
    // none is at 0 (the counts of format 3 began there), and as claimed: no one knows any more
    // which were new to whom.
    R"(
        ALTER TABLE item_numbers ADD COLUMN changed INTEGER NOT NULL DEFAULT 0;
        ALTER TABLE folder_numbers ADD COLUMN claimed INTEGER NOT NULL DEFAULT 0;
        UPDATE folder_numbers SET changes = changes + 1, claimed = next;
        UPDATE item_numbers SET changed = coalesce((SELECT f.changes FROM folder_numbers f
                                                    WHERE f.folder_key = item_numbers.folder_key),
                                                   0);
    )",
    // The same table with row ids, so that a part of a large value (a message body of
    // megabytes) can be read without the rest of it (incremental blob I/O needs a row id), and
    // so that looking a row up by its key no longer reads the whole of every large row it
    // compares with on the way: a table without row ids keeps whole rows in its key's B-tree.
    // The rows are copied in key order, so each item's properties stay together.
    R"(
        CREATE TABLE properties_with_rowids(
            item_id INTEGER NOT NULL REFERENCES items(id) ON DELETE CASCADE,
            name TEXT NOT NULL, kind INTEGER NOT NULL, value BLOB NOT NULL,
            PRIMARY KEY(item_id, name));
        INSERT INTO properties_with_rowids(item_id, name, kind, value)
            SELECT item_id, name, kind, value FROM properties ORDER BY item_id, name;
        DROP TABLE properties;
        ALTER TABLE properties_with_rowids RENAME TO properties;
    )",
};

std::int64_t Count(Database& db, const char* sql) {
    auto query = db.Prepared(sql);
    query.Step();
    return query.Integer(0);
}

// Databases made before formats were recorded hold version 0; their tables tell which they are.
int UnrecordedFormatOf(Database& db, const std::filesystem::path& file) {
    if (Count(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table'") == 0)
        return 0;
    if (Count(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'items'") ==
        0)
        throw Error(hr::STORE_E_DATABASE,
                    "The file " + file.string() + " is an SQLite database but not a store's");
    if (Count(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                  "name = 'folder_numbers'") == 0)
        return 1;
    if (Count(db, "SELECT count(*) FROM pragma_table_info('folder_numbers') "
                  "WHERE name = 'changes'") == 0)
        return 2;
    // Formats from 4 on are always recorded.
    return 3;
}

int RecordedVersion(Database& db) {
    return static_cast<int>(Count(db, "PRAGMA user_version"));
}

std::string Described(int format) {
    return "format " + std::to_string(format);
}

} // namespace

void BringStoreFormatUpToDate(Database& db, const std::filesystem::path& file) {
    if (RecordedVersion(db) == kStoreFormat)
        return;
    // IMMEDIATE: of two processes opening an old store at once, the second waits here and then
    // finds the format up to date.
    db.Execute("BEGIN IMMEDIATE");
    try {
        int format = RecordedVersion(db);
        if (format == 0)
            format = UnrecordedFormatOf(db, file);
        if (format > kStoreFormat)
            throw Error(hr::STG_E_OLDDLL,
                        "The store database " + file.string() + " is in " + Described(format) +
                            ", made by a newer program; this one knows formats up to " +
                            std::to_string(kStoreFormat));
        for (int step = format; step < kStoreFormat; ++step)
            db.Execute(kSteps[step]);
        db.Execute(("PRAGMA user_version = " + std::to_string(kStoreFormat)).c_str());
        // synchronous=FULL: the commit is on disk before the store is used.
        db.Execute("COMMIT");
    } catch (const Error& failure) {
        try {
            db.Execute("ROLLBACK");
        } catch (...) {
            // SQLite may have ended the transaction itself (a full disk): nothing to undo.
        }
        if (failure.Number() == hr::STG_E_OLDDLL)
            throw;
        throw Error(failure.Number(), "Cannot bring the store database " + file.string() +
                                          " up to " + Described(kStoreFormat) + ": " +
                                          failure.Description());
    }
}

} // namespace platform::store
