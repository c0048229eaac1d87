// Stamping a message on record doubles, and its owner address lookup on a directory double.

#include "sink/LorvantaModule.h"

#include "platform/core/Error.h"
#include "platform/store/EventFlags.h"
#include "platform/store/PropertyNames.h"
#include "testsupport/FakeDirectory.h"
#include "testsupport/FakeEventInfo.h"
#include "testsupport/FakeRecord.h"

#include <gtest/gtest.h>

#include <optional>

using lorvanta::GetOwnerAddresses;
using lorvanta::StampMessage;
using platform::Variant;
using Texts = Variant::TextArray;
namespace store = platform::store;

namespace {

constexpr const char* kItemUrl = "file://./backofficestorage/example.com/MBX/alice/Inbox/m1.eml";
constexpr std::int32_t kDelivered =
    store::EVT_SYNC_BEGIN | store::EVT_IS_DELIVERED | store::EVT_NEW_ITEM;

const std::string& kHeaders = store::kTransportMessageHeaders;
const std::string& kAccount = store::kInternetAccountName;
const std::string& kKeywords = store::kKeywords;

// Parameter: whether the platform reports a missing property as an error or as an empty value.
class Stamp : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        record->missingPropertyFails = GetParam();
        info.record = record;
        directory.state().rows = {Texts{"SMTP:Alice@Example.com", "smtp:al@example.com",
                                        "X400:c=US;a= ;p=Ex;o=Org;s=Smith;"}};
        record->properties[kHeaders] =
            "From: bob@other.org\r\nTo: Someone <someone@other.org>, AL@EXAMPLE.COM\r\n"
            "Cc: alice@example.com\r\nSubject: hi\r\n";
    }

    bool Run(std::int32_t flags = kDelivered) { return StampMessage(&info, kItemUrl, flags); }

    bool Written(const std::string& name) const {
        return std::count(record->calls.begin(), record->calls.end(), "Write " + name) > 0;
    }

    doubles::FakeDirectory directory;
    std::shared_ptr<doubles::FakeRecord> record = std::make_shared<doubles::FakeRecord>();
    doubles::FakeEventInfo info;
};

TEST_P(Stamp, HeaderOrderBeatsDirectoryOrderAndTheDirectoryFormIsWritten) {
    EXPECT_TRUE(Run());
    EXPECT_EQ(record->properties[kAccount], Variant("al@example.com"));
    EXPECT_EQ(record->properties[kKeywords], Variant(Texts{"al@example.com"}));
    EXPECT_EQ(record->updates, 1);
    EXPECT_EQ(info.references, 1u) << "references to the event information are balanced";
    EXPECT_TRUE(info.abortCodes.empty());
    ASSERT_EQ(directory.state().queries.size(), 1u);
    EXPECT_NE(directory.state().queries[0].find("(mail=alice@*)"), std::string::npos);
}

TEST_P(Stamp, FlagsDecideWhetherAnythingHappens) {
    struct Case {
        std::int32_t flags;
        bool stamped;
    } cases[] = {
        {kDelivered, true},
        {store::EVT_IS_DELIVERED, true},
        {store::EVT_SYNC_BEGIN | store::EVT_NEW_ITEM, false},
        {kDelivered | store::EVT_IS_COLLECTION, false},
        {0, false},
    };
    for (const auto& c : cases) {
        record->calls.clear();
        record->properties.erase(kAccount);
        record->properties.erase(kKeywords);
        directory.state().queries.clear();
        EXPECT_TRUE(Run(c.flags));
        EXPECT_EQ(record->properties.count(kAccount) == 1, c.stamped) << c.flags;
        EXPECT_EQ(directory.state().queries.size(), c.stamped ? 1u : 0u) << c.flags;
        EXPECT_TRUE(c.stamped || record->calls.empty()) << c.flags;
    }
}

