// The exhost commands run as a separate program against a server folder with its directory
// running, as scripts run them.

#include "server/delivery/MailboxDelivery.h"
#include "server/delivery/NoSuchRecipient.h"
#include "server/delivery/SmtpDeliveryBackend.h"
#include "tests/integration/SampleServerSuite.h"

#include "platform/store/PropertyNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>

using namespace exhost_test;
using testing::Contains;
using testing::HasSubstr;
using testing::IsSupersetOf;
using testing::Not;
using testing::StartsWith;
namespace fs = std::filesystem;

namespace {

const std::string kDomain = "lv.test";
const std::string kComputer = "MAILX";

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

void WriteFile(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
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
                platform::directory::HomeServerValue(server) + "\n";
    return ldif + "cn: " + cn + "\nsn: " + cn + "\nmailNickname: " + alias +
           "\nproxyAddresses: SMTP:" + address + "\n";
}

// One command and its answer: the exit code and texts its output and its error output hold.
struct Step {
    std::vector<std::string> arguments;
    int exitCode;
    std::string out;
    std::string err = {};
    std::string input = {};
};

Step Fails(std::vector<std::string> arguments, std::string err) {
    return {std::move(arguments), 1, "", std::move(err)};
}

// Runs the steps in order, each with "--root" and `root` added; returns what the last one printed.
std::string RunSteps(const std::string& root, const std::vector<Step>& steps) {
    RunResult result;
    for (auto step : steps) {
        std::string said;
        for (const auto& argument : step.arguments)
            said += argument + " ";
        SCOPED_TRACE(said);
        step.arguments.insert(step.arguments.end(), {"--root", root});
        result = RunExhost(step.arguments, {}, step.input);
        EXPECT_EQ(result.exitCode, step.exitCode) << result.out << result.err;
        EXPECT_THAT(result.out, HasSubstr(step.out));
        EXPECT_THAT(result.err, HasSubstr(step.err));
    }
    return result.out;
}

// One initialised server folder with its directory running, shared by the tests of the suite.
class ExhostServer : public SampleServerSuite<ExhostServer> {
public:
    static platform::directory::SampleDirectorySettings Settings() {
        auto settings = SampleSettings(5, kDomain, 7);
        settings.computerName = kComputer;
        return settings;
    }

protected:
    // What a command on the folder that must succeed printed.
    static std::string Ok(const std::vector<std::string>& arguments) {
        return RunSteps(Root(), {{arguments, 0, ""}});
    }
    static std::string MailboxUrl(const std::string& alias) { return server->MailboxUrl(alias); }
    static const platform::directory::SampleDirectory& Sample() { return server->sample; }
    static std::size_t InboxSize(const std::string& alias) { return Inbox(alias).size(); }

