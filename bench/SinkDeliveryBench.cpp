// Deliveries into one mailbox with the real sink registered in its Inbox (the whole road: the
// event service loads Lorvanta.dll, the sink asks the private directory for the owner's
// addresses and stamps the message), against deliveries into a mailbox without a registration.
// The directory holds the sample data for 100,000 users (LORVANTA_BENCH_USERS changes it). Each
// iteration's time is recorded, so p50 and p99 are reported as counters (microseconds).

#include "platform/com/Activation.h"
#include "platform/directory/DirectoryServer.h"
#include "platform/directory/SampleDirectory.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <benchmark/benchmark.h>

#include <algorithm>
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
    std::unique_ptr<directory::DirectoryServer> server;
    std::shared_ptr<store::Store> mailStore;
    std::string registeredAlias, plainAlias, message;

    void Start() {
        char pattern[] = "/tmp/lvsbXXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        root = pattern;
        setenv(host::kRootVariable, root.c_str(), 1);
        host::ServerFolder folder(root);
        directory::DirectoryServerSettings settings;
        settings.folder = folder.DirectoryDir();
        settings.forestDnsName = kDomain;
        settings.hostName = "dc01." + kDomain;
        server = std::make_unique<directory::DirectoryServer>(settings);
        server->WriteConfiguration();
        folder.WriteMachineNames({"MAIL01", kDomain, kDomain, "dc01." + kDomain, server->Uri()});

        directory::SampleDirectorySettings sampleSettings;
        sampleSettings.forestDnsName = kDomain;
        const char* users = std::getenv("LORVANTA_BENCH_USERS");
        sampleSettings.users = users ? std::strtoul(users, nullptr, 10) : 100000;
        const auto sample = directory::GenerateSampleDirectory(sampleSettings);
        std::ofstream(root / "sample.ldif") << sample.ldif;
        server->Load(root / "sample.ldif");
        server->Start();

        fs::create_directories(folder.ComDir());
        com::RegisterServer(LORVANTA_DLL);

        mailStore = store::Store::Open(folder);
        mailStore->CreateDomainFolder(kDomain);
        registeredAlias = sample.localAliases.at(0);
        plainAlias = sample.localAliases.at(1);
        const auto mailbox = mailStore->CreateMailbox(kDomain, registeredAlias);
        mailStore->CreateMailbox(kDomain, plainAlias);

        auto save = mailStore->NewItem(mailStore->Locate(mailbox + "/Inbox/Lorvanta.reg"));
        save.Set(store::kContentClass, Variant(store::kRegistrationClass));
        save.Set(store::kEventNamespace + "EventMethod", Variant("onsyncsave"));
        save.Set(store::kEventNamespace + "SinkClass", Variant("Lorvanta.LorvantaCls"));
        save.Set(store::kEventNamespace + "MatchScope", Variant("SHALLOW"));
        save.Set(store::kEventNamespace + "criteria", Variant(" WHERE \"DAV:ishidden\" = FALSE"));
        save.Set(store::kEventNamespace + "priority", Variant("1"));
        save.Set(store::kIsHidden, Variant(true));
        mailStore->Save(save);

        // The second proxy address is the one the sink has to find.
        const auto& secondary = sample.firstLocalProxyAddresses.at(1).substr(5);
        message = "From: sender@partner.example.net\r\n"
                  "To: Someone Else <someone@partner.example.net>, " +
                  secondary +
                  "\r\n"
                  "Cc: team@" +
                  kDomain +
                  "\r\n"
                  "Subject: Quarterly figures\r\n"
                  "Date: Sun, 6 Dec 2026 20:00:00 +0000\r\n"
                  "\r\n"
                  "Please find the figures below.\r\n";
    }

    void Stop() {
        mailStore.reset();
        if (server)
            server->Stop();
        std::error_code ignored;
        if (!root.empty() && !std::getenv("LORVANTA_KEEP_FIXTURES"))
            fs::remove_all(root, ignored);
    }
};

BenchServer bench;

void Deliveries(benchmark::State& state, const std::string& alias) {
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(
            store::DeliverMessage(*bench.mailStore, kDomain, alias, bench.message));
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(micros.begin(), micros.end());
    auto at = [&](double share) {
        return micros[std::min(micros.size() - 1, static_cast<std::size_t>(share * micros.size()))];
    };
    if (!micros.empty()) {
        state.counters["p50_us"] = at(0.50);
        state.counters["p99_us"] = at(0.99);
    }
    state.counters["deliveries_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DeliverWithSink(benchmark::State& state) {
    Deliveries(state, bench.registeredAlias);
}
void BM_DeliverWithoutRegistration(benchmark::State& state) {
    Deliveries(state, bench.plainAlias);
}

// The directory server is gone: the sink's lookup fails at connecting and the message is saved
// without a stamp. What a failing lookup costs a delivery.
void BM_DeliverWithSinkDirectoryDown(benchmark::State& state) {
    bench.server->Stop();
    Deliveries(state, bench.registeredAlias);
    bench.server->Start();
}

BENCHMARK(BM_DeliverWithoutRegistration)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_DeliverWithSink)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_DeliverWithSinkDirectoryDown)->Unit(benchmark::kMicrosecond)->UseRealTime();

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
    return 0;
}
