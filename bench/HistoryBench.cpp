// Loading 30 days of history (5 profiles polled every 60 s, 3-4 windows each: about 216,000
// records) and computing the chart of one key; appending one record. The load is reported
// beside `wc -l` over the same files, measured in the same run.
//
//   history_bench [google benchmark flags]
//   history_bench --memory    peak RSS growth of one load + chart
//   history_bench --year      a year of three profiles (four windows each, polled every 60 s):
//                             its size before and after thinning, the thinning of one day file,
//                             the whole first pass, and the month's chart and the start's 48 hours
//                             read before and after it

#include "BenchData.h"
#include "base/FileIO.h"
#include "history/HistoryChart.h"
#include "history/HistoryRetention.h"
#include "history/HistoryStore.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

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

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F>
std::vector<double> timesMs(int n, F&& f) {
    std::vector<double> out;
    for (int i = 0; i < n; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        out.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return out;
}

int year() {
    const fs::path dir = benchdata::root() / "history-year";
    fs::remove_all(dir);
    const Instant now = std::chrono::system_clock::now();
    const auto ids = benchdata::writeRealisticHistory(dir, 3, 366, now - std::chrono::minutes(1));
    const auto before = HistoryRetention::measure(dir);

    // The readers, on the same folder before and after.
    std::vector<HistoryChart::ProfileName> names;
    for (std::size_t i = 0; i < ids.size(); ++i)
        names.push_back({ids[i], "profile-" + std::to_string(i)});
    auto readers = [&](const char* when) {
        HistoryStore store(dir);
        const auto month = timesMs(7, [&] {
            const auto loaded = store.load(now - std::chrono::hours(24 * 30));
            benchmark::DoNotOptimize(HistoryChart::compute(loaded, names, "five_hour").keys.size());
        });
        const auto seed =
            timesMs(7, [&] { benchmark::DoNotOptimize(store.load(now - std::chrono::hours(48)).size()); });
        std::printf("%-7s month load + chart %7.1f ms   48-hour seed %6.1f ms   (medians of 7)\n", when,
                    median(month), median(seed));
    };
    readers("before");

    // One day file at a time: listing, reading, thinning and the flushed atomic rewrite.
    const fs::path one = benchdata::root() / "history-one-day";
    fs::remove_all(one);
    fs::create_directories(one);
    const std::string name = HistoryStore::dayFileName(now - std::chrono::hours(24 * 100));
    std::string text;
    std::error_code error;
    FileIO::readFileInto(dir / name, std::size_t(1) << 30, text, error);
    std::vector<double> day;
    for (int i = 0; i < 30; ++i) {
        { std::ofstream(one / name, std::ios::binary | std::ios::trunc) << text; }
        fs::remove(one / ".retention");
        HistoryStore store(one);
        day.push_back(timesMs(1, [&] { store.applyRetention(now); })[0]);
    }
    const auto thinOnly =
        timesMs(30, [&] { benchmark::DoNotOptimize(HistoryRetention::thin(text)->size()); });

    const auto pass = timesMs(1, [&] { HistoryStore(dir).applyRetention(now); })[0];
    const auto after = HistoryRetention::measure(dir);
    const auto again = timesMs(1, [&] { HistoryStore(dir).applyRetention(now + std::chrono::hours(24)); })[0];
    readers("after");

    std::printf("year of history: %s before, %s after thinning (%.1f %%)\n",
                HistoryRetention::describe(before).c_str(), HistoryRetention::describe(after).c_str(),
                100.0 * static_cast<double>(after.bytes) / static_cast<double>(before.bytes));
    std::printf(
        "one day file (%.2f MB): thin + rewrite median %.1f ms, max %.1f ms; thin alone median %.1f ms\n",
        static_cast<double>(text.size()) / 1e6, median(day), *std::max_element(day.begin(), day.end()),
        median(thinOnly));
    std::printf("first pass over the year: %.0f ms; the next day's pass: %.1f ms\n", pass, again);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--year") == 0)
        return year();
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
