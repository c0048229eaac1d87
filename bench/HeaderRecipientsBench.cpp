// GetHeaderRecipients on large header blocks, next to a baseline that only splits the same
// block at CR LF. Bytes per second should stay flat as the block grows.

#include "sink/LorvantaModule.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A header block of about `size` bytes: ordinary headers, then long To and Cc headers folded
// over many lines with tabs and blanks, display names with commas and angle brackets.
std::string MakeHeaderBlock(std::size_t size) {
    std::string block = "Received: from mx1.example.org by mail01.example.com; Mon, 2 Nov 2026\r\n"
                        "From: Bob <bob@example.org>\r\nSubject: big\r\n";
    std::size_t n = 0;
    bool toHeader = true;
    while (block.size() < size) {
        block += toHeader ? "To: " : "Cc: ";
        for (int i = 0; i < 200 && block.size() < size; ++i, ++n) {
            block += "\"User, No" + std::to_string(n) + "\" <user" + std::to_string(n) +
                     "@example.com>,\r\n";
            block += (i % 2) ? "\t" : "  ";
        }
        block += "last@example.com\r\nX-Spam-Score: 0.1\r\n";
        toHeader = !toHeader;
    }
    return block;
}

void BM_GetHeaderRecipients(benchmark::State& state) {
    const auto block = MakeHeaderBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(lorvanta::GetHeaderRecipients(block));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}

// Baseline: only find the lines.
void BM_SplitAtCrLf(benchmark::State& state) {
    const auto block = MakeHeaderBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::size_t lines = 0;
        std::string_view rest(block);
        for (auto end = rest.find("\r\n"); end != std::string_view::npos; end = rest.find("\r\n")) {
            benchmark::DoNotOptimize(rest.substr(0, end));
            rest.remove_prefix(end + 2);
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}

} // namespace

BENCHMARK(BM_SplitAtCrLf)->Arg(10 << 10)->Arg(100 << 10)->Arg(1 << 20)->Arg(10 << 20);
BENCHMARK(BM_GetHeaderRecipients)->Arg(10 << 10)->Arg(100 << 10)->Arg(1 << 20)->Arg(10 << 20);
