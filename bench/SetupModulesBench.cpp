// How long the setup modules take per call against the real catalog and store: the window runs
// FindEventRegistration once per mailbox while it fills its lists, and FindComPlusApp on every
// refresh.

#include "platform/complus/CatalogObjects.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/Store.h"
#include "setup/ComPlus.h"
#include "setup/Items.h"
#include "testsupport/ScopedServerFolder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;
using namespace lorvanta::setup;

// A server folder under /tmp named by EXHOST_ROOT while it lives.
class BenchFolder {
public:
    platform::host::ServerFolder Folder() const {
        return platform::host::ServerFolder(scoped_.Path());
    }

private:
    testsupport::ScopedServerFolder scoped_;
};

void BM_FindComPlusApp(benchmark::State& state) {
    BenchFolder folder;
    auto applications =
        platform::complus::OpenCatalog(folder.Folder())->GetCollection("Applications");
    applications->Populate();
    for (int i = 0; i < state.range(0); ++i)
        applications->Add()->SetValue("Name", platform::Variant("App" + std::to_string(i)));
    applications->SaveChanges();
    TextErrorLog log;
    for (auto _ : state)
        benchmark::DoNotOptimize(FindComPlusApp(log, "Lorvanta"));
}
BENCHMARK(BM_FindComPlusApp)->Arg(1)->Arg(100);

void BM_FindEventRegistration(benchmark::State& state) {
    BenchFolder folder;
    const auto server = folder.Folder();
    server.WriteMachineNames({"MAIL01", "example.com", "example.com", "dc01.example.com", ""});
    auto store = platform::store::Store::Open(server);
    store->CreateDomainFolder("example.com");
    const auto mailbox = store->CreateMailbox("example.com", "alice");
    TextErrorLog log;
    CreateEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", "onsyncsave",
                            "Lorvanta.LorvantaCls", "SHALLOW", " WHERE \"DAV:ishidden\" = FALSE",
                            "1", true);
    const std::string extra = " AND \"DAV:ishidden\" = true AND \"DAV:isfolder\" = false ";
    for (auto _ : state) {
        std::shared_ptr<platform::ado::Connection> none;
        benchmark::DoNotOptimize(
            FindEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", extra, true, none));
    }
    if (!log.Text().empty())
        state.SkipWithError(log.Text().c_str());
}
BENCHMARK(BM_FindEventRegistration);

} // namespace
