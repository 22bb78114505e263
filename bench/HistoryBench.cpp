// Loading 30 days of history (5 profiles polled every 60 s, 3-4 windows each: about 216,000
// records) and computing the chart of one key; appending one record. The load is reported
// beside `wc -l` over the same files, measured in the same run.
//
//   history_bench [google benchmark flags]
//   history_bench --memory    peak RSS growth of one load + chart

#include "BenchData.h"
#include "history/HistoryChart.h"
#include "history/HistoryStore.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace fs = std::filesystem;

namespace {

struct Data {
    fs::path dir;
    std::vector<HistoryChart::ProfileName> profiles;
    std::uint64_t bytes = 0;
};

const Data& data() {
    static const Data d = [] {
        Data out;
        out.dir = benchdata::root() / "history-30d";
        fs::remove_all(out.dir);
        const auto ids = benchdata::writeHistory(out.dir, 5, 30,
                                                 std::chrono::system_clock::now() - std::chrono::minutes(1));
        for (std::size_t i = 0; i < ids.size(); ++i)
            out.profiles.push_back({ids[i], "profile-" + std::to_string(i)});
        for (const auto& f : fs::directory_iterator(out.dir))
            out.bytes += f.file_size();
        return out;
    }();
    return d;
}

void BM_Load30DaysAndChart(benchmark::State& state) {
    const Data& d = data();
    HistoryStore store(d.dir);
    std::size_t records = 0;
    for (auto _ : state) {
        const Instant since = std::chrono::system_clock::now() - std::chrono::hours(24 * 30);
        const auto loaded = store.load(since);
        const auto chart = HistoryChart::compute(loaded, d.profiles, "five_hour");
        records = loaded.size();
        benchmark::DoNotOptimize(chart.points.data());
    }
    state.counters["records"] = static_cast<double>(records);
    state.counters["MiB"] = static_cast<double>(d.bytes) / (1 << 20);
    const std::string wc = "wc -l '" + d.dir.string() + "'/*.jsonl > /dev/null";
    benchdata::timeCommand(wc);
    double best = 1e9;
    for (int i = 0; i < 5; ++i)
        best = std::min(best, benchdata::timeCommand(wc));
    state.counters["wc_l_ms"] = best * 1000;
}

void BM_LoadOnly(benchmark::State& state) {
    const Data& d = data();
    HistoryStore store(d.dir);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            store.load(std::chrono::system_clock::now() - std::chrono::hours(24 * 30)).size());
}

void BM_Append(benchmark::State& state) {
    const fs::path dir = benchdata::root() / "history-append";
    fs::remove_all(dir);
    HistoryStore store(dir);
    HistoryRecord r{
        std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()),
        Uuid::random(),
        {{"five_hour", 42.5, std::nullopt, std::nullopt}, {"seven_day", 12, std::nullopt, std::nullopt}}};
    for (auto _ : state) {
        store.append(r);
        store.load(r.ts + std::chrono::hours(48)); // waits until the append is written (reads no file)
    }
}

BENCHMARK(BM_Load30DaysAndChart)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_LoadOnly)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Append)->Unit(benchmark::kMicrosecond)->Range(1, 1)->Iterations(20000);

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--memory") == 0) {
        const Data& d = data();
        HistoryStore store(d.dir);
        const long before = benchdata::peakRssKb();
        const auto loaded = store.load(std::chrono::system_clock::now() - std::chrono::hours(24 * 30));
        const auto chart = HistoryChart::compute(loaded, d.profiles, "five_hour");
        std::printf("load + chart: %zu records, %zu points, peak RSS growth %.1f MiB for %.1f MiB of files\n",
                    loaded.size(), chart.points.size(), (benchdata::peakRssKb() - before) / 1024.0,
                    static_cast<double>(d.bytes) / (1 << 20));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
