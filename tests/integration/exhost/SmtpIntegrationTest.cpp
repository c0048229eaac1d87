// The SMTP front over loopback, against a real server folder with its directory running.

#include "smtp/SmtpClient.h"
#include "testsupport/ExhostRunner.h"
#include "testsupport/ScopedServerFolder.h"
#include "testsupport/SmtpServerProcess.h"

#include "platform/directory/SampleDirectory.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace exhost_test;
using exhost::smtp::Client;
namespace fs = std::filesystem;

namespace {

const std::string kDomain = "smtp.test";
constexpr std::size_t kUsers = 8;

std::string InboxUrl(const std::string& alias) {
    return "file://./backofficestorage/" + kDomain + "/mbx/" + alias + "/Inbox";
}

std::string Message(const std::string& subject, const std::string& to,
                    const std::string& body = "Hello.\r\n") {
    return "From: sender@partner.example\r\nTo: " + to + "\r\nSubject: " + subject + "\r\n\r\n" +
           body;
}

class SmtpFront : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<testsupport::ScopedServerFolder>();
        initResult = RunExhost({"init", "--root", folder->Root(), "--domain", kDomain, "--users",
                                std::to_string(kUsers), "--seed", "3"});
        startResult = RunExhost({"directory", "start", "--root", folder->Root()});
        platform::directory::SampleDirectorySettings settings;
        settings.forestDnsName = kDomain;
        settings.users = kUsers;
        settings.seed = 3;
        const auto sample = platform::directory::GenerateSampleDirectory(settings);
        aliases = sample.localAliases;
        utf8Alias = sample.utf8Alias;
        utf8Address = sample.utf8Address;
    }
    static void TearDownTestSuite() { folder.reset(); }

    void SetUp() override {
        ASSERT_EQ(initResult.exitCode, 0) << initResult.err;
        ASSERT_EQ(startResult.exitCode, 0) << startResult.err;
        ASSERT_GE(aliases.size(), 6u);
    }

    static std::string Address(std::size_t user) { return aliases.at(user) + "@" + kDomain; }

    // The messages in a mailbox's Inbox: subject -> stored properties.
    static std::multimap<std::string, platform::store::PropertyMap> Inbox(std::size_t user) {
        return InboxOf(aliases.at(user));
    }
    static std::multimap<std::string, platform::store::PropertyMap>
    InboxOf(const std::string& alias) {
        auto store = platform::store::Store::Open(platform::host::ServerFolder(folder->Path()));
        std::multimap<std::string, platform::store::PropertyMap> messages;
        for (auto& item : store->Children(store->Locate(InboxUrl(alias)), false)) {
            const auto& properties = item.properties;
            auto contentClass = properties.find(platform::store::kContentClass);
            if (contentClass != properties.end() &&
                contentClass->second.ToText() == platform::store::kMessageClass)
                messages.emplace(properties.at(platform::store::kSubject).ToText(), properties);
        }
        return messages;
    }

    static std::unique_ptr<testsupport::ScopedServerFolder> folder;
    static RunResult initResult, startResult;
    static std::vector<std::string> aliases;
    static std::string utf8Alias, utf8Address;
};

std::unique_ptr<testsupport::ScopedServerFolder> SmtpFront::folder;
RunResult SmtpFront::initResult, SmtpFront::startResult;
std::vector<std::string> SmtpFront::aliases;
std::string SmtpFront::utf8Alias, SmtpFront::utf8Address;

TEST_F(SmtpFront, SeveralSessionsAtOnceEachDeliverTheirMessages) {
    SmtpServerProcess server(folder->Root());
    constexpr int kSessions = 4;
    constexpr int kMessagesEach = 5;
    std::vector<std::thread> sessions;
    std::vector<std::vector<int>> codes(kSessions);
    // All sessions are open before any of them sends mail.
    std::vector<std::unique_ptr<Client>> clients;
    for (int s = 0; s < kSessions; ++s) {
        clients.push_back(std::make_unique<Client>("127.0.0.1", server.Port()));
        ASSERT_EQ(clients.back()->Command("EHLO session" + std::to_string(s)).code, 250);
    }
    for (int s = 0; s < kSessions; ++s)
        sessions.emplace_back([&, s] {
            for (int m = 0; m < kMessagesEach; ++m) {
                const auto subject = "concurrent " + std::to_string(s) + "/" + std::to_string(m);
                codes[s].push_back(clients[s]
                                       ->Deliver("sender@partner.example", {Address(s)},
                                                 Message(subject, Address(s)))
                                       .code);
            }
            codes[s].push_back(clients[s]->Command("QUIT").code);
        });
    for (auto& session : sessions)
        session.join();
    for (int s = 0; s < kSessions; ++s) {
        EXPECT_EQ(codes[s], std::vector<int>({250, 250, 250, 250, 250, 221})) << "session " << s;
        const auto inbox = Inbox(s);
        for (int m = 0; m < kMessagesEach; ++m)
            EXPECT_EQ(inbox.count("concurrent " + std::to_string(s) + "/" + std::to_string(m)), 1u)
                << "session " << s << " message " << m;
    }
    server.Terminate();
    EXPECT_EQ(server.Wait(), 0) << server.ErrorOutput();
}

