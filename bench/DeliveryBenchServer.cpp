// Sets up the benchmarks' server folder: a private directory filled with sample owners, the store
// with its domain folder and the sink registered, the way a real delivery would find them.

#include "DeliveryBenchServer.h"

#include "platform/com/Activation.h"
#include "platform/core/Error.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/EventRegistration.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

namespace deliverybench {

namespace fs = std::filesystem;
using namespace platform;

void DeliveryBenchServer::Start(const std::string& sinkDll) {
    folder_ = std::make_unique<testsupport::ScopedServerFolder>();
    root_ = folder_->Path();
    host::ServerFolder folder(root_);
    directory::DirectoryServerSettings settings;
    settings.folder = folder.DirectoryDir();
    settings.forestDnsName = kDomain;
    settings.hostName = "dc01." + kDomain;
    directory_ = std::make_unique<directory::DirectoryServer>(settings);
    directory_->WriteConfiguration();
    folder.WriteMachineNames({"MAIL01", kDomain, kDomain, "dc01." + kDomain, directory_->Uri()});

    directory::SampleDirectorySettings sampleSettings;
    sampleSettings.forestDnsName = kDomain;
    const char* users = std::getenv("LORVANTA_BENCH_USERS");
    sampleSettings.users = users ? std::strtoul(users, nullptr, 10) : 100000;
    sample_ = directory::GenerateSampleDirectory(sampleSettings);
    std::ofstream(root_ / "sample.ldif") << sample_.ldif;
    directory_->Load(root_ / "sample.ldif");
    directory_->Start();

    fs::create_directories(folder.ComDir());
    com::RegisterServer(sinkDll);

    store_ = store::Store::Open(folder);
    store_->CreateDomainFolder(kDomain);

    const auto secondary = sample_.firstLocalProxyAddresses.at(1).substr(5);
    message_ = "From: sender@partner.example.net\r\n"
               "To: Someone Else <someone@partner.example.net>, " +
               secondary + "\r\nCc: team@" + kDomain +
               "\r\nSubject: Quarterly figures\r\n"
               "Date: Sun, 6 Dec 2026 20:00:00 +0000\r\n"
               "\r\n"
               "Please find the figures below.\r\n";
}

void DeliveryBenchServer::Register(const std::string& mailboxUrl, bool registered) {
    const auto url = mailboxUrl + "/Inbox/Lorvanta.reg";
    const auto location = store_->Locate(url);
    const bool present = store_->Exists(location);
    if (present && !registered)
        store_->Delete(url);
    if (present || !registered)
        return;
    auto save = store_->NewItem(location);
    store::EventRegistrationSettings registration;
    registration.sinkClass = "Lorvanta.LorvantaCls";
    registration.criteria = " WHERE \"DAV:ishidden\" = FALSE";
    for (auto& [name, value] : store::EventRegistrationProperties(registration))
        save.Set(name, std::move(value));
    store_->Save(save);
}

void DeliveryBenchServer::Stop() {
    store_.reset();
    if (directory_)
        directory_->Stop();
    folder_.reset();
}

int RunBenchmarks(int& argc, char** argv, const std::function<void()>& start,
                  const std::function<void()>& stop) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    try {
        start();
    } catch (const std::exception& error) {
        std::cerr << "cannot set up the benchmark server: " << error.what() << "\n";
        stop();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stop();
    return 0;
}

} // namespace deliverybench
