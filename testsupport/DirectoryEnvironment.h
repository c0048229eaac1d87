#pragma once

// A GoogleTest environment that gives a test binary one running private directory: a server
// folder under /tmp whose machine.conf points at the directory's socket (EXHOST_ROOT names it),
// loaded with the sample data. Register it from main() or with AddGlobalTestEnvironment.

#include "platform/directory/DirectoryServer.h"
#include "platform/directory/SampleDirectory.h"
#include "platform/host/ServerFolder.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace testing_directory {

struct DirectoryFixtureSettings {
    platform::directory::SampleDirectorySettings sample;
    std::string domainDnsName = "corp.example.com";
    std::string globalCatalogHost = "dc01.corp.example.com";
    int unpagedSizeLimit = 1000;
    // More LDIF loaded after the sample; "@URI@" in it stands for the server's ldapi:// URI.
    std::string extraLdif;
};

class DirectoryEnvironment : public ::testing::Environment {
public:
    explicit DirectoryEnvironment(DirectoryFixtureSettings settings = {});

    void SetUp() override;
    void TearDown() override;

    // Valid between SetUp and TearDown.
    static DirectoryEnvironment& Current();
    const platform::directory::SampleDirectory& Sample() const { return sample_; }
    const platform::host::MachineNames& Machine() const { return machine_; }
    const std::filesystem::path& Root() const { return root_; }
    platform::directory::DirectoryServer& Server() { return *server_; }
    // The ADsPath of the entry with this alias, as the global catalog's mailbox query hands it out.
    std::string PathOf(const std::string& alias) const;

private:
    DirectoryFixtureSettings settings_;
    std::unique_ptr<testsupport::ScopedServerFolder> folder_;
    std::filesystem::path root_;
    platform::directory::SampleDirectory sample_;
    platform::host::MachineNames machine_;
    std::unique_ptr<platform::directory::DirectoryServer> server_;
};

} // namespace testing_directory