    // The store's own system mailbox, "SystemMailbox{GUID}".
    static std::string SystemMailbox() {
        for (const auto& alias : OpenStore()->Mailboxes(kDomain))
            if (alias.starts_with("SystemMailbox{"))
                return alias;
        return "SystemMailbox{}";
    }
};

TEST_F(ExhostServer, InitWritesItsNamesAMailboxForEveryLocalUserAndTheSystemMailbox) {
    const auto names = platform::host::ServerFolder(Root()).ReadMachineNames();
    EXPECT_EQ(names.computerName, kComputer);
    EXPECT_EQ(names.domainDnsName, kDomain);
    EXPECT_EQ(names.forestDnsName, kDomain);
    EXPECT_EQ(names.globalCatalogHost, "dc01." + kDomain);
    EXPECT_THAT(names.directoryUri, StartsWith("ldapi://"));
    EXPECT_EQ(names.postmaster, "postmaster");

    auto store = OpenStore();
    EXPECT_EQ(store->DomainFolders(), std::vector<std::string>{kDomain});
    const auto mailboxes = store->Mailboxes(kDomain);
    EXPECT_THAT(mailboxes, IsSupersetOf(Sample().localAliases));
    for (const auto& alias : Sample().otherServerAliases)
        EXPECT_THAT(mailboxes, Not(Contains(alias)));
    EXPECT_THAT(mailboxes, Contains(SystemMailbox()));
    EXPECT_EQ(store->GlobalEventFolders().size(), 1u);
}

// Which mailbox "exhost deliver" finds for an address: every SMTP proxy address of its entry, in
// any letter case; "postmaster" alone or at the server's domains goes to the mailbox the server
// names, unless an entry has that very address; only entries with a mailbox here count.
TEST_F(ExhostServer, DeliverFindsTheMailboxWhoseEntryHasTheAddress) {
    Ok({"mailbox", "add", "branch.desk"});
    const auto ldif = server->folder.Path() / "entries.ldif";
    // The strangers have the alias of a mailbox here; their addresses still are not its own.
    const auto& stranger = Sample().localAliases[1];
    WriteFile(ldif, EntryLdif("Branch Desk", "branch.desk", "postmaster@branch." + kDomain) + "\n" +
                        EntryLdif("Partner Desk", stranger, "partner.desk@" + kDomain, "") + "\n" +
                        EntryLdif("Remote Desk", stranger, "remote.desk@" + kDomain, "MAILY"));
    Ok({"ldif", ldif.string()});

    // The recipient, and the mailbox it reaches or (after "!") the failure; "!" alone: no mailbox
    // has the address.
    std::vector<std::pair<std::string, std::string>> cases = {
        {"postmaster", "postmaster"},
        {"PostMaster", "postmaster"},
        {"POSTMASTER@" + kDomain, "postmaster"},
        {"postmaster@mail." + kDomain, "postmaster"},
        {"PostMaster@Branch." + kDomain, "branch.desk"},
        {"postmaster@elsewhere.example", "!"},
        {"partner.desk@" + kDomain, "!"},
        {"remote.desk@" + kDomain, "!"},
        {"nobody@" + kDomain, "!"},
        {"nobody", "!not a mail address"},
        // The store's own system mailbox has no Inbox to deliver into: refused as a recipient.
        {SystemMailbox() + "@" + kDomain, "!mailbox " + SystemMailbox() + " has no Inbox"},
    };
    for (const auto& proxy : Sample().firstLocalProxyAddresses)
        if (proxy.starts_with("smtp:") || proxy.starts_with("SMTP:"))
            cases.push_back({proxy.substr(5), Sample().localAliases.front()});
    for (const auto& [address, expected] : cases) {
        SCOPED_TRACE(address);
        const auto result = server->Deliver({address}, "Subject: to " + address + "\n\nbody\n");
        if (expected.starts_with("!")) {
            EXPECT_NE(result.exitCode, 0);
            EXPECT_THAT(result.err,
                        HasSubstr(expected == "!" ? "no mailbox has the address " + address
                                                  : expected.substr(1)));
        } else {
            EXPECT_EQ(result.exitCode, 0) << result.err;
            EXPECT_THAT(result.out, StartsWith(server->InboxUrl(expected) + "/"));
        }
    }
    // A recipient that cannot take mail fails the delivery before anything is stored.
    const auto& first = Sample().localAliases.front();
    const auto before = InboxSize(first);
    const auto mixed = server->Deliver({first + "@" + kDomain, SystemMailbox() + "@" + kDomain},
                                       "Subject: half\n\nbody\n");
    EXPECT_NE(mixed.exitCode, 0);
    EXPECT_EQ(InboxSize(first), before) << mixed.out;
}

// A front remembers a recipient it has resolved; the others ask every time.
TEST_F(ExhostServer, AResolvedRecipientIsRememberedOnlyWhereAskedFor) {
    setenv(platform::host::kRootVariable, Root().c_str(), 1);
    const server::delivery::MailboxDelivery remembering{platform::host::ServerFolder(Root()),
                                                        std::chrono::hours(1)};
    const server::delivery::MailboxDelivery asking{platform::host::ServerFolder(Root())};
    const auto address = "short.stay@" + kDomain;
    // Not found is not remembered: the address works as soon as its entry is there.
    EXPECT_THROW(remembering.ResolveRecipient(address), server::delivery::NoSuchRecipient);
    Ok({"mailbox", "add", "short.stay"});
    const auto ldif = server->folder.Path() / "short-stay.ldif";
    WriteFile(ldif, EntryLdif("Short Stay", "short.stay", address));
    Ok({"ldif", ldif.string()});
    ASSERT_EQ(remembering.ResolveRecipient(address), "short.stay");
    ASSERT_EQ(asking.ResolveRecipient(address), "short.stay");

    OpenStore()->Delete(MailboxUrl("short.stay"));
    EXPECT_EQ(remembering.ResolveRecipient("Short.Stay@" + kDomain), "short.stay");
    EXPECT_THROW(asking.ResolveRecipient(address), server::delivery::NoSuchRecipient);
}

// One copy for each mailbox the addresses name, in the order they are first named, each starting
// with its own trace fields: the envelope sender (--from, else "<>") and the first address that
// named its mailbox. With envelope_recipient_list, X-RecipientList follows with every address
// that named the mailbox, in order, in place of any list the sender wrote.
TEST_F(ExhostServer, DeliverStoresOneTracedCopyForEachMailboxTheAddressesName) {
    const platform::host::ServerFolder folder(Root());
    const auto& first = Sample().localAliases[0];
    const auto& second = Sample().localAliases[1];
    const struct {
        std::vector<std::string> from;
        std::string returnPath;
        bool listed;
    } cases[] = {{{"--from", "s@partner.example"}, "<s@partner.example>", false}, {{}, "<>", true}};
    const std::string recipients[] = {first + "@MAIL." + kDomain, second + "@" + kDomain};
    const std::string lists[] = {recipients[0] + ";" + first + "@" + kDomain, recipients[1]};
    for (const auto& c : cases) {
        auto names = folder.ReadMachineNames();
        names.envelopeRecipientList = c.listed;
        folder.WriteMachineNames(names);
        const auto before = InboxSize(first);
        const auto result = server->Deliver({recipients[0], recipients[1], first + "@" + kDomain},
                                            "X-RecipientList: forged@partner.example\n"
                                            "Subject: traced\nTo: x@partner.example\n\nbody\n",
                                            c.from);
        names.envelopeRecipientList = false;
        folder.WriteMachineNames(names);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const auto urls = Lines(result.out);
        ASSERT_EQ(urls.size(), 2u) << result.out;
        EXPECT_EQ(InboxSize(first), before + 1);
        auto store = OpenStore();
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_THAT(urls[i], StartsWith(server->InboxUrl(i == 0 ? first : second) + "/"));
            const auto headers = store->Read(store->Locate(urls[i]))
                                     .properties.at(platform::store::kTransportMessageHeaders)
                                     .Text();
            const std::regex trace(
                "Return-Path: " + std::regex_replace(c.returnPath, std::regex("[.]"), "\\.") +
                "\r\nReceived: by MAILX\\.lv\\.test with local id [0-9A-F]{16}"
                "\r\n\tfor <([^>]*)>; [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} "
                "[0-9]{4} [0-9:]{8} \\+0000\r\nDelivered-To: ([^\r]*)\r\n"
                "X-RecipientList: ([^\r]*)\r\nSubject: traced\r\nTo: x@partner\\.example\r\n");
            std::smatch match;
            ASSERT_TRUE(std::regex_match(headers, match, trace)) << headers;
            EXPECT_EQ(match[1], recipients[i]);
            EXPECT_EQ(match[2], recipients[i]);
            EXPECT_EQ(match[3], c.listed ? lists[i] : "forged@partner.example");
        }
    }
}