TEST_F(SmtpFront, OneMessageForSeveralRecipientsIsStoredInEachMailbox) {
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    client.Command("EHLO c");
    const auto reply = client.Deliver("s@partner.example", {Address(0), Address(1)},
                                      Message("for two", Address(0)));
    EXPECT_EQ(reply.code, 250) << reply.lines.at(0);
    EXPECT_EQ(Inbox(0).count("for two"), 1u);
    EXPECT_EQ(Inbox(1).count("for two"), 1u);
}

TEST_F(SmtpFront, AnUnknownRecipientIsRefusedWithATextThatNamesIt) {
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    EXPECT_EQ(client.Greeting().code, 220);
    client.Command("EHLO c");
    client.Command("MAIL FROM:<s@partner.example>");
    const auto reply = client.Command("RCPT TO:<nobody@" + kDomain + ">");
    EXPECT_EQ(reply.code, 550);
    EXPECT_NE(reply.lines.at(0).find("nobody@" + kDomain), std::string::npos) << reply.lines.at(0);
    EXPECT_EQ(client.Command("DATA").code, 554);
}

TEST_F(SmtpFront, TheStoredMessageKeepsItsHeadersAndTheUnstuffedBody) {
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    client.Command("EHLO c");
    const auto body = std::string(".starts with a dot\r\n..two dots\r\n.\r\nlast\r\n");
    ASSERT_EQ(
        client.Deliver("s@partner.example", {Address(2)}, Message("dots", Address(2), body)).code,
        250);
    const auto inbox = Inbox(2);
    const auto stored = inbox.find("dots");
    ASSERT_NE(stored, inbox.end());
    EXPECT_EQ(stored->second.at(platform::store::kTextDescription).ToText(), body);
    EXPECT_NE(stored->second.at(platform::store::kTransportMessageHeaders)
                  .ToText()
                  .find("To: " + Address(2) + "\r\n"),
              std::string::npos);
}

TEST_F(SmtpFront, AMessageWithoutHeaderFieldsIsStoredWithAllItsTextAsTheBody) {
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    client.Command("EHLO c");
    const auto before = Inbox(3).size();
    const std::string text = "this line is no header\r\n\r\nbody\r\n";
    const auto reply = client.Deliver("s@partner.example", {Address(3)}, text);
    EXPECT_EQ(reply.code, 250) << reply.Wire();
    const auto inbox = Inbox(3);
    EXPECT_EQ(inbox.size(), before + 1);
    const auto stored = inbox.find("");
    ASSERT_NE(stored, inbox.end());
    EXPECT_EQ(stored->second.at(platform::store::kTextDescription).ToText(), text);
}

TEST_F(SmtpFront, AStoreThatCannotBeOpenedGivesATransientFailureAndStoresNothing) {
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    client.Command("EHLO c");
    ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example>").code, 250);
    ASSERT_EQ(client.Command("RCPT TO:<" + Address(4) + ">").code, 250);
    const auto before = Inbox(4).size();
    // The store folder is swapped for a plain file: even root cannot open a database in it.
    const auto storeDir = folder->Path() / "store";
    const auto away = folder->Path() / "store.away";
    fs::rename(storeDir, away);
    std::ofstream(storeDir) << "not a store";
    ASSERT_EQ(client.Command("DATA").code, 354);
    const auto reply = client.SendMessageBody(Message("never stored", Address(4)));
    fs::remove(storeDir);
    fs::rename(away, storeDir);
    EXPECT_EQ(reply.code, 451) << reply.lines.at(0);
    EXPECT_NE(reply.lines.at(0).find("could not be stored"), std::string::npos)
        << reply.lines.at(0);
    EXPECT_EQ(Inbox(4).size(), before);
    EXPECT_EQ(Inbox(4).count("never stored"), 0u);
    // The session and the server go on once the store is back.
    EXPECT_EQ(client.Deliver("s@partner.example", {Address(4)}, Message("after", Address(4))).code,
              250);
}

