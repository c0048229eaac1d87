// Deliveries into one mailbox with the real sink registered in its Inbox (the whole road: the
// event service loads Lorvanta.dll, the sink asks the private directory for the owner's
// addresses and stamps the message), against deliveries into a mailbox without a registration.
// The directory holds the sample data for 100,000 users (LORVANTA_BENCH_USERS changes it). Each
// iteration's time is recorded, so p50 and p99 are reported as counters (microseconds).

#include "DeliveryBenchServer.h"

#include "platform/store/Delivery.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <vector>

namespace {

using namespace platform;
using deliverybench::kDomain;

struct Bench {
    deliverybench::DeliveryBenchServer server;
    std::string registeredAlias, plainAlias;

    void Start() {
        server.Start("lvsb", LORVANTA_DLL);
        registeredAlias = server.Sample().localAliases.at(0);
        plainAlias = server.Sample().localAliases.at(1);
        server.Register(server.Store().CreateMailbox(kDomain, registeredAlias), true);
        server.Store().CreateMailbox(kDomain, plainAlias);
    }
};

Bench bench;

void Deliveries(benchmark::State& state, const std::string& alias) {
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(
            store::DeliverMessage(bench.server.Store(), kDomain, alias, bench.server.Message()));
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
    bench.server.Directory().Stop();
    Deliveries(state, bench.registeredAlias);
    bench.server.Directory().Start();
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
        bench.server.Stop();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bench.server.Stop();
    return 0;
}
