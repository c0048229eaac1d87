// A message goes the whole way: the transport (exhost deliver) resolves the recipient through
// the directory and saves the message into the mailbox's Inbox; the store's event service loads
// the registered Lorvanta.dll by its ProgID; the sink asks the directory for the owner's
// addresses and stamps the first one the headers name.

#include "testsupport/ExhostRunner.h"
#include "testsupport/FileText.h"

#include "platform/store/PropertyNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <memory>

using namespace exhost_test;

namespace {

class DeliveryRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        platform::directory::SampleDirectorySettings settings;
        settings.forestDnsName = "example.com";
        settings.users = 4;
        settings.seed = 3;
        server = std::make_unique<SampleServer>(settings);
        server->RegisterSink(LORVANTA_DLL, server->sample.localAliases.at(0));
        for (const auto& proxy : server->sample.firstLocalProxyAddresses)
            if (proxy.rfind("SMTP:", 0) == 0 || proxy.rfind("smtp:", 0) == 0)
                ownerAddresses.push_back(proxy.substr(5)); // the primary first
    }
    // Stops the directory server even when a test failed.
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override {
        ASSERT_EQ(server->Problem(), "");
        ASSERT_GE(ownerAddresses.size(), 3u);
    }

    // Delivers a message to `recipient` and returns the stored item's properties.
    static QJsonObject Deliver(const std::string& recipient, const std::string& message) {
        const auto delivered = server->Deliver({recipient}, message);
        EXPECT_EQ(delivered.exitCode, 0) << delivered.err;
        const auto urls = Lines(delivered.out);
        if (urls.size() != 1)
            return {};
        const auto shown = server->Run({"show", urls[0], "--json"});
        return QJsonDocument::fromJson(QByteArray::fromStdString(shown.out))
            .object()["properties"]
            .toObject();
    }

    static std::string EventLog() {
        return testsupport::FileText(server->folder.Path() / "store" / "events.log");
    }

    static std::unique_ptr<SampleServer> server;
    static std::vector<std::string> ownerAddresses;
};

std::unique_ptr<SampleServer> DeliveryRoad::server;
std::vector<std::string> DeliveryRoad::ownerAddresses;

const auto kAccountName = QString::fromStdString(platform::store::kInternetAccountName);
const auto kKeywords = QString::fromStdString(platform::store::kKeywords);

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
    const std::vector<std::pair<std::string, std::string>> markers = {{"@P@", ownerAddresses[0]},
                                                                      {"@S@", ownerAddresses[1]},
                                                                      {"@M@", ownerAddresses[2]},
                                                                      {"@O@", server->Address(1)}};
    for (const auto& [marker, value] : markers)
        for (auto at = headers.find(marker); at != std::string::npos; at = headers.find(marker))
            headers.replace(at, marker.size(), value);

    const auto properties =
        Deliver(ownerAddresses[0], "From: sender@partner.example.net\n" + headers +
                                       "Subject: " + param.name + "\n\nHello.\n");
    ASSERT_FALSE(properties.isEmpty());
    // The copy carries the trace fields, Delivered-To naming the owner even where no header
    // does ("OnlyAnotherUser"): the sink's rule never reads them, so the stamps stay as they were.
    const auto stored =
        properties[QString::fromStdString(platform::store::kTransportMessageHeaders)]
            .toString()
            .toStdString();
    EXPECT_EQ(stored.rfind("Return-Path: <>\r\nReceived: by ", 0), 0u) << stored;
    EXPECT_NE(stored.find("\r\nDelivered-To: " + ownerAddresses[0] + "\r\n"), std::string::npos)
        << stored;
    // The event service writes a line for every sink it could not create or that failed.
    EXPECT_EQ(EventLog(), "");
    const auto expected =
        param.stamped < 0 ? "" : ownerAddresses.at(static_cast<std::size_t>(param.stamped));
    EXPECT_EQ(properties[kAccountName].toString().toStdString(), expected);
    EXPECT_EQ(properties[kKeywords].toArray(),
              param.stamped < 0 ? QJsonArray() : QJsonArray{QString::fromStdString(expected)});
}

// The scanning rule itself is the sink's unit tests' (against the plain model); these cases
// check that the road gives the sink the owner's addresses as the directory holds them.
INSTANTIATE_TEST_SUITE_P(Messages, DeliveryRoadCases,
                         ::testing::Values(RoadCase{"PrimaryAddress", "To: @P@\n", 0},
                                           RoadCase{"AnotherUserNamedFirst", "To: @O@, @M@\n", 2},
                                           RoadCase{"CcBeforeTo", "Cc: @S@\nTo: @P@\n", 1},
                                           RoadCase{"OnlyAnotherUser", "To: @O@\n", -1}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
