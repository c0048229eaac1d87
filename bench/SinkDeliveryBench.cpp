// Deliveries into one mailbox with the real sink registered in its Inbox (the whole road: the
// event service loads Lorvanta.dll, the sink asks the private directory for the owner's
// addresses and stamps the message), against deliveries into a mailbox without a registration.
// The directory holds the sample data for 100,000 users (LORVANTA_BENCH_USERS changes it). Each
// iteration's time is recorded, so p50 and p99 are reported as counters (microseconds): of the
// whole delivery, and of its event work alone (the begin phase, where the sink asks the
// directory and stamps, and the end phase). The synced commit in between costs milliseconds on
// a shared disk and varies far more than the sink's work, so what the sink adds is read from the
// event work.

#include "DeliveryBenchServer.h"

#include "platform/store/Delivery.h"
#include "platform/store/PreparedSave.h"

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
        server.Start(LORVANTA_DLL);
        registeredAlias = server.Sample().localAliases.at(0);
        plainAlias = server.Sample().localAliases.at(1);
        server.Register(server.Store().CreateMailbox(kDomain, registeredAlias), true);
        server.Store().CreateMailbox(kDomain, plainAlias);
    }
};

Bench bench;

struct Percentiles {
    std::vector<double> micros;
    void Add(std::chrono::steady_clock::duration time) {
        micros.push_back(std::chrono::duration<double, std::micro>(time).count());
    }
    double At(double share) {
        std::sort(micros.begin(), micros.end());
        return micros[std::min(micros.size() - 1, static_cast<std::size_t>(share * micros.size()))];
    }
};

// Delivers as the store's DeliverMessage does, with the event phases timed apart from the write.
void Deliveries(benchmark::State& state, const std::string& alias) {
    auto& store = bench.server.Store();
    const auto mailbox = store::MailboxBaseUrl(store::UrlForm::File, "", kDomain, alias);
    Percentiles whole, events;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        store::PreparedSave save(store, store::NewDelivery(store, mailbox, bench.server.Message()));
        const auto prepared = std::chrono::steady_clock::now();
        save.Write(store);
        const auto written = std::chrono::steady_clock::now();
        save.Committed();
        const auto end = std::chrono::steady_clock::now();
        whole.Add(end - start);
        events.Add((prepared - start) + (end - written));
    }
    if (!whole.micros.empty()) {
        state.counters["p50_us"] = whole.At(0.50);
        state.counters["p99_us"] = whole.At(0.99);
        state.counters["events_p50_us"] = events.At(0.50);
        state.counters["events_p99_us"] = events.At(0.99);
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
    return deliverybench::RunBenchmarks(
        argc, argv, [] { bench.Start(); }, [] { bench.server.Stop(); });
}