// How values are written (escapes, bytes that are not UTF-8) is JsonWriterTest's.
TEST_F(ExhostServer, ShowPrintsAnItemOrAFolderWithItsItems) {
    const auto alias = Sample().localAliases[3];
    const std::string subject = "Quote \" backslash \\ tab\t \xC3\xA4 end";
    const auto delivered = server->Deliver({alias + "@" + kDomain},
                                           "Subject: " + subject + "\n\nline one\nline two\n");
    ASSERT_EQ(delivered.exitCode, 0) << delivered.err;
    const auto url = Lines(delivered.out).at(0);

    const auto item = ParseObject(Ok({"show", url, "--json"}));
    EXPECT_EQ(Text(item["url"]), url);
    EXPECT_FALSE(item["folder"].toBool());
    const auto properties = item["properties"].toObject();
    EXPECT_EQ(Text(properties["urn:schemas:httpmail:subject"]), subject);
    EXPECT_EQ(Text(properties["urn:schemas:httpmail:textdescription"]), "line one\r\nline two\r\n");
    EXPECT_FALSE(properties["DAV:ishidden"].toBool(true));

    const auto folderJson = ParseObject(Ok({"show", MailboxUrl(alias) + "/Inbox", "--json"}));
    EXPECT_TRUE(folderJson["folder"].toBool());
    const auto items = folderJson["items"].toArray();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(Text(items[0].toObject()["url"]), url);

    EXPECT_THAT(Ok({"show", MailboxUrl(alias) + "/Inbox"}),
                HasSubstr("urn:schemas:httpmail:subject: " + subject));
}

