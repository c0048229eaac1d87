// The store's disk fills up, or its database file turns read-only, under a delivery: the
// delivery fails with a failure a person understands, nothing of the message is left behind,
// and the store takes messages again once space or permission is back. A delivery is on disk
// before it is acknowledged. And an old store brought up to date on a disk that fails: the
// migration is all or nothing, so the store stays whole in its old format, and it is migrated
// once the disk is repaired; a migration that succeeds is synced before the store is used.

#include "FaultRoad.h"
#include "tests/integration/store/StoreFiles.h"

#include "platform/store/StoreErrors.h"
#include "platform/store/StoreFormat.h"
#include "testsupport/FailureOf.h"

namespace faulttest {
namespace {

namespace store = platform::store;

// A body of many database pages, so that a save is written in many pieces.
constexpr std::size_t kLargeBody = 64 * 1024;

class StoreDiskFault : public FaultRoad {
protected:
    void SetUp() override {
        FaultRoad::SetUp();
        if (store_)
            mailboxes_ = store_->Mailboxes(kDomain);
    }

    std::filesystem::path Database() const { return folder_.Path() / "store" / "store.db"; }

    // The store as a fresh process finds it: sound, no item without properties (which a
    // half-saved message would leave behind), the mailboxes as they were and the Inbox as
    // `expected`.
    void ExpectClean(const std::vector<std::string>& expected) {
        EXPECT_EQ(storetest::Query(Database(), "PRAGMA integrity_check"), "ok");
        EXPECT_EQ(storetest::Query(Database(),
                                   "SELECT count(*) FROM items WHERE NOT EXISTS "
                                   "(SELECT 1 FROM properties WHERE item_id = items.id)"),
                  "0");
        const auto reopened = OpenAnotherStore();
        EXPECT_EQ(reopened->Mailboxes(kDomain), mailboxes_);
        EXPECT_EQ(InboxSubjects(reopened), expected);
    }

    std::vector<std::string> mailboxes_;
};

struct DiskFaultCase {
    const char* name;
    // The disk is full after this many more bytes; without it, the file turns read-only.
    std::optional<std::int64_t> fillAfter;
};

class StoreDiskFaults : public StoreDiskFault,
                        public ::testing::WithParamInterface<DiskFaultCase> {};

TEST_P(StoreDiskFaults, ADeliveryFailsCleanlyAndTheStoreRecoversWhenTheDiskIsRepaired) {
    const auto full = GetParam().fillAfter;
    Deliver("before", nullptr, kLargeBody);
    const auto before = InboxSubjects();

    full ? FaultyDisk::FillAfter(*full) : FaultyDisk::MakeReadOnly();
    // A read-only file is met by a process that opens the store after the fault; a full disk by
    // the store that is open.
    const auto failure = testsupport::FailureOf(
        [&] { Deliver("during the fault", full ? nullptr : OpenAnotherStore(), kLargeBody); });
    EXPECT_EQ(failure.number, full ? store::hr::STG_E_MEDIUMFULL : store::hr::E_ACCESSDENIED)
        << failure.description;
    EXPECT_NE(failure.description.find(full ? "full" : "read-only"), std::string::npos)
        << failure.description;
    EXPECT_NE(failure.description.find(Database().string()), std::string::npos)
        << failure.description;
    FaultyDisk::Repair();

    ExpectClean(before);
    // The same store, which met the fault, saves again, and so does a new one.
    EXPECT_EQ(StampOf(Deliver("repaired", nullptr, kLargeBody)), OwnerAddress());
    EXPECT_EQ(StampOf(Deliver("repaired, new store", OpenAnotherStore(), kLargeBody)),
              OwnerAddress());
    auto after = before;
    after.push_back("repaired");
    after.push_back("repaired, new store");
    ExpectClean(after);
}

INSTANTIATE_TEST_SUITE_P(Faults, StoreDiskFaults,
                         ::testing::Values(DiskFaultCase{"FullWithNoSpaceLeft", 0},
                                           DiskFaultCase{"FullWithLessThanAPage", 1000},
                                           DiskFaultCase{"FullAfterAFewPages", 3 * 4096 + 100},
                                           DiskFaultCase{"FullAfterMostOfTheMessage", 12 * 4096},
                                           DiskFaultCase{"ReadOnlyFile", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

// The store's VFS hands the disk a commit's frames in writes of up to 128 KiB, where SQLite
// itself writes two per page; another connection, which reads the log, sees every message whole.
// The SMTP front answers 250 when the save returns: by then the commit must be synced, even while
// that connection keeps the store open (which puts off every checkpoint).
struct GatheredCase {
    const char* name;
    std::size_t bodySize;
    std::int64_t mostWritesPerSync;
};

class GatheredLogWrites : public StoreDiskFault,
                          public ::testing::WithParamInterface<GatheredCase> {};

TEST_P(GatheredLogWrites, ASaveReachesTheLogInFewWritesAndAnotherConnectionReadsItWhole) {
    const auto another = OpenAnotherStore(); // keeps the log from being checkpointed away
    Deliver("first", another);
    std::vector<std::string> subjects{"first"};
    for (const auto* subject : {"second", "third"}) {
        const auto writes = FaultyDisk::WalWrites();
        const auto syncs = FaultyDisk::WalSyncs();
        const auto url = Deliver(subject, nullptr, GetParam().bodySize);
        const auto commits = FaultyDisk::WalSyncs() - syncs;
        ASSERT_GE(commits, 1) << subject << " was acknowledged unsynced";
        EXPECT_LE(FaultyDisk::WalWrites() - writes, commits * GetParam().mostWritesPerSync)
            << subject << " in " << commits << " commits";
        subjects.push_back(subject);
        const auto item = another->Read(another->Locate(url));
        EXPECT_GE(item.properties.at(store::kTextDescription).Text().size(), GetParam().bodySize);
        EXPECT_EQ(StampOf(url), OwnerAddress());
    }
    EXPECT_EQ(InboxSubjects(another), subjects);
    ExpectClean(subjects);
}

// Without the gathering a delivery of 100 octets took 16 to 28 writes, one of 64 KiB 50 to 60,
// one of 1 MiB 530.
INSTANTIATE_TEST_SUITE_P(Sizes, GatheredLogWrites,
                         ::testing::Values(GatheredCase{"Small", 100, 2},
                                           GatheredCase{"SixteenPages", kLargeBody, 2},
                                           GatheredCase{"OneMebibyte", 1 << 20, 11}),
                         [](const auto& info) { return std::string(info.param.name); });

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
    testsupport::ExpectRefused([&] { old_.Open(); }, GetParam().number,
                               "Cannot bring the store database");
    FaultyDisk::Repair();
    EXPECT_EQ(storetest::Query(old_.File(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(storetest::Query(old_.File(), "PRAGMA user_version"), "0");
    EXPECT_EQ(
        storetest::Query(old_.File(), "SELECT count(*) FROM sqlite_master WHERE type = 'table'"),
        "4");

    const auto syncs = FaultyDisk::WalSyncs();
    const auto store = old_.Open();
    EXPECT_GT(FaultyDisk::WalSyncs(), syncs) << "the migration was not synced";
    EXPECT_EQ(storetest::Query(old_.File(), "PRAGMA user_version"),
              std::to_string(store::kStoreFormat));
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
