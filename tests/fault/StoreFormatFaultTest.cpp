// An old store brought up to date on a disk that fails: the migration is all or nothing, so the
// store stays whole in its old format, and it is migrated once the disk is repaired. A migration
// that succeeds is synced before the store is used.

#include "FaultyDisk.h"
#include "tests/integration/store/StoreIntegrity.h"

#include "platform/core/Error.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/Store.h"
#include "platform/store/StoreErrors.h"
#include "platform/store/StoreFormat.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>

namespace faulttest {
namespace {

namespace fs = std::filesystem;
namespace store = platform::store;

// The first column of one statement, read by a connection of its own.
std::string Query(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    std::string value;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0))
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

struct MigrationFault {
    const char* name;
    void (*inflict)();
    std::int32_t number;
};

class FailingMigration : public ::testing::TestWithParam<MigrationFault> {
protected:
    void SetUp() override {
        FaultyDisk::Install();
        platform::host::ServerFolder folder(scoped_.Path());
        folder.WriteMachineNames({"MAIL01", "example.com", "example.com", "dc01.example.com", ""});
        fs::create_directories(File().parent_path());
        fs::copy_file(fs::path(LORVANTA_FIXTURES) / "stores" / "format-1.db", File());
    }
    void TearDown() override { FaultyDisk::Repair(); }

    fs::path File() const { return scoped_.Path() / "store" / "store.db"; }
    std::shared_ptr<store::Store> Open() const {
        return store::Store::Open(platform::host::ServerFolder(scoped_.Path()));
    }

    testsupport::ScopedServerFolder scoped_;
};

TEST_P(FailingMigration, KeepsTheOldFormatWholeAndMigratesOnceRepaired) {
    GetParam().inflict();
    try {
        Open();
        FAIL() << "the store opened on a failing disk";
    } catch (const platform::Error& failure) {
        EXPECT_EQ(failure.Number(), GetParam().number) << failure.Description();
        EXPECT_NE(failure.Description().find("Cannot bring the store database"), std::string::npos)
            << failure.Description();
    }
    FaultyDisk::Repair();
    EXPECT_EQ(storetest::IntegrityCheck(File()), "ok");
    EXPECT_EQ(Query(File(), "PRAGMA user_version"), "0");
    EXPECT_EQ(Query(File(), "SELECT count(*) FROM sqlite_master WHERE type = 'table'"), "4");

    const auto syncs = FaultyDisk::WalSyncs();
    const auto store = Open();
    EXPECT_GT(FaultyDisk::WalSyncs(), syncs) << "the migration was not synced";
    EXPECT_EQ(Query(File(), "PRAGMA user_version"), std::to_string(store::kStoreFormat));
    EXPECT_EQ(
        store
            ->Children(store->Locate("file://./backofficestorage/example.com/mbx/alice/Inbox"),
                       false)
            .size(),
        2u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailingMigration,
    ::testing::Values(MigrationFault{"FullWithNoSpaceLeft", [] { FaultyDisk::FillAfter(0); },
                                     store::hr::STG_E_MEDIUMFULL},
                      MigrationFault{"FullAfterAPage", [] { FaultyDisk::FillAfter(4096 + 100); },
                                     store::hr::STG_E_MEDIUMFULL},
                      MigrationFault{"ReadOnlyFile", [] { FaultyDisk::MakeReadOnly(); },
                                     store::hr::E_ACCESSDENIED}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace faulttest
