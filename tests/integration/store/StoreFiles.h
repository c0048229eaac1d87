#pragma once

// Store database files as another program sees them: read on a connection of their own beside
// the store, or copied from a fixture of an earlier build (tests/fixtures/stores) into a server
// folder of their own.

#include "platform/host/ServerFolder.h"
#include "platform/store/Store.h"
#include "testsupport/ScopedServerFolder.h"

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>

namespace storetest {

// The first column of the first row that `sql` gives, or "" when there is none or the file
// cannot be opened.
inline std::string Query(const std::filesystem::path& database, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string value;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0))
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

// A server folder whose store is a copy of the fixture file `fixture`, not yet opened.
class OldStore {
public:
    explicit OldStore(const std::string& fixture) {
        platform::host::ServerFolder(scoped_.Path())
            .WriteMachineNames({"MAIL01", "example.com", "example.com", "dc01.example.com", ""});
        std::filesystem::create_directories(File().parent_path());
        std::filesystem::copy_file(std::filesystem::path(LORVANTA_FIXTURES) / "stores" / fixture,
                                   File());
    }
    std::filesystem::path File() const { return scoped_.Path() / "store" / "store.db"; }
    std::shared_ptr<platform::store::Store> Open() const {
        return platform::store::Store::Open(platform::host::ServerFolder(scoped_.Path()));
    }

private:
    testsupport::ScopedServerFolder scoped_;
};

} // namespace storetest
