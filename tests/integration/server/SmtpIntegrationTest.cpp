// The roads through "exhost smtp" and "exhost lmtp" over the network, against a real server folder
// with its directory running. The protocol's rules are tested in-process (SmtpSessionTest,
// SmtpServerTest); what a delivery stores, in ExhostIntegrationTest (the fronts' backend and
// "exhost deliver" share it); LMTP behind a real MTA, in tests/e2e/PostfixRoadTest.

#include "server/smtp/SmtpClient.h"
#include "tests/integration/SampleServerSuite.h"
#include "testsupport/SmtpServerProcess.h"

#include "platform/store/PropertyNames.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <unistd.h>

using namespace exhost_test;
using namespace platform::store;
using server::smtp::Client;
using testing::Contains;
using testing::HasSubstr;
using testing::StartsWith;
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

    // The stored properties of the message with the subject in the Inbox of `alias` (none: {}).
    static PropertyMap Stored(const std::string& alias, const std::string& subject) {
        for (auto& item : Inbox(alias))
            if (item.properties.count(kSubject) && item.properties.at(kSubject).ToText() == subject)
                return item.properties;
        return {};
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
    const auto stored = Stored(alias, "tagged");
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(stored.at(kInternetAccountName).ToText(), Address(2));
    EXPECT_EQ(stored.at(kKeywords).Array(), std::vector<std::string>{"Sales,urgent," + Address(2)});
    const auto headers = stored.at(kTransportMessageHeaders).Text();
    EXPECT_THAT(headers,
                StartsWith("Return-Path: <s@partner.example>\r\nReceived: from c\r\n\tby "));
    EXPECT_THAT(headers, HasSubstr(" with ESMTP id "));
    EXPECT_THAT(headers, HasSubstr("\tfor <" + Address(2) + ">; "));
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
        const auto stored = Stored(server->sample.localAliases.at(0), "over lmtp");
        ASSERT_FALSE(stored.empty());
        EXPECT_EQ(stored.at(kTextDescription).ToText(), ".hi\r\n");
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
        const auto warned = smtp.ErrorOutput().find("warning: 0.0.0.0 is not a loopback address");
        EXPECT_EQ(warned != std::string::npos, std::string(listen) == "0.0.0.0:0")
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
    EXPECT_THAT(second.Greeting().lines.at(0), HasSubstr("4.7.0")) << "per client";
    EXPECT_TRUE(second.ServerClosed());
    const auto ehlo = first.Command("EHLO c");
    EXPECT_THAT(ehlo.lines, Contains("SIZE 1000"));
    // Half a command, then nothing: the command deadline closes the session.
    first.SendRaw("NOO");
    const auto reply = first.ReadReply();
    EXPECT_EQ(reply.code, 421);
    EXPECT_THAT(reply.lines.at(0), HasSubstr("command took too long"));
}

} // namespace
