// The exhost commands run as a separate program against a server folder with its directory
// running, as scripts run them.

#include "MailboxBackend.h"
#include "MailboxDelivery.h"
#include "testsupport/ExhostRunner.h"
#include "testsupport/ScopedServerFolder.h"

#include "platform/directory/SampleDirectory.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

using namespace exhost_test;
namespace fs = std::filesystem;

namespace {

const std::string kDomain = "lv.test";
const std::string kComputer = "MAILX";
constexpr std::size_t kUsers = 5;
constexpr std::uint32_t kSeed = 7;

std::string MailboxUrl(const std::string& alias) {
    return "file://./backofficestorage/" + kDomain + "/mbx/" + alias;
}

QJsonObject ParseObject(const std::string& json) {
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n"
                                                     << json;
    return document.object();
}

std::string Text(const QJsonValue& value) {
    return value.toString().toStdString();
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

void WriteFile(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string HomeServer(const std::string& computer = kComputer) {
    return platform::directory::HomeServerValue(computer);
}

// A mailbox entry on `server` (or, when that is empty, an external contact) with the address.
std::string EntryLdif(const std::string& cn, const std::string& alias, const std::string& address,
                      const std::string& server = kComputer) {
    std::string ldif = "dn: CN=" + cn + ",CN=Users,DC=lv,DC=test\n";
    for (const auto* objectClass : {"top", "person", "organizationalPerson"})
        ldif += "objectClass: " + std::string(objectClass) + "\n";
    if (server.empty())
        ldif += "objectClass: contact\n";
    else
        ldif += "objectClass: inetOrgPerson\nobjectClass: adRecipient\nmsExchHomeServerName: " +
                HomeServer(server) + "\n";
    return ldif + "cn: " + cn + "\nsn: " + cn + "\nmailNickname: " + alias +
           "\nproxyAddresses: SMTP:" + address + "\n";
}

// One initialised server folder with its directory running, shared by the tests of the suite.
class ExhostServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<testsupport::ScopedServerFolder>();
        initResult = RunExhost({"init", "--root", folder->Root(), "--domain", kDomain, "--computer",
                                kComputer, "--users", std::to_string(kUsers), "--seed",
                                std::to_string(kSeed)});
        startResult = RunExhost({"directory", "start", "--root", folder->Root()});
        platform::directory::SampleDirectorySettings settings;
        settings.forestDnsName = kDomain;
        settings.computerName = kComputer;
        settings.users = kUsers;
        settings.seed = kSeed;
        sample = platform::directory::GenerateSampleDirectory(settings);
    }
    static void TearDownTestSuite() { folder.reset(); }

    void SetUp() override {
        ASSERT_EQ(initResult.exitCode, 0) << initResult.err;
        ASSERT_EQ(startResult.exitCode, 0) << startResult.err;
    }

    static RunResult Run(std::vector<std::string> arguments) {
        arguments.push_back("--root");
        arguments.push_back(folder->Root());
        return RunExhost(arguments);
    }

    static std::size_t InboxSize(const std::string& alias) {
        auto store = platform::store::Store::Open(platform::host::ServerFolder(folder->Path()));
        return store->Children(store->Locate(MailboxUrl(alias) + "/Inbox"), false).size();
    }

    static std::unique_ptr<testsupport::ScopedServerFolder> folder;
    static RunResult initResult, startResult;
    static platform::directory::SampleDirectory sample;
};

std::unique_ptr<testsupport::ScopedServerFolder> ExhostServer::folder;
RunResult ExhostServer::initResult, ExhostServer::startResult;
platform::directory::SampleDirectory ExhostServer::sample;

TEST_F(ExhostServer, InitWritesItsNamesAMailboxForEveryLocalUserAndTheSystemMailbox) {
    const auto names = platform::host::ServerFolder(folder->Path()).ReadMachineNames();
    EXPECT_EQ(names.computerName, kComputer);
    EXPECT_EQ(names.domainDnsName, kDomain);
    EXPECT_EQ(names.forestDnsName, kDomain);
    EXPECT_EQ(names.globalCatalogHost, "dc01." + kDomain);
    EXPECT_EQ(names.directoryUri.rfind("ldapi://", 0), 0u) << names.directoryUri;

    auto store = platform::store::Store::Open(platform::host::ServerFolder(folder->Path()));
    EXPECT_EQ(store->DomainFolders(), std::vector<std::string>{kDomain});
    const auto mailboxes = store->Mailboxes(kDomain);
    const auto has = [&](const std::string& alias) {
        return std::find(mailboxes.begin(), mailboxes.end(), alias) != mailboxes.end();
    };
    for (const auto& alias : sample.localAliases)
        EXPECT_TRUE(has(alias)) << alias;
    for (const auto& alias : sample.otherServerAliases)
        EXPECT_FALSE(has(alias)) << alias;
    EXPECT_EQ(store->GlobalEventFolders().size(), 1u);

    const auto system = std::find_if(mailboxes.begin(), mailboxes.end(), [](const auto& alias) {
        return alias.rfind("SystemMailbox{", 0) == 0;
    });
    ASSERT_NE(system, mailboxes.end());
    const auto message = folder->Path() / "system.eml";
    WriteFile(message, "Subject: to the system mailbox\n\nhello\n");
    // The directory resolves the address to the store's own system mailbox, which has no Inbox
    // to deliver into: the failure names that very mailbox.
    const auto result = Run({"deliver", "--rcpt", *system + "@" + kDomain, message.string()});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("/mbx/" + *system + "\" has no Inbox"), std::string::npos)
        << result.err;
}

