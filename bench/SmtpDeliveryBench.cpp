// Messages per second through the SMTP front ("exhost smtp" as its own process) into one
// mailbox, first without and then with the real sink registered on its Inbox: same server
// folder, same message, same session. The whole road: SMTP parsing, the directory lookup of the
// recipient, the store's save and (in the second run) the sink, which asks the directory for the
// owner's addresses and stamps the message. The directory holds the sample data for 100,000
// users (LORVANTA_BENCH_USERS changes it). The ratio of the two rates is printed at the end.
// Further figures: eight concurrent clients sending messages of 4 KB (their messages share commits)
// with the time from the end of the message to the 250 and the time the replies to MAIL, RCPT and
// DATA take (each client waits for every reply, so its rate is one over the sum); messages of 1 KB,
// 100 KB and 5 MB; the server's peak memory with 100 sessions open. Over STARTTLS, with the sink
// and eight clients: on one session each (goal: within 15 % of plain text) and on a new session
// for every message (a full handshake each), beside plain text on a new session each.

#include "DeliveryBenchServer.h"
#include "server/net/SelfSignedCertificate.h"
#include "server/smtp/SmtpClient.h"
#include "testsupport/PaddedMessage.h"
#include "testsupport/PeakMemory.h"
#include "testsupport/SmtpServerProcess.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>

namespace {

using deliverybench::kDomain;

struct Bench {
    deliverybench::DeliveryBenchServer server;
    std::unique_ptr<exhost_test::SmtpServerProcess> smtp;
    std::unique_ptr<server::smtp::Client> client;
    std::string mailbox, recipient;

