// What the SMTP and LMTP fronts tell the operator and the client, on the real store and
// directory: a session's log from start to end, and failures of the store (its disk full or its
// file read-only) and of the directory answered with a generic 451 and an id that the log
// explains, never with the server's paths. Nothing of a refused message is kept, and the sender's
// next try, once the disk is repaired, goes through.

#include "FaultRoad.h"

#include "server/delivery/MailboxDelivery.h"
#include "server/delivery/SmtpDeliveryBackend.h"
#include "server/log/ServerLog.h"
#include "server/smtp/SmtpClient.h"
#include "server/smtp/SmtpServer.h"
#include "tests/unit/server/RunningServer.h"

#include <gmock/gmock.h>

#include <regex>
#include <thread>

namespace faulttest {
namespace {

namespace smtp = server::smtp;
namespace serverlog = server::log;
using ::testing::HasSubstr;

class SmtpFrontLog : public FaultRoad, public ::testing::WithParamInterface<smtp::Protocol> {
protected:
    void SetUp() override {
        FaultRoad::SetUp();
        delivery_ = std::make_unique<server::delivery::MailboxDelivery>(
            platform::host::ServerFolder(folder_.Root()));
        smtp::ServerSettings settings;
        settings.protocol = GetParam();
        front_.emplace(settings, [this](NoGates&) {
            return std::make_unique<server::delivery::SmtpDeliveryBackend>(*delivery_);
        });
    }

    void TearDown() override {
        front_.reset();
        FaultRoad::TearDown();
    }

    std::unique_ptr<smtp::Client> Connect() {
        auto client = std::make_unique<smtp::Client>("127.0.0.1", front_->Port());
        const auto hello =
            GetParam() == smtp::Protocol::Lmtp ? "LHLO fault.test" : "EHLO fault.test";
        EXPECT_EQ(client->Command(hello).code, 250);
        return client;
    }

