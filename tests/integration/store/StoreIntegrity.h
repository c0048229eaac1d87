#pragma once

// Checks of a store database file made beside the store, on a connection of their own.

#include <sqlite3.h>

#include <filesystem>
#include <string>

namespace storetest {

// The first line of SQLite's integrity check ("ok" for a sound file), or "cannot open".
inline std::string IntegrityCheck(const std::filesystem::path& database) {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}

} // namespace storetest
