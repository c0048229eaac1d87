// The roads through "exhost smtp" and "exhost lmtp" over the network, against a real server folder
// with its directory running. The protocol's rules are tested in-process (SmtpSessionTest,
// SmtpServerTest); what a delivery stores, in ExhostIntegrationTest.

#include "server/smtp/SmtpClient.h"
#include "testsupport/ExhostRunner.h"
#include "testsupport/SmtpServerProcess.h"

#include "platform/host/ServerFolder.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <unistd.h>

using namespace exhost_test;
using server::smtp::Client;
namespace fs = std::filesystem;

namespace {

std::string Message(const std::string& subject, const std::string& to) {
    return "From: sender@partner.example\r\nTo: " + to + "\r\nSubject: " + subject +
           "\r\n\r\nHello.\r\n";
}

class SmtpFront : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        platform::directory::SampleDirectorySettings settings;
        settings.forestDnsName = "smtp.test";
        settings.users = 8;
        settings.seed = 3;
        server = std::make_unique<SampleServer>(settings);
    }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override { ASSERT_EQ(server->Problem(), ""); }

    static std::string Root() { return server->folder.Root(); }
    static std::string Address(std::size_t user) { return server->Address(user); }

    // The messages in a mailbox's Inbox: subject -> stored properties.
    static std::multimap<std::string, platform::store::PropertyMap>
    InboxOf(const std::string& alias) {
        auto store = platform::store::Store::Open(platform::host::ServerFolder(Root()));
        std::multimap<std::string, platform::store::PropertyMap> messages;
        for (auto& item : store->Children(store->Locate(server->InboxUrl(alias)), false))
            if (item.properties.count(platform::store::kSubject))
                messages.emplace(item.properties.at(platform::store::kSubject).ToText(),
                                 item.properties);
        return messages;
    }

    static std::unique_ptr<SampleServer> server;
};

std::unique_ptr<SampleServer> SmtpFront::server;

// The sender's Keywords are not the message's keywords unless machine.conf says take_keywords;
// when it does, the sink adds the address to them. jörg@ is in
// the directory; the client writes JÖRG@, which only Unicode case folding matches, both in the
// directory's lookup and in the sink's comparison of the To header.
TEST_F(SmtpFront, TheSinkStampsMessagesThatArriveOverSmtpAndSmtputf8) {
    server->RegisterSink(LORVANTA_DLL, server->sample.localAliases.at(2));
    server->RegisterSink(LORVANTA_DLL, server->sample.utf8Alias);
    ASSERT_EQ(server->Problem(), "");
    SmtpServerProcess smtp(Root());
    Client client("127.0.0.1", smtp.Port());
    client.Command("EHLO c");
    const auto to = "Someone <someone@partner.example>, " + Address(2);
    const auto message = "Keywords: Sales, urgent,\r\n Sales\r\n" + Message("stamped", to);
    ASSERT_EQ(client.Deliver("s@partner.example", {Address(2)}, message).code, 250);
    const auto inbox = InboxOf(server->sample.localAliases.at(2));
    const auto stored = inbox.find("stamped");
    ASSERT_NE(stored, inbox.end());
    EXPECT_EQ(stored->second.at(platform::store::kInternetAccountName).ToText(), Address(2));
    EXPECT_EQ(stored->second.at(platform::store::kKeywords).Array(),
              std::vector<std::string>{Address(2)});
    {
        const platform::host::ServerFolder folder(Root());
        auto names = folder.ReadMachineNames();
        names.takeKeywords = true;
        folder.WriteMachineNames(names);
        SmtpServerProcess taking(Root());
        Client other("127.0.0.1", taking.Port());
        other.Command("EHLO c");
        const auto tagged = "Keywords: Sales, urgent,\r\n Sales\r\n" + Message("tagged", to);
        ASSERT_EQ(other.Deliver("s@partner.example", {Address(2)}, tagged).code, 250);
        names.takeKeywords = false;
        folder.WriteMachineNames(names);
        const auto taken = InboxOf(server->sample.localAliases.at(2)).find("tagged")->second;
        EXPECT_EQ(taken.at(platform::store::kKeywords).Array(),
                  std::vector<std::string>{"Sales,urgent," + Address(2)});
    }

    const auto& utf8Address = server->sample.utf8Address;
    const auto shouted = "J\xC3\x96RG" + utf8Address.substr(utf8Address.find('@'));
    ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example> SMTPUTF8").code, 250);
    ASSERT_EQ(client.Command("RCPT TO:<" + shouted + ">").code, 250);
    ASSERT_EQ(client.Command("DATA").code, 354);
    ASSERT_EQ(
        client.SendMessageBody(Message("utf8", "=?utf-8?q?J=C3=B6rg?= <" + shouted + ">")).code,
        250);
    const auto utf8Inbox = InboxOf(server->sample.utf8Alias);
    const auto stamped = utf8Inbox.find("utf8");
    ASSERT_NE(stamped, utf8Inbox.end());
    EXPECT_EQ(stamped->second.at(platform::store::kInternetAccountName).ToText(), utf8Address);
}

