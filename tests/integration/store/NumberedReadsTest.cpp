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
            DeliverMessage(*store, kMailbox, std::string("Subject: s\n\n") + body);
        inbox = store->Locate(kInbox).key;
    }
    std::string inbox;
};

// Both reads of many items: in the order asked, only the names asked for (a text for each name,
// empty for none such), nothing for a number that is gone or another folder's.
TEST_F(NumberedReadsTest, PropertiesAndTextsOfNumbersComeInTheOrderAskedWithNothingForTheGone) {
    const std::vector<std::int64_t> asked{3, 9, 1, 3};
    const auto items = store->PropertiesOfNumbers(inbox, asked, {kTextDescription, "urn:none"});
    const auto texts =
        store->TextsOfNumbers(inbox, asked, {"urn:none", kTextDescription, kSubject});
    ASSERT_EQ(items.size(), 4u);
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_FALSE(items[1] || texts[1]);
    const char* bodies[] = {"third\r\n", "", "first body\r\n", "third\r\n"};
    for (const auto at : {0, 2, 3}) {
        ASSERT_TRUE(items[at] && texts[at]) << at;
        EXPECT_EQ(*items[at], (PropertyMap{{kTextDescription, Variant(bodies[at])}})) << at;
        EXPECT_EQ(*texts[at], (std::vector<std::string>{"", bodies[at], "s"})) << at;
    }
    const auto other = store->Locate(kFileBase + "/bob/Inbox").key;
    EXPECT_FALSE(store->PropertiesOfNumbers(other, {1}, {kTextDescription}).front());
    EXPECT_FALSE(store->TextsOfNumbers(other, {1}, {kTextDescription}).front());
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
        {(1ull << 32) + 3, 2, ""}, // not the octets at 3
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

// A value of many database pages, read in parts from its start, across pages and to its end.
TEST_F(NumberedReadsTest, TextRangeOfALargeValueIsThatPartOfIt) {
    std::string body;
    for (int line = 0; body.size() < 300000; ++line)
        body += std::to_string(line) + " of the lines\n";
    DeliverMessage(*store, kMailbox, "Subject: large\n\n" + body);
    const auto stored = store->PropertiesOfNumbers(inbox, {4}, {kTextDescription})
                            .front()
                            ->at(kTextDescription)
                            .Text();
    for (const auto& [offset, count] :
         {std::pair<std::size_t, std::size_t>{0, 65536}, {100001, 70000}, {stored.size() - 7, 100}})
        EXPECT_EQ(store->TextRange(inbox, 4, kTextDescription, offset, count),
                  stored.substr(offset, count))
            << offset;
}

TEST_F(NumberedReadsTest, ItemsChangedSinceACountAreReadAloneWithTheNumbersThatAreLeft) {
    const auto folder = store->Locate(kInbox);
    FolderNumbers numbers;
    std::vector<std::int64_t> present;
    const auto since = store->NumbersOf(folder).changes;
    EXPECT_TRUE(
        store->NumberedItemsChangedSince(folder, since, numbers, present, {kSubject}).empty());
    EXPECT_EQ(present, (std::vector<std::int64_t>{1, 2, 3}));
    // The second saved, the third removed, a fourth made.
    Change(store->UrlOf(*store->KeyOfNumber(inbox, 2), folder.url), kSubject,
           Variant(std::string("changed")));
    store->DeleteItems(folder.Url(), {3});
    DeliverMessage(*store, kMailbox, "Subject: new\n\nfourth\n");
    const auto changed =
        store->NumberedItemsChangedSince(folder, since, numbers, present, {kSubject});
    EXPECT_EQ(present, (std::vector<std::int64_t>{1, 2, 4}));
    ASSERT_EQ(changed.size(), 2u);
    EXPECT_EQ(changed[0].number, 2);
    EXPECT_EQ(changed[0].item.properties.at(kSubject).Text(), "changed");
    EXPECT_EQ(changed[1].number, 4);
    EXPECT_EQ(numbers.changes, store->NumbersOf(folder).changes);
    // From the count before any of it: everything.
    EXPECT_EQ(store->NumberedItemsChangedSince(folder, -1, numbers, present, {}).size(), 3u);
}

} // namespace
