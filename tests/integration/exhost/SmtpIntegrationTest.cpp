// The roads through "exhost smtp" and "exhost lmtp" over the network, against a real server folder
// with its directory running. The protocol's rules are tested in-process (SmtpSessionTest,
// SmtpServerTest); what a delivery stores, in ExhostIntegrationTest.

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
#include <cstdlib>
#include <fstream>
#include <memory>
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
        ASSERT_GE(aliases.size(), 3u);
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

// Registers the sink on a mailbox's Inbox for the length of a scope.
class SinkRegistered {
public:
    SinkRegistered(const std::string& root, const std::string& alias)
        : root_(root), inbox_(InboxUrl(alias)) {
        EXPECT_EQ(RunExhost({"regsvr", LORVANTA_DLL, "--root", root}).exitCode, 0);
        const auto added = RunExhost({"regevent", "add", "--root", root, "--folder", inbox_,
                                      "--name", "Lorvanta.reg", "--sink", "Lorvanta.LorvantaCls"});
        EXPECT_EQ(added.exitCode, 0) << added.err;
    }
    ~SinkRegistered() {
        RunExhost(
            {"regevent", "delete", "--root", root_, "--folder", inbox_, "--name", "Lorvanta.reg"});
    }

private:
    std::string root_, inbox_;
};

// The sender's Keywords are the message's keywords before the sink adds the address. jörg@ is in
// the directory; the client writes JÖRG@, which only Unicode case folding matches, both in the
// directory's lookup and in the sink's comparison of the To header.
TEST_F(SmtpFront, TheSinkStampsMessagesThatArriveOverSmtpAndSmtputf8) {
    SinkRegistered plain(folder->Root(), aliases.at(2)), utf8(folder->Root(), utf8Alias);
    SmtpServerProcess server(folder->Root());
    Client client("127.0.0.1", server.Port());
    client.Command("EHLO c");
    const auto to = "Someone <someone@partner.example>, " + Address(2);
    const auto message = "Keywords: Sales, urgent,\r\n Sales\r\n" + Message("stamped", to);
    ASSERT_EQ(client.Deliver("s@partner.example", {Address(2)}, message).code, 250);
    const auto inbox = Inbox(2);
    const auto stored = inbox.find("stamped");
    ASSERT_NE(stored, inbox.end());
    EXPECT_EQ(stored->second.at(platform::store::kInternetAccountName).ToText(), Address(2));
    EXPECT_EQ(stored->second.at(platform::store::kKeywords).Array(),
              std::vector<std::string>{"Sales,urgent," + Address(2)});

    const auto shouted = "J\xC3\x96RG" + utf8Address.substr(utf8Address.find('@'));
    ASSERT_EQ(client.Command("MAIL FROM:<s@partner.example> SMTPUTF8").code, 250);
    ASSERT_EQ(client.Command("RCPT TO:<" + shouted + ">").code, 250);
    ASSERT_EQ(client.Command("DATA").code, 354);
    ASSERT_EQ(
        client.SendMessageBody(Message("utf8", "=?utf-8?q?J=C3=B6rg?= <" + shouted + ">")).code,
        250);
    const auto utf8Inbox = InboxOf(utf8Alias);
    const auto stamped = utf8Inbox.find("utf8");
    ASSERT_NE(stamped, utf8Inbox.end());
    EXPECT_EQ(stamped->second.at(platform::store::kInternetAccountName).ToText(), utf8Address);
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
                                 "        b'Subject: over lmtp\\r\\n\\r\\n.hi\\r\\n')\n"
                                 "    assert not refused, refused\n";
        const auto command =
            "/usr/bin/python3 " + script.string() + " " + socket.string() + " " + Address(0);
        EXPECT_EQ(std::system(command.c_str()), 0);
        const auto inbox = Inbox(0);
        const auto stored = inbox.find("over lmtp");
        ASSERT_NE(stored, inbox.end());
        EXPECT_EQ(stored->second.at(platform::store::kTextDescription).ToText(), ".hi\r\n");
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
    for (const auto* listen : {"0.0.0.0:0", "127.0.0.1:0"}) {
        SmtpServerProcess server(folder->Root(), {}, listen);
        server.Terminate();
        EXPECT_EQ(server.Wait(), 0);
        EXPECT_EQ(server.ErrorOutput().find("warning: 0.0.0.0 is not a loopback address") !=
                      std::string::npos,
                  std::string(listen) == "0.0.0.0:0")
            << server.ErrorOutput();
    }
}

// The options reach the server. The per-client limit is tested only here, the other limits
// in-process (SmtpServerTest).
TEST_F(SmtpFront, TheSessionLimitsAreOptions) {
    SmtpServerProcess server(
        folder->Root(), {"--max-per-client", "1", "--command-timeout", "1", "--max-size", "1000"});
    Client first("127.0.0.1", server.Port());
    Client second("127.0.0.1", server.Port());
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
