// Reads of numbered items for mail clients: the properties of many items at once, in the order
// asked, and an octet range of one text value.

#include "TempStore.h"

#include "platform/store/Delivery.h"

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

class NumberedReadsTest : public TempStore {
protected:
    void SetUp() override {
        TempStore::SetUp();
        for (const auto* body : {"first body\n", "0123456789\n", "third\n"})
            DeliverMessage(*store, kFileBase + "/alice", std::string("Subject: s\n\n") + body);
        inbox = store->Locate(kFileBase + "/alice/Inbox").key;
    }
    std::string inbox;
};

TEST_F(NumberedReadsTest, PropertiesOfNumbersComeInTheOrderAskedWithNothingForTheGone) {
    const auto items =
        store->PropertiesOfNumbers(inbox, {3, 9, 1, 3}, {kTextDescription, "urn:nothing:such"});
    ASSERT_EQ(items.size(), 4u);
    ASSERT_TRUE(items[0] && items[2] && items[3]);
    EXPECT_FALSE(items[1]);
    EXPECT_EQ(items[0]->at(kTextDescription).Text(), "third\r\n");
    EXPECT_EQ(items[2]->at(kTextDescription).Text(), "first body\r\n");
    EXPECT_EQ(items[3]->at(kTextDescription).Text(), "third\r\n");
    // Only the names asked for.
    EXPECT_EQ(items[0]->size(), 1u);
    // Numbers of another folder are not this folder's.
    const auto other = store->Locate(kFileBase + "/bob/Inbox").key;
    EXPECT_FALSE(store->PropertiesOfNumbers(other, {1}, {kTextDescription}).front());
}

TEST_F(NumberedReadsTest, TextRangeCutsTheStoredOctets) {
    struct Case {
        std::uint64_t offset, count;
        std::string expect;
    };
    const Case cases[] = {
        {0, 4, "0123"},
        {3, 2, "34"},
        {10, 100, "\r\n"}, // beyond the end: what there is
        {12, 5, ""},       // at the end
        {1000, 5, ""},     // past the end
        {2, 0, ""},        // nothing asked
        {0, ~0ull, "0123456789\r\n"},
        {~0ull, 1, ""},
    };
    for (const auto& c : cases) {
        const auto got = store->TextRange(inbox, 2, kTextDescription, c.offset, c.count);
        ASSERT_TRUE(got) << c.offset;
        EXPECT_EQ(*got, c.expect) << c.offset << "." << c.count;
    }
    // A property the item lacks, or one that is not a text, reads as empty; a gone item as
    // nothing.
    EXPECT_EQ(store->TextRange(inbox, 2, "urn:nothing:such", 0, 5), "");
    EXPECT_EQ(store->TextRange(inbox, 2, kIsHidden, 0, 5), "");
    EXPECT_EQ(store->TextRange(inbox, 7, kTextDescription, 0, 5), std::nullopt);
}

} // namespace