TEST_F(ExhostServer, DeliverResolvesEverySmtpProxyAddressToItsMailbox) {
    const auto& alias = sample.localAliases.front();
    const auto message = folder->Path() / "proxy.eml";
    WriteFile(message, "Subject: via proxy\n\nbody\n");
    for (const auto& proxy : sample.firstLocalProxyAddresses) {
        if (proxy.rfind("smtp:", 0) != 0 && proxy.rfind("SMTP:", 0) != 0)
            continue;
        const auto result = Run({"deliver", "--rcpt", proxy.substr(5), message.string()});
        ASSERT_EQ(result.exitCode, 0) << proxy << ": " << result.err;
        EXPECT_EQ(result.out.rfind(MailboxUrl(alias) + "/Inbox/", 0), 0u) << result.out;
    }
}

TEST_F(ExhostServer, DeliverStoresOneItemForEachMailboxTheAddressesName) {
    const auto message = folder->Path() / "two.eml";
    WriteFile(message, "Subject: two\n\nbody\n");
    const auto& first = sample.localAliases[0];
    const auto& second = sample.localAliases[1];
    const auto before = InboxSize(first);
    const auto result =
        Run({"deliver", "--rcpt", first + "@" + kDomain, "--rcpt", second + "@" + kDomain, "--rcpt",
             first + "@MAIL." + kDomain, message.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto urls = Lines(result.out);
    ASSERT_EQ(urls.size(), 2u) << result.out;
    EXPECT_EQ(urls[0].rfind(MailboxUrl(first) + "/Inbox/", 0), 0u);
    EXPECT_EQ(urls[1].rfind(MailboxUrl(second) + "/Inbox/", 0), 0u);
    EXPECT_EQ(InboxSize(first), before + 1);
}

// How values are written (escapes, bytes that are not UTF-8) is JsonWriterTest's.
TEST_F(ExhostServer, ShowPrintsAnItemOrAFolderWithItsItems) {
    const auto alias = sample.localAliases[3];
    const std::string subject = "Quote \" backslash \\ tab\t \xC3\xA4 end";
    const auto message = folder->Path() / "escape.eml";
    WriteFile(message, "Subject: " + subject + "\n\nline one\nline two\n");
    const auto delivered = Run({"deliver", "--rcpt", alias + "@" + kDomain, message.string()});
    ASSERT_EQ(delivered.exitCode, 0) << delivered.err;
    const auto url = Lines(delivered.out).at(0);

    const auto shown = Run({"show", url, "--json"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    const auto item = ParseObject(shown.out);
    EXPECT_EQ(Text(item["url"]), url);
    EXPECT_FALSE(item["folder"].toBool());
    const auto properties = item["properties"].toObject();
    EXPECT_EQ(Text(properties["urn:schemas:httpmail:subject"]), subject);
    EXPECT_EQ(Text(properties["urn:schemas:httpmail:textdescription"]), "line one\r\nline two\r\n");
    EXPECT_FALSE(properties["DAV:ishidden"].toBool(true));

    const auto listed = Run({"show", MailboxUrl(alias) + "/Inbox", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    const auto folderJson = ParseObject(listed.out);
    EXPECT_TRUE(folderJson["folder"].toBool());
    const auto items = folderJson["items"].toArray();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(Text(items[0].toObject()["url"]), url);

    const auto text = Run({"show", MailboxUrl(alias) + "/Inbox"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("urn:schemas:httpmail:subject: " + subject), std::string::npos)
        << text.out;
}

TEST_F(ExhostServer, MailboxAddCreatesTheInboxAndItsAddress) {
    const auto added = Run({"mailbox", "add", "newbox"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    EXPECT_EQ(Lines(added.out).at(0), MailboxUrl("newbox"));

    const auto shown = Run({"show", MailboxUrl("newbox"), "--json"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    const auto inboxUrl =
        Text(ParseObject(shown.out)["properties"].toObject()["urn:schemas:httpmail:inbox"]);
    EXPECT_EQ(inboxUrl, MailboxUrl("newbox") + "/Inbox");
    const auto inbox = Run({"show", inboxUrl, "--json"});
    ASSERT_EQ(inbox.exitCode, 0) << inbox.err;
    EXPECT_TRUE(ParseObject(inbox.out)["folder"].toBool());

    const auto again = Run({"mailbox", "add", "NEWBOX"});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
}

TEST_F(ExhostServer, MailForPostmasterGoesToTheMailboxTheServerNames) {
    const auto postmaster =
        platform::host::ServerFolder(folder->Path()).ReadMachineNames().postmaster;
    ASSERT_EQ(postmaster, "postmaster");
    // The sample users have addresses in the subdomain "mail." as well.
    const auto message = folder->Path() / "postmaster.eml";
    WriteFile(message, "Subject: abuse report\n\nbody\n");
    for (const auto& address : {std::string("postmaster"), std::string("PostMaster"),
                                "POSTMASTER@" + kDomain, "postmaster@mail." + kDomain}) {
        const auto delivered = Run({"deliver", "--rcpt", address, message.string()});
        ASSERT_EQ(delivered.exitCode, 0) << address << ": " << delivered.err;
        EXPECT_EQ(delivered.out.rfind(MailboxUrl(postmaster) + "/Inbox/", 0), 0u) << delivered.out;
    }
}

// An entry added with "exhost ldif" resolves at once, in any letter case; one that has a postmaster
// address wins over the server's postmaster mailbox.
TEST_F(ExhostServer, LdifAddsEntriesThatDeliveryFindsAndAPostmasterEntryWins) {
    ASSERT_EQ(Run({"mailbox", "add", "branch.desk"}).exitCode, 0);
    const auto ldif = folder->Path() / "branch.ldif";
    WriteFile(ldif, EntryLdif("Branch Desk", "branch.desk", "postmaster@branch." + kDomain));
    ASSERT_EQ(Run({"ldif", ldif.string()}).exitCode, 0);
    const auto message = folder->Path() / "branch.eml";
    WriteFile(message, "Subject: branch\n\nbody\n");
    const auto delivered =
        Run({"deliver", "--rcpt", "PostMaster@Branch." + kDomain, message.string()});
    ASSERT_EQ(delivered.exitCode, 0) << delivered.err;
    EXPECT_EQ(delivered.out.rfind(MailboxUrl("branch.desk") + "/Inbox/", 0), 0u) << delivered.out;
}

TEST_F(ExhostServer, OnlyEntriesWithAMailboxHereResolveAnAddress) {
    // Both entries have the alias of a mailbox here; their addresses still are not its own.
    const auto ldif = folder->Path() / "strangers.ldif";
    WriteFile(
        ldif,
        EntryLdif("Partner Desk", sample.localAliases[1], "partner.desk@" + kDomain, "") + "\n" +
            EntryLdif("Remote Desk", sample.localAliases[1], "remote.desk@" + kDomain, "MAILY"));
    const auto added = Run({"ldif", ldif.string()});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    const auto message = folder->Path() / "strangers.eml";
    WriteFile(message, "Subject: to strangers\n\nbody\n");
    for (const auto& address : {"partner.desk@" + kDomain, "remote.desk@" + kDomain}) {
        const auto delivered = Run({"deliver", "--rcpt", address, message.string()});
        EXPECT_NE(delivered.exitCode, 0) << delivered.out;
        EXPECT_NE(delivered.err.find("no mailbox has the address"), std::string::npos)
            << delivered.err;
    }
}

// What the SMTP and LMTP fronts store, in-process: one copy per mailbox, postmaster taken, all
// or nothing for SMTP and each mailbox on its own for LMTP.
TEST_F(ExhostServer, TheSmtpBackendStoresOneCopyPerMailboxAllOrNothingAndEachForLmtp) {
    setenv(platform::host::kRootVariable, folder->Root().c_str(), 1);
    const exhost::MailboxDelivery delivery{platform::host::ServerFolder(folder->Path())};
    exhost::MailboxBackend backend(delivery);
    const auto& alias = sample.localAliases[2];
    const auto& doomed = sample.localAliases[4];
    const std::vector<std::string> recipients = {alias + "@" + kDomain, alias + "@mail." + kDomain,
                                                 "postmaster", "Postmaster@" + kDomain};
    for (const auto& address : recipients)
        ASSERT_EQ(backend.CheckRecipient(address).kind, exhost::smtp::Verdict::Kind::Accepted)
            << address;
    ASSERT_EQ(backend.CheckRecipient(doomed + "@" + kDomain).kind,
              exhost::smtp::Verdict::Kind::Accepted);
    const auto unknown = backend.CheckRecipient("nobody@" + kDomain);
    EXPECT_EQ(unknown.kind, exhost::smtp::Verdict::Kind::Permanent);
    EXPECT_NE(unknown.text.find("<nobody@" + kDomain + ">"), std::string::npos) << unknown.text;
    const auto before = InboxSize(alias), postmasterBefore = InboxSize("postmaster");
    const auto verdict =
        backend.Deliver({"s@partner.example", recipients}, "Subject: smtp once\r\n\r\nbody\r\n");
    ASSERT_EQ(verdict.kind, exhost::smtp::Verdict::Kind::Accepted) << verdict.text;
    EXPECT_EQ(InboxSize(alias), before + 1);
    EXPECT_EQ(InboxSize("postmaster"), postmasterBefore + 1);

    // A recipient's mailbox goes away between RCPT and the end of the message.
    platform::store::Store::Open(platform::host::ServerFolder(folder->Path()))
        ->Delete(MailboxUrl(doomed));
    const exhost::smtp::Envelope envelope{"s@partner.example",
                                          {recipients[0], doomed + "@" + kDomain, recipients[1]}};
    EXPECT_EQ(backend.Deliver(envelope, "Subject: half\r\n\r\n").kind,
              exhost::smtp::Verdict::Kind::Transient);
    EXPECT_EQ(InboxSize(alias), before + 1) << "the copy for the first recipient stayed";
    std::vector<exhost::smtp::Verdict::Kind> kinds;
    for (const auto& each : backend.DeliverEach(envelope, "Subject: each\r\n\r\n"))
        kinds.push_back(each.kind);
    unsetenv(platform::host::kRootVariable);
    EXPECT_EQ(kinds, (std::vector{exhost::smtp::Verdict::Kind::Accepted,
                                  exhost::smtp::Verdict::Kind::Transient,
                                  exhost::smtp::Verdict::Kind::Accepted}));
    EXPECT_EQ(InboxSize(alias), before + 2);
}

TEST_F(ExhostServer, RegEventWritesListsAndDeletesARegistration) {
    const auto inbox = MailboxUrl(sample.localAliases[1]) + "/Inbox";
    const auto added = Run({"regevent", "add", "--folder", inbox, "--name", "Probe.reg", "--event",
                            "onsyncsave", "--sink", "Probe.Sink", "--scope", "SHALLOW",
                            "--criteria", "WHERE \"DAV:ishidden\" = FALSE", "--priority", "7"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    EXPECT_EQ(Lines(added.out).at(0), inbox + "/Probe.reg");

    const auto shown = Run({"show", inbox + "/Probe.reg", "--json"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    const auto properties = ParseObject(shown.out)["properties"].toObject();
    const std::string events = "http://schemas.microsoft.com/exchange/events/";
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"DAV:contentclass", "urn:content-class:storeeventreg"},
             {events + "EventMethod", "onsyncsave"},
             {events + "SinkClass", "Probe.Sink"},
             {events + "MatchScope", "SHALLOW"},
             {events + "criteria", "WHERE \"DAV:ishidden\" = FALSE"},
             {events + "priority", "7"}})
        EXPECT_EQ(Text(properties[QString::fromStdString(name)]), value) << name;
    EXPECT_TRUE(properties["DAV:ishidden"].toBool(false));

    const auto listed = Run({"regevent", "list", "--folder", inbox, "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    QJsonParseError error;
    const auto list = QJsonDocument::fromJson(QByteArray::fromStdString(listed.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << listed.out;
    ASSERT_EQ(list.array().size(), 1);
    EXPECT_EQ(Text(list.array()[0].toObject()["name"]), "Probe.reg");
    EXPECT_EQ(Text(list.array()[0].toObject()["SinkClass"]), "Probe.Sink");

    const auto deleted = Run({"regevent", "delete", "--folder", inbox, "--name", "Probe.reg"});
    ASSERT_EQ(deleted.exitCode, 0) << deleted.err;
    const auto empty = Run({"regevent", "list", "--folder", inbox, "--json"});
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(empty.out)).array().size(), 0);
}

TEST_F(ExhostServer, ComPlusInstallListRemoveNeverShowsThePassword) {
    const auto install =
        RunExhost({"complus", "install", "Lorvanta", LORVANTA_DLL, "--root", folder->Root(),
                   "--identity", "example.com\\svc", "--password-stdin"},
                  {}, "Sup3r-secret\n");
    ASSERT_EQ(install.exitCode, 0) << install.err;
    const auto listed = Run({"complus", "list"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("Lorvanta.LorvantaCls"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("password: set"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("Sup3r-secret"), std::string::npos) << listed.out;
    EXPECT_EQ(fs::status(fs::path(folder->Root()) / "complus" / "applications").permissions() &
                  (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);

    const auto removed = Run({"complus", "remove", "LORVANTA"});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    const auto again = Run({"complus", "remove", "Lorvanta"});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_NE(again.err.find("Lorvanta"), std::string::npos) << again.err;
    const auto noPasswordIdentity = RunExhost(
        {"complus", "install", "X", LORVANTA_DLL, "--root", folder->Root(), "--password-stdin"});
    EXPECT_NE(noPasswordIdentity.exitCode, 0);
    EXPECT_NE(noPasswordIdentity.err.find("--identity"), std::string::npos);
}

TEST_F(ExhostServer, RootMayComeFromTheEnvironmentOrBeforeTheCommand) {
    auto result = RunExhost({"directory", "status"}, folder->Root());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("running"), std::string::npos) << result.out;

    result = RunExhost({"--root", folder->Root(), "directory", "status"});
    EXPECT_EQ(result.exitCode, 0) << result.err;

    // The command's own --root wins over the environment.
    result = RunExhost({"directory", "status", "--root", folder->Root()}, "/tmp/exh-none");
    EXPECT_EQ(result.exitCode, 0) << result.err;
}

// Bad input: every case must fail with a message that says what was wrong.
struct BadInput {
    const char* name;
    // "@ROOT@" and "@DIR@" stand for the server folder, "@MBX@" for the first mailbox's URL.
    std::vector<std::string> arguments;
    const char* expectedMessage;
};

class ExhostBadInput : public ExhostServer, public ::testing::WithParamInterface<BadInput> {};

TEST_P(ExhostBadInput, FailsWithAClearMessage) {
    const auto& param = GetParam();
    const auto good = folder->Path() / "good.eml";
    WriteFile(good, "Subject: fine\n\nbody\n");
    std::vector<std::string> arguments;
    for (auto argument : param.arguments) {
        for (const auto& [marker, value] :
             {std::pair<std::string, std::string>{"@ROOT@", folder->Root()},
              {"@DIR@", folder->Root()},
              {"@MBX@", MailboxUrl(sample.localAliases.front())}}) {
            for (auto at = argument.find(marker); at != std::string::npos;
                 at = argument.find(marker))
                argument.replace(at, marker.size(), value);
        }
        arguments.push_back(argument);
    }
    const auto result = RunExhost(arguments);
    EXPECT_NE(result.exitCode, 0) << result.out;
    EXPECT_NE(result.err.find(param.expectedMessage), std::string::npos) << result.err;
}

const std::string kInbox = "file://./backofficestorage/lv.test/mbx/nobody/Inbox";

INSTANTIATE_TEST_SUITE_P(
    Cases, ExhostBadInput,
    ::testing::Values(
        BadInput{"NoRoot", {"show", "file://./backofficestorage/lv.test/mbx/x"}, "--root"},
        BadInput{"NotAServerFolder", {"show", "file://./x", "--root", "/tmp"}, "exhost init"},
        BadInput{"UnknownAddress",
                 {"deliver", "--root", "@ROOT@", "--rcpt", "nobody@lv.test", "@DIR@/good.eml"},
                 "no mailbox has the address nobody@lv.test"},
        BadInput{"NotAnAddress",
                 {"deliver", "--root", "@ROOT@", "--rcpt", "nobody", "@DIR@/good.eml"},
                 "not a mail address"},
        BadInput{"UnreadableFile",
                 {"deliver", "--root", "@ROOT@", "--rcpt", "a@lv.test", "@DIR@/missing.eml"},
                 "missing.eml: no such file"},
        BadInput{"PostmasterOfAnotherDomain",
                 {"deliver", "--root", "@ROOT@", "--rcpt", "postmaster@elsewhere.example",
                  "@DIR@/good.eml"},
                 "no mailbox has the address postmaster@elsewhere.example"},
        BadInput{"MailboxAliasDot", {"mailbox", "add", "--root", "@ROOT@", "."}, "\".\" is not"},
        BadInput{"MailboxAliasDotDot", {"mailbox", "add", "--root", "@ROOT@", ".."}, "is not a"},
        BadInput{"NoSuchMailbox", {"show", "--root", "@ROOT@", kInbox}, "nobody"},
        BadInput{"NotAStoreUrl", {"show", "--root", "@ROOT@", "mailbox please"}, "mailbox please"},
        BadInput{"RegEventInMissingFolder",
                 {"regevent", "add", "--root", "@ROOT@", "--folder", "@MBX@/NoSuchFolder", "--name",
                  "a.reg", "--sink", "A.B"},
                 "NoSuchFolder"},
        BadInput{"RegEventBadScope",
                 {"regevent", "add", "--root", "@ROOT@", "--folder", "@MBX@/Inbox", "--name",
                  "a.reg", "--sink", "A.B", "--scope", "WIDE"},
                 "unknown match scope"},
        BadInput{"RegEventDeleteMissing",
                 {"regevent", "delete", "--root", "@ROOT@", "--folder", "@MBX@/Inbox", "--name",
                  "none.reg"},
                 "no registration none.reg"},
        BadInput{"RegEventBadSink",
                 {"regevent", "add", "--root", "@ROOT@", "--folder", "@MBX@/Inbox", "--name",
                  "a.reg", "--sink", "9bad"},
                 "invalid sink ProgID"},
        BadInput{
            "RegSvrMissingFile", {"regsvr", "--root", "@ROOT@", "@DIR@/none.dll"}, "no such file"},
        BadInput{"RegSvrNotALibrary", {"regsvr", "--root", "@ROOT@", "@DIR@/good.eml"}, "good.eml"},
        BadInput{"LdifMissingFile", {"ldif", "--root", "@ROOT@", "@DIR@/none.ldif"}, "cannot read"},
        BadInput{"UnknownCommand", {"frobnicate"}, "unknown command \"frobnicate\""},
        BadInput{"ListenByName",
                 {"smtp", "--root", "@ROOT@", "--listen", "localhost:25"},
                 "--listen needs an IP address and a port"},
        BadInput{"ListenWithoutPort",
                 {"imap", "--root", "@ROOT@", "--listen", "127.0.0.1"},
                 "--listen needs an IP address and a port"},
        BadInput{"MissingRecipient", {"deliver", "--root", "@ROOT@", "@DIR@/good.eml"}, "--rcpt"}),
    [](const auto& info) { return std::string(info.param.name); });

// Folders of their own: these tests stop, start and replace the server.
TEST(ExhostFolder, InitRefusesAnExistingFolderUnlessForced) {
    testsupport::ScopedServerFolder folder;
    ASSERT_EQ(RunExhost({"init", "--root", folder.Root(), "--users", "2"}).exitCode, 0);
    const auto again = RunExhost({"init", "--root", folder.Root(), "--users", "2"});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_NE(again.err.find("--force"), std::string::npos) << again.err;
    const auto forced =
        RunExhost({"init", "--root", folder.Root(), "--users", "3", "--force", "--seed", "2"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(platform::host::ServerFolder(folder.Path()).ReadMachineNames().computerName,
              "MAIL01");
}

TEST(ExhostFolder, DirectoryStartStatusStop) {
    testsupport::ScopedServerFolder folder;
    ASSERT_EQ(RunExhost({"init", "--root", folder.Root(), "--users", "2"}).exitCode, 0);
    const std::vector<std::string> root = {"--root", folder.Root()};
    auto run = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), root.begin(), root.end());
        return RunExhost(arguments);
    };
    auto status = run({"directory", "status"});
    EXPECT_EQ(status.exitCode, 3);
    EXPECT_NE(status.out.find("stopped"), std::string::npos) << status.out;

    const auto started = run({"directory", "start"});
    ASSERT_EQ(started.exitCode, 0) << started.err;
    status = run({"directory", "status"});
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_NE(status.out.find("running (pid "), std::string::npos) << status.out;
    const auto twice = run({"directory", "start"});
    EXPECT_NE(twice.exitCode, 0);
    EXPECT_NE(twice.err.find("already running"), std::string::npos) << twice.err;

    EXPECT_EQ(run({"directory", "stop"}).exitCode, 0);
    status = run({"directory", "status"});
    EXPECT_EQ(status.exitCode, 3);

    // Without a directory the transport cannot resolve a recipient.
    const auto message = folder.Path() / "m.eml";
    WriteFile(message, "Subject: x\n\nbody\n");
    const auto delivered = run({"deliver", "--rcpt", "a@example.com", message.string()});
    EXPECT_NE(delivered.exitCode, 0);
    EXPECT_NE(delivered.err.find("not running"), std::string::npos) << delivered.err;
}

TEST(ExhostFolder, EveryCommandHasHelp) {
    for (const auto* command :
         {"init", "directory start", "directory stop", "directory status", "ldif", "mailbox add",
          "deliver", "show", "regevent add", "regevent delete", "regevent list", "regsvr",
          "complus install", "smtp", "lmtp", "imap", "passwd"}) {
        auto arguments = Words(command);
        arguments.push_back("--help");
        const auto result = RunExhost(arguments);
        EXPECT_EQ(result.exitCode, 0) << command;
        EXPECT_NE(result.out.find("--root"), std::string::npos) << command << result.out;
    }
}

} // namespace
