// The setup program's rules, on stand-ins.

#include "platform/core/Error.h"
#include "platform/core/Provider.h"
#include "setup/BatchSwitch.h"
#include "setup/IdentityProposal.h"
#include "setup/MailboxRegistrations.h"
#include "setup/MailboxRowRules.h"
#include "setup/MailboxSite.h"
#include "setup/Twips.h"

#include <gtest/gtest.h>

using namespace lorvanta::setup;

namespace {

const std::string kHome = "/o=Org/ou=First Group/cn=Configuration/cn=Servers/cn=MAIL01";

TEST(PlaceMailboxRow, SortsEachRowIntoItsList) {
    using L = MailboxList;
    struct Case {
        const char* what;
        DirectoryRow row;
        bool showDisabled;
        bool disabled;
        std::int16_t state; // what the lookup answers
        L list;
        std::string entry;
        std::vector<std::string> lookUps; // "alias|local part|folder"
    };
    // clang-format off
    const Case cases[] = {
        {"registered", {"Ann", kHome, "ann", "ann@x.org"}, false, false, 1,
         L::UnregisterSelected, "Ann / MAIL01 / ann@x.org / ann", {"ann|ann|inbox"}},
        {"not registered", {"Ann", kHome, "ann", "ann@x.org"}, false, false, 0,
         L::RegisterSelected, "Ann / MAIL01 / ann@x.org / ann", {"ann|ann|inbox"}},
        {"lookup failed", {"Ann", kHome, "ann", "ann@x.org"}, false, false, -1,
         L::RegisterSelected, "Ann / MAIL01 / ann@x.org / ann", {"ann|ann|inbox"}},
        {"other server", {"Bo", "/o=Org/cn=MAIL02", "bo", "bo@x.org"}, true, false, 1,
         L::None, "", {}},
        {"no home server", {"Bo", "", "bo", "bo@x.org"}, true, false, 1, L::None, "", {}},
        {"home server ending in CN=", {"Bo", "/o=Org/cn=MAIL01/cn=", "bo", "bo@x.org"}, true,
         false, 1, L::None, "", {}},
        {"address beginning with @", {"Cy", kHome, "cy", "@x.org"}, false, false, 0,
         L::RegisterSelected, "Cy / MAIL01 / @x.org / cy", {"cy|@x.org|inbox"}},
        {"no address", {"Di", kHome, "di", ""}, false, false, 1,
         L::UnregisterSelected, "Di / MAIL01 /  / di", {"di||inbox"}},
        {"system mailbox, lower case", {"SMB", kHome, "systemmailbox{1}", "s@x.org"}, false,
         false, 1, L::UnregisterStoreWide, "SMB / MAIL01 / s@x.org / systemmailbox{1}",
         {"systemmailbox{1}|s|StoreEvents/GlobalEvents"}},
        {"system mailbox, upper case, disabled", {"SMB", kHome, "SYSTEMMAILBOX{2}", "t@x.org"},
         false, true, 0, L::RegisterStoreWide, "SMB / MAIL01 / t@x.org / SYSTEMMAILBOX{2}",
         {"SYSTEMMAILBOX{2}|t|StoreEvents/GlobalEvents"}},
        {"no brace: an ordinary mailbox", {"SM", kHome, "SystemMailbox", "u@x.org"}, false,
         false, 0, L::RegisterSelected, "SM / MAIL01 / u@x.org / SystemMailbox",
         {"SystemMailbox|u|inbox"}},
        {"disabled and registered, shown", {"Ed", kHome, "ed", "ed@x.org"}, true, true, 1,
         L::RegisterSelected, "Ed [***DISABLED***] / MAIL01 / ed@x.org / ed", {}},
        {"disabled and registered, hidden", {"Ed", kHome, "ed", "ed@x.org"}, false, true, 1,
         L::None, "", {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::vector<std::string> lookUps;
        const auto placement = PlaceMailboxRow(
            c.row, "mail01", c.showDisabled, [&] { return c.disabled; },
            [&](const std::string& alias, const std::string& localPart,
                const std::string& folderName) {
                lookUps.push_back(alias + "|" + localPart + "|" + folderName);
                return c.state;
            });
        EXPECT_EQ(placement.list, c.list) << c.what;
        EXPECT_EQ(placement.entry, c.entry) << c.what;
        EXPECT_EQ(lookUps, c.lookUps) << c.what;
    }
}

TEST(SiteFor, NamesTheComputerAndTheDomainFolder) {
    struct Case {
        std::string netBios, domain;
        std::vector<std::string> entries;
        MailboxSite site;
    };
    // clang-format off
    const Case cases[] = {
        {"MAIL01", "Corp.Example.COM", {"mail.example.org", "second.example.net"},
         {"mail01.corp.example.com", "mail01",
          "http://mail01.corp.example.com/exadmin/mail.example.org/mbx",
          "file://./backofficestorage/mail.example.org/mbx"}},
        {"MAIL01", "corp.com", {""},
         {"mail01.corp.com", "mail01", "http://mail01.corp.com/exadmin/corp.com/mbx",
          "file://./backofficestorage/corp.com/mbx"}},
        {"", "corp.com", {},
         {".corp.com", ".corp.com", "http://.corp.com/exadmin/corp.com/mbx",
          "file://./backofficestorage/corp.com/mbx"}},
    };
    // clang-format on
    const auto names = [](const MailboxSite& site) {
        return std::vector{site.computerName, site.shortComputerName, site.folderUrl,
                           site.fileFolderUrl};
    };
    for (const auto& c : cases)
        EXPECT_EQ(names(SiteFor(c.netBios, c.domain, c.entries)), names(c.site)) << c.domain;
}

// The subjects of the log's lines, newest first.
std::vector<std::string> LoggedSubjects(const std::string& log) {
    std::vector<std::string> subjects;
    for (auto at = log.find("] "); at != std::string::npos; at = log.find("] ", at + 2)) {
        const auto end = log.find(" - ERROR: ", at);
        subjects.push_back(log.substr(at + 2, end - at - 2));
    }
    return subjects;
}

const MailboxSite kSite{"mail01.example.com", "mail01",
                        "http://mail01.example.com/exadmin/example.com/mbx",
                        "file://./backofficestorage/example.com/mbx"};
const std::string H = kSite.folderUrl + "/";
const std::string F = kSite.fileFolderUrl + "/";

enum class Operation { Register, Unregister, LookUp };

TEST(MailboxRegistrations, TryEachUrlFormInTurnAndLogOnlyTheLastOfEachKind) {
    struct Case {
        Operation operation;
        std::string entry;
        std::vector<std::string> tried;
        std::vector<std::string> logged; // newest first
    };
    const Case cases[] = {
        {Operation::Register,
         "Bo / Sales / MAIL01 / bo@example.net / bo1",
         {"file://./backofficestorage/example.net/mbx/bo",
          "http://mail01.example.com/exadmin/example.net/mbx/bo", F + "bo", H + "bo", F + "bo1",
          H + "bo1"},
         {H + "bo1"}},
        {Operation::Register,
         "No At / MAIL01 / justtext / noat",
         {"file://./backofficestorage/justtext/mbx/justtext",
          "http://mail01.example.com/exadmin/justtext/mbx/justtext", F + "justtext", H + "justtext",
          F + "noat", H + "noat"},
         {H + "noat"}},
        {Operation::Register, "Empty Mail / MAIL01 /  / em", {F + "em", H + "em"}, {H + "em"}},
        {Operation::Register,
         "No Alias / MAIL01 / rna@example.com / ",
         {"file://./backofficestorage/example.com/mbx/rna",
          "http://mail01.example.com/exadmin/example.com/mbx/rna", F + "rna", H + "rna"},
         {H + "rna"}},
        {Operation::Unregister,
         "Ann Lee / MAIL01 / ann.lee@mail.example.org / alee",
         {H + "ann.lee", H + "alee", F + "alee", F + "ann.lee"},
         {F + "alee", H + "alee"}},
        {Operation::Unregister, "No Alias / MAIL01 / na@example.com / ", {H + "na", F + "na"}, {}},
        {Operation::LookUp,
         "Ann / MAIL01 / ann@example.com / alee",
         {H + "alee", F + "alee", H + "ann", F + "ann"},
         {F + "ann"}},
        {Operation::LookUp, "Ann / MAIL01 /  / alee", {H + "alee", F + "alee"}, {F + "alee"}},
        // The state starts at 0: without an alias the local part is never looked up.
        {Operation::LookUp, "Ann / MAIL01 / ann@example.com / ", {}, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> tried; // a store that fails every connection, noting its URL
        const platform::ado::ScopedProvider store(
            "ExOLEDB.DataSource",
            [&](const std::string& url, const std::string&,
                const std::string&) -> std::unique_ptr<platform::ado::ProviderSession> {
                tried.push_back(url);
                throw platform::Error(platform::hr::E_FAIL, "store unavailable");
            });
        TextErrorLog log;
        const auto entry = ParseMailboxEntry(c.entry);
        if (c.operation == Operation::Register) {
            RegisterMailbox(log, kSite, entry, "inbox", "SHALLOW");
        } else if (c.operation == Operation::Unregister) {
            UnregisterMailbox(log, kSite, entry, "inbox");
        } else {
            std::shared_ptr<platform::ado::Connection> none;
            const auto localPart =
                entry.mailAddress.empty() ? "" : MailLocalPart(entry.mailAddress);
            EXPECT_EQ(LookUpRegistration(log, kSite, entry.alias, localPart, "inbox", none),
                      c.tried.empty() ? 0 : -1);
        }
        EXPECT_EQ(tried, c.tried) << c.entry;
        EXPECT_EQ(LoggedSubjects(log.Text()), c.logged) << c.entry;
    }
}

TEST(BatchSwitch, RecognisesTheSwitchInAnyCase) {
    struct Case {
        std::vector<std::string> arguments;
        bool batch;
    } cases[] = {
        {{"-b"}, true},     {{"-B"}, true},       {{"/b"}, true},   {{"/B"}, true},
        {{"/batch"}, true}, {{"-bx", "y"}, true}, {{"b"}, false},   {{"-"}, false},
        {{"/x"}, false},    {{}, false},          {{"--b"}, false}, {{"x", "-b"}, false},
        {{"  -b"}, true}, // leading blanks are not part of the switch
    };
    for (const auto& c : cases) {
        const auto text = ArgumentText(c.arguments);
        EXPECT_EQ(IsBatchSwitch(text), c.batch) << "[" << text << "]";
    }
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    struct Case {
        double value;
        long long rounded;
    } cases[] = {{12.5, 12},  {37.5, 38}, {0.5, 0},   {1.5, 2},   {2.4999, 2},
                 {2.5001, 3}, {-0.5, 0},  {-1.5, -2}, {-2.5, -2}, {100, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(RoundHalfEven(c.value), c.rounded) << c.value;
}

TEST(IdentityFromCategory, TakesTheDomainFromTheCategoryDn) {
    struct Case {
        const char* category;
        const char* identity;
    } cases[] = {
        {"CN=Person,CN=Schema,CN=Configuration,DC=a,DC=b,DC=c", "a.b.c\\ExAdmin"},
        {"CN=Person,CN=Schema,CN=Configuration,DC=example,DC=com", "example.com\\ExAdmin"},
        {"", "ExAdmin"},
        {"CN=Person,CN=Schema", "ExAdmin"},
        {"CN=Person,DC=", "ExAdmin"},
        {"CN=Person,DC=   ", "ExAdmin"},
        {"CN=Person,DC=my domain,DC=com", "mydomain.com\\ExAdmin"},
        {"cn=person,dc=a,dc=b", "a,dc=b\\ExAdmin"}, // lower-case separators are not joined
        {"CN=Person,DC=a,DC=b,OU=x", "a.b\\ExAdmin"},
        {"CN=x,DC=ab,OU=y", "ab\\ExAdmin"},
        {"CN=x,DC=a,OU=y", "a,OU=y\\ExAdmin"}, // a comma before the third character stays
    };
    for (const auto& c : cases)
        EXPECT_EQ(IdentityFromCategory(c.category, "ExAdmin"), c.identity) << c.category;
}

TEST(AccountQuery, IsTheFixedTextWithApostrophesDoubled) {
    EXPECT_EQ(AccountQuery("GC://dc01.example.com", "O'Brien"),
              "SELECT sAMAccountName, cn, objectCategory FROM 'GC://dc01.example.com' WHERE "
              "objectcategory='person' AND sAMAccountName='O''Brien'");
}

} // namespace