// An account name is written only where the item's has no text; keywords the item had are folded
// into one element before the address.
TEST_P(Stamp, AnAccountNameWithTextStaysAndOldKeywordsBecomeOneElement) {
    const std::string o = "al@example.com";
    struct Case {
        const std::string& property;
        std::optional<Variant> existing;
        Variant expected;
    } cases[] = {
        {kAccount, std::nullopt, Variant(o)},
        {kAccount, Variant::Null(), Variant(o)},
        {kAccount, Variant(""), Variant(o)},
        {kAccount, Variant("    "), Variant(o)},
        {kAccount, Variant("Work"), Variant("Work")},
        {kAccount, Variant("  Work "), Variant("  Work ")},
        {kKeywords, std::nullopt, Variant(Texts{o})},
        {kKeywords, Variant::Null(), Variant(Texts{o})},
        {kKeywords, Variant("Red"), Variant(Texts{o})},
        {kKeywords, Variant(Texts{}), Variant(Texts{o})},
        {kKeywords, Variant(Texts{"A", " ", "B"}), Variant(Texts{"A,B," + o})},
        {kKeywords, Variant(Texts{"", "   "}), Variant(Texts{o})},
        {kKeywords, Variant(Texts{" A "}), Variant(Texts{" A ," + o})},
        {kKeywords, Variant(Texts{o}), Variant(Texts{o + "," + o})},
    };
    for (const auto& c : cases) {
        record->properties.erase(kAccount);
        record->properties.erase(kKeywords);
        if (c.existing)
            record->properties[c.property] = *c.existing;
        Run();
        EXPECT_EQ(record->properties[c.property], c.expected) << c.property;
    }
}

TEST_P(Stamp, NothingIsWrittenWithoutAMatch) {
    struct Case {
        const char* name;
        std::optional<Variant> headers;
        std::vector<Variant> owners;
        bool queried;
    } cases[] = {
        {"no transport headers", std::nullopt, {Texts{"SMTP:a@x.org"}}, false},
        {"empty transport headers", Variant(""), {Texts{"SMTP:a@x.org"}}, false},
        {"headers without recipients", Variant("Subject: s\r\n"), {Texts{"SMTP:a@x.org"}}, true},
        {"owner without SMTP address", Variant("To: a@x.org\r\n"), {Texts{"X500:/o=x"}}, true},
        {"no common address", Variant("To: a@x.org\r\n"), {Texts{"SMTP:b@x.org"}}, true},
        {"empty entries never match",
         Variant("X-RecipientList: ,;;\r\n"),
         {Texts{"smtp:a@x.org"}},
         true},
        {"blank-led entry is not trimmed",
         Variant("X-RecipientList: b@y.org; a@x.org\r\n"),
         {Texts{"SMTP:a@x.org"}},
         true},
    };
    for (const auto& c : cases) {
        record->properties.clear();
        record->calls.clear();
        directory.state().queries.clear();
        if (c.headers)
            record->properties[kHeaders] = *c.headers;
        directory.state().rows = c.owners;
        EXPECT_TRUE(Run()) << c.name;
        EXPECT_FALSE(Written(kAccount)) << c.name;
        EXPECT_FALSE(Written(kKeywords)) << c.name;
        EXPECT_EQ(record->updates, 0) << c.name;
        EXPECT_EQ(directory.state().queries.size(), c.queried ? 1u : 0u) << c.name;
    }
}

// A failure at any platform call leaves the result true and the later steps still run.
TEST_P(Stamp, FailureAtEachPlatformCallIsSurvived) {
    struct Case {
        std::string failing;
        Variant account;  // expected afterwards (Empty: not written)
        Variant keywords; // expected afterwards (Empty: not written)
        int updates;
    } cases[] = {
        {"Read " + kAccount, "al@example.com", Texts{"Old,al@example.com"}, 1},
        {"Write " + kAccount, Variant(), Texts{"Old,al@example.com"}, 1},
        // Unreadable keywords count as not an array: the old ones are not carried over.
        {"Read " + kKeywords, "al@example.com", Texts{"al@example.com"}, 1},
        {"Write " + kKeywords, "al@example.com", Variant(), 1},
        {"Update", "al@example.com", Texts{"Old,al@example.com"}, 0},
    };
    for (const auto& c : cases) {
        record->properties.erase(kAccount);
        record->properties[kKeywords] = Texts{"Old"};
        record->updates = 0;
        record->failing = {c.failing};
        EXPECT_TRUE(Run()) << c.failing;
        const auto account =
            record->properties.count(kAccount) ? record->properties[kAccount] : Variant();
        EXPECT_EQ(account, c.account) << c.failing;
        const Variant keywords = c.keywords.IsEmpty() ? Variant(Texts{"Old"}) : c.keywords;
        EXPECT_EQ(record->properties[kKeywords], keywords) << c.failing;
        EXPECT_EQ(record->updates, c.updates) << c.failing;
        EXPECT_EQ(std::count(record->calls.begin(), record->calls.end(), "Update"),
                  std::ptrdiff_t{1})
            << c.failing << ": the update is always tried";
        record->calls.clear();
    }
}

