// Queries of the SQL dialect through "ADODB.Command" over a directory connection.

#include "platform/core/Ado.h"
#include "platform/core/Error.h"
#include "platform/core/Moniker.h"
#include "platform/core/Text.h"
#include "platform/directory/Ads.h"
#include "platform/directory/KeptEntries.h"
#include "testsupport/DirectoryEnvironment.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

#include <unicode/unistr.h>

#include <algorithm>

namespace {

using platform::Variant;
using platform::ado::Command;
using platform::ado::Connection;
using platform::ado::Recordset;
using testing_directory::DirectoryEnvironment;

std::string SearchRoot() {
    return "GC://" + DirectoryEnvironment::Current().Machine().globalCatalogHost;
}

std::shared_ptr<Connection> OpenDirectory() {
    auto connection = platform::CreateObjectAs<Connection>("ADODB.Connection");
    connection->SetProvider("adsDSOobject");
    connection->Open(SearchRoot(), "", "");
    return connection;
}

std::string MailboxQuery() {
    return "SELECT adspath, cn, msExchHomeServerName,mailNickName,mail FROM '" + SearchRoot() +
           "' WHERE objectcategory='person' AND MsExchMailboxGuid='*' ORDER BY cn";
}

using Properties = std::vector<std::pair<std::string, Variant>>;

const Properties kMailboxQueryProperties = {
    {"searchscope", Variant(2)}, {"cache results", Variant(true)}, {"Chase Referrals", Variant(96)},
    {"Page Size", Variant(100)}, {"Size Limit", Variant(30000)},   {"Timeout", Variant(120)}};

std::shared_ptr<Recordset> RunQuery(const std::string& text, const Properties& properties = {}) {
    auto command = platform::CreateObjectAs<Command>("ADODB.Command");
    command->SetActiveConnection(OpenDirectory());
    command->SetCommandText(text);
    for (const auto& [name, value] : properties)
        command->SetProperty(name, value);
    return command->Execute();
}

std::string Folded(const std::string& text) {
    std::string folded;
    icu::UnicodeString::fromUTF8(text).foldCase().toUTF8String(folded);
    return folded;
}

TEST(SqlDialectAgainstDirectory, MailboxQueryListsEveryMailboxInDisplayNameOrderThroughPaging) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    auto rows = RunQuery(MailboxQuery(), kMailboxQueryProperties);
    ASSERT_GT(sample.mailboxCount, 100u);
    EXPECT_EQ(rows->RecordCount(), static_cast<std::int64_t>(sample.mailboxCount));

    // The odd entries (no mail, no alias, " / " in the name) are checked where the setup
    // program lists them (InstallFormRoadTest).
    std::vector<std::string> names;
    for (; !rows->Eof(); rows->MoveNext()) {
        EXPECT_EQ(rows->Fields()->Count(), 5);
        names.push_back(rows->Fields()->Item("CN")->Value().Text());
    }
    EXPECT_EQ(names.size(), sample.mailboxCount);
    for (std::size_t i = 1; i < names.size(); ++i)
        EXPECT_LE(Folded(names[i - 1]), Folded(names[i])) << names[i - 1] << " / " << names[i];
}

TEST(SqlDialectAgainstDirectory, RowsOfASearchForPathsBindToTheSameEntries) {
    // While the record set is open its whole entries serve the binds to its rows; once it is
    // closed they are let go and binds read the server, with the same result.
    auto& kept = platform::directory::KeptEntries::Process();
    auto rows = RunQuery(MailboxQuery(), kMailboxQueryProperties);
    EXPECT_EQ(kept.Size(), DirectoryEnvironment::Current().Sample().mailboxCount);
    std::vector<std::pair<std::string, Variant>> mails;
    for (int row = 0; row < 20 && !rows->Eof(); ++row, rows->MoveNext()) {
        const auto path = rows->Fields()->Item("adspath")->Value().Text();
        auto user = platform::GetObjectAs<platform::directory::IADsUser>(path);
        EXPECT_EQ(user->ADsPath(), path);
        const auto mail = rows->Fields()->Item("mail")->Value();
        if (!mail.IsNull()) {
            EXPECT_EQ(user->Get("mail"), mail) << path;
        }
        EXPECT_NO_THROW(user->AccountDisabled()) << path;
        mails.emplace_back(path, mail);
    }
    rows->Close();
    EXPECT_EQ(kept.Size(), 0u);
    for (const auto& [path, mail] : mails)
        if (!mail.IsNull()) {
            EXPECT_EQ(platform::GetObjectAs<platform::directory::IADsUser>(path)->Get("mail"),
                      mail);
        }
}