TEST_F(ExhostServer, MailboxAddCreatesTheInboxAndItsAddress) {
    const auto mailbox = MailboxUrl("newbox");
    const auto shown = RunSteps(Root(), {{{"mailbox", "add", "newbox"}, 0, mailbox + "\n"},
                                         Fails({"mailbox", "add", "NEWBOX"}, "already exists"),
                                         {{"show", mailbox, "--json"}, 0, ""}});
    const auto inboxUrl =
        Text(ParseObject(shown)["properties"].toObject()["urn:schemas:httpmail:inbox"]);
    EXPECT_EQ(inboxUrl, mailbox + "/Inbox");
    EXPECT_TRUE(ParseObject(Ok({"show", inboxUrl, "--json"}))["folder"].toBool());
}

// What the SMTP and LMTP fronts store, in-process: one copy per mailbox, postmaster taken, all
// or nothing for SMTP and each mailbox on its own for LMTP.
TEST_F(ExhostServer, TheSmtpBackendStoresOneCopyPerMailboxAllOrNothingAndEachForLmtp) {
    using Kind = server::smtp::Verdict::Kind;
    setenv(platform::host::kRootVariable, Root().c_str(), 1);
    const server::delivery::MailboxDelivery delivery{platform::host::ServerFolder(Root())};
    server::delivery::SmtpDeliveryBackend backend(delivery);
    const auto& alias = Sample().localAliases[2];
    const auto doomed = Sample().localAliases[4] + "@" + kDomain;
    const std::vector<std::string> recipients = {alias + "@" + kDomain, alias + "@mail." + kDomain,
                                                 "postmaster", "Postmaster@" + kDomain, doomed};
    for (const auto& address : recipients)
        ASSERT_EQ(backend.CheckRecipient(address).kind, Kind::Accepted) << address;
    const auto unknown = backend.CheckRecipient("nobody@" + kDomain);
    EXPECT_EQ(unknown.kind, Kind::Permanent);
    EXPECT_THAT(unknown.text, HasSubstr("<nobody@" + kDomain + ">"));
    // A mailbox without an Inbox is refused at RCPT (550), not after the message.
    const auto system = backend.CheckRecipient(SystemMailbox() + "@" + kDomain);
    EXPECT_EQ(system.kind, Kind::Permanent);
    EXPECT_THAT(system.detail, HasSubstr("has no Inbox"));
    const auto before = InboxSize(alias), postmasterBefore = InboxSize("postmaster");
    const auto verdict =
        backend.Deliver({"s@partner.example", {recipients.begin(), recipients.end() - 1}},
                        "Subject: smtp once\r\n\r\nbody\r\n");
    ASSERT_EQ(verdict.kind, Kind::Accepted) << verdict.text;
    EXPECT_EQ(InboxSize(alias), before + 1);
    EXPECT_EQ(InboxSize("postmaster"), postmasterBefore + 1);

    // A recipient's mailbox goes away between RCPT and the end of the message.
    OpenStore()->Delete(MailboxUrl(Sample().localAliases[4]));
    const server::smtp::Envelope envelope{"s@partner.example",
                                          {recipients[0], doomed, recipients[1]}};
    EXPECT_EQ(backend.Deliver(envelope, "Subject: half\r\n\r\n").kind, Kind::Transient);
    EXPECT_EQ(InboxSize(alias), before + 1) << "the copy for the first recipient stayed";
    std::vector<Kind> kinds;
    for (const auto& each : backend.DeliverEach(envelope, "Subject: each\r\n\r\n"))
        kinds.push_back(each.kind);
    unsetenv(platform::host::kRootVariable);
    EXPECT_EQ(kinds, (std::vector{Kind::Accepted, Kind::Transient, Kind::Accepted}));
    EXPECT_EQ(InboxSize(alias), before + 2);
}

