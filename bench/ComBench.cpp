// The COM runtime on the store's path: what creating the sink by ProgID costs per event (class
// registry read, cached server handle, class factory, instance), and a registry lookup among
// many classes. The server folder is a fresh temporary one.

#include "platform/com/Activation.h"
#include "platform/com/ClassRegistry.h"
#include "platform/store/StoreEvents.h"
#include "testsupport/ScopedServerFolder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace com = platform::com;
namespace fs = std::filesystem;

void BM_CreateSinkByProgId(benchmark::State& state) {
    testsupport::ScopedServerFolder folder;
    com::RegisterServer(LORVANTA_DLL);
    const com::ClassRegistry registry(folder.ComDir());
    for (auto _ : state) {
        auto sink = com::CreateInstanceAs<platform::store::IExStoreSyncEvents>(
            registry, "Lorvanta.LorvantaCls", platform::store::IID_IExStoreSyncEvents);
        benchmark::DoNotOptimize(sink.Get());
    }
}
BENCHMARK(BM_CreateSinkByProgId);

void BM_FindByProgIdAmongClasses(benchmark::State& state) {
    testsupport::ScopedServerFolder folder;
    const com::ClassRegistry registry(folder.ComDir());
    const auto classes = static_cast<std::uint32_t>(state.range(0));
    for (std::uint32_t n = 0; n < classes; ++n)
        registry.Register({{n, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}},
                           "Bench.Class" + std::to_string(n),
                           "Apartment",
                           "/opt/servers/server" + std::to_string(n) + ".dll"});
    const std::string last = "Bench.Class" + std::to_string(classes - 1);
    for (auto _ : state) {
        auto found = registry.FindByProgId(last);
        if (!found)
            state.SkipWithError("the class was not found");
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_FindByProgIdAmongClasses)->Arg(10)->Arg(100)->Arg(1000);

} // namespace