TEST_F(SmtpFront, WhenOneRecipientCannotBeStoredNoneIsStored) {
    // The second recipient's mailbox goes away between RCPT and the end of the message: the
    // copy already saved for the first recipient must not stay.
    auto store = platform::store::Store::Open(platform::host::ServerFolder(folder->Path()));
    const auto doomed = aliases.at(5);
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    client.Command("EHLO c");
    ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example>").code, 250);
    ASSERT_EQ(client.Command("RCPT TO:<" + Address(3) + ">").code, 250);
    ASSERT_EQ(client.Command("RCPT TO:<" + Address(5) + ">").code, 250);
    const auto before = Inbox(3).size();
    store->Delete("file://./backofficestorage/" + kDomain + "/mbx/" + doomed);
    ASSERT_EQ(client.Command("DATA").code, 354);
    const auto reply = client.SendMessageBody(Message("half", Address(3)));
    EXPECT_EQ(reply.code, 451) << reply.lines.at(0);
    EXPECT_EQ(Inbox(3).size(), before);
    EXPECT_EQ(Inbox(3).count("half"), 0u);
}

TEST_F(SmtpFront, StoppingLetsAMessageInProgressFinishAndClosesIdleSessionsWith421) {
    auto server = std::make_unique<SmtpServerProcess>(folder->Root());
    Client sending("127.0.0.1", server->Port());
    Client idle("127.0.0.1", server->Port());
    sending.Command("EHLO sending");
    idle.Command("EHLO idle");
    ASSERT_EQ(sending.Command("MAIL FROM:<s@partner.example>").code, 250);
    ASSERT_EQ(sending.Command("RCPT TO:<" + Address(1) + ">").code, 250);
    ASSERT_EQ(sending.Command("DATA").code, 354);
    sending.SendRaw(
        "From: s@partner.example\r\nSubject: sent while stopping\r\n\r\nfirst half\r\n");

    server->Terminate();
    // The idle session's 421 shows that the server has taken the stop in.
    EXPECT_EQ(idle.ReadReply().code, 421);
    EXPECT_TRUE(idle.ServerClosed());
    EXPECT_THROW(Client("127.0.0.1", server->Port()), std::exception) << "still accepting";

    sending.SendRaw("second half\r\n");
    const auto stored = sending.SendMessageBody("");
    EXPECT_EQ(stored.code, 250) << stored.lines.at(0);
    EXPECT_EQ(sending.ReadReply().code, 421);
    EXPECT_TRUE(sending.ServerClosed());
    EXPECT_EQ(server->Wait(), 0) << server->ErrorOutput();

    const auto inbox = Inbox(1);
    const auto message = inbox.find("sent while stopping");
    ASSERT_NE(message, inbox.end());
    EXPECT_EQ(message->second.at(platform::store::kTextDescription).ToText(),
              "first half\r\nsecond half\r\n");
}

TEST_F(SmtpFront, TheSizeLimitIsAnnouncedAndEnforced) {
    SmtpServerProcess server(folder->Root(), {"--max-size", "1000"});
    Client client("127.0.0.1", server.Port());
    const auto ehlo = client.Command("EHLO c");
    EXPECT_NE(std::find(ehlo.lines.begin(), ehlo.lines.end(), "SIZE 1000"), ehlo.lines.end());
    EXPECT_NE(std::find(ehlo.lines.begin(), ehlo.lines.end(), "8BITMIME"), ehlo.lines.end());
    EXPECT_EQ(client.Command("MAIL FROM:<s@partner.example> SIZE=1001").code, 552);
    std::string body;
    for (int i = 0; i < 20; ++i)
        body += std::string(60, 'x') + "\r\n";
    EXPECT_EQ(
        client.Deliver("s@partner.example", {Address(0)}, Message("too big", Address(0), body))
            .code,
        552);
    EXPECT_EQ(Inbox(0).count("too big"), 0u);
}

