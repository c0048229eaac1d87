#pragma once

// The whole road of a delivered message, ready for faults: the directory server is the test
// process's child (so that a test can kill, stop and restart it), the sink a private copy, the
// store on the faulty disk (FaultyDisk.h); deliveries run in-process, so the sink runs here.

#include "testsupport/ExhostRunner.h"

#include "platform/directory/DirectoryServer.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace faulttest {

inline const std::string kDomain = "example.com";
inline const std::string kSinkProgId = "Lorvanta.LorvantaCls";
inline const std::string kAccountName =
    "http://schemas.microsoft.com/mapi/id/{00062008-0000-0000-C000-000000000046}/0x8580";

class FaultRoad : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string MailboxUrl() const { return server_.MailboxUrl(server_.sample.localAliases.at(0)); }
    std::string InboxUrl() const { return MailboxUrl() + "/Inbox"; }
    // The owner's primary SMTP address, as the directory spells it.
    const std::string& OwnerAddress() const { return ownerAddress_; }

    // A message to the owner; `subject` tells the messages apart. Bodies of `bodySize` bytes make
    // a save span many database pages.
    std::string Message(const std::string& subject, std::size_t bodySize = 100) const;
    // Delivers through `store` (the fixture's own when null) and returns the item's URL.
    std::string Deliver(const std::string& subject,
                        const std::shared_ptr<platform::store::Store>& store = nullptr,
                        std::size_t bodySize = 100);
    // The account name the sink wrote into a stored item, empty when it wrote none.
    std::string StampOf(const std::string& itemUrl);
    // The keywords (or another property) of a stored item, an array's values joined by "|".
    std::string KeywordsOf(const std::string& itemUrl,
                           const std::string& property = platform::store::kKeywords);
    // The subjects of the messages in the owner's Inbox, in the order they were saved, read
    // through `store` (the fixture's own when null).
    std::vector<std::string>
    InboxSubjects(const std::shared_ptr<platform::store::Store>& store = nullptr);
    std::string EventLog() const;

    void AddRegistration(const std::string& name, const std::string& criteria, int priority);
    // The store as another process opens it.
    std::shared_ptr<platform::store::Store> OpenAnotherStore() const;

    // Four users, the first the owner; the fixture starts the directory server itself.
    exhost_test::SampleServer server_{Sample(), false};
    testsupport::ScopedServerFolder& folder_ = server_.folder;
    std::unique_ptr<platform::directory::DirectoryServer> directory_;
    std::shared_ptr<platform::store::Store> store_;
    std::filesystem::path dll_;
    std::string ownerAddress_;

private:
    static platform::directory::SampleDirectorySettings Sample();
};

} // namespace faulttest