TEST(SqlDialectAgainstDirectory, UncachedRowsStreamPageByPage) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    auto rows = RunQuery("SELECT mail FROM '" + SearchRoot() + "' WHERE MsExchMailboxGuid='*'",
                         {{"cache results", Variant(false)}, {"Page Size", Variant(40)}});
    EXPECT_EQ(rows->RecordCount(), -1);
    std::size_t counted = 0;
    for (; !rows->Eof(); rows->MoveNext())
        ++counted;
    EXPECT_EQ(counted, sample.mailboxCount);
}

TEST(SqlDialectAgainstDirectory, AQuoteInAValueIsMatchedLiterally) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    std::string quoted;
    for (char c : sample.quotedSurname)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    auto rows = RunQuery("SELECT cn, sn FROM '" + SearchRoot() + "' WHERE sn='" + quoted + "'");
    ASSERT_FALSE(rows->Eof());
    EXPECT_EQ(rows->Fields()->Item("cn")->Value(), Variant(sample.slashDisplayName));
    rows->MoveNext();
    EXPECT_TRUE(rows->Eof());
}

TEST(SqlDialectAgainstDirectory, MultiValuedAttributesAreAlwaysArrays) {
    const auto& sample = DirectoryEnvironment::Current().Sample();
    // The system mailbox has a single proxy address: still an array.
    auto rows = RunQuery("SELECT proxyAddresses, userAccountControl FROM '" + SearchRoot() +
                         "' WHERE mailNickname='" + sample.systemMailboxAlias + "'");
    ASSERT_FALSE(rows->Eof());
    const auto proxies = rows->Fields()->Item("proxyaddresses")->Value();
    ASSERT_TRUE(proxies.IsArray());
    EXPECT_EQ(proxies.Array().size(), 1u);
    EXPECT_EQ(rows->Fields()->Item(1)->Value(), Variant(512));
}

TEST(SqlDialectAgainstDirectory, TheSearchScopePropertyDecidesTheDepth) {
    const std::string usersRoot = "GC://dc01.corp.example.com/CN=Users,DC=corp,DC=example,DC=com";
    struct Case {
        int scope;
        bool expectUsersItself;
        bool expectPeople;
    } cases[] = {{0, true, false}, {1, false, true}, {2, true, true}};
    for (const auto& c : cases) {
        // Property names ignore letter case: the provider reads "searchscope".
        auto rows = RunQuery("SELECT cn FROM '" + usersRoot + "'",
                             {{"SearchScope", Variant(c.scope)}, {"Page Size", Variant(50)}});
        bool sawUsers = false, sawPeople = false;
        for (; !rows->Eof(); rows->MoveNext()) {
            const auto cn = rows->Fields()->Item("cn")->Value();
            (cn == Variant("Users") ? sawUsers : sawPeople) = true;
        }
        EXPECT_EQ(sawUsers, c.expectUsersItself) << "scope " << c.scope;
        EXPECT_EQ(sawPeople, c.expectPeople) << "scope " << c.scope;
    }
    const auto failure = testsupport::FailureOf([&] {
        RunQuery("SELECT cn FROM '" + usersRoot + "'", {{"searchscope", Variant(3)}});
    });
    EXPECT_EQ(failure.number, platform::hr::E_INVALIDARG) << "scope 3: " << failure.description;
}

} // namespace
