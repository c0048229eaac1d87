// Starts one private directory with the sample data for a whole test binary and stops it at the
// end.

#include "testsupport/DirectoryEnvironment.h"

#include "platform/core/Ado.h"
#include "platform/core/ObjectFactory.h"

#include <cstdlib>
#include <fstream>

namespace testing_directory {

namespace fs = std::filesystem;

namespace {
DirectoryEnvironment* current = nullptr;
}

DirectoryEnvironment::DirectoryEnvironment(DirectoryFixtureSettings settings)
    : settings_(std::move(settings)) {
}

DirectoryEnvironment& DirectoryEnvironment::Current() {
    if (!current)
        throw std::logic_error("no directory environment is set up");
    return *current;
}

void DirectoryEnvironment::SetUp() {
    folder_ = std::make_unique<testsupport::ScopedServerFolder>();
    root_ = folder_->Path();

    platform::host::ServerFolder folder(root_);
    platform::directory::DirectoryServerSettings serverSettings;
    serverSettings.folder = folder.DirectoryDir();
    serverSettings.forestDnsName = settings_.sample.forestDnsName;
    serverSettings.hostName = settings_.globalCatalogHost;
    serverSettings.unpagedSizeLimit = settings_.unpagedSizeLimit;
    server_ = std::make_unique<platform::directory::DirectoryServer>(serverSettings);
    server_->WriteConfiguration();

    sample_ = platform::directory::GenerateSampleDirectory(settings_.sample);
    const auto ldif = root_ / "sample.ldif";
    std::string extra = settings_.extraLdif;
    for (auto at = extra.find("@URI@"); at != std::string::npos; at = extra.find("@URI@"))
        extra.replace(at, 5, server_->Uri());
    std::ofstream(ldif) << sample_.ldif << extra;
    server_->Load(ldif);
    server_->Start();

    machine_ = {settings_.sample.computerName, settings_.domainDnsName,
                settings_.sample.forestDnsName, settings_.globalCatalogHost, server_->Uri()};
    folder.WriteMachineNames(machine_);
    current = this;
}

void DirectoryEnvironment::TearDown() {
    current = nullptr;
    if (server_)
        server_->Stop();
    folder_.reset();
}

std::string DirectoryEnvironment::PathOf(const std::string& alias) const {
    auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
    connection->SetProvider("ADSDSOObject");
    const auto root = "GC://" + machine_.globalCatalogHost;
    connection->Open(root, "", "");
    auto rows = connection->Execute("SELECT adspath FROM '" + root + "' WHERE mailNickname='" +
                                    alias + "'");
    if (rows->Eof())
        throw std::runtime_error("no entry for " + alias);
    return rows->Fields()->Item("ADsPath")->Value().Text();
}

} // namespace testing_directory
