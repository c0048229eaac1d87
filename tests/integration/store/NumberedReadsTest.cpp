// The item numbers mail clients see, and reads of numbered items: the properties of many items at
// once, in the order asked, and an octet range of one text value.

#include "StoreFiles.h"
#include "TempStore.h"

#include "platform/store/Delivery.h"
#include "platform/store/PreparedSave.h"
#include "platform/store/PropertyNames.h"

#include <chrono>
#include <functional>
#include <optional>

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

// The numbers themselves: they ascend, are never given again, and outlast the store's
// connection; items without one get theirs in the order they were made.
class ItemNumbers : public TempStore {
protected:
    void Add(const std::string& name) {
        TempStore::Add(kInbox + "/" + name, {{kTextDescription, Variant("body of " + name)}});
    }
    void Reopen() {
        store.reset();
        store = OpenAnother();
    }
};

TEST_F(ItemNumbers, AscendNeverRepeatAndSurviveReopening) {
    for (const auto* name : {"a", "b", "c"})
        Add(name);
    store->Delete(kInbox + "/c"); // the highest number goes
    Add("d");
    Add("a"); // replacing an item makes a new one
    FolderNumbers first, again;
    EXPECT_EQ(Listing(kInbox, first), (Listed{{2, "b"}, {4, "d"}, {5, "a"}}));
    EXPECT_EQ(first.next, 6);
    Reopen();
    EXPECT_EQ(Listing(kInbox, again), (Listed{{2, "b"}, {4, "d"}, {5, "a"}}));
    EXPECT_EQ(again.validity, first.validity);
    EXPECT_EQ(again.next, 6);
}

TEST_F(ItemNumbers, ItemsOfAnOlderStoreAreNumberedInTheOrderTheyWereMade) {
    for (const auto* name : {"old1", "old2", "old3"})
        Add(name);
    // A store from before numbers: the tables exist (made on opening) but are empty.
    store.reset();
    for (const std::string table : {"item_numbers", "folder_numbers"})
        Query(root / "store" / "store.db", "DELETE FROM " + table);
    store = OpenAnother();
    FolderNumbers numbers;
    EXPECT_EQ(Listing(kInbox, numbers), (Listed{{1, "old1"}, {2, "old2"}, {3, "old3"}}));
    Add("new");
    EXPECT_EQ(Listing(kInbox, numbers).back(), Listed::value_type(4, "new"));
    EXPECT_EQ(OpenAnother()->NumbersOf(store->Locate(kInbox)).validity, numbers.validity);
}

std::int64_t SecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What a save tells of the number it gave, and the received time it stores with it.
TEST_F(ItemNumbers, ASaveGivesBackTheNumberAndStoresTheReceivedTimeItWasGiven) {
    Add("existing");
    const std::int64_t appended = 1234567890; // 2009-02-13T23:31:30Z
    // Saves a new item (or folder) `name` in the Inbox with the received time, if given.
    const auto saveNew = [&](const std::string& name, std::optional<std::int64_t> received,
                             bool folder = false) {
        auto save = store->NewItem(store->Locate(kInbox + "/" + name));
        if (received)
            save.received = *received;
        if (folder) {
            save.isFolder = true;
            save.Set(kIsFolder, Variant(true));
        }
        store->Save(save);
        return save.number;
    };
    const struct {
        const char* name;
        std::function<std::int64_t()> save;   // returns the number the save gave
        std::string item;                     // the item listed afterwards
        std::optional<std::int64_t> received; // unset: the time of the save
        bool numbered = true;                 // the save gives a number
    } rows[] = {
        {"a new item with its received time", [&] { return saveNew("appended", appended); },
         "appended", appended},
        {"a new item without one", [&] { return saveNew("now", std::nullopt); }, "now",
         std::nullopt},
        {"a new item replacing another", [&] { return saveNew("existing", 0); }, "existing", 0},
        {"a prepared save",
         [&] {
             auto save = store->NewItem(store->Locate(kInbox + "/prepared"));
             save.received = appended + 1;
             PreparedSave prepared(*store, std::move(save));
             prepared.Write(*store);
             prepared.Committed();
             return prepared.Save().number;
         },
         "prepared", appended + 1},
        // A save of an item that exists keeps its number and time.
        {"a change to an item",
         [&] {
             auto save = Edit(kInbox + "/appended", kRead, Variant(true));
             save.received = 42;
             store->Save(save);
             return save.number;
         },
         "appended", appended, false},
        {"a new folder", [&] { return saveNew("Folder", std::nullopt, true); }, "", std::nullopt,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto before = SecondsNow();
        const auto number = row.save();
        const auto after = SecondsNow();
        FolderNumbers numbers;
        const auto items = store->NumberedItems(store->Locate(kInbox), numbers, {kDisplayName});
        if (!row.numbered) {
            EXPECT_EQ(number, 0);
            EXPECT_EQ(numbers.next, items.back().number + 1); // nothing numbered
        } else {
            ASSERT_FALSE(items.empty());
            EXPECT_EQ(number, items.back().number);
            EXPECT_EQ(number, numbers.next - 1);
        }
        if (row.item.empty())
            continue;
        bool found = false;
        for (const auto& item : items) {
            if (item.item.properties.at(kDisplayName).Text() != row.item)
                continue;
            found = true;
            if (row.received)
                EXPECT_EQ(item.received, *row.received);
            else
                EXPECT_TRUE(item.received >= before && item.received <= after) << item.received;
        }
        EXPECT_TRUE(found);
    }
}

// The names asked for reach SQLite as JSON text, so names that need escaping there are tried.
TEST_F(ItemNumbers, NamesWithQuotesBackslashesAndControlCharactersAreRead) {
    const std::vector<std::string> names = {"x:say \"hi\"", "x:back\\slash", "x:line\nbreak",
                                            "x:tab\tand\x01\x1f"};
    PropertyMap properties;
    for (const auto& name : names)
        properties[name] = Variant("value of " + name);
    TempStore::Add(kInbox + "/odd", properties);
    FolderNumbers numbers;
    const auto items = store->NumberedItems(store->Locate(kInbox), numbers,
                                            {names[0], names[1], names[2]}, {names[3]});
    ASSERT_EQ(items.size(), 1u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(items[0].item.properties.at(names[i]).Text(), "value of " + names[i]);
    EXPECT_EQ(items[0].sizes.at(names[3]), static_cast<std::int64_t>(9 + names[3].size()));
    EXPECT_EQ(items[0].item.properties.count(names[3]), 0u);
    EXPECT_EQ(items[0].item.properties.count(kContentClass), 0u); // not asked for
}

} // namespace
