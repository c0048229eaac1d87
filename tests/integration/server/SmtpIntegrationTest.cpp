// The roads through "exhost smtp" and "exhost lmtp" over the network, against a real server folder
// with its directory running. The protocol's rules are tested in-process (SmtpSessionTest,
// SmtpServerTest); what a delivery stores, in ExhostIntegrationTest (the fronts' backend and
// "exhost deliver" share it); LMTP behind a real MTA, in tests/e2e/PostfixRoadTest.

#include "server/smtp/SmtpClient.h"
#include "tests/integration/SampleServerSuite.h"
#include "testsupport/SmtpServerProcess.h"

#include "platform/store/PropertyNames.h"

#include <gtest/gtest.h>

#include <algorithm>
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

class SmtpFront : public SampleServerSuite<SmtpFront> {
public:
    static platform::directory::SampleDirectorySettings Settings() {
        return SampleSettings(8, "smtp.test", 3);
    }

protected:
    static std::string Address(std::size_t user) { return server->Address(user); }

    // The messages in a mailbox's Inbox: subject -> stored properties.
    static std::multimap<std::string, platform::store::PropertyMap>
    InboxOf(const std::string& alias) {
        std::multimap<std::string, platform::store::PropertyMap> messages;
        for (auto& item : Inbox(alias))
            if (item.properties.count(platform::store::kSubject))
                messages.emplace(item.properties.at(platform::store::kSubject).ToText(),
                                 item.properties);
        return messages;
    }
};

// With take_keywords in machine.conf the sender's Keywords become the message's keywords, and the
// sink adds the address to them (without it only the address: tests/e2e/PostfixRoadTest). The copy
// is traced as it arrived.
TEST_F(SmtpFront, TakenKeywordsAreKeptBesideTheStampAndTheCopyIsTraced) {
    const auto& alias = server->sample.localAliases.at(2);
    server->RegisterSink(LORVANTA_DLL, alias);
    ASSERT_EQ(server->Problem(), "");
    const platform::host::ServerFolder folder(Root());
    auto names = folder.ReadMachineNames();
    names.takeKeywords = true;
    folder.WriteMachineNames(names);
    SmtpServerProcess smtp(Root());
    names.takeKeywords = false; // read when a front starts
    folder.WriteMachineNames(names);
    Client client("127.0.0.1", smtp.Port());
    client.Command("EHLO c");
    const auto message = "Keywords: Sales, urgent,\r\n Sales\r\n" +
                         Message("tagged", "Someone <someone@partner.example>, " + Address(2));
    ASSERT_EQ(client.Deliver("s@partner.example", {Address(2)}, message).code, 250);
    const auto inbox = InboxOf(alias);
    const auto stored = inbox.find("tagged");
    ASSERT_NE(stored, inbox.end());
    EXPECT_EQ(stored->second.at(platform::store::kInternetAccountName).ToText(), Address(2));
    EXPECT_EQ(stored->second.at(platform::store::kKeywords).Array(),
              std::vector<std::string>{"Sales,urgent," + Address(2)});
    const auto headers = stored->second.at(platform::store::kTransportMessageHeaders).Text();
    EXPECT_EQ(headers.rfind("Return-Path: <s@partner.example>\r\nReceived: from c\r\n\tby ", 0), 0u)
        << headers;
    EXPECT_NE(headers.find(" with ESMTP id "), std::string::npos) << headers;
    EXPECT_NE(headers.find("\tfor <" + Address(2) + ">; "), std::string::npos) << headers;
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
