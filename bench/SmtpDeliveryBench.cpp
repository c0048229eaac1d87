// Messages per second through the SMTP front ("exhost smtp" as its own process) into one
// mailbox, first without and then with the real sink registered on its Inbox: same server
// folder, same message, same session. The whole road: SMTP parsing, the directory lookup of the
// recipient, the store's save and (in the second run) the sink, which asks the directory for the
// owner's addresses and stamps the message. The directory holds the sample data for 100,000
// users (LORVANTA_BENCH_USERS changes it). The ratio of the two rates is printed at the end.

#include "SmtpServerProcess.h"
#include "smtp/SmtpClient.h"

#include "platform/com/Activation.h"
#include "platform/directory/DirectoryServer.h"
#include "platform/directory/SampleDirectory.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

namespace {

namespace fs = std::filesystem;
using namespace platform;

const std::string kDomain = "example.com";

struct BenchServer {
    fs::path root;
    std::unique_ptr<directory::DirectoryServer> directory;
    std::unique_ptr<exhost_test::SmtpServerProcess> smtp;
    std::unique_ptr<exhost::smtp::Client> client;
    std::shared_ptr<store::Store> mailStore;
    std::string inbox, recipient, message;

    void Start() {
        char pattern[] = "/tmp/lvsmXXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        root = pattern;
        setenv(host::kRootVariable, root.c_str(), 1);
        host::ServerFolder folder(root);
        directory::DirectoryServerSettings settings;
        settings.folder = folder.DirectoryDir();
        settings.forestDnsName = kDomain;
        settings.hostName = "dc01." + kDomain;
        directory = std::make_unique<directory::DirectoryServer>(settings);
        directory->WriteConfiguration();
        folder.WriteMachineNames({"MAIL01", kDomain, kDomain, "dc01." + kDomain, directory->Uri()});

        directory::SampleDirectorySettings sampleSettings;
        sampleSettings.forestDnsName = kDomain;
        const char* users = std::getenv("LORVANTA_BENCH_USERS");
        sampleSettings.users = users ? std::strtoul(users, nullptr, 10) : 100000;
        const auto sample = directory::GenerateSampleDirectory(sampleSettings);
        std::ofstream(root / "sample.ldif") << sample.ldif;
        directory->Load(root / "sample.ldif");
        directory->Start();

        fs::create_directories(folder.ComDir());
        com::RegisterServer(LORVANTA_DLL);

        mailStore = store::Store::Open(folder);
        mailStore->CreateDomainFolder(kDomain);
        inbox = mailStore->CreateMailbox(kDomain, sample.localAliases.at(0)) + "/Inbox";
        recipient = sample.firstLocalProxyAddresses.at(0).substr(5);
        // The second proxy address is the one the sink has to find in the headers.
        const auto secondary = sample.firstLocalProxyAddresses.at(1).substr(5);
        message = "From: sender@partner.example.net\r\n"
                  "To: Someone Else <someone@partner.example.net>, " +
                  secondary + "\r\nCc: team@" + kDomain +
                  "\r\nSubject: Quarterly figures\r\n"
                  "Date: Sun, 6 Dec 2026 20:00:00 +0000\r\n"
                  "\r\n"
                  "Please find the figures below.\r\n";

        smtp = std::make_unique<exhost_test::SmtpServerProcess>(root.string());
        client = std::make_unique<exhost::smtp::Client>("127.0.0.1", smtp->Port());
        if (client->Command("EHLO bench").code != 250)
            throw std::runtime_error("EHLO refused");
    }

    std::string RegistrationUrl() const { return inbox + "/Lorvanta.reg"; }

    void Register(bool registered) {
        const auto location = mailStore->Locate(RegistrationUrl());
        const bool present = mailStore->Exists(location);
        if (present && !registered)
            mailStore->Delete(RegistrationUrl());
        if (present || !registered)
            return;
        auto save = mailStore->NewItem(location);
        save.Set(store::kContentClass, Variant(store::kRegistrationClass));
        save.Set(store::kEventNamespace + "EventMethod", Variant("onsyncsave"));
        save.Set(store::kEventNamespace + "SinkClass", Variant("Lorvanta.LorvantaCls"));
        save.Set(store::kEventNamespace + "MatchScope", Variant("SHALLOW"));
        save.Set(store::kEventNamespace + "criteria", Variant(" WHERE \"DAV:ishidden\" = FALSE"));
        save.Set(store::kEventNamespace + "priority", Variant("1"));
        save.Set(store::kIsHidden, Variant(true));
        mailStore->Save(save);
    }

    void Stop() {
        client.reset();
        if (smtp) {
            smtp->Terminate();
            smtp->Wait();
            smtp.reset();
        }
        mailStore.reset();
        if (directory)
            directory->Stop();
        std::error_code ignored;
        if (!root.empty() && !std::getenv("LORVANTA_KEEP_FIXTURES"))
            fs::remove_all(root, ignored);
    }
};

BenchServer bench;
double rateWithoutSink = 0, rateWithSink = 0;

void Messages(benchmark::State& state, bool withSink, double& rate) {
    bench.Register(withSink);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const auto reply =
            bench.client->Deliver("sender@partner.example.net", {bench.recipient}, bench.message);
        if (reply.code != 250) {
            state.SkipWithError(("not stored: " + std::to_string(reply.code) + " " +
                                 (reply.lines.empty() ? "" : reply.lines.front()))
                                    .c_str());
            break;
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    // The framework runs the function more than once; the last (the measured) run counts.
    rate = static_cast<double>(state.iterations()) / elapsed.count();
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SmtpWithoutSink(benchmark::State& state) {
    Messages(state, false, rateWithoutSink);
}
void BM_SmtpWithSink(benchmark::State& state) {
    Messages(state, true, rateWithSink);
}

BENCHMARK(BM_SmtpWithoutSink)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SmtpWithSink)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    try {
        bench.Start();
    } catch (const std::exception& error) {
        std::cerr << "cannot set up the benchmark server: " << error.what() << "\n";
        bench.Stop();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bench.Stop();
    if (rateWithoutSink > 0 && rateWithSink > 0)
        std::cout << "SMTP messages per second: " << rateWithoutSink << " without the sink, "
                  << rateWithSink << " with it; with/without = " << rateWithSink / rateWithoutSink
                  << "\n";
    return 0;
}
