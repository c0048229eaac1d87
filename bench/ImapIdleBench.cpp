// New mail as an idling IMAP client sees it: "exhost smtp" and "exhost imap" as their own
// processes on one server folder, one session idling on Alice's Inbox, and messages sent over
// SMTP one after another; each figure is the time from the 250 that ends the message's DATA to
// the idling session's EXISTS (bench/imap_idle_bench.py measures it), goal p99 at most 100 ms.
// Then 1,000 sessions idle on her Inbox for 10 seconds and the IMAP server's CPU time meanwhile
// is reported (from /proc: the run time of all its threads).

#include "testsupport/ExhostRunner.h"
#include "testsupport/ScopedServerFolder.h"
#include "testsupport/SmtpServerProcess.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* kPassword = "bench-password";
constexpr const char* kRecipient = "alice@example.com";
constexpr int kIdleSessions = 1000;
constexpr double kIdleSeconds = 10;

class IdleBench {
public:
    IdleBench() {
        using exhost_test::RunExhost;
        const auto root = folder_.Root();
        for (const auto& arguments : std::vector<std::vector<std::string>>{
                 {"init", "--root", root, "--users", "2"},
                 {"directory", "start", "--root", root},
                 {"ldif", "--root", root, LORVANTA_FIXTURES "/demo/alice.ldif"},
                 {"mailbox", "add", "--root", root, "alice"}}) {
            const auto result = RunExhost(arguments);
            if (result.exitCode != 0)
                throw std::runtime_error(result.err);
        }
        const auto set =
            RunExhost({"passwd", "--root", root, "alice"}, {}, std::string(kPassword) + "\n");
        if (set.exitCode != 0)
            throw std::runtime_error(set.err);
        smtp_ = std::make_unique<exhost_test::SmtpServerProcess>(root);
        // The look besides the change notices waits longer than the bench: only a notice counts.
        imap_ = std::make_unique<exhost_test::SmtpServerProcess>(
            root,
            std::vector<std::string>{"--max-sessions", std::to_string(kIdleSessions + 10),
                                     "--max-per-client", std::to_string(kIdleSessions + 10),
                                     "--idle-poll", "3600"},
            "127.0.0.1:0", "imap");
    }

    ~IdleBench() {
        imap_.reset();
        smtp_.reset();
        exhost_test::RunExhost({"directory", "stop", "--root", folder_.Root()});
    }

    // Median, 99th percentile and largest wait, in seconds, over `count` messages.
    std::vector<double> Latency(int count) const {
        const auto out = Script("latency " + std::to_string(imap_->Port()) + " " +
                                std::to_string(smtp_->Port()) + " alice " + kPassword + " " +
                                kRecipient + " " + std::to_string(count));
        std::istringstream figures(out);
        std::vector<double> values{std::istream_iterator<double>(figures), {}};
        if (values.size() != 3)
            throw std::runtime_error("unexpected output: " + out);
        return values;
    }

    // The IMAP server's CPU seconds while `kIdleSessions` sessions idle for `kIdleSeconds`.
    double IdleCpuSeconds() const {
        const std::string command =
            "/usr/bin/python3 " LORVANTA_SOURCE_DIR "/bench/imap_idle_bench.py sessions " +
            std::to_string(imap_->Port()) + " alice " + kPassword + " " +
            std::to_string(kIdleSessions) + " " + std::to_string(kIdleSeconds);
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            throw std::runtime_error("cannot run " + command);
        char line[64] = {};
        double before = -1, after = -1;
        while (std::fgets(line, sizeof line, pipe)) {
            const std::string text(line);
            if (text == "ready\n")
                before = CpuSeconds(imap_->Pid());
            else if (text == "done\n")
                after = CpuSeconds(imap_->Pid());
        }
        if (pclose(pipe) != 0 || before < 0 || after < 0)
            throw std::runtime_error(command + " failed");
        return after - before;
    }

private:
    static std::string Script(const std::string& arguments) {
        const std::string command =
            "/usr/bin/python3 " LORVANTA_SOURCE_DIR "/bench/imap_idle_bench.py " + arguments;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            throw std::runtime_error("cannot run " + command);
        std::string out;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        if (pclose(pipe) != 0)
            throw std::runtime_error(command + " failed");
        return out;
    }

    // CPU time of all the process's threads so far, in nanoseconds from the scheduler (the
    // first field of each thread's schedstat): /proc/PID/stat counts in ticks of 10 ms.
    static double CpuSeconds(int pid) {
        long long nanoseconds = 0;
        for (const auto& task :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
            std::ifstream stat(task.path() / "schedstat");
            long long ran = 0;
            if (stat >> ran)
                nanoseconds += ran;
        }
        return static_cast<double>(nanoseconds) / 1e9;
    }

    testsupport::ScopedServerFolder folder_;
    std::unique_ptr<exhost_test::SmtpServerProcess> smtp_, imap_;
};

IdleBench& Bench() {
    static IdleBench bench;
    return bench;
}

void BM_ImapIdleNewMailLatency(benchmark::State& state) {
    std::vector<double> figures;
    for (auto _ : state) {
        figures = Bench().Latency(static_cast<int>(state.range(0)));
        state.SetIterationTime(figures[1]); // the p99 is the figure with a goal
    }
    state.counters["p50_ms"] = figures[0] * 1000;
    state.counters["p99_ms"] = figures[1] * 1000;
    state.counters["max_ms"] = figures[2] * 1000;
}

void BM_ImapThousandIdleSessionsCpu(benchmark::State& state) {
    for (auto _ : state)
        state.SetIterationTime(Bench().IdleCpuSeconds());
    state.counters["sessions"] = kIdleSessions;
    state.counters["seconds_idle"] = kIdleSeconds;
}

BENCHMARK(BM_ImapIdleNewMailLatency)
    ->Arg(200)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImapThousandIdleSessionsCpu)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