TEST_F(ExhostServer, RegEventAddsListsAndDeletesARegistration) {
    const auto inbox = MailboxUrl(Sample().localAliases[1]) + "/Inbox";
    const std::vector<std::string> list = {"regevent", "list", "--folder", inbox, "--json"};
    const auto listed =
        RunSteps(Root(), {{{"regevent", "add", "--folder", inbox, "--name", "Probe.reg", "--event",
                            "onsyncsave", "--sink", "Probe.Sink", "--scope", "SHALLOW",
                            "--criteria", "WHERE \"DAV:ishidden\" = FALSE", "--priority", "7"},
                           0,
                           inbox + "/Probe.reg\n"},
                          {list, 0, ""}});
    // What the written item does is the delivery road's: it makes the event service run the sink.
    const auto array = QJsonDocument::fromJson(QByteArray::fromStdString(listed)).array();
    ASSERT_EQ(array.size(), 1) << listed;
    EXPECT_EQ(Text(array[0].toObject()["name"]), "Probe.reg");
    EXPECT_EQ(Text(array[0].toObject()["SinkClass"]), "Probe.Sink");

    const auto empty =
        RunSteps(Root(), {{{"regevent", "delete", "--folder", inbox, "--name", "Probe.reg"}, 0, ""},
                          {list, 0, ""}});
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(empty)).array().size(), 0);
}

TEST_F(ExhostServer, ComPlusInstallListRemoveNeverShowsThePassword) {
    const auto listed = RunSteps(Root(), {{{"complus", "install", "Lorvanta", LORVANTA_DLL,
                                            "--identity", "example.com\\svc", "--password-stdin"},
                                           0,
                                           "",
                                           "",
                                           "Sup3r-secret\n"},
                                          {{"complus", "list"}, 0, "Lorvanta.LorvantaCls"}});
    EXPECT_THAT(listed, HasSubstr("password: set"));
    EXPECT_THAT(listed, Not(HasSubstr("Sup3r-secret")));
    RunSteps(
        Root(),
        {{{"complus", "remove", "LORVANTA"}, 0, ""},
         {{"complus", "remove", "Lorvanta"}, 1, "", "Lorvanta"},
         {{"complus", "install", "X", LORVANTA_DLL, "--password-stdin"}, 1, "", "--identity"}});
}

// The folder from the environment, from before the command, and the command's own --root over
// the environment's.
TEST_F(ExhostServer, RootMayComeFromTheEnvironmentOrBeforeTheCommand) {
    for (const auto& [arguments, variable] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"directory", "status"}, Root()},
             {{"--root", Root(), "directory", "status"}, ""},
             {{"directory", "status", "--root", Root()}, "/tmp/exh-none"}}) {
        const auto result = RunExhost(arguments, variable);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_THAT(result.out, HasSubstr("running"));
    }
}

