#pragma once

// One server folder made by "exhost init", its directory running, shared by the tests of a suite
// (`Suite::Settings()` says how it is made); each test fails at once when making it failed.

#include "testsupport/ExhostRunner.h"

#include "platform/host/ServerFolder.h"
#include "platform/store/Store.h"

#include <gtest/gtest.h>

#include <memory>

namespace exhost_test {

// The sample's settings with these users, forest and seed, the others as they come.
inline platform::directory::SampleDirectorySettings
SampleSettings(std::size_t users, const std::string& forest = "corp.example.com",
               std::uint32_t seed = 1) {
    platform::directory::SampleDirectorySettings settings;
    settings.users = users;
    settings.forestDnsName = forest;
    settings.seed = seed;
    return settings;
}

template <typename Suite> class SampleServerSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<SampleServer>(Suite::Settings()); }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override { ASSERT_EQ(server->Problem(), ""); }

    static std::string Root() { return server->folder.Root(); }
    static std::shared_ptr<platform::store::Store> OpenStore() {
        return platform::store::Store::Open(platform::host::ServerFolder(Root()));
    }
    // What the Inbox of `alias` holds now.
    static std::vector<platform::store::Item> Inbox(const std::string& alias) {
        const auto store = OpenStore();
        return store->Children(store->Locate(server->InboxUrl(alias)), false);
    }

    static inline std::unique_ptr<SampleServer> server;
};

} // namespace exhost_test
