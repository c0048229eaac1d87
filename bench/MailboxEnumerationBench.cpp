// The setup program's window refresh at the mailbox query's size limit: 30,000 rows from a
// private slapd, each mailbox of this server looked up in a store of as many mailboxes, with the
// window processing its events between rows (and between the pages of the search). Reports the
// total time and the longest gap between two runs of a 5 ms timer, i.e. how long the window went
// without handling its events. LORVANTA_BENCH_USERS changes the number of mailbox users of this
// server (default 30,000).

#include "platform/core/ObjectFactory.h"
#include "platform/directory/DirectoryServer.h"
#include "platform/directory/SampleDirectory.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/Store.h"
#include "setup/InstallForm.h"
#include "setup/Items.h"
#include "testsupport/PeakMemory.h"
#include "testsupport/ScopedServerFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class SilentUserInterface : public lorvanta::setup::UserInterface {
public:
    void MsgBox(QWidget*, const QString& text, lorvanta::setup::MessageIcon,
                const QString&) override {
        std::cerr << "message: " << text.toStdString() << "\n";
    }
    void EndProgram(int) override {}
};

struct Server {
    testsupport::ScopedServerFolder folder;
    fs::path root = folder.Path();
    std::unique_ptr<platform::directory::DirectoryServer> directory;
};

Server* server = nullptr;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void StartServer(std::size_t users) {
    server = new Server;
    platform::host::ServerFolder folder(server->root);
    platform::directory::DirectoryServerSettings settings;
    settings.folder = folder.DirectoryDir();
    settings.forestDnsName = "corp.example.com";
    settings.hostName = "dc01.corp.example.com";
    server->directory = std::make_unique<platform::directory::DirectoryServer>(settings);
    server->directory->WriteConfiguration();
    platform::directory::SampleDirectorySettings sampleSettings;
    sampleSettings.users = users;
    sampleSettings.seed = 7;
    const auto sample = platform::directory::GenerateSampleDirectory(sampleSettings);
    const auto ldif = server->root / "sample.ldif";
    std::ofstream(ldif) << sample.ldif;
    auto started = Clock::now();
    server->directory->Load(ldif);
    server->directory->Start();
    std::cerr << "directory: " << sample.mailboxCount << " mailbox entries in " << Seconds(started)
              << " s\n";
    folder.WriteMachineNames({"MAIL01", "corp.example.com", "corp.example.com",
                              "dc01.corp.example.com", server->directory->Uri()});

    started = Clock::now();
    auto store = platform::store::Store::Open(folder);
    store->CreateDomainFolder("corp.example.com");
    store->BeginTransaction();
    for (const auto& alias : sample.localAliases)
        store->CreateMailbox("corp.example.com", alias);
    store->CommitTransaction();
    // Every tenth mailbox carries the registration.
    lorvanta::setup::TextErrorLog log;
    for (std::size_t i = 0; i < sample.localAliases.size(); i += 10)
        lorvanta::setup::CreateEventRegistration(
            log, "file://./backofficestorage/corp.example.com/mbx/" + sample.localAliases[i],
            "inbox", "Lorvanta.reg", "onsyncsave", "Lorvanta.LorvantaCls", "SHALLOW",
            " WHERE \"DAV:ishidden\" = FALSE", "1", false);
    std::cerr << "store: " << sample.localAliases.size() << " mailboxes in " << Seconds(started)
              << " s\n";
}

void StopServer() {
    server->directory->Stop();
    delete server;
}

void BM_GetUsersWithMailboxes(benchmark::State& state) {
    SilentUserInterface ui;
    lorvanta::setup::InstallForm form(ui, "");
    if (!form.Load()) {
        state.SkipWithError("the window did not load");
        return;
    }
    auto* registerList = form.findChild<QListWidget*>("MbxInstList");
    auto* unregisterList = form.findChild<QListWidget*>("MbxUninstList");

    qint64 longestGap = 0;
    qint64 gapEndedAt = 0;
    int rowsAtGap = 0;
    QElapsedTimer sinceLastTick;
    QElapsedTimer sinceStart;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto gap = sinceLastTick.restart();
        if (gap <= longestGap)
            return;
        longestGap = gap;
        gapEndedAt = sinceStart.elapsed();
        rowsAtGap = registerList->count() + unregisterList->count();
    });
    // The peak from here on: the window's own memory, not the set-up's.
    std::ofstream("/proc/self/clear_refs") << "5";
    for (auto _ : state) {
        sinceLastTick.start();
        sinceStart.start();
        ticker.start();
        form.show();
        form.FirstActivation(); // the refresh the window runs once it is on the screen

        ticker.stop();
    }
    state.counters["listed"] = registerList->count() + unregisterList->count();
    state.counters["registered"] = unregisterList->count();
    state.counters["longest_gap_ms"] = static_cast<double>(longestGap);
    // Where it happened: how far into the run, and how many rows were listed by then.
    state.counters["gap_ended_at_s"] = static_cast<double>(gapEndedAt) / 1000;
    state.counters["rows_at_gap"] = rowsAtGap;
    state.counters["peak_rss_mb"] = testsupport::PeakResidentMb();
}

BENCHMARK(BM_GetUsersWithMailboxes)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    const char* users = std::getenv("LORVANTA_BENCH_USERS");
    StartServer(users ? std::strtoul(users, nullptr, 10) : 30000);
    benchmark::RunSpecifiedBenchmarks();
    StopServer();
    benchmark::Shutdown();
    return 0;
}
