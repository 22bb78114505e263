// Codex session reading on large logs.
//
//   codex_bench [google benchmark flags]
//   codex_bench --memory=<64|256|1024|worst>   peak RSS growth of one readUsage over that set
//
// Sets of 8 session files of 64 MiB, 256 MiB and 1 GiB whose newest report lies within the last
// few hundred lines, and a worst case of 8 files of 256 MiB whose only report is the first line
// (the whole file must be scanned). The worst case is reported as a ratio to `cat` of the same
// bytes, measured in the same run with a warm page cache. Generated once under build/bench-data.

#include "BenchData.h"
#include "codex/CodexProvider.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace fs = std::filesystem;

namespace {

const Instant kNow = DateTime::fromUnixSeconds(1.79e9);

// <root>/codex-<name>/.codex/sessions/rollout-<i>.jsonl; returns the fake home.
fs::path codexSet(const std::string& name, std::uint64_t bytes, bool worst) {
    const fs::path home = benchdata::root() / ("codex-" + name);
    const fs::path sessions = home / ".codex/sessions/2026/09/14";
    const fs::path first = sessions / "rollout-0.jsonl";
    if (!fs::exists(first) || fs::file_size(first) < bytes) {
        fs::remove_all(home);
        benchdata::writeCodexLog(first, bytes, 300, worst);
        for (int i = 1; i < 8; ++i)
            fs::copy_file(first, sessions / ("rollout-" + std::to_string(i) + ".jsonl"));
    }
    return home;
}

fs::path setFor(const std::string& which) {
    if (which == "64")
        return codexSet("64m", 64ull << 20, false);
    if (which == "256")
        return codexSet("256m", 256ull << 20, false);
    if (which == "1024")
        return codexSet("1g", 1ull << 30, false);
    return codexSet("worst-256m", 256ull << 20, true);
}

void readSet(benchmark::State& state, const std::string& which) {
    const fs::path home = setFor(which);
    const auto windows = CodexProvider::readUsage("~/.codex", home, kNow); // warm the cache
    if (windows.empty())
        state.SkipWithError("no windows");
    for (auto _ : state)
        benchmark::DoNotOptimize(CodexProvider::readUsage("~/.codex", home, kNow));
    std::uint64_t bytes = 0;
    for (const auto& f : fs::recursive_directory_iterator(home / ".codex/sessions"))
        if (f.is_regular_file())
            bytes += f.file_size();
    state.counters["set_MiB"] = static_cast<double>(bytes >> 20);
    if (which == "worst") {
        std::string command = "cat";
        for (const auto& f : fs::recursive_directory_iterator(home / ".codex/sessions"))
            if (f.is_regular_file())
                command += " '" + f.path().string() + "'";
        command += " > /dev/null";
        benchdata::timeCommand(command); // warm
        double best = 1e9;
        for (int i = 0; i < 3; ++i)
            best = std::min(best, benchdata::timeCommand(command));
        state.counters["cat_ms"] = best * 1000;
        state.counters["bytes_per_second"] =
            benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kIsIterationInvariantRate);
    }
}

void BM_ReadUsage_8x64MiB(benchmark::State& s) {
    readSet(s, "64");
}
void BM_ReadUsage_8x256MiB(benchmark::State& s) {
    readSet(s, "256");
}
void BM_ReadUsage_8x1GiB(benchmark::State& s) {
    readSet(s, "1024");
}
void BM_ReadUsage_Worst_8x256MiB(benchmark::State& s) {
    readSet(s, "worst");
}

BENCHMARK(BM_ReadUsage_8x64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadUsage_8x256MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadUsage_8x1GiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadUsage_Worst_8x256MiB)->Unit(benchmark::kMillisecond)->MinTime(3);

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--memory=", 9) == 0) {
            const fs::path home = setFor(argv[i] + 9);
            const long before = benchdata::peakRssKb();
            benchmark::DoNotOptimize(CodexProvider::readUsage("~/.codex", home, kNow));
            std::printf("readUsage(%s): peak RSS growth %.1f MiB\n", argv[i] + 9,
                        (benchdata::peakRssKb() - before) / 1024.0);
            return 0;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
