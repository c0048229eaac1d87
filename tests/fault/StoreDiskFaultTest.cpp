// The store's disk fills up, or its database file turns read-only, under a delivery: the
// delivery fails with a failure a person understands, nothing of the message is left behind,
// and the store takes messages again once space or permission is back. And a delivery is on
// disk before it is acknowledged.

#include "FaultRoad.h"
#include "FaultyDisk.h"
#include "tests/integration/store/StoreIntegrity.h"

#include "platform/core/Error.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/StoreErrors.h"

#include <sqlite3.h>

namespace faulttest {
namespace {

namespace store = platform::store;

// A body of many database pages, so that a save is written in many pieces.
constexpr std::size_t kLargeBody = 64 * 1024;

// Items that lost their properties: a half-saved message would leave one behind.
int ItemsWithoutProperties(const std::filesystem::path& database) {
    sqlite3* db = nullptr;
    int count = -1;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db,
                               "SELECT count(*) FROM items WHERE NOT EXISTS "
                               "(SELECT 1 FROM properties WHERE item_id = items.id)",
                               -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return count;
}

class StoreDiskFault : public FaultRoad {
protected:
    void SetUp() override {
        FaultyDisk::Install();
        FaultRoad::SetUp();
        if (store_)
            mailboxes_ = store_->Mailboxes(kDomain);
    }
    void TearDown() override {
        FaultyDisk::Repair();
        FaultRoad::TearDown();
    }

    std::filesystem::path Database() const { return folder_.Path() / "store" / "store.db"; }

    std::shared_ptr<store::Store> OpenAnotherStore() {
        return store::Store::Open(platform::host::ServerFolder(folder_.Root()));
    }

    // The store as a fresh process finds it: sound, no orphaned item, the mailboxes as they
    // were and the Inbox as `expected`.
    void ExpectClean(const std::vector<std::string>& expected) {
        EXPECT_EQ(storetest::IntegrityCheck(Database()), "ok");
        EXPECT_EQ(ItemsWithoutProperties(Database()), 0);
        const auto reopened = OpenAnotherStore();
        EXPECT_EQ(reopened->Mailboxes(kDomain), mailboxes_);
        EXPECT_EQ(InboxSubjects(reopened), expected);
    }

    std::vector<std::string> mailboxes_;
};

struct FullDiskCase {
    const char* name;
    std::int64_t spaceLeft;
};

class StoreDiskFull : public StoreDiskFault, public ::testing::WithParamInterface<FullDiskCase> {};

TEST_P(StoreDiskFull, ADeliveryFailsCleanlyAndTheStoreRecoversWhenSpaceIsBack) {
    Deliver("before", nullptr, kLargeBody);
    const auto before = InboxSubjects();

    FaultyDisk::FillAfter(GetParam().spaceLeft);
    try {
        Deliver("on a full disk", nullptr, kLargeBody);
        ADD_FAILURE() << "the delivery succeeded on a full disk";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.Number(), store::hr::STG_E_MEDIUMFULL) << error.Description();
        EXPECT_NE(error.Description().find("full"), std::string::npos) << error.Description();
        EXPECT_NE(error.Description().find(Database().string()), std::string::npos)
            << error.Description();
    }
    FaultyDisk::Repair();

    ExpectClean(before);
    // The same store, which met the full disk, saves again, and so does a new one.
    const auto again = Deliver("space is back", nullptr, kLargeBody);
    EXPECT_EQ(StampOf(again), OwnerAddress());
    EXPECT_NO_THROW(Deliver("space is back, new store", OpenAnotherStore(), kLargeBody));
    auto after = before;
    after.push_back("space is back");
    after.push_back("space is back, new store");
    ExpectClean(after);
}

INSTANTIATE_TEST_SUITE_P(SpaceLeft, StoreDiskFull,
                         ::testing::Values(FullDiskCase{"None", 0},
                                           FullDiskCase{"LessThanAPage", 1000},
                                           FullDiskCase{"AFewPages", 3 * 4096 + 100},
                                           FullDiskCase{"MostOfTheMessage", 12 * 4096}),
                         [](const auto& info) { return std::string(info.param.name); });

// The SMTP front answers 250 when the save returns: by then the commit must be synced, even
// while other connections keep the store open (which puts off every checkpoint).
TEST_F(StoreDiskFault, EachSaveSyncsItsCommitBeforeItReturnsWhileAnotherConnectionIsOpen) {
    const auto another = OpenAnotherStore();
    Deliver("first", another);
    for (const auto* subject : {"second", "third", "fourth"}) {
        const auto before = FaultyDisk::WalSyncs();
        Deliver(subject);
        EXPECT_GT(FaultyDisk::WalSyncs(), before) << subject << " was acknowledged unsynced";
    }
}

TEST_F(StoreDiskFault, AReadOnlyDatabaseRefusesTheDeliveryAndTakesItOncePermissionIsBack) {
    Deliver("before");
    const auto before = InboxSubjects();

    FaultyDisk::MakeReadOnly();
    try {
        // A process that opens the store now finds its file read-only.
        Deliver("read-only", OpenAnotherStore());
        ADD_FAILURE() << "the delivery succeeded on a read-only database";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.Number(), store::hr::E_ACCESSDENIED) << error.Description();
        EXPECT_NE(error.Description().find("read-only"), std::string::npos) << error.Description();
        EXPECT_NE(error.Description().find(Database().string()), std::string::npos)
            << error.Description();
    }
    FaultyDisk::Repair();

    ExpectClean(before);
    const auto again = Deliver("writable again", OpenAnotherStore());
    EXPECT_EQ(StampOf(again), OwnerAddress());
}

} // namespace
} // namespace faulttest
