// A real MTA in front: a private Postfix instance takes messages from its sendmail and delivers
// its virtual mailbox domain over LMTP to "exhost lmtp", with the sink registered on the
// recipients' Inboxes. And behind: the relay host that "exhost submission" hands mail for other
// domains to. What arrived is read back with "exhost show --json".

#include "tests/integration/SampleServerSuite.h"
#include "testsupport/PostfixInstance.h"
#include "testsupport/SmtpServerProcess.h"

#include "server/smtp/SmtpClient.h"

#include "platform/core/Base64.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/PropertyNames.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <memory>

using namespace exhost_test;

namespace {

const std::string kDomain = "example.com";

struct Stored {
    std::string accountName;
    std::vector<std::string> keywords;
};

class PostfixFront : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!PostfixInstance::CanRun())
            return;
        server = std::make_unique<SampleServer>(SampleSettings(6, kDomain, 5));
        const auto& aliases = server->sample.localAliases;
        for (const auto& alias :
             {aliases.at(0), aliases.at(1), aliases.at(2), aliases.at(3), server->sample.utf8Alias})
            server->RegisterSink(LORVANTA_DLL, alias);
        if (!server->Problem().empty())
            return;
        lmtp = std::make_unique<SmtpServerProcess>(
            server->folder.Root(), std::vector<std::string>{}, "127.0.0.1:0", "lmtp");
        postfix = std::make_unique<PostfixInstance>(kDomain, lmtp->Port());
    }
    static void TearDownTestSuite() {
        postfix.reset(); // stopped first: it holds LMTP sessions
        if (lmtp) {
            lmtp->Terminate();
            lmtp->Wait();
        }
        lmtp.reset();
        server.reset();
    }

    void SetUp() override {
        if (!PostfixInstance::CanRun())
            GTEST_SKIP() << "the Postfix test needs root: Postfix's master process only starts "
                            "as root (run ./run test as root or with sudo)";
        ASSERT_EQ(server->Problem(), "");
        ASSERT_TRUE(postfix);
    }

    static std::string Address(std::size_t user, const std::string& domain = kDomain) {
        return server->sample.localAliases.at(user) + "@" + domain;
    }

    // The messages in the Inbox of `alias` with this subject, as "exhost show --json" gives them.
    static std::vector<Stored> Find(const std::string& alias, const std::string& subject) {
        const auto shown = server->Run({"show", server->InboxUrl(alias), "--json"});
        const auto items = QJsonDocument::fromJson(QByteArray::fromStdString(shown.out))
                               .object()["items"]
                               .toArray();
        std::vector<Stored> found;
        for (const auto& item : items) {
            const auto properties = item.toObject()["properties"].toObject();
            if (properties["urn:schemas:httpmail:subject"].toString().toStdString() != subject)
                continue;
            Stored stored;
            const auto name = QString::fromStdString(platform::store::kInternetAccountName);
            stored.accountName = properties[name].toString().toStdString();
            const auto keywords = QString::fromStdString(platform::store::kKeywords);
            for (const auto& keyword : properties[keywords].toArray())
                stored.keywords.push_back(keyword.toString().toStdString());
            found.push_back(stored);
        }
        return found;
    }

    static inline std::unique_ptr<SampleServer> server;
    static inline std::unique_ptr<SmtpServerProcess> lmtp;
    static inline std::unique_ptr<PostfixInstance> postfix;
};

// One message as submitted, and what each mailbox it reaches must hold: exactly one copy,
// stamped with the header address the directory holds for that mailbox.
struct Submission {
    std::string subject;
    std::vector<std::string> envelope;
    std::string headers;                                       // To and what else the sender wrote
    std::vector<std::pair<std::string, std::string>> expected; // alias -> stamped address
};

TEST_F(PostfixFront, SubmittedMailArrivesStampedOnceInEachMailboxAndTheUnknownRecipientBounces) {
    const auto sender = Address(4); // gets the bounce; no sink on its Inbox
    const auto joerg = server->sample.utf8Address;
    const auto shouted = "J\xC3\x96RG@" + kDomain; // JÖRG@, the directory holds jörg@
    const auto& alias = server->sample.localAliases;
    const auto secondOfFirst =
        server->sample.firstLocalProxyAddresses.at(1).substr(5); // after "smtp:"
    const std::vector<Submission> submissions = {
        {"plain",
         {Address(1)},
         "To: " + Address(1, "mail." + kDomain) + "\r\nKeywords: urgent, Sales\r\n",
         {{alias[1], Address(1, "mail." + kDomain)}}},
        {"folded to",
         {Address(2)},
         "To: Someone <someone@partner.example>,\r\n\tThe Owner\r\n <" + Address(2) + ">\r\n",
         {{alias[2], Address(2)}}},
        {"one mailbox twice",
         {Address(0), secondOfFirst},
         "To: " + secondOfFirst + "\r\n",
         {{alias[0], secondOfFirst}}},
        {"two mailboxes",
         {Address(1), Address(2)},
         "To: " + Address(1) + ", " + Address(2, "mail." + kDomain) + "\r\n",
         {{alias[1], Address(1)}, {alias[2], Address(2, "mail." + kDomain)}}},
        {"one unknown",
         {Address(3), "nobody@" + kDomain},
         "To: " + Address(3) + ", nobody@" + kDomain + "\r\n",
         {{alias[3], Address(3)}}},
        {"utf8",
         {shouted},
         "To: =?utf-8?q?J=C3=B6rg?= <" + shouted + ">\r\n",
         {{server->sample.utf8Alias, joerg}}},
    };
    for (const auto& s : submissions)
        postfix->Submit(sender, s.envelope,
                        "From: <" + sender + ">\r\n" + s.headers + "Subject: " + s.subject +
                            "\r\n\r\nBody of " + s.subject + ".\r\n");
    ASSERT_TRUE(postfix->AwaitQueueDone()) << postfix->Log();
    EXPECT_EQ(postfix->Deferred(), 0u) << postfix->Log();

    for (const auto& s : submissions)
        for (const auto& [mailbox, address] : s.expected) {
            const auto found = Find(mailbox, s.subject);
            ASSERT_EQ(found.size(), 1u) << s.subject << " in " << mailbox << "\n" << postfix->Log();
            EXPECT_EQ(found[0].accountName, address) << s.subject;
            // The sender's Keywords are not taken (take_keywords is off).
            EXPECT_EQ(found[0].keywords, std::vector<std::string>{address}) << s.subject;
        }
    EXPECT_EQ(Find(server->sample.localAliases[4], "Undelivered Mail Returned to Sender").size(),
              1u)
        << postfix->Log();
    const auto log = postfix->Log();
    const auto unknown = log.find("to=<nobody@" + kDomain + ">");
    ASSERT_NE(unknown, std::string::npos) << log;
    const auto line = log.substr(unknown, log.find('\n', unknown) - unknown);
    EXPECT_NE(line.find("status=bounced"), std::string::npos) << line;
    EXPECT_NE(line.find("550"), std::string::npos) << line;
}

