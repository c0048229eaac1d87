// Property values, name folding, database failures, and the item numbers mail clients see.

#include "platform/store/PropertyCodec.h"
#include "platform/core/Error.h"
#include "platform/store/Database.h"
#include "platform/store/Delivery.h"
#include "platform/store/FoldedName.h"
#include "platform/store/PreparedSave.h"
#include "platform/store/Store.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <optional>

using namespace platform;
using namespace platform::store;

namespace {

TEST(PropertyCodec, ValuesOfEveryKindSurviveEncodingAndDecoding) {
    for (const auto& value :
         {Variant(""), Variant("text"), Variant(true), Variant(false), Variant(0),
          Variant(static_cast<std::int64_t>(-9007199254740993)), Variant::Null(),
          Variant(Variant::TextArray{}), Variant(Variant::TextArray{""}),
          Variant(Variant::TextArray{"a,b", "12:x", "", "ünï"})}) {
        const auto encoded = EncodeValue(value);
        EXPECT_EQ(DecodeValue(encoded.kind, encoded.bytes), value);
    }
}

TEST(PropertyCodec, RefusesAnEmptyValue) {
    EXPECT_THROW(EncodeValue(Variant()), Error);
}

// No damaged length may wrap around or ask for more memory than the bytes hold.
TEST(PropertyCodec, DamagedBytesFailAsTheStoresError) {
    struct Case {
        const char* name;
        PropertyKind kind;
        std::string bytes;
    };
    const std::vector<Case> cases{
        {"length that wraps around", PropertyKind::TextArray, "18446744073709551595:abc"},
        {"length past the end", PropertyKind::TextArray, "1:a4:abc"},
        {"length beyond 64 bits", PropertyKind::TextArray, "99999999999999999999:a"},
        {"length not a number", PropertyKind::TextArray, "x:abc"},
        {"empty length", PropertyKind::TextArray, ":abc"},
        {"negative length", PropertyKind::TextArray, "-1:abc"},
        {"length with a sign", PropertyKind::TextArray, "+1:a"},
        {"length with blanks", PropertyKind::TextArray, " 1:a"},
        {"no colon", PropertyKind::TextArray, "1:a12"},
        {"integer not a number", PropertyKind::Integer, "twelve"},
        {"integer with trailing bytes", PropertyKind::Integer, "12x"},
        {"integer out of range", PropertyKind::Integer, "9223372036854775808"},
        {"empty integer", PropertyKind::Integer, ""},
        {"unknown kind", static_cast<PropertyKind>(77), "x"},
    };
    for (const auto& c : cases) {
        const auto failure = testsupport::FailureOf([&] { DecodeValue(c.kind, c.bytes); });
        EXPECT_EQ(failure.number, store::hr::STORE_E_DATABASE) << c.name;
        EXPECT_NE(failure.description.find("damaged"), std::string::npos) << c.name;
    }
}

TEST(FoldedName, FoldsAsciiAndOtherLetters) {
    EXPECT_EQ(FoldedName("Inbox"), FoldedName("INBOX"));
    EXPECT_EQ(FoldedName("ÄRGER"), FoldedName("ärger"));
    EXPECT_NE(FoldedName("Inbox"), FoldedName("Inbox2"));
    EXPECT_EQ(FoldedName("SystemMailbox{AB-12}"), "systemmailbox{ab-12}");
}

TEST(DatabaseErrors, NameTheCauseTheFileAndWhatWasBeingDone) {
    const testsupport::ScopedServerFolder folder;
    const auto file = folder.Path() / "store.db";
    store::Database database(file);
    const struct {
        int sqliteCode;
        std::int32_t number;
        const char* says;
    } cases[] = {
        // A full disk and a read-only file are met for real in StoreDiskFaultTest.
        {SQLITE_READONLY_RECOVERY, store::hr::E_ACCESSDENIED, "read-only"},
        {SQLITE_IOERR_WRITE, store::hr::STG_E_WRITEFAULT, "disk failed"},
        {SQLITE_IOERR_FSYNC, store::hr::STG_E_WRITEFAULT, "disk failed"},
        {SQLITE_IOERR_READ, store::hr::STG_E_READFAULT, "failed a read"},
        {SQLITE_IOERR_SHORT_READ, store::hr::STG_E_READFAULT, "failed a read"},
        {SQLITE_CORRUPT, store::hr::STORE_E_DATABASE, "failed while"},
        {SQLITE_BUSY, store::hr::STORE_E_DATABASE, "failed while"},
    };
    for (const auto& c : cases) {
        const auto error = store::DatabaseError(database.Handle(), c.sqliteCode, "saving an item",
                                                "the library's own words");
        EXPECT_EQ(error.Number(), c.number) << c.sqliteCode;
        for (const auto& part : {std::string(c.says), file.string(), std::string("saving an item"),
                                 std::string("the library's own words")})
            EXPECT_NE(error.Description().find(part), std::string::npos) << error.Description();
    }
}

const std::string kInbox = "file://./backofficestorage/example.com/mbx/alice/Inbox";

using Listed = std::vector<std::pair<std::int64_t, std::string>>;

class ItemNumbers : public ::testing::Test {
protected:
    void SetUp() override {
        auto store = Open();
        store->CreateDomainFolder("example.com");
        store->CreateMailbox("example.com", "alice");
    }