TEST_F(SmtpFront, LmtpOnAUnixSocketIsForItsOwnerOrOneGroupAndPythonDeliversThroughIt) {
    const auto socket = server->folder.Path() / "lmtp.sock";
    {
        SmtpServerProcess lmtp(Root(), {}, socket.string(), "lmtp");
        EXPECT_EQ(fs::status(socket).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        const auto script = server->folder.Path() / "lmtp.py";
        std::ofstream(script) << "import smtplib, sys\n"
                                 "with smtplib.LMTP(sys.argv[1]) as s:\n"
                                 "    refused = s.sendmail('py@partner.example', [sys.argv[2]],\n"
                                 "        b'Subject: over lmtp\\r\\n\\r\\n.hi\\r\\n')\n"
                                 "    assert not refused, refused\n";
        const auto command =
            "/usr/bin/python3 " + script.string() + " " + socket.string() + " " + Address(0);
        EXPECT_EQ(std::system(command.c_str()), 0);
        const auto inbox = InboxOf(server->sample.localAliases.at(0));
        const auto stored = inbox.find("over lmtp");
        ASSERT_NE(stored, inbox.end());
        EXPECT_EQ(stored->second.at(platform::store::kTextDescription).ToText(), ".hi\r\n");
        lmtp.Terminate();
        EXPECT_EQ(lmtp.Wait(), 0) << lmtp.ErrorOutput();
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(socket))) << "removed on the way out";
    SmtpServerProcess grouped(Root(), {"--socket-group", std::to_string(getgid())}, socket.string(),
                              "lmtp");
    EXPECT_EQ(fs::status(socket).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::group_write);
}

