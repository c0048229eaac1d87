// The owner address lookup against a directory double: the mailbox name taken from the item URL,
// the query it asks, the SMTP addresses it keeps, escaping of hostile mailbox names, and failures
// that end in no addresses.

#include "sink/LorvantaModule.h"

#include "platform/core/Error.h"
#include "platform/directory/SystemInfo.h"
#include "testsupport/FakeDirectory.h"

#include <gtest/gtest.h>

#include <optional>

using lorvanta::GetOwnerAddresses;
using platform::Variant;
using Texts = Variant::TextArray;

namespace {

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

class Computer : public platform::directory::WinNTSystemInfo {
public:
    explicit Computer(std::string name) : name_(std::move(name)) {}
    std::string ComputerName() override {
        if (name_.empty())
            throw platform::Error(platform::hr::E_FAIL, "injected failure: no computer name");
        return name_;
    }

private:
    std::string name_;
};

class OwnerAddresses : public ::testing::Test {
protected:
    doubles::FakeDirectory directory;
    doubles::FakeDirectoryState& state = directory.state();
    std::string computerName = "MAIL01";
    platform::ScopedObjectFactory computer{
        "WinNTSystemInfo", [this] { return std::make_shared<Computer>(computerName); }};
};

TEST_F(OwnerAddresses, AsksOnlyForMailboxesOnThisServer) {
    // A contact or another server's user whose mail address shares the name must not lend the
    // owner their addresses; without the computer name any entry with a mailbox qualifies.
    struct Case {
        std::string computer;
        std::string homeServer;
    } cases[] = {{"MAIL01", "*/cn=MAIL01"}, {"mail(2)*", "*/cn=mail\\282\\29\\2A"}, {"", "*"}};
    for (const auto& c : cases) {
        computerName = c.computer;
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
