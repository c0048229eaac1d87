// Reads made together see one state of the store, refuse writes through the same store, and
// inside an open transaction change nothing.

#include "TempStore.h"

#include "platform/store/Delivery.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

#include <functional>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

using ReadTogetherTest = TempStore;

TEST_F(ReadTogetherTest, ReadsSeeTheStoreAsItWasAtTheFirstOfThem) {
    const auto other = OpenAnother();
    std::size_t before = 99, during = 99;
    store->ReadTogether([&] {
        before = Inbox("alice").size();
        DeliverMessage(*other, kMailbox, "Subject: meanwhile\n\n");
        during = Inbox("alice").size();
    });
    EXPECT_EQ(before, 0u);
    EXPECT_EQ(during, 0u);
    EXPECT_EQ(Inbox("alice").size(), 1u);
}

TEST_F(ReadTogetherTest, WritingThroughTheReadingStoreFailsAndLeavesItUsable) {
    const std::vector<std::pair<const char*, std::function<void()>>> writes = {
        {"delivery", [&] { DeliverMessage(*store, kMailbox, "Subject: x\n\n"); }},
        {"new mailbox", [&] { store->CreateMailbox("example.com", "carol"); }},
        {"transaction", [&] { store->BeginTransaction(); }},
    };
    for (const auto& [name, write] : writes) {
        SCOPED_TRACE(name);
        EXPECT_EQ(testsupport::FailureOf([&] { store->ReadTogether(write); }).number,
                  platform::hr::E_UNEXPECTED);
        EXPECT_FALSE(store->InTransaction());
    }
    // Nothing of the refused writes is there, and the store writes again once the read ended.
    const auto other = OpenAnother();
    EXPECT_EQ(Inbox("alice", other.get()).size(), 0u);
    EXPECT_FALSE(other->FindMailbox("example.com", "carol"));
    DeliverMessage(*store, kMailbox, "Subject: after\n\n");
    EXPECT_EQ(Inbox("alice", other.get()).size(), 1u);
}

TEST_F(ReadTogetherTest, InsideAnOpenTransactionItReadsAndWritesThatTransaction) {
    store->BeginTransaction();
    store->ReadTogether([&] {
        DeliverMessage(*store, kFileBase + "/bob", "Subject: in the transaction\n\n");
        EXPECT_EQ(Inbox("bob").size(), 1u);
    });
    EXPECT_TRUE(store->InTransaction());
    store->RollbackTransaction();
    EXPECT_EQ(Inbox("bob").size(), 0u);
}

} // namespace