    std::shared_ptr<store::Store> Open() {
        return std::make_shared<store::Store>(dir_, store::ServerNames{"MAIL01", "example.com"});
    }
    static std::string Add(store::Store& store, const std::string& name) {
        auto save = store.NewItem(store.Locate(kInbox + "/" + name));
        save.Set("urn:schemas:httpmail:textdescription", platform::Variant("body of " + name));
        store.Save(save);
        return name;
    }
    // Number -> item name.
    static Listed Listing(store::Store& store, store::FolderNumbers& numbers) {
        Listed listing;
        for (const auto& numbered :
             store.NumberedItems(store.Locate(kInbox), numbers, {store::kDisplayName}))
            listing.emplace_back(numbered.number,
                                 numbered.item.properties.at(store::kDisplayName).Text());
        return listing;
    }

    testsupport::ScopedServerFolder folder_;

    const std::filesystem::path dir_ = folder_.Path();
};

TEST_F(ItemNumbers, AscendNeverRepeatAndSurviveReopening) {
    store::FolderNumbers first, again;
    {
        auto store = Open();
        for (const auto* name : {"a", "b", "c"})
            Add(*store, name);
        store->Delete(kInbox + "/c"); // the highest number goes
        Add(*store, "d");
        Add(*store, "a"); // replacing an item makes a new one
        EXPECT_EQ(Listing(*store, first), (Listed{{2, "b"}, {4, "d"}, {5, "a"}}));
        EXPECT_EQ(first.next, 6);
    }
    auto store = Open();
    EXPECT_EQ(Listing(*store, again), (Listed{{2, "b"}, {4, "d"}, {5, "a"}}));
    EXPECT_EQ(again.validity, first.validity);
    EXPECT_EQ(again.next, 6);
}

TEST_F(ItemNumbers, ItemsOfAnOlderStoreAreNumberedInTheOrderTheyWereMade) {
    {
        auto store = Open();
        for (const auto* name : {"old1", "old2", "old3"})
            Add(*store, name);
    }
    // A store from before numbers: the tables exist (made on opening) but are empty.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "store.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DELETE FROM item_numbers; DELETE FROM folder_numbers", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    auto store = Open();
    store::FolderNumbers numbers;
    EXPECT_EQ(Listing(*store, numbers), (Listed{{1, "old1"}, {2, "old2"}, {3, "old3"}}));
    Add(*store, "new");
    EXPECT_EQ(Listing(*store, numbers).back(), Listed::value_type(4, "new"));
    const auto validity = numbers.validity;
    EXPECT_EQ(Open()->NumbersOf(store->Locate(kInbox)).validity, validity);
}

std::int64_t SecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What a save tells of the number it gave, and the received time it stores with it.
TEST_F(ItemNumbers, ASaveGivesBackTheNumberAndStoresTheReceivedTimeItWasGiven) {
    auto store = Open();
    Add(*store, "existing");
    const std::int64_t appended = 1234567890; // 2009-02-13T23:31:30Z
    // Saves a new item (or folder) `name` in the Inbox with the received time, if given.
    const auto saveNew = [&](const std::string& name, std::optional<std::int64_t> received,
                             bool folder = false) {
        auto save = store->NewItem(store->Locate(kInbox + "/" + name));
        if (received)
            save.received = *received;
        if (folder) {
            save.isFolder = true;
            save.Set(store::kIsFolder, platform::Variant(true));
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
             store::PendingSave save;
             save.location = store->Locate(kInbox + "/appended");
             save.properties = store->Read(save.location).properties;
             save.received = 42;
             save.Set(store::kRead, platform::Variant(true));
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
        store::FolderNumbers numbers;
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
    auto store = Open();
    auto save = store->NewItem(store->Locate(kInbox + "/odd"));
    for (const auto& name : names)
        save.Set(name, platform::Variant("value of " + name));
    store->Save(save);
    store::FolderNumbers numbers;
    const auto items = store->NumberedItems(store->Locate(kInbox), numbers,
                                            {names[0], names[1], names[2]}, {names[3]});
    ASSERT_EQ(items.size(), 1u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(items[0].item.properties.at(names[i]).Text(), "value of " + names[i]);
    EXPECT_EQ(items[0].sizes.at(names[3]), static_cast<std::int64_t>(9 + names[3].size()));
    EXPECT_EQ(items[0].item.properties.count(names[3]), 0u);
    EXPECT_EQ(items[0].item.properties.count(store::kContentClass), 0u); // not asked for
}

} // namespace