    void Start() {
        server.Start(LORVANTA_DLL);
        mailbox = server.Store().CreateMailbox(kDomain, server.Sample().localAliases.at(0));
        recipient = server.Sample().firstLocalProxyAddresses.at(0).substr(5);
        // The front offers STARTTLS with the certificate it finds in the server folder.
        server::net::WriteSelfSignedCertificate(
            "mail01." + kDomain,
            {server.Root() / "tls" / "server.crt", server.Root() / "tls" / "server.key"});
        // All clients come from one address: allow the hundred sessions of the memory figure.
        smtp = std::make_unique<exhost_test::SmtpServerProcess>(
            server.Root().string(), std::vector<std::string>{"--max-per-client", "100"});
        client = std::make_unique<server::smtp::Client>("127.0.0.1", smtp->Port());
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

// The benchmark's message, its body lengthened to about `size` octets.
std::string MessageOfSize(std::size_t size) {
    return testsupport::PaddedMessage(bench.server.Message(), size);
}

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

// How a client of the concurrent figures reaches the front.
struct Road {
    bool tls = false;         // STARTTLS after the greeting
    bool sessionEach = false; // a new session (and handshake) for every message
};

// A client past EHLO, encrypted if the road says so.
std::unique_ptr<server::smtp::Client> Connect(const Road& road) {
    auto client = std::make_unique<server::smtp::Client>("127.0.0.1", bench.smtp->Port());
    if (client->Command("EHLO bench").code != 250 ||
        (road.tls && (client->StartTls().code != 220 || client->Command("EHLO bench").code != 250)))
        return nullptr;
    return client;
}

// Three seconds each: in the framework's default half second, one log copy (5 ms, every ~40
// commits) or a pause of the host moved the rate by up to a quarter from run to run.
void EightClients(benchmark::internal::Benchmark* benchmark) {
    benchmark->Threads(8)
        ->MinTime(3)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime()
        ->MeasureProcessCPUTime();
}

// Several clients at once, each on its own session: their messages share commits.
void Concurrent(benchmark::State& state, bool withSink, Road road = {}) {
    if (state.thread_index() == 0)
        bench.server.Register(bench.mailbox, withSink);
    auto client = Connect(road);
    if (!client) {
        state.SkipWithError("EHLO or STARTTLS refused");
        return;
    }
    // From the end of the message to the 250: the delivery, the sink and the shared commit.
    std::vector<double> latencies;
    // The replies to MAIL, RCPT and DATA: the part of a client's cycle the store has no share in.
    double commandsMs = 0;
    const auto message = MessageOfSize(4096);
    for (auto _ : state) {
        if (road.sessionEach && !latencies.empty()) {
            client->Command("QUIT");
            client = Connect(road);
            if (!client) {
                state.SkipWithError("EHLO or STARTTLS refused");
                break;
            }
        }
        const auto commandsStart = std::chrono::steady_clock::now();
        if (client->Command("MAIL FROM:<sender@partner.example.net>").code != 250 ||
            client->Command("RCPT TO:<" + bench.recipient + ">").code != 250 ||
            client->Command("DATA").code != 354) {
            state.SkipWithError("MAIL, RCPT or DATA refused");
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        commandsMs += std::chrono::duration<double, std::milli>(start - commandsStart).count();
        const auto reply = client->SendMessageBody(message);
        latencies.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (reply.code != 250) {
            state.SkipWithError(("not stored: " + std::to_string(reply.code)).c_str());
            break;
        }
    }
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    if (!latencies.empty()) {
        // Each thread's own percentiles and average, averaged over the threads.
        const auto percentile = [&](std::size_t percent) {
            const auto at = latencies.begin() + static_cast<long>(latencies.size() * percent / 100);
            std::nth_element(latencies.begin(), at, latencies.end());
            return *at;
        };
        state.counters["p50_end_of_data_ms"] =
            benchmark::Counter(percentile(50), benchmark::Counter::kAvgThreads);
        state.counters["p99_end_of_data_ms"] =
            benchmark::Counter(percentile(99), benchmark::Counter::kAvgThreads);
        state.counters["commands_ms"] = benchmark::Counter(
            commandsMs / static_cast<double>(latencies.size()), benchmark::Counter::kAvgThreads);
    }
}

void BM_SmtpConcurrentWithoutSink(benchmark::State& state) {
    Concurrent(state, false);
}
void BM_SmtpConcurrentWithSink(benchmark::State& state) {
    Concurrent(state, true);
}
void BM_SmtpConcurrentStartTls(benchmark::State& state) {
    Concurrent(state, true, {.tls = true});
}
void BM_SmtpConcurrentSessionEach(benchmark::State& state) {
    Concurrent(state, true, {.sessionEach = true});
}
void BM_SmtpConcurrentStartTlsSessionEach(benchmark::State& state) {
    Concurrent(state, true, {.tls = true, .sessionEach = true});
}

BENCHMARK(BM_SmtpConcurrentWithoutSink)->Apply(EightClients);
BENCHMARK(BM_SmtpConcurrentWithSink)->Apply(EightClients);
BENCHMARK(BM_SmtpConcurrentStartTls)->Apply(EightClients);
BENCHMARK(BM_SmtpConcurrentSessionEach)->Apply(EightClients);
BENCHMARK(BM_SmtpConcurrentStartTlsSessionEach)->Apply(EightClients);

// Messages of the given size, with the sink: the time per byte should not grow with the size.
void BM_SmtpBySize(benchmark::State& state) {
    bench.server.Register(bench.mailbox, true);
    const auto message = MessageOfSize(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const auto reply =
            bench.client->Deliver("sender@partner.example.net", {bench.recipient}, message);
        if (reply.code != 250) {
            state.SkipWithError(("not stored: " + std::to_string(reply.code)).c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SmtpBySize)
    ->Arg(1024)
    ->Arg(100 * 1024)
    ->Arg(5 * 1024 * 1024)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The server's peak resident memory once 100 sessions are open, each having delivered a message
// with the sink.
void BM_SmtpHundredSessions(benchmark::State& state) {
    bench.server.Register(bench.mailbox, true);
    for (auto _ : state) {
        // The benchmark's own session is the hundredth.
        std::vector<std::unique_ptr<server::smtp::Client>> clients;
        try {
            for (int i = 0; i < 99; ++i) {
                clients.push_back(
                    std::make_unique<server::smtp::Client>("127.0.0.1", bench.smtp->Port()));
                if (clients.back()->Command("EHLO bench").code != 250 ||
                    clients.back()
                            ->Deliver("sender@partner.example.net", {bench.recipient},
                                      bench.server.Message())
                            .code != 250) {
                    state.SkipWithError("a session was refused");
                    return;
                }
            }
        } catch (const std::exception& error) {
            state.SkipWithError(("a session failed: " + std::string(error.what())).c_str());
            return;
        }
        state.counters["peak_rss_mb"] =
            testsupport::PeakResidentMb(std::to_string(bench.smtp->Pid()));
    }
}
BENCHMARK(BM_SmtpHundredSessions)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (const int failed = deliverybench::RunBenchmarks(
            argc, argv, [] { bench.Start(); }, [] { bench.Stop(); }))
        return failed;
    if (rateWithoutSink > 0 && rateWithSink > 0)
        std::cout << "SMTP messages per second: " << rateWithoutSink << " without the sink, "
                  << rateWithSink << " with it; with/without = " << rateWithSink / rateWithoutSink
                  << "\n";
    return 0;
}
