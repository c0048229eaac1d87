// Messages per second that a private Postfix instance delivers over LMTP to "exhost lmtp", with
// the real sink registered on the recipient's Inbox. Each round puts a batch of messages into
// the stopped instance's queue with its sendmail (not timed), then times from starting the
// instance until its queue is empty: pickup, queue manager, Postfix's LMTP client, the LMTP
// front, the directory lookup, the store's save and the sink. The instance's start is part of
// the time, so the figure is a floor. Needs root (Postfix's master starts only as root); the
// directory holds the sample data for 100,000 users (LORVANTA_BENCH_USERS changes it).

#include "DeliveryBenchServer.h"
#include "testsupport/PostfixInstance.h"
#include "testsupport/SmtpServerProcess.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>

namespace {

using deliverybench::kDomain;
constexpr int kBatch = 500;

struct Bench {
    deliverybench::DeliveryBenchServer server;
    std::unique_ptr<exhost_test::SmtpServerProcess> lmtp;
    std::unique_ptr<exhost_test::PostfixInstance> postfix;
    std::string recipient;

    void Start() {
        server.Start(LORVANTA_DLL);
        const auto alias = server.Sample().localAliases.at(0);
        server.Register(server.Store().CreateMailbox(kDomain, alias), true);
        recipient = alias + "@" + kDomain;
        lmtp = std::make_unique<exhost_test::SmtpServerProcess>(
            server.Root().string(), std::vector<std::string>{}, "127.0.0.1:0", "lmtp");
        postfix = std::make_unique<exhost_test::PostfixInstance>(kDomain, lmtp->Port());
    }

    void Stop() {
        postfix.reset();
        if (lmtp) {
            lmtp->Terminate();
            lmtp->Wait();
            lmtp.reset();
        }
        server.Stop();
    }
};

Bench bench;

void BM_PostfixLmtpWithSink(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        bench.postfix->Stop();
        for (int i = 0; i < kBatch; ++i)
            bench.postfix->Submit("sender@" + kDomain, {bench.recipient}, bench.server.Message());
        state.ResumeTiming();
        bench.postfix->Start();
        if (!bench.postfix->AwaitQueueDone() || bench.postfix->Deferred() != 0) {
            state.SkipWithError("not everything was delivered; see the instance's maillog");
            break;
        }
    }
    state.counters["messages_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kBatch), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_PostfixLmtpWithSink)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (!exhost_test::PostfixInstance::CanRun()) {
        std::cerr << "postfix_lmtp_bench needs root: Postfix's master only starts as root\n";
        return 0;
    }
    std::cout << "Postfix " << exhost_test::PostfixInstance::Version() << "\n";
    return deliverybench::RunBenchmarks(
        argc, argv, [] { bench.Start(); }, [] { bench.Stop(); });
}