TEST_P(Stamp, FailureBeforeTheHeadersAreReadLeavesTheItemAlone) {
    struct Case {
        const char* name;
        void (*breakIt)(doubles::FakeEventInfo&, doubles::FakeRecord&);
    } cases[] = {
        {"no scripting interface", [](auto& i, auto&) { i.offersDispInterface = false; }},
        {"event record fails", [](auto& i, auto&) { i.eventRecordFails = true; }},
        {"no event record", [](auto& i, auto&) { i.record.reset(); }},
        {"fields fail", [](auto&, auto& r) { r.failing = {"Fields"}; }},
        {"headers unreadable",
         [](auto&, auto& r) { r.failing = {"Read " + store::kTransportMessageHeaders}; }},
        {"headers not text",
         [](auto&, auto& r) { r.properties[store::kTransportMessageHeaders] = Texts{"x"}; }},
    };
    for (const auto& c : cases) {
        auto freshRecord = std::make_shared<doubles::FakeRecord>();
        freshRecord->properties = record->properties;
        doubles::FakeEventInfo freshInfo;
        freshInfo.record = freshRecord;
        c.breakIt(freshInfo, *freshRecord);
        EXPECT_TRUE(StampMessage(&freshInfo, kItemUrl, kDelivered)) << c.name;
        EXPECT_EQ(freshRecord->properties.count(kAccount), 0u) << c.name;
        EXPECT_EQ(freshRecord->updates, 0) << c.name;
        EXPECT_EQ(freshInfo.references, 1u) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(MissingProperty, Stamp, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "IsAnError" : "IsEmpty");
});

