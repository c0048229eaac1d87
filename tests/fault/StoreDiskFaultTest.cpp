// The store's disk fills up, or its database file turns read-only, under a delivery: the
// delivery fails with a failure a person understands, nothing of the message is left behind,
// and the store takes messages again once space or permission is back. And a delivery is on
// disk before it is acknowledged.

#include "FaultRoad.h"
#include "FaultyDisk.h"
#include "tests/integration/store/StoreFiles.h"

#include "platform/core/Error.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

namespace faulttest {
namespace {

namespace store = platform::store;

// A body of many database pages, so that a save is written in many pieces.
constexpr std::size_t kLargeBody = 64 * 1024;

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

    // The store as a fresh process finds it: sound, no item without properties (which a
    // half-saved message would leave behind), the mailboxes as they were and the Inbox as
    // `expected`.
    void ExpectClean(const std::vector<std::string>& expected) {
        EXPECT_EQ(storetest::IntegrityCheck(Database()), "ok");
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
    void (*inflict)();
    // A read-only file is met by a process that opens the store after the fault; a full disk
    // by the store that is open.
    bool throughANewStore;
    std::int32_t number;
    const char* says;
};

class StoreDiskFaults : public StoreDiskFault,
                        public ::testing::WithParamInterface<DiskFaultCase> {};

TEST_P(StoreDiskFaults, ADeliveryFailsCleanlyAndTheStoreRecoversWhenTheDiskIsRepaired) {
    const auto& fault = GetParam();
    Deliver("before", nullptr, kLargeBody);
    const auto before = InboxSubjects();

    fault.inflict();
    const auto failure = testsupport::FailureOf([&] {
        Deliver("during the fault", fault.throughANewStore ? OpenAnotherStore() : nullptr,
                kLargeBody);
    });
    EXPECT_EQ(failure.number, fault.number) << failure.description;
    EXPECT_NE(failure.description.find(fault.says), std::string::npos) << failure.description;
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

INSTANTIATE_TEST_SUITE_P(
    Faults, StoreDiskFaults,
    ::testing::Values(DiskFaultCase{"FullWithNoSpaceLeft", [] { FaultyDisk::FillAfter(0); }, false,
                                    store::hr::STG_E_MEDIUMFULL, "full"},
                      DiskFaultCase{"FullWithLessThanAPage", [] { FaultyDisk::FillAfter(1000); },
                                    false, store::hr::STG_E_MEDIUMFULL, "full"},
                      DiskFaultCase{"FullAfterAFewPages",
                                    [] { FaultyDisk::FillAfter(3 * 4096 + 100); }, false,
                                    store::hr::STG_E_MEDIUMFULL, "full"},
                      DiskFaultCase{"FullAfterMostOfTheMessage",
                                    [] { FaultyDisk::FillAfter(12 * 4096); }, false,
                                    store::hr::STG_E_MEDIUMFULL, "full"},
                      DiskFaultCase{"ReadOnlyFile", [] { FaultyDisk::MakeReadOnly(); }, true,
                                    store::hr::E_ACCESSDENIED, "read-only"}),
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

} // namespace
} // namespace faulttest