// Bad input: every case fails with a message that says what was wrong.
TEST_F(ExhostServer, BadInputFailsWithAClearMessage) {
    const auto file = [](const std::string& name) { return Root() + "/" + name; };
    WriteFile(file("good.eml"), "Subject: fine\n\nbody\n");
    const auto mailbox = MailboxUrl(Sample().localAliases.front());
    const auto regevent = [&](const std::string& command, const std::string& folder,
                              std::vector<std::string> more) {
        more.insert(more.begin(), {"regevent", command, "--folder", mailbox + folder});
        return more;
    };
    const auto listen = "--listen needs an IP address and a port";
    RunSteps(
        Root(),
        {Fails({"deliver", "--rcpt", "a@lv.test", file("missing.eml")},
               "missing.eml: no such file"),
         // Which aliases the store refuses is ProviderTest's; its reason reaches the user.
         Fails({"mailbox", "add", "."}, "\".\" is not"),
         Fails({"show", "file://./backofficestorage/lv.test/mbx/nobody/Inbox"}, "nobody"),
         Fails({"show", "mailbox please"}, "mailbox please"),
         Fails(regevent("add", "/NoSuchFolder", {"--name", "a.reg", "--sink", "A.B"}),
               "NoSuchFolder"),
         Fails(regevent("add", "/Inbox", {"--name", "a.reg", "--sink", "A.B", "--scope", "WIDE"}),
               "unknown match scope"),
         Fails(regevent("delete", "/Inbox", {"--name", "none.reg"}), "no registration none.reg"),
         Fails(regevent("add", "/Inbox", {"--name", "a.reg", "--sink", "9bad"}),
               "invalid sink ProgID"),
         Fails({"regsvr", file("none.dll")}, "no such file"),
         Fails({"regsvr", file("good.eml")}, "good.eml"),
         Fails({"ldif", file("none.ldif")}, "cannot read"),
         Fails({"smtp", "--listen", "localhost:25"}, listen),
         Fails({"imap", "--listen", "127.0.0.1"}, listen)});
    // Refused before any work on a server folder.
    for (const auto& [arguments, message] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"show", "file://./backofficestorage/lv.test/mbx/x"}, "--root"},
             {{"show", "file://./x", "--root", "/tmp"}, "exhost init"},
             {{"frobnicate"}, "unknown command \"frobnicate\""},
             {{"deliver", "--root", Root(), file("good.eml")}, "--rcpt"}}) {
        const auto result = RunExhost(arguments);
        EXPECT_NE(result.exitCode, 0) << result.out;
        EXPECT_THAT(result.err, HasSubstr(message));
    }
}

// Folders of their own: these tests stop, start and replace the server.
TEST(ExhostFolder, InitRefusesAnExistingFolderUnlessForced) {
    testsupport::ScopedServerFolder folder;
    RunSteps(folder.Root(), {{{"init", "--users", "2"}, 0, ""},
                             Fails({"init", "--users", "2"}, "--force"),
                             {{"init", "--users", "3", "--force", "--seed", "2"}, 0, ""}});
    EXPECT_EQ(platform::host::ServerFolder(folder.Path()).ReadMachineNames().computerName,
              "MAIL01");
}

TEST(ExhostFolder, DirectoryStartStatusStop) {
    SampleServer server(SampleSettings(2), false);
    ASSERT_EQ(server.Problem(), "");
    const std::vector<std::string> status = {"directory", "status"};
    RunSteps(server.folder.Root(), {{status, 3, "stopped"},
                                    {{"directory", "start"}, 0, ""},
                                    {status, 0, "running (pid "},
                                    Fails({"directory", "start"}, "already running"),
                                    {{"directory", "stop"}, 0, ""},
                                    {status, 3, ""}});
    // Without a directory the transport cannot resolve a recipient.
    const auto delivered = server.Deliver({server.Address(0)}, "Subject: x\n\nbody\n");
    EXPECT_NE(delivered.exitCode, 0);
    EXPECT_THAT(delivered.err, HasSubstr("not running"));
}

} // namespace
