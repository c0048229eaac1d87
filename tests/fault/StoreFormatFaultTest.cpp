// An old store brought up to date on a disk that fails: the migration is all or nothing, so the
// store stays whole in its old format, and it is migrated once the disk is repaired. A migration
// that succeeds is synced before the store is used.

#include "FaultyDisk.h"
#include "tests/integration/store/StoreFiles.h"

#include "platform/core/Error.h"
#include "platform/store/StoreErrors.h"
#include "platform/store/StoreFormat.h"

#include <gtest/gtest.h>

namespace faulttest {
namespace {

namespace store = platform::store;
using storetest::Query;

struct MigrationFault {
    const char* name;
    void (*inflict)();
    std::int32_t number;
};

class FailingMigration : public ::testing::TestWithParam<MigrationFault> {
protected:
    void SetUp() override { FaultyDisk::Install(); }
    void TearDown() override { FaultyDisk::Repair(); }

    storetest::OldStore old_{"format-1.db"};
};

TEST_P(FailingMigration, KeepsTheOldFormatWholeAndMigratesOnceRepaired) {
    GetParam().inflict();
    try {
        old_.Open();
        FAIL() << "the store opened on a failing disk";
    } catch (const platform::Error& failure) {
        EXPECT_EQ(failure.Number(), GetParam().number) << failure.Description();
        EXPECT_NE(failure.Description().find("Cannot bring the store database"), std::string::npos)
            << failure.Description();
    }
    FaultyDisk::Repair();
    EXPECT_EQ(storetest::IntegrityCheck(old_.File()), "ok");
    EXPECT_EQ(Query(old_.File(), "PRAGMA user_version"), "0");
    EXPECT_EQ(Query(old_.File(), "SELECT count(*) FROM sqlite_master WHERE type = 'table'"), "4");

    const auto syncs = FaultyDisk::WalSyncs();
    const auto store = old_.Open();
    EXPECT_GT(FaultyDisk::WalSyncs(), syncs) << "the migration was not synced";
    EXPECT_EQ(Query(old_.File(), "PRAGMA user_version"), std::to_string(store::kStoreFormat));
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