// Postfix expands a virtual alias and, because the LMTP front announces DSN, passes the address
// the mail was sent to as ORCPT. A front started with envelope_recipient_list lists that address,
// so the sink stamps it although no header names it; the shared front (setting off) does not.
TEST_F(PostfixFront, AVirtualAliasReachesTheMailboxAndItsOriginalAddressIsStamped) {
    const platform::host::ServerFolder folder(server->folder.Root());
    auto names = folder.ReadMachineNames();
    names.envelopeRecipientList = true;
    folder.WriteMachineNames(names);
    SmtpServerProcess listing(server->folder.Root(), {}, "127.0.0.1:0", "lmtp");
    names.envelopeRecipientList = false; // read when a front starts: the shared one stays off
    folder.WriteMachineNames(names);
    const auto sentTo = Address(3, "mail." + kDomain); // another address of the owner
    for (const auto& [port, subject] :
         {std::pair{listing.Port(), "aliased listed"}, std::pair{lmtp->Port(), "aliased plain"}}) {
        PostfixInstance aliasing(kDomain, port, {{sentTo, Address(3)}});
        aliasing.Submit(Address(4), {sentTo},
                        "From: <" + Address(4) + ">\r\nTo: team@partner.example\r\nSubject: " +
                            subject + "\r\n\r\nBody.\r\n");
        ASSERT_TRUE(aliasing.AwaitQueueDone()) << aliasing.Log();
        EXPECT_EQ(aliasing.Deferred(), 0u) << aliasing.Log();
        const auto found = Find(server->sample.localAliases[3], subject);
        ASSERT_EQ(found.size(), 1u) << subject << "\n" << aliasing.Log();
        EXPECT_EQ(found[0].accountName, port == listing.Port() ? sentTo : "") << subject;
    }
}

// A loopback port nobody listens on now.
unsigned short FreePort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

// The owner's client submits mail for another domain: "exhost submission" hands it to the relay
// host machine.conf names, a Postfix that queues and delivers it (here back to a mailbox of
// ours, through a virtual alias of the other domain). That our own domain's unknown address is
// refused by us, not relayed, is submission_test.py's.
TEST_F(PostfixFront, SubmittedMailForElsewhereIsHandedToTheRelayHostWhichDeliversIt) {
    const auto elsewhere = "bob@partner.example";
    const auto smtpPort = FreePort();
    PostfixInstance relay(kDomain, lmtp->Port(), {{elsewhere, Address(2)}}, smtpPort);
    const platform::host::ServerFolder folder(server->folder.Root());
    auto names = folder.ReadMachineNames();
    names.relayHost = "127.0.0.1:" + std::to_string(smtpPort);
    folder.WriteMachineNames(names);
    SmtpServerProcess submission(server->folder.Root(), {}, "127.0.0.1:0", "submission");
    names.relayHost.clear(); // read when a front starts
    folder.WriteMachineNames(names);
    const auto& owner = server->sample.localAliases.at(0);
    ASSERT_EQ(RunExhost({"passwd", owner}, server->folder.Root(), "relay-test-7\n").exitCode, 0);

    server::smtp::Client client("127.0.0.1", submission.Port());
    ASSERT_EQ(client.Command("EHLO client.example").code, 250);
    ASSERT_EQ(client
                  .Command("AUTH PLAIN " +
                           platform::text::EncodeBase64(std::string(1, '\0') + Address(0) +
                                                        std::string(1, '\0') + "relay-test-7"))
                  .code,
              235);
    const auto reply = client.Deliver(Address(0), {elsewhere},
                                      "From: <" + Address(0) + ">\r\nTo: <" + elsewhere +
                                          ">\r\nSubject: relayed by Postfix\r\n\r\nBody.\r\n");
    ASSERT_EQ(reply.code, 250) << (reply.lines.empty() ? "" : reply.lines[0]) << relay.Log();
    ASSERT_TRUE(relay.AwaitQueueDone()) << relay.Log();
    EXPECT_EQ(relay.Deferred(), 0u) << relay.Log();
    EXPECT_EQ(Find(server->sample.localAliases.at(2), "relayed by Postfix").size(), 1u)
        << relay.Log();
}

} // namespace
