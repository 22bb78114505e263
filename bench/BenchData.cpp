#include "BenchData.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace benchdata {

fs::path root() {
    const char* dir = std::getenv("ULMET_BENCH_DIR");
    return dir && *dir ? fs::path(dir) : fs::path("build/bench-data");
}

namespace {

std::string reportLine(int n) {
    char line[1024];
    std::snprintf(
        line, sizeof line,
        R"({"timestamp":"2026-09-14T08:%02d:%02d.250Z","type":"event_msg","payload":{"type":"token_count",)"
        R"("info":{"total_token_usage":{"input_tokens":%d,"cached_input_tokens":3456,"output_tokens":212,)"
        R"("reasoning_output_tokens":128,"total_tokens":9332},"model_context_window":272000},)"
        R"("rate_limits":{"limit_id":"codex","limit_name":null,"primary":{"used_percent":%d.0,)"
        R"("window_minutes":300,"resets_at":4102444800},"secondary":{"used_percent":41.0,)"
        R"("window_minutes":10080,"resets_at":4102531200},"credits":{"has_credits":false,)"
        R"("unlimited":false,"balance":null},"plan_type":"plus"}}})"
        "\n",
        (n / 60) % 60, n % 60, 9000 + n, n % 100);
    return line;
}

std::string conversationLine(std::mt19937_64& rng) {
    static const char* words[] = {"config",     "loader",  "coerce", "timeout", "number",
                                  "regression", "test",    "the",    "a",       "module",
                                  "function",   "returns", "value",  "string"};
    const int length = 200 + static_cast<int>(rng() % 4000);
    std::string text;
    while (static_cast<int>(text.size()) < length) {
        text += words[rng() % (sizeof words / sizeof *words)];
        text += ' ';
    }
    return R"({"timestamp":"2026-09-14T08:02:15.733Z","type":"response_item","payload":{"type":"message","role":"assistant","content":[{"type":"output_text","text":")" +
           text + "\"}]}}\n";
}

} // namespace

void writeCodexLog(const fs::path& file, std::uint64_t bytes, int reportEvery, bool reportOnlyOnFirstLine) {
    fs::create_directories(file.parent_path());
    std::mt19937_64 rng(11);
    std::ofstream out(file, std::ios::binary);
    std::uint64_t written = 0;
    int line = 0;
    if (reportOnlyOnFirstLine) {
        const std::string r = reportLine(0);
        out << r;
        written += r.size();
    }
    while (written < bytes) {
        const std::string l =
            !reportOnlyOnFirstLine && ++line % reportEvery == 0 ? reportLine(line) : conversationLine(rng);
        out << l;
        written += l.size();
    }
}

std::vector<Uuid> writeHistory(const fs::path& dir, int profiles, int days, Instant end) {
    fs::create_directories(dir);
    std::vector<Uuid> ids;
    for (int p = 0; p < profiles; ++p)
        ids.push_back(Uuid::random());
    std::mt19937_64 rng(5);
    const Instant start = end - std::chrono::hours(24 * days);
    std::string currentFile;
    std::ofstream out;
    for (Instant t = start; t <= end; t += std::chrono::seconds(60)) {
        const std::string name = HistoryStore::dayFileName(t);
        if (name != currentFile) {
            out.close();
            out.open(dir / name, std::ios::binary | std::ios::app);
            currentFile = name;
        }
        for (int p = 0; p < profiles; ++p) {
            HistoryRecord r{std::chrono::floor<std::chrono::seconds>(t), ids[p], {}};
            const double u = static_cast<double>(rng() % 1000) / 10;
            r.windows.push_back({"five_hour", u, t + std::chrono::hours(3), std::nullopt});
            r.windows.push_back({"seven_day", u / 2, t + std::chrono::hours(72), std::nullopt});
            r.windows.push_back({"seven_day_sonnet", u / 3, t + std::chrono::hours(72), std::nullopt});
            if (p % 2 == 0)
                r.windows.push_back(
                    {"seven_day_scoped:Opus", u / 4, t + std::chrono::hours(72), std::nullopt});
            out << *HistoryStore::encodeLine(r);
        }
    }
    return ids;
}

std::vector<Uuid> writeRealisticHistory(const fs::path& dir, int profiles, int days, Instant end) {
    fs::create_directories(dir);
    std::vector<Uuid> ids;
    for (int p = 0; p < profiles; ++p)
        ids.push_back(Uuid::random());
    const Instant start = std::chrono::floor<std::chrono::minutes>(end - std::chrono::hours(24 * days));
    auto seconds = [](Instant t) {
        return std::chrono::floor<std::chrono::seconds>(t).time_since_epoch().count();
    };
    auto at = [](long long s) { return Instant(std::chrono::seconds(s)); };
    // The next reset after s of a window of `period` seconds whose resets fall `offset` past its marks.
    auto next = [](long long s, long long period, long long offset) {
        return ((s - offset) / period + 1) * period + offset;
    };
    std::string currentFile, buffer;
    auto flush = [&] {
        if (currentFile.empty())
            return;
        std::ofstream(dir / currentFile, std::ios::binary | std::ios::app) << buffer;
        buffer.clear();
    };
    for (Instant t = start; t <= end; t += std::chrono::seconds(60)) {
        const std::string name = HistoryStore::dayFileName(t);
        if (name != currentFile) {
            flush();
            currentFile = name;
        }
        const long long s = seconds(t);
        const long long wobble = (s / 60) % 2;
        for (int p = 0; p < profiles; ++p) {
            const long long fiveOffset = 600LL * p + 59, weekOffset = 86400LL * (p + 1) + 3599;
            const long long five = next(s, 5 * 3600, fiveOffset), week = next(s, 7 * 86400, weekOffset);
            const double fiveUsed = std::min(100.0, static_cast<double>(5 * 3600 - (five - s)) / 180);
            const double weekUsed = std::min(100.0, static_cast<double>(7 * 86400 - (week - s)) / 6048);
            HistoryRecord r{t, ids[p], {}};
            r.windows.push_back({"five_hour", std::round(fiveUsed), at(five - wobble), std::nullopt});
            r.windows.push_back({"seven_day", std::round(weekUsed), at(week - wobble), std::nullopt});
            r.windows.push_back(
                {"seven_day_sonnet", std::round(weekUsed / 2), at(week - wobble), std::nullopt});
            r.windows.push_back(
                {"seven_day_scoped:Opus", std::round(weekUsed / 5), at(week - wobble), std::nullopt});
            buffer += *HistoryStore::encodeLine(r);
        }
    }
    flush();
    return ids;
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double timeCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "command failed: %s\n", command.c_str());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace benchdata
