// The SMTP front before a store whose disk fills up or whose file turns read-only: the client is
// told to try again later (a 4xx reply, so the message stays with the sender), nothing of the
// message is kept, and the same message goes through once the disk is repaired.

#include "FaultRoad.h"
#include "FaultyDisk.h"

#include "server/delivery/MailboxDelivery.h"
#include "server/delivery/SmtpDeliveryBackend.h"
#include "server/smtp/SmtpClient.h"
#include "server/smtp/SmtpServer.h"

#include <boost/asio/post.hpp>

#include <thread>

namespace faulttest {
namespace {

namespace asio = boost::asio;
namespace smtp = server::smtp;

class SmtpDiskFault : public FaultRoad {
protected:
    void SetUp() override {
        FaultyDisk::Install();
        FaultRoad::SetUp();
        delivery_ = std::make_unique<server::delivery::MailboxDelivery>(
            platform::host::ServerFolder(folder_.Root()));
        server_ = std::make_unique<smtp::Server>(
            io_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0),
            smtp::ServerSettings{},
            [this] { return std::make_unique<server::delivery::SmtpDeliveryBackend>(*delivery_); });
        server_->Start();
        network_ = std::thread([this] { io_.run(); });
    }

    void TearDown() override {
        if (server_) {
            asio::post(io_, [this] { server_->Stop(); });
            network_.join();
            server_->Join();
        }
        FaultyDisk::Repair();
        FaultRoad::TearDown();
    }

    smtp::Reply Send(const std::string& subject) {
        smtp::Client client("127.0.0.1", server_->LocalEndpoint().port());
        const auto hello = client.Command("EHLO fault.test");
        if (hello.code != 250)
            return hello;
        return client.Deliver("sender@partner.example.net", {OwnerAddress()}, Message(subject));
    }

    asio::io_context io_;
    std::unique_ptr<server::delivery::MailboxDelivery> delivery_;
    std::unique_ptr<smtp::Server> server_;
    std::thread network_;
};

struct DiskFaultCase {
    const char* name;
    void (*inflict)();
};

class SmtpDiskFaults : public SmtpDiskFault, public ::testing::WithParamInterface<DiskFaultCase> {};

TEST_P(SmtpDiskFaults, TheSenderIsToldToTryAgainAndNothingIsKept) {
    ASSERT_EQ(Send("before").code, 250);
    const auto before = InboxSubjects();

    GetParam().inflict();
    const auto refused = Send("during the fault");
    EXPECT_GE(refused.code, 400);
    EXPECT_LT(refused.code, 500) << refused.Wire();
    FaultyDisk::Repair();
    EXPECT_EQ(InboxSubjects(), before);

    // The sender tries again later, and the message arrives.
    ASSERT_EQ(Send("during the fault").code, 250);
    auto after = before;
    after.push_back("during the fault");
    EXPECT_EQ(InboxSubjects(), after);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SmtpDiskFaults,
    ::testing::Values(DiskFaultCase{"DiskFull", [] { FaultyDisk::FillAfter(0); }},
                      DiskFaultCase{"ReadOnlyFile", [] { FaultyDisk::MakeReadOnly(); }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace faulttest
