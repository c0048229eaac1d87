// The directory against a private slapd holding about 100,000 entries (bulk-loaded with
// slapadd -q): the sink's owner lookup on a new connection per call, and the setup program's
// mailbox query capped at 30,000 rows. LORVANTA_BENCH_USERS changes the number of users.

#include "platform/core/Ado.h"
#include "platform/directory/DirectoryServer.h"
#include "platform/directory/SampleDirectory.h"
#include "platform/host/ServerFolder.h"
#include "sink/LorvantaModule.h"
#include "testsupport/ScopedServerFolder.h"

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
using Clock = std::chrono::steady_clock;

struct BenchDirectory {
    testsupport::ScopedServerFolder folder;
    fs::path root;
    platform::directory::SampleDirectory sample;
    std::unique_ptr<platform::directory::DirectoryServer> server;
    std::string searchRoot;
};

BenchDirectory* directory = nullptr;

void StartDirectory(std::size_t users) {
    directory = new BenchDirectory;
    directory->root = directory->folder.Path();
    platform::host::ServerFolder folder(directory->root);
    platform::directory::DirectoryServerSettings settings;
    settings.folder = folder.DirectoryDir();
    settings.forestDnsName = "corp.example.com";
    settings.hostName = "dc01.corp.example.com";
    directory->server = std::make_unique<platform::directory::DirectoryServer>(settings);
    directory->server->WriteConfiguration();

    platform::directory::SampleDirectorySettings sampleSettings;
    sampleSettings.users = users;
    sampleSettings.seed = 42;
    directory->sample = platform::directory::GenerateSampleDirectory(sampleSettings);
    const auto ldif = directory->root / "sample.ldif";
    std::ofstream(ldif) << directory->sample.ldif;
    const auto started = Clock::now();
    directory->server->Load(ldif);
    std::cerr << "loaded " << directory->sample.mailboxCount << " mailboxes in "
              << std::chrono::duration<double>(Clock::now() - started).count() << " s\n";
    directory->server->Start();
    folder.WriteMachineNames({"MAIL01", "corp.example.com", "corp.example.com",
                              "dc01.corp.example.com", directory->server->Uri()});
    directory->searchRoot = "GC://dc01.corp.example.com";
}

void StopDirectory() {
    directory->server->Stop();
    delete directory;
}

double Percentile(std::vector<double>& samples, double fraction) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1));
    return samples[index];
}

void BM_GetOwnerAddresses_NewConnectionPerCall(benchmark::State& state) {
    const auto& aliases = directory->sample.localAliases;
    std::vector<double> micros;
    std::size_t next = 0;
    std::size_t found = 0;
    for (auto _ : state) {
        // Spread over the directory so that no one entry stays hot.
        const auto& alias = aliases[(next++ * 7919) % aliases.size()];
        const auto started = Clock::now();
        auto addresses = lorvanta::GetOwnerAddresses(alias);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
        found += !addresses.empty();
        benchmark::DoNotOptimize(addresses);
    }
    if (found != micros.size())
        state.SkipWithError("a lookup found no addresses");
    state.counters["p50_us"] = Percentile(micros, 0.50);
    state.counters["p99_us"] = Percentile(micros, 0.99);
    state.counters["max_us"] = Percentile(micros, 1.0);
}
BENCHMARK(BM_GetOwnerAddresses_NewConnectionPerCall)
    ->Iterations(20000)
    ->Unit(benchmark::kMicrosecond);

void BM_MailboxQuery_30000Rows(benchmark::State& state) {
    std::int64_t rowsRead = 0;
    for (auto _ : state) {
        auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        connection->SetProvider("adsDSOobject");
        connection->Open(directory->searchRoot, "", "");
        auto command = platform::CreateObjectAs<platform::ado::Command>("ADODB.Command");
        command->SetActiveConnection(connection);
        command->SetCommandText(
            "SELECT adspath, cn, msExchHomeServerName,mailNickName,mail FROM '" +
            directory->searchRoot +
            "' WHERE objectcategory='person' AND MsExchMailboxGuid='*' "
            "ORDER BY cn");
        command->SetProperty("searchscope", platform::Variant(2));
        command->SetProperty("cache results", platform::Variant(true));
        command->SetProperty("Chase Referrals", platform::Variant(96));
        command->SetProperty("Page Size", platform::Variant(100));
        command->SetProperty("Size Limit", platform::Variant(30000));
        command->SetProperty("Timeout", platform::Variant(120));
        auto rows = command->Execute();
        rowsRead = 0;
        for (; !rows->Eof(); rows->MoveNext()) {
            auto fields = rows->Fields();
            for (const char* name :
                 {"adspath", "cn", "msExchHomeServerName", "mailNickName", "mail"})
                benchmark::DoNotOptimize(fields->Item(name)->Value());
            ++rowsRead;
        }
        rows->Close();
    }
    state.counters["rows"] = static_cast<double>(rowsRead);
    if (rowsRead != 30000)
        state.SkipWithError("the query did not return 30,000 rows");
}
BENCHMARK(BM_MailboxQuery_30000Rows)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::size_t users = 80000; // with the users of the other server: about 100,000 entries
    if (const char* text = std::getenv("LORVANTA_BENCH_USERS"))
        users = std::stoul(text);
    StartDirectory(users);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    StopDirectory();
    return 0;
}
