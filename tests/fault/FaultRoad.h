#pragma once

// The whole road of a delivered message, ready for faults: the directory server is the test
// process's child (so that a test can kill, stop and restart it), the sink a private copy, the
// store on the faulty disk (FaultyDisk.h); deliveries run in-process, so the sink runs here.

#include "FaultyDisk.h"

#include "testsupport/ExhostRunner.h"
#include "testsupport/FileText.h"

#include "platform/directory/DirectoryServer.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace faulttest {

inline const std::string kDomain = "example.com";
inline const std::string kSinkProgId = "Lorvanta.LorvantaCls";
inline const std::string kAccountName =
    "http://schemas.microsoft.com/mapi/id/{00062008-0000-0000-C000-000000000046}/0x8580";

class FaultRoad : public ::testing::Test {
protected:
    void SetUp() override {
        FaultyDisk::Install();
        ASSERT_EQ(server_.Problem(), "");
        for (const auto& proxy : server_.sample.firstLocalProxyAddresses)
            if (proxy.rfind("SMTP:", 0) == 0)
                ownerAddress_ = proxy.substr(5);
        ASSERT_FALSE(ownerAddress_.empty());
        const platform::host::ServerFolder folder(folder_.Root());

        // Started here rather than by the admin tool, so that the server is this process's
        // child and its end can be awaited after a kill.
        const auto names = folder.ReadMachineNames();
        platform::directory::DirectoryServerSettings settings;
        settings.folder = folder.DirectoryDir();
        settings.forestDnsName = names.forestDnsName;
        settings.hostName = names.globalCatalogHost;
        directory_ = std::make_unique<platform::directory::DirectoryServer>(settings);
        directory_->Start();

        // A copy of its own, so that a test may remove or spoil it.
        dll_ = folder_.Path() / "Lorvanta.dll";
        std::filesystem::copy_file(LORVANTA_DLL, dll_);
        server_.RegisterSink(dll_.string(), server_.sample.localAliases.at(0));
        ASSERT_EQ(server_.Problem(), "");

        setenv(platform::host::kRootVariable, folder_.Root().c_str(), 1);
        store_ = OpenAnotherStore();
    }
    void TearDown() override {
        FaultyDisk::Repair();
        store_.reset();
        unsetenv(platform::host::kRootVariable);
        // Stopped here, by the process that can reap it.
        if (directory_)
            directory_->Stop();
    }

    std::string MailboxUrl() const { return server_.MailboxUrl(server_.sample.localAliases.at(0)); }
    std::string InboxUrl() const { return MailboxUrl() + "/Inbox"; }
    // The owner's primary SMTP address, as the directory spells it.
    const std::string& OwnerAddress() const { return ownerAddress_; }

    // A message to the owner; `subject` tells the messages apart. Bodies of `bodySize` bytes make
    // a save span many database pages.
    std::string Message(const std::string& subject, std::size_t bodySize = 100) const {
        return "From: sender@partner.example.net\r\nTo: " + ownerAddress_ +
               "\r\nSubject: " + subject + "\r\n\r\n" + std::string(bodySize, 'x') + "\r\n";
    }
    // Delivers through `store` (the fixture's own when null) and returns the item's URL.
    std::string Deliver(const std::string& subject,
                        const std::shared_ptr<platform::store::Store>& store = nullptr,
                        std::size_t bodySize = 100) {
        return platform::store::DeliverMessage(store ? *store : *store_, MailboxUrl(),
                                               Message(subject, bodySize));
    }
    // The account name the sink wrote into a stored item, empty when it wrote none.
    std::string StampOf(const std::string& itemUrl) { return KeywordsOf(itemUrl, kAccountName); }
    // The keywords (or another property) of a stored item, an array's values joined by "|".
    std::string KeywordsOf(const std::string& itemUrl,
                           const std::string& property = platform::store::kKeywords) {
        const auto item = store_->Read(store_->Locate(itemUrl));
        const auto found = item.properties.find(property);
        if (found == item.properties.end())
            return {};
        if (!found->second.IsArray())
            return found->second.ToText();
        std::string joined;
        for (const auto& keyword : found->second.Array())
            joined += (joined.empty() ? "" : "|") + keyword;
        return joined;
    }
    // The subjects of the messages in the owner's Inbox, in the order they were saved, read
    // through `store` (the fixture's own when null).
    std::vector<std::string>
    InboxSubjects(const std::shared_ptr<platform::store::Store>& store = nullptr) {
        auto& source = store ? *store : *store_;
        std::vector<std::string> subjects;
        for (const auto& item : source.Children(source.Locate(InboxUrl()), false)) {
            const auto subject = item.properties.find(platform::store::kSubject);
            if (subject != item.properties.end())
                subjects.push_back(subject->second.ToText());
        }
        return subjects;
    }
    std::string EventLog() const {
        return testsupport::FileText(folder_.Path() / "store" / "events.log");
    }

    void AddRegistration(const std::string& name, const std::string& criteria, int priority) {
        server_.Run({"regevent", "add", "--folder", InboxUrl(), "--name", name, "--event",
                     "onsyncsave", "--sink", kSinkProgId, "--scope", "SHALLOW", "--criteria",
                     criteria, "--priority", std::to_string(priority)});
        ASSERT_EQ(server_.Problem(), "");
    }
    // The store as another process opens it.
    std::shared_ptr<platform::store::Store> OpenAnotherStore() const {
        return platform::store::Store::Open(platform::host::ServerFolder(folder_.Root()));
    }

    // Four users, the first the owner; the fixture starts the directory server itself.
    exhost_test::SampleServer server_{Sample(), false};
    testsupport::ScopedServerFolder& folder_ = server_.folder;
    std::unique_ptr<platform::directory::DirectoryServer> directory_;
    std::shared_ptr<platform::store::Store> store_;
    std::filesystem::path dll_;
    std::string ownerAddress_;

private:
    static platform::directory::SampleDirectorySettings Sample() {
        platform::directory::SampleDirectorySettings settings;
        settings.forestDnsName = kDomain;
        settings.users = 4;
        settings.seed = 3;
        return settings;
    }
};

} // namespace faulttest