TEST(GetMailboxName, TakesTheSegmentTwoBeforeTheItem) {
    struct Case {
        const char* url;
        const char* mailbox;
    } cases[] = {
        {"file://./backofficestorage/example.com/MBX/alice/Inbox/msg-1.eml", "alice"},
        {"http://mail01/exadmin/example.com/mbx/bob.jones/Posteingang/x.eml", "bob.jones"},
        {"file://./backofficestorage/example.com/MBX/alice/Inbox/Sub/m.eml", "Inbox"},
        {"a/b/c", "a/b/c"},   // two separators after the first character only
        {"/a/b/c", "/a/b/c"}, // the third separator is the first character
        {"x/a/b/c", "a"},
        {"x//Inbox/item", ""}, // adjacent separators give an empty name
        {"noslash", "noslash"},
        {"", ""},
        {"file://./backofficestorage/d/MBX/alice/Inbox/", "alice"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lorvanta::GetMailboxName(c.url), c.mailbox) << c.url;
}

class OwnerAddresses : public ::testing::Test {
protected:
    doubles::FakeDirectory directory;
    doubles::FakeDirectoryState& state = directory.state();
};

TEST_F(OwnerAddresses, AsksOnlyForMailboxesOnThisServer) {
    // A contact or another server's user whose mail address shares the name must not lend the
    // owner their addresses; without the computer name any entry with a mailbox qualifies.
    struct Case {
        std::string computer;
        std::string homeServer;
    } cases[] = {{"MAIL01", "*/cn=MAIL01"}, {"mail(2)*", "*/cn=mail\\282\\29\\2A"}, {"", "*"}};
    for (const auto& c : cases) {
        state.computerName = c.computer;
        state.queries.clear();
        state.rows = {Texts{"SMTP:alice@example.com"}};
        EXPECT_EQ(GetOwnerAddresses("alice"), "alice@example.com") << c.computer;
        EXPECT_EQ(state.queries,
                  std::vector<std::string>{
                      "<LDAP://corp.example.com>;(&(objectClass=organizationalPerson)"
                      "(mail=alice@*)(msExchHomeServerName=" +
                      c.homeServer + "));proxyAddresses;subtree"})
            << c.computer;
    }
    EXPECT_EQ(state.closedRecordsets, 3);
    EXPECT_EQ(state.openSessions, 0) << "the connection is released at the end of the call";
}

TEST_F(OwnerAddresses, CollectsSmtpAddressesOnly) {
    struct Case {
        const char* name;
        std::vector<Variant> rows;
        std::string expected;
    } cases[] = {
        // Mixed prefixes and an X400 address as the directory holds them: the integration test.
        {"X500 and bare prefix skipped",
         {Texts{"X500:/o=Org/ou=Site/cn=lee", "smtp:", "SMTP", "sMtP:c@x.org", "smtpx:d@x.org"}},
         "c@x.org"},
        {"two entries, in directory order",
         {Texts{"smtp:contact@x.org"}, Texts{"SMTP:alice@x.org", "smtp:al@x.org"}},
         "contact@x.org,alice@x.org,al@x.org"},
        {"duplicates kept", {Texts{"SMTP:a@x.org", "smtp:a@x.org"}}, "a@x.org,a@x.org"},
        {"entry without proxy addresses contributes nothing",
         {Variant::Null(), Texts{"SMTP:b@x.org"}},
         "b@x.org"},
        {"a single text is not an array",
         {Variant("SMTP:a@x.org"), Texts{"smtp:b@x.org"}},
         "b@x.org"},
        {"no rows", {}, ""},
        {"empty array", {Texts{}}, ""},
    };
    for (const auto& c : cases) {
        state.rows = c.rows;
        EXPECT_EQ(GetOwnerAddresses("alice"), c.expected) << c.name;
    }
}

// Whatever fails, the lookup ends with the addresses it read before (none before the query), its
// connection released and the record set it opened closed.
TEST_F(OwnerAddresses, AFailureEndsTheLookupWithWhatWasReadBefore) {
    struct Case {
        const char* name;
        void (*breakIt)(doubles::FakeDirectoryState&); // null: the connection cannot be created
        std::size_t queries;
        std::string expected;
    } cases[] = {
        {"connection cannot be created", nullptr, 0, ""},
        {"connection cannot open", [](auto& s) { s.openFails = true; }, 0, ""},
        {"forest name unreadable", [](auto& s) { s.forestNameFails = true; }, 0, ""},
        {"query fails", [](auto& s) { s.executeFails = true; }, 1, ""},
        {"unreadable row is skipped", [](auto& s) { s.fieldFailsAtRow = 1; }, 1, "a@x.org,c@x.org"},
        {"end test fails: loop ends", [](auto& s) { s.eofFailsAtRow = 1; }, 1, "a@x.org"},
        {"move fails: loop ends", [](auto& s) { s.moveNextFailsAtRow = 1; }, 1, "a@x.org,b@x.org"},
    };
    for (const auto& c : cases) {
        doubles::FakeDirectory fresh;
        fresh.state().rows = {Texts{"SMTP:a@x.org"}, Texts{"SMTP:b@x.org"}, Texts{"SMTP:c@x.org"}};
        std::optional<platform::ScopedObjectFactory> broken;
        if (c.breakIt)
            c.breakIt(fresh.state());
        else
            broken.emplace("ADODB.Connection", []() -> std::shared_ptr<platform::Object> {
                throw platform::Error(platform::hr::REGDB_E_CLASSNOTREG, "not registered");
            });
        EXPECT_EQ(GetOwnerAddresses("alice"), c.expected) << c.name;
        EXPECT_EQ(fresh.state().queries.size(), c.queries) << c.name;
        EXPECT_EQ(fresh.state().openSessions, 0) << c.name;
        EXPECT_EQ(fresh.state().closedRecordsets, c.expected.empty() ? 0 : 1) << c.name;
    }
}

TEST_F(OwnerAddresses, HostileMailboxNamesAreEscapedInTheFilter) {
    struct Case {
        const char* mailbox;
        const char* filterValue;
    } cases[] = {
        {"*", "\\2A@*"},
        {"a*", "a\\2A@*"},
        {"x)(mail=*", "x\\29\\28mail=\\2A@*"},
        {"back\\slash", "back\\5Cslash@*"},
        {"o'neil", "o'neil@*"},
    };
    for (const auto& c : cases) {
        state.queries.clear();
        GetOwnerAddresses(c.mailbox);
        ASSERT_EQ(state.queries.size(), 1u);
        EXPECT_NE(state.queries[0].find(std::string("(mail=") + c.filterValue + ")"),
                  std::string::npos)
            << state.queries[0];
    }
}

} // namespace
