// A message goes the whole way: the transport (exhost deliver) resolves the recipient through
// the directory and saves the message into the mailbox's Inbox; the store's event service loads
// the registered Lorvanta.dll by its ProgID; the sink asks the directory for the owner's
// addresses and stamps the first one the headers name.

#include "testsupport/ExhostRunner.h"
#include "testsupport/ScopedServerFolder.h"

#include "platform/directory/SampleDirectory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

using namespace exhost_test;

namespace {

const std::string kDomain = "example.com";
const std::string kAccountName =
    "http://schemas.microsoft.com/mapi/id/{00062008-0000-0000-C000-000000000046}/0x8580";
const std::string kKeywords = "urn:schemas-microsoft-com:office:office#Keywords";

std::string MailboxUrl(const std::string& alias) {
    return "file://./backofficestorage/" + kDomain + "/mbx/" + alias;
}

// The owner's SMTP addresses as the directory spells them, primary first.
std::vector<std::string> SmtpAddresses(const std::vector<std::string>& proxies) {
    std::vector<std::string> addresses;
    for (const auto& proxy : proxies)
        if (proxy.size() > 5 && (proxy.rfind("SMTP:", 0) == 0 || proxy.rfind("smtp:", 0) == 0))
            addresses.push_back(proxy.substr(5));
    return addresses;
}

class DeliveryRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<testsupport::ScopedServerFolder>();
        platform::directory::SampleDirectorySettings settings;
        settings.forestDnsName = kDomain;
        settings.users = 4;
        settings.seed = 3;
        sample = platform::directory::GenerateSampleDirectory(settings);
        owner = sample.localAliases.at(0);
        other = sample.localAliases.at(1);
        ownerAddresses = SmtpAddresses(sample.firstLocalProxyAddresses);

        const std::vector<std::vector<std::string>> steps = {
            {"init", "--users", "4", "--seed", "3"},
            {"directory", "start"},
            {"regsvr", LORVANTA_DLL},
            {"regevent", "add", "--folder", MailboxUrl(owner) + "/Inbox", "--name", "Lorvanta.reg",
             "--event", "onsyncsave", "--sink", "Lorvanta.LorvantaCls", "--scope", "SHALLOW",
             "--criteria", " WHERE \"DAV:ishidden\" = FALSE", "--priority", "1"},
        };
        for (auto step : steps) {
            step.push_back("--root");
            step.push_back(folder->Root());
            const auto result = RunExhost(step);
            if (result.exitCode != 0) {
                setupFailure = step[0] + " failed: " + result.err;
                return;
            }
        }
    }
    // Stops the directory server even when a test failed.
    static void TearDownTestSuite() { folder.reset(); }

    void SetUp() override {
        ASSERT_TRUE(setupFailure.empty()) << setupFailure;
        ASSERT_GE(ownerAddresses.size(), 3u);
    }

    // Delivers a message to `recipient` and returns the stored item's properties.
    static QJsonObject Deliver(const std::string& recipient, const std::string& message) {
        const auto file = folder->Path() / ("message" + std::to_string(++messageCount) + ".eml");
        std::ofstream(file, std::ios::binary) << message;
        const auto delivered =
            RunExhost({"deliver", "--root", folder->Root(), "--rcpt", recipient, file.string()});
        EXPECT_EQ(delivered.exitCode, 0) << delivered.err;
        const auto urls = Lines(delivered.out);
        if (urls.size() != 1)
            return {};
        const auto shown = RunExhost({"show", "--root", folder->Root(), urls[0], "--json"});
        EXPECT_EQ(shown.exitCode, 0) << shown.err;
        QJsonParseError error;
        const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(shown.out), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << shown.out;
        return document.object()["properties"].toObject();
    }

    static std::string EventLog() {
        std::ifstream in(folder->Path() / "store" / "events.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static std::unique_ptr<testsupport::ScopedServerFolder> folder;
    static platform::directory::SampleDirectory sample;
    static std::string owner, other, setupFailure;
    static std::vector<std::string> ownerAddresses;
    static int messageCount;
};

std::unique_ptr<testsupport::ScopedServerFolder> DeliveryRoad::folder;
platform::directory::SampleDirectory DeliveryRoad::sample;
std::string DeliveryRoad::owner, DeliveryRoad::other, DeliveryRoad::setupFailure;
std::vector<std::string> DeliveryRoad::ownerAddresses;
int DeliveryRoad::messageCount = 0;

struct RoadCase {
    const char* name;
    // Header lines; @P@, @S@ and @M@ stand for the owner's primary and two other SMTP
    // addresses, @O@ for another user's address.
    const char* headers;
    // Which owner address is stamped: 0 primary, 1 and 2 the others, -1 none.
    int stamped;
};

class DeliveryRoadCases : public DeliveryRoad, public ::testing::WithParamInterface<RoadCase> {};

TEST_P(DeliveryRoadCases, StampsTheFirstOwnerAddressTheHeadersName) {
    const auto& param = GetParam();
    std::string headers = param.headers;
    const std::vector<std::pair<std::string, std::string>> markers = {
        {"@P@", ownerAddresses[0]},
        {"@S@", ownerAddresses[1]},
        {"@M@", ownerAddresses[2]},
        {"@O@", other + "@" + kDomain}};
    for (const auto& [marker, value] : markers)
        for (auto at = headers.find(marker); at != std::string::npos; at = headers.find(marker))
            headers.replace(at, marker.size(), value);

    const auto properties =
        Deliver(ownerAddresses[0], "From: sender@partner.example.net\n" + headers +
                                       "Subject: " + param.name + "\n\nHello.\n");
    ASSERT_FALSE(properties.isEmpty());
    // The event service writes a line for every sink it could not create or that failed.
    EXPECT_EQ(EventLog(), "");
    if (param.stamped < 0) {
        EXPECT_FALSE(properties.contains(QString::fromStdString(kAccountName)));
        EXPECT_FALSE(properties.contains(QString::fromStdString(kKeywords)));
        return;
    }
    const auto expected = ownerAddresses.at(static_cast<std::size_t>(param.stamped));
    EXPECT_EQ(properties[QString::fromStdString(kAccountName)].toString().toStdString(), expected);
    const auto keywords = properties[QString::fromStdString(kKeywords)].toArray();
    ASSERT_EQ(keywords.size(), 1);
    EXPECT_EQ(keywords[0].toString().toStdString(), expected);
}

// The scanning rule itself is the sink's unit tests' (against the plain model); these cases
// check that the road gives the sink the owner's addresses as the directory holds them.
INSTANTIATE_TEST_SUITE_P(Messages, DeliveryRoadCases,
                         ::testing::Values(RoadCase{"PrimaryAddress", "To: @P@\n", 0},
                                           RoadCase{"AnotherUserNamedFirst", "To: @O@, @M@\n", 2},
                                           RoadCase{"CcBeforeTo", "Cc: @S@\nTo: @P@\n", 1},
                                           RoadCase{"OnlyAnotherUser", "To: @O@\n", -1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeliveryRoad, AMailboxWithoutARegistrationIsLeftAlone) {
    const auto properties =
        Deliver(other + "@" + kDomain, "To: " + other + "@" + kDomain + "\nSubject: x\n\nbody\n");
    ASSERT_FALSE(properties.isEmpty());
    EXPECT_FALSE(properties.contains(QString::fromStdString(kAccountName)));
    EXPECT_FALSE(properties.contains(QString::fromStdString(kKeywords)));
}

} // namespace