// A mailbox named by several RCPTs (repeated, or in other letter case) gets one copy, and every
// accepted RCPT its own reply after the message, so that the next command's reply stays its own.
TEST_F(SmtpFront, LmtpRepliesOncePerRcptAfterTheMessageAndStoresOneCopyPerMailbox) {
    SmtpServerProcess lmtp(Root(), {}, "127.0.0.1:0", "lmtp");
    Client client("127.0.0.1", lmtp.Port());
    ASSERT_EQ(client.Command("LHLO c").code, 250);
    std::string shouted = Address(3);
    std::transform(shouted.begin(), shouted.end(), shouted.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::vector<std::string> rcpts{Address(3), Address(4), Address(3), shouted};
    ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example>").code, 250);
    for (const auto& rcpt : rcpts)
        ASSERT_EQ(client.Command("RCPT TO:<" + rcpt + ">").code, 250) << rcpt;
    ASSERT_EQ(client.Command("DATA").code, 354);
    // QUIT right behind the message: a missing reply shows as QUIT's 221 in its place.
    client.SendRaw(server::smtp::DotStuffed(Message("repeated", Address(3))) + "QUIT\r\n");
    std::vector<std::string> replies, expected;
    for (const auto& rcpt : rcpts)
        expected.push_back("250 <" + rcpt + "> 2.1.5 Message stored");
    expected.push_back("221");
    for (bool open = true; open && replies.size() < expected.size();)
        try {
            const auto reply = client.ReadReply();
            open = reply.code != 221;
            replies.push_back(std::to_string(reply.code) + (open ? " " + reply.lines.at(0) : ""));
        } catch (const std::exception&) {
            open = false;
        }
    EXPECT_EQ(replies, expected);
    EXPECT_EQ(InboxOf(server->sample.localAliases.at(3)).count("repeated"), 1u);
    EXPECT_EQ(InboxOf(server->sample.localAliases.at(4)).count("repeated"), 1u);
    // Each copy is traced for the first RCPT that reached its mailbox.
    for (const auto& [user, rcpt] : {std::pair{3, Address(3)}, std::pair{4, Address(4)}}) {
        const auto headers = InboxOf(server->sample.localAliases.at(user))
                                 .find("repeated")
                                 ->second.at(platform::store::kTransportMessageHeaders)
                                 .Text();
        EXPECT_EQ(headers.rfind("Return-Path: <s@partner.example>\r\nReceived: from c\r\n\tby ", 0),
                  0u)
            << headers;
        EXPECT_NE(headers.find(" with LMTP id "), std::string::npos) << headers;
        EXPECT_NE(headers.find("\tfor <" + rcpt + ">; "), std::string::npos) << headers;
        EXPECT_NE(headers.find("\r\nDelivered-To: " + rcpt + "\r\nFrom: "), std::string::npos)
            << headers;
    }
}

// With envelope_recipient_list on, the front writes the envelope recipients (ORCPT first) that
// reached the mailbox, and drops the sender's list: a Bcc-only or list message is stamped with
// the address it was sent to, a forged list steers nothing. Off, the stamps are as before.
TEST_F(SmtpFront, TheEnvelopeRecipientListIsWrittenOnlyWhenSetAndReplacesTheSenders) {
    const auto& alias = server->sample.localAliases.at(2);
    server->RegisterSink(LORVANTA_DLL, alias);
    ASSERT_EQ(server->Problem(), "");
    // The owner's address at the mail. subdomain is another of its proxy addresses.
    const auto owner = Address(2);
    const auto other =
        owner.substr(0, owner.find('@') + 1) + "mail." + owner.substr(owner.find('@') + 1);
    const struct {
        const char* name;
        std::string headers;
        std::string orcpt;
        std::string stampedOn, stampedOff;
    } cases[] = {
        {"bcc only", "To: someone@partner.example\r\n", "", owner, ""},
        {"list", "To: sales-list@partner.example\r\n", "", owner, ""},
        {"alias expanded", "To: sales-list@partner.example\r\n", other, other, ""},
        {"forged", "To: someone@partner.example\r\nX-RecipientList: " + other + "\r\n", "", owner,
         other},
    };
    const auto stampOf = [](const platform::store::PropertyMap& properties) {
        const auto found = properties.find(platform::store::kInternetAccountName);
        return found == properties.end() ? std::string() : found->second.ToText();
    };
    const platform::host::ServerFolder folder(Root());
    for (const bool on : {true, false}) {
        auto names = folder.ReadMachineNames();
        names.envelopeRecipientList = on;
        folder.WriteMachineNames(names);
        SmtpServerProcess lmtp(Root(), {}, "127.0.0.1:0", "lmtp");
        Client client("127.0.0.1", lmtp.Port());
        ASSERT_EQ(client.Command("LHLO c").code, 250);
        for (const auto& c : cases) {
            const auto subject = std::string(c.name) + (on ? " on" : " off");
            ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example>").code, 250);
            ASSERT_EQ(client
                          .Command("RCPT TO:<" + owner + ">" +
                                   (c.orcpt.empty() ? "" : " ORCPT=rfc822;" + c.orcpt))
                          .code,
                      250);
            ASSERT_EQ(client.Command("DATA").code, 354);
            ASSERT_EQ(client
                          .SendMessageBody("From: s@partner.example\r\n" + c.headers +
                                           "Subject: " + subject + "\r\n\r\nHi.\r\n")
                          .code,
                      250);
            const auto inbox = InboxOf(alias);
            const auto stored = inbox.find(subject);
            ASSERT_NE(stored, inbox.end()) << subject;
            EXPECT_EQ(stampOf(stored->second), on ? c.stampedOn : c.stampedOff) << subject;
            const auto headers =
                stored->second.at(platform::store::kTransportMessageHeaders).Text();
            const auto listed = c.orcpt.empty() ? owner : c.orcpt;
            const auto ours = headers.find("\r\nX-RecipientList: " + listed + "\r\nFrom: ");
            EXPECT_EQ(ours != std::string::npos, on) << headers;
            const auto forged = headers.find("X-RecipientList: " + other + "\r\nSubject");
            EXPECT_EQ(forged != std::string::npos, !on && std::string(c.name) == "forged")
                << headers;
        }
    }
    auto names = folder.ReadMachineNames();
    names.envelopeRecipientList = false;
    folder.WriteMachineNames(names);
}

TEST_F(SmtpFront, ListeningBeyondLoopbackNeedsSayingAndWarns) {
    for (const auto* listen : {"0.0.0.0:0", "127.0.0.1:0"}) {
        SmtpServerProcess smtp(Root(), {}, listen);
        smtp.Terminate();
        EXPECT_EQ(smtp.Wait(), 0);
        EXPECT_EQ(smtp.ErrorOutput().find("warning: 0.0.0.0 is not a loopback address") !=
                      std::string::npos,
                  std::string(listen) == "0.0.0.0:0")
            << smtp.ErrorOutput();
    }
}

// The options reach the server. The per-client limit is tested only here, the other limits
// in-process (SmtpServerTest).
TEST_F(SmtpFront, TheSessionLimitsAreOptions) {
    SmtpServerProcess smtp(
        Root(), {"--max-per-client", "1", "--command-timeout", "1", "--max-size", "1000"});
    Client first("127.0.0.1", smtp.Port());
    Client second("127.0.0.1", smtp.Port());
    ASSERT_EQ(second.Greeting().code, 421);
    EXPECT_NE(second.Greeting().lines.at(0).find("4.7.0"), std::string::npos) << "per client";
    EXPECT_TRUE(second.ServerClosed());
    const auto ehlo = first.Command("EHLO c");
    EXPECT_NE(std::find(ehlo.lines.begin(), ehlo.lines.end(), "SIZE 1000"), ehlo.lines.end());
    // Half a command, then nothing: the command deadline closes the session.
    first.SendRaw("NOO");
    const auto reply = first.ReadReply();
    EXPECT_EQ(reply.code, 421);
    EXPECT_NE(reply.lines.at(0).find("command took too long"), std::string::npos)
        << reply.lines.at(0);
}

} // namespace