    // The captured lines that start with `event` and hold `field`, waiting a little for them:
    // a session's end is logged by the network thread after the client saw it close.
    std::vector<std::string> Logged(const std::string& event, const std::string& field) {
        std::vector<std::string> found;
        for (int tries = 0; found.empty() && tries < 100; ++tries) {
            if (tries > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            for (const auto& line : capture_.Lines())
                if (line.starts_with(event + " ") && line.find(field) != std::string::npos)
                    found.push_back(line);
        }
        return found;
    }

    // A failure reply: 451, the generic text and an id, and nothing that names the server's
    // files or its errors. Returns the one line logged for that id, empty if there is none.
    std::string LoggedFailure(const smtp::Reply& reply) {
        static const std::regex failure("4\\.3\\.0 Internal error, id ([0-9A-F]{16})$");
        EXPECT_EQ(reply.code, 451) << reply.Wire();
        EXPECT_EQ(reply.Wire().find('/'), std::string::npos) << reply.Wire();
        EXPECT_EQ(reply.Wire().find(folder_.Root()), std::string::npos) << reply.Wire();
        std::smatch match;
        const auto& text = reply.lines.at(0);
        if (!std::regex_search(text, match, failure)) {
            ADD_FAILURE() << "not a failure reply with an id: " << reply.Wire();
            return "";
        }
        const auto logged = Logged("failure", " id=" + match[1].str() + " ");
        EXPECT_EQ(logged.size(), 1u) << match[1].str();
        return logged.size() == 1 ? logged[0] : "";
    }

    serverlog::Capture capture_;
    std::unique_ptr<server::delivery::MailboxDelivery> delivery_;
    // The real backend holds no calls back: nothing to open before the front stops.
    struct NoGates {
        void OpenGates() {}
    };
    std::optional<servertest::RunningServer<smtp::Server, NoGates>> front_;
};

TEST_P(SmtpFrontLog, ASessionIsLoggedFromStartToEndWithEachRefusalAndDelivery) {
    auto client = Connect();
    ASSERT_EQ(client->Command("MAIL FROM:<sender@partner.example.net>").code, 250);
    const auto refused = client->Command("RCPT TO:<nobody@" + kDomain + ">");
    EXPECT_EQ(refused.code, 550);
    EXPECT_EQ(refused.lines.at(0), "5.1.1 No such recipient here: <nobody@" + kDomain + ">");
    ASSERT_EQ(client->Command("RCPT TO:<" + OwnerAddress() + ">").code, 250);
    ASSERT_EQ(client->Command("DATA").code, 354);
    const auto message = "Message-ID: <logged@partner.example.net>\r\n" + Message("logged");
    ASSERT_EQ(client->SendMessageBody(message).code, 250);
    ASSERT_EQ(client->Command("QUIT").code, 221);
    ASSERT_TRUE(client->ServerClosed());

    const auto started = Logged("session-start", "client=127.0.0.1");
    ASSERT_EQ(started.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(started[0], match, std::regex("session=([0-9A-F]{16})")));
    const auto session = "session=" + match[1].str() + " client=127.0.0.1 ";
    const auto alias = server_.sample.localAliases.at(0);
    const auto refusal = Logged("refused", session);
    ASSERT_EQ(refusal.size(), 1u);
    EXPECT_EQ(refusal[0].rfind("refused " + session + "step=rcpt address=nobody@" + kDomain +
                                   " reason=\"no mailbox has the address nobody@" + kDomain,
                               0),
              0u)
        << refusal[0];
    const auto delivered = Logged("delivery", session);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        delivered[0], match,
        std::regex("delivery " + session +
                   "id=([0-9A-F]{16}) message_id=<logged@partner.example.net> size=" +
                   std::to_string(message.size()) + " recipients=1 mailboxes=" + alias +
                   " outcome=stored ms=[0-9]+")))
        << delivered[0];
    // The Received field of the stored copy names the delivery's id.
    const auto inbox = store_->Children(store_->Locate(InboxUrl()), false);
    ASSERT_FALSE(inbox.empty());
    const auto headers =
        inbox.back().properties.at(platform::store::kTransportMessageHeaders).ToText();
    EXPECT_THAT(headers, HasSubstr(" id " + match[1].str()));
    const auto ended = Logged("session-end", session);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_TRUE(
        std::regex_match(ended[0], std::regex("session-end " + session + "reason=quit ms=[0-9]+")))
        << ended[0];
}

// SMTP stores for all recipients at once, LMTP for each: every recipient gets its 451.
TEST_P(SmtpFrontLog, ADiskFaultIsAnInternalErrorWithAnIdAndNothingOfTheMessageIsKept) {
    const std::vector<std::string> recipients = {OwnerAddress(), server_.Address(1)};
    ASSERT_EQ(Connect()->Deliver("sender@partner.example.net", recipients, Message("before")).code,
              250);
    const auto before = InboxSubjects();
    struct Fault {
        const char* name;
        void (*inflict)();
    };
    std::size_t failed = 0;
    for (const auto& fault : {Fault{"disk full", [] { FaultyDisk::FillAfter(0); }},
                              Fault{"read-only file", [] { FaultyDisk::MakeReadOnly(); }}}) {
        SCOPED_TRACE(fault.name);
        auto client = Connect();
        ASSERT_EQ(client->Command("MAIL FROM:<sender@partner.example.net>").code, 250);
        for (const auto& recipient : recipients)
            ASSERT_EQ(client->Command("RCPT TO:<" + recipient + ">").code, 250);
        ASSERT_EQ(client->Command("DATA").code, 354);
        fault.inflict();
        std::vector<smtp::Reply> replies = {client->SendMessageBody(Message(fault.name))};
        if (GetParam() == smtp::Protocol::Lmtp)
            replies.push_back(client->ReadReply());
        for (const auto& reply : replies) {
            const auto failure = LoggedFailure(reply);
            EXPECT_THAT(failure, HasSubstr("step=data"));
            EXPECT_THAT(failure, HasSubstr("detail=\"delivery "));
        }
        failed += replies.size();
        FaultyDisk::Repair();
        EXPECT_EQ(InboxSubjects(), before);
        EXPECT_EQ(client->Command("NOOP").code, 250) << "the session goes on";
    }
    // SMTP's one store for both mailboxes, or LMTP's one for each.
    EXPECT_EQ(Logged("delivery", "outcome=failed").size(), failed);

    // The sender tries again later, and the message arrives.
    ASSERT_EQ(
        Connect()->Deliver("sender@partner.example.net", {OwnerAddress()}, Message("again")).code,
        250);
    auto after = before;
    after.push_back("again");
    EXPECT_EQ(InboxSubjects(), after);
}

TEST_P(SmtpFrontLog, ADirectoryThatIsDownFailsTheLookupWithAnId) {
    auto client = Connect();
    ASSERT_EQ(client->Command("MAIL FROM:<sender@partner.example.net>").code, 250);
    directory_->Stop();
    EXPECT_THAT(LoggedFailure(client->Command("RCPT TO:<" + OwnerAddress() + ">")),
                HasSubstr("step=rcpt address=" + OwnerAddress()));
    directory_->Start();
    EXPECT_EQ(client->Command("RCPT TO:<" + OwnerAddress() + ">").code, 250) << "and goes on";
}

INSTANTIATE_TEST_SUITE_P(Fronts, SmtpFrontLog,
                         ::testing::Values(smtp::Protocol::Smtp, smtp::Protocol::Lmtp),
                         [](const auto& info) {
                             return info.param == smtp::Protocol::Lmtp ? "Lmtp" : "Smtp";
                         });

} // namespace
} // namespace faulttest