TEST_F(SmtpFront, TheSinkRunsOnMessagesThatArriveOverSmtp) {
    ASSERT_EQ(RunExhost({"regsvr", LORVANTA_DLL, "--root", folder->Root()}).exitCode, 0);
    const auto added =
        RunExhost({"regevent", "add", "--root", folder->Root(), "--folder", InboxUrl(aliases.at(2)),
                   "--name", "Lorvanta.reg", "--sink", "Lorvanta.LorvantaCls", "--criteria",
                   " WHERE \"DAV:ishidden\" = FALSE"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    client.Command("EHLO c");
    const auto to = "Someone <someone@partner.example>, " + Address(2);
    // The sender's Keywords are the message's keywords before the sink adds the address.
    const auto message = "Keywords: Sales, urgent,\r\n Sales\r\n" + Message("stamped", to);
    ASSERT_EQ(client.Deliver("s@partner.example", {Address(2)}, message).code, 250);
    const auto inbox = Inbox(2);
    const auto stored = inbox.find("stamped");
    ASSERT_NE(stored, inbox.end());
    EXPECT_EQ(stored->second.at(platform::store::kInternetAccountName).ToText(), Address(2));
    EXPECT_EQ(stored->second.at(platform::store::kKeywords).Array(),
              std::vector<std::string>{"Sales,urgent," + Address(2)});
    RunExhost({"regevent", "delete", "--root", folder->Root(), "--folder", InboxUrl(aliases.at(2)),
               "--name", "Lorvanta.reg"});
}

// jörg@ is in the directory; the client writes JÖRG@, which only Unicode case folding matches,
// both in the directory's lookup and in the sink's comparison of the To header.
TEST_F(SmtpFront, AUtf8AddressReachesItsMailboxOverSmtputf8AndIsStampedAsTheDirectoryHoldsIt) {
    ASSERT_EQ(RunExhost({"regsvr", LORVANTA_DLL, "--root", folder->Root()}).exitCode, 0);
    const auto added =
        RunExhost({"regevent", "add", "--root", folder->Root(), "--folder", InboxUrl(utf8Alias),
                   "--name", "Lorvanta.reg", "--sink", "Lorvanta.LorvantaCls"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    const auto shouted = "J\xC3\x96RG" + utf8Address.substr(utf8Address.find('@'));
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    client.Command("EHLO c");
    ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example>").code, 250);
    EXPECT_EQ(client.Command("RCPT TO:<" + shouted + ">").code, 553) << "not without SMTPUTF8";
    ASSERT_EQ(client.Command("RSET").code, 250);
    ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example> SMTPUTF8").code, 250);
    ASSERT_EQ(client.Command("RCPT TO:<" + shouted + ">").code, 250);
    ASSERT_EQ(client.Command("DATA").code, 354);
    ASSERT_EQ(
        client.SendMessageBody(Message("utf8", "=?utf-8?q?J=C3=B6rg?= <" + shouted + ">")).code,
        250);
    const auto inbox = InboxOf(utf8Alias);
    const auto stored = inbox.find("utf8");
    ASSERT_NE(stored, inbox.end());
    EXPECT_EQ(stored->second.at(platform::store::kInternetAccountName).ToText(), utf8Address);
    RunExhost({"regevent", "delete", "--root", folder->Root(), "--folder", InboxUrl(utf8Alias),
               "--name", "Lorvanta.reg"});
}

TEST_F(SmtpFront, PythonSmtplibDeliversThroughIt) {
    SmtpServerProcess server(folder->Root());
    const auto script = folder->Path() / "send.py";
    std::ofstream(script)
        << "import smtplib, sys\n"
           "with smtplib.SMTP('127.0.0.1', int(sys.argv[1])) as s:\n"
           "    s.ehlo('python')\n"
           "    assert s.has_extn('size') and s.has_extn('8bitmime')\n"
           "    refused = s.sendmail('py@partner.example', [sys.argv[2]],\n"
           "        b'Subject: from python\\r\\n\\r\\n.dot line\\r\\n\\xc3\\xa4\\r\\n')\n"
           "    assert not refused, refused\n";
    const auto command = "/usr/bin/python3 " + script.string() + " " +
                         std::to_string(server.Port()) + " " + Address(0);
    EXPECT_EQ(std::system(command.c_str()), 0);
    const auto inbox = Inbox(0);
    const auto stored = inbox.find("from python");
    ASSERT_NE(stored, inbox.end());
    EXPECT_EQ(stored->second.at(platform::store::kTextDescription).ToText(),
              ".dot line\r\n\xc3\xa4\r\n");
}

TEST_F(SmtpFront, LmtpGivesEachRecipientItsOwnReplyAndKeepsTheCopiesThatWereStored) {
    // Three recipients, two of them one mailbox; the third mailbox goes away before the message.
    auto store = platform::store::Store::Open(platform::host::ServerFolder(folder->Path()));
    SmtpServerProcess server(folder->Root(), {}, "127.0.0.1:0", "lmtp");
    Client client("127.0.0.1", server.Port());
    EXPECT_NE(client.Greeting().lines.at(0).find("LMTP"), std::string::npos);
    ASSERT_EQ(client.Command("LHLO c").code, 250);
    ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example>").code, 250);
    const auto second = aliases.at(6) + "@mail." + kDomain; // another address of user 6
    for (const auto& rcpt : {Address(6), Address(7), second})
        ASSERT_EQ(client.Command("RCPT TO:<" + rcpt + ">").code, 250) << rcpt;
    store->Delete("file://./backofficestorage/" + kDomain + "/mbx/" + aliases.at(7));
    ASSERT_EQ(client.Command("DATA").code, 354);
    client.SendRaw(exhost::smtp::DotStuffed(Message("lmtp each", Address(6))));
    std::vector<int> codes;
    for (int i = 0; i < 3; ++i)
        codes.push_back(client.ReadReply().code);
    EXPECT_EQ(codes, (std::vector<int>{250, 451, 250}));
    EXPECT_EQ(Inbox(6).count("lmtp each"), 1u) << "one copy for the two addresses";
    EXPECT_EQ(client.Command("QUIT").code, 221);
}

TEST_F(SmtpFront, LmtpOnAUnixSocketIsForItsOwnerOrOneGroupAndPythonDeliversThroughIt) {
    const auto socket = folder->Path() / "lmtp.sock";
    {
        SmtpServerProcess server(folder->Root(), {}, socket.string(), "lmtp");
        EXPECT_EQ(fs::status(socket).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        const auto script = folder->Path() / "lmtp.py";
        std::ofstream(script) << "import smtplib, sys\n"
                                 "with smtplib.LMTP(sys.argv[1]) as s:\n"
                                 "    refused = s.sendmail('py@partner.example', [sys.argv[2]],\n"
                                 "        b'Subject: over lmtp\\r\\n\\r\\nhi\\r\\n')\n"
                                 "    assert not refused, refused\n";
        const auto command =
            "/usr/bin/python3 " + script.string() + " " + socket.string() + " " + Address(0);
        EXPECT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(Inbox(0).count("over lmtp"), 1u);
        server.Terminate();
        EXPECT_EQ(server.Wait(), 0) << server.ErrorOutput();
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(socket))) << "removed on the way out";
    SmtpServerProcess grouped(folder->Root(), {"--socket-group", std::to_string(getgid())},
                              socket.string(), "lmtp");
    EXPECT_EQ(fs::status(socket).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::group_write);
}

TEST_F(SmtpFront, ListeningBeyondLoopbackNeedsSayingAndWarns) {
    {
        SmtpServerProcess server(folder->Root(), {}, "0.0.0.0:0");
        server.Terminate();
        EXPECT_EQ(server.Wait(), 0);
        EXPECT_NE(server.ErrorOutput().find("warning: 0.0.0.0 is not a loopback address"),
                  std::string::npos)
            << server.ErrorOutput();
    }
    {
        SmtpServerProcess server(folder->Root());
        server.Terminate();
        EXPECT_EQ(server.Wait(), 0);
        EXPECT_EQ(server.ErrorOutput().find("warning"), std::string::npos) << server.ErrorOutput();
    }
}

TEST_F(SmtpFront, ABadListenAddressIsAUsageError) {
    for (const auto* listen : {"localhost:25", "127.0.0.1", "127.0.0.1:99999", ":25"}) {
        const auto result = RunExhost({"smtp", "--root", folder->Root(), "--listen", listen});
        EXPECT_EQ(result.exitCode, 1) << listen;
        EXPECT_NE(result.err.find("--listen needs an IP address and a port"), std::string::npos)
            << result.err;
    }
}

TEST_F(SmtpFront, MailThatMtasAcceptIsStoredAndBareLineFeedsAreRefused) {
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    client.Command("EHLO c");
    // A 5000-octet line, a path without brackets and a needlessly quoted local part.
    const auto longLine = std::string(5000, 'w') + "\r\n";
    ASSERT_EQ(client.Command("MAIL FROM:s@partner.example").code, 250);
    const auto quoted = "\"" + aliases.at(4) + "\"@" + kDomain;
    ASSERT_EQ(client.Command("RCPT TO:<" + quoted + ">").code, 250);
    ASSERT_EQ(client.Command("DATA").code, 354);
    ASSERT_EQ(client.SendMessageBody(Message("long line", Address(4), longLine)).code, 250);
    const auto inbox = Inbox(4);
    const auto stored = inbox.find("long line");
    ASSERT_NE(stored, inbox.end());
    EXPECT_EQ(stored->second.at(platform::store::kTextDescription).ToText(), longLine);

    ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example>").code, 250);
    ASSERT_EQ(client.Command("RCPT TO:" + Address(4)).code, 250);
    ASSERT_EQ(client.Command("DATA").code, 354);
    client.SendRaw("Subject: bare\r\n\r\nx\n.\nMAIL FROM:<e@v.il>\r\n.\r\n");
    const auto refused = client.ReadReply();
    EXPECT_EQ(refused.code, 554);
    EXPECT_EQ(Inbox(4).count("bare"), 0u);
    EXPECT_EQ(client.Command("NOOP").code, 250);
}

// The directory server stopped (SIGSTOP) for the length of a scope.
class FrozenDirectory {
public:
    explicit FrozenDirectory(const fs::path& root) {
        std::ifstream(root / "directory" / "slapd.pid") >> pid_;
        if (pid_ > 0)
            ::kill(pid_, SIGSTOP);
    }
    ~FrozenDirectory() {
        if (pid_ > 0)
            ::kill(pid_, SIGCONT);
    }
    bool Frozen() const { return pid_ > 0; }

private:
    pid_t pid_ = 0;
};

TEST_F(SmtpFront, AHungDirectoryGets451FromRcptAndHoldsUpNoOtherSession) {
    SmtpServerProcess server(folder->Root(), {"--lookup-timeout", "1"});
    std::vector<std::unique_ptr<Client>> waiting;
    for (int i = 0; i < 5; ++i) {
        waiting.push_back(std::make_unique<Client>("127.0.0.1", server.Port()));
        ASSERT_EQ(waiting.back()->Command("EHLO w").code, 250);
        ASSERT_EQ(waiting.back()->Command("MAIL FROM:<s@partner.example>").code, 250);
    }
    {
        FrozenDirectory frozen(folder->Path());
        ASSERT_TRUE(frozen.Frozen());
        for (std::size_t i = 0; i < waiting.size(); ++i)
            waiting[i]->SendRaw("RCPT TO:<" + Address(i) + ">\r\n");
        Client other("127.0.0.1", server.Port());
        EXPECT_EQ(other.Command("EHLO other").code, 250);
        EXPECT_EQ(other.Command("NOOP").code, 250);
        for (auto& client : waiting) {
            const auto reply = client->ReadReply();
            EXPECT_EQ(reply.code, 451);
            EXPECT_NE(reply.lines.at(0).find("4.4.3"), std::string::npos) << reply.lines.at(0);
        }
    }
    // Once the directory is back, the same sessions go on.
    EXPECT_EQ(waiting[0]->Command("RCPT TO:<" + Address(0) + ">").code, 250);
    server.Terminate();
    EXPECT_EQ(server.Wait(), 0) << server.ErrorOutput();
}

TEST_F(SmtpFront, TheSessionLimitsAreOptions) {
    SmtpServerProcess server(folder->Root(), {"--max-per-client", "1", "--command-timeout", "1"});
    Client first("127.0.0.1", server.Port());
    Client second("127.0.0.1", server.Port());
    EXPECT_EQ(second.Greeting().code, 421);
    // Half a command, then nothing: the command deadline closes the session.
    first.SendRaw("NOO");
    const auto reply = first.ReadReply();
    EXPECT_EQ(reply.code, 421);
    EXPECT_NE(reply.lines.at(0).find("command took too long"), std::string::npos)
        << reply.lines.at(0);
}

} // namespace
