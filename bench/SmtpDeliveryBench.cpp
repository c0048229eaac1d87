// Messages per second through the SMTP front ("exhost smtp" as its own process) into one
// mailbox, first without and then with the real sink registered on its Inbox: same server
// folder, same message, same session. The whole road: SMTP parsing, the directory lookup of the
// recipient, the store's save and (in the second run) the sink, which asks the directory for the
// owner's addresses and stamps the message. The directory holds the sample data for 100,000
// users (LORVANTA_BENCH_USERS changes it). The ratio of the two rates is printed at the end.

#include "DeliveryBenchServer.h"
#include "SmtpServerProcess.h"
#include "smtp/SmtpClient.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <iostream>
#include <memory>

namespace {

using deliverybench::kDomain;

struct Bench {
    deliverybench::DeliveryBenchServer server;
    std::unique_ptr<exhost_test::SmtpServerProcess> smtp;
    std::unique_ptr<exhost::smtp::Client> client;
    std::string mailbox, recipient;

    void Start() {
        server.Start("lvsm", LORVANTA_DLL);
        mailbox = server.Store().CreateMailbox(kDomain, server.Sample().localAliases.at(0));
        recipient = server.Sample().firstLocalProxyAddresses.at(0).substr(5);
        smtp = std::make_unique<exhost_test::SmtpServerProcess>(server.Root().string());
        client = std::make_unique<exhost::smtp::Client>("127.0.0.1", smtp->Port());
        if (client->Command("EHLO bench").code != 250)
            throw std::runtime_error("EHLO refused");
    }

    void Stop() {
        client.reset();
        if (smtp) {
            smtp->Terminate();
            smtp->Wait();
            smtp.reset();
        }
        server.Stop();
    }
};

Bench bench;
double rateWithoutSink = 0, rateWithSink = 0;

void Messages(benchmark::State& state, bool withSink, double& rate) {
    bench.server.Register(bench.mailbox, withSink);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const auto reply = bench.client->Deliver("sender@partner.example.net", {bench.recipient},
                                                 bench.server.Message());
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

// Several clients at once, each on its own session: their messages share commits.
void Concurrent(benchmark::State& state, bool withSink) {
    if (state.thread_index() == 0)
        bench.server.Register(bench.mailbox, withSink);
    exhost::smtp::Client client("127.0.0.1", bench.smtp->Port());
    if (client.Command("EHLO bench").code != 250) {
        state.SkipWithError("EHLO refused");
        return;
    }
    for (auto _ : state) {
        const auto reply =
            client.Deliver("sender@partner.example.net", {bench.recipient}, bench.server.Message());
        if (reply.code != 250) {
            state.SkipWithError(("not stored: " + std::to_string(reply.code)).c_str());
            break;
        }
    }
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SmtpConcurrentWithoutSink(benchmark::State& state) {
    Concurrent(state, false);
}
void BM_SmtpConcurrentWithSink(benchmark::State& state) {
    Concurrent(state, true);
}

BENCHMARK(BM_SmtpConcurrentWithoutSink)
    ->Threads(8)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_SmtpConcurrentWithSink)
    ->Threads(8)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

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
