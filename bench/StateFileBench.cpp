// Reading the live identity from a large ~/.claude.json, against a full parse of the same file.
//
//   state_file_bench [--size-mb=N] [--memory=readIdentity|readEmail|fullParse|writeIdentity]
//                    [google benchmark flags]
//
// The state file is generated once (deterministic) under $ULMET_BENCH_DIR (default
// build/bench-data). --memory runs one operation once and prints the growth of the peak
// resident set it caused, in MiB, beside the file size.

#include "claude/ClaudeAppState.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

std::size_t g_sizeMb = 100;

fs::path benchHome() {
    const char* dir = std::getenv("ULMET_BENCH_DIR");
    return fs::path(dir && *dir ? dir : "build/bench-data") / ("home-" + std::to_string(g_sizeMb) + "mb");
}

// A state file shaped like a long-used claude installation: settings, caches with large
// integers, and a "projects" map whose per-project histories make up the bulk.
void generateStateFile(const fs::path& path, std::size_t targetBytes) {
    std::mt19937_64 rng(7);
    std::ofstream out(path, std::ios::binary);
    out << "{\n  \"numStartups\": 214,\n  \"installMethod\": \"native\",\n  \"autoUpdates\": false,\n"
           "  \"userID\": \"3c5d9e0a7b1f2c4d6e8a0b2c4d6e8f0a1b3c5d7e9f0a2b4c6d8e0f1a3b5c7d9e\",\n"
           "  \"changelogLastFetched\": 1789380123456,\n  \"cachedGrowthBookFeatures\": "
           "{\"tengu_mcp_tool_search\": true,"
           " \"tengu_1p_event_batch_config\": {\"scheduledDelayMillis\": 5000, \"maxExportBatchSize\": "
           "200}},\n"
           "  \"projects\": {\n";
    std::size_t written = 400;
    int project = 0;
    while (written < targetBytes) {
        std::ostringstream p;
        if (project > 0)
            p << ",\n";
        p << "    \"/home/dev/projects/app-" << project << "\": {\n      \"allowedTools\": [],\n"
          << "      \"lastCost\": " << (rng() % 100000) / 1000.0 << ",\n      \"lastSessionId\": \""
          << std::hex << rng() << std::dec << "\",\n      \"history\": [\n";
        for (int h = 0; h < 200; ++h) {
            p << (h ? ",\n" : "")
              << "        {\"display\": \"Refactor the config loader so that \\\"defaults\\\" apply "
              << "to module " << h << " — keep tests green ✓\", \"pastedContents\": {}, \"timestamp\": "
              << 1789000000000 + static_cast<long long>(rng() % 10000000) << "}";
        }
        p << "\n      ],\n      \"exampleFiles\": [\"src/a.ts\", \"src/b.ts\"], \"hasTrustDialogAccepted\": "
             "true\n    }";
        const std::string s = p.str();
        out << s;
        written += s.size();
        ++project;
    }
    out << "\n  },\n  \"oauthAccount\": {\"accountUuid\": \"0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0\", "
           "\"emailAddress\": "
           "\"dev@example.com\", \"organizationUuid\": \"11111111-2222-4333-8444-555555555555\", "
           "\"displayName\": "
           "\"Dev\", \"organizationRole\": \"admin\", \"organizationName\": \"Example\"},\n"
           "  \"hasCompletedOnboarding\": true\n}\n";
}

const fs::path& stateHome() {
    static const fs::path home = [] {
        const fs::path h = benchHome();
        const fs::path file = h / ".claude.json";
        if (!fs::exists(file)) {
            fs::create_directories(h);
            generateStateFile(file, g_sizeMb << 20);
        }
        return h;
    }();
    return home;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_ReadIdentity(benchmark::State& state) {
    const fs::path home = stateHome();
    for (auto _ : state)
        benchmark::DoNotOptimize(ClaudeAppState::readIdentity(home));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(home / ".claude.json")));
}

void BM_ReadEmail(benchmark::State& state) {
    const fs::path home = stateHome();
    for (auto _ : state)
        benchmark::DoNotOptimize(ClaudeAppState::readEmail(home));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(home / ".claude.json")));
}

// The baseline: read the whole file and build its document.
void BM_FullParse(benchmark::State& state) {
    const fs::path file = stateHome() / ".claude.json";
    for (auto _ : state) {
        auto doc = nlohmann::json::parse(slurp(file));
        benchmark::DoNotOptimize(doc.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(file)));
}

// The rewrite reformats the file: work on a copy so that the read figures stay comparable.
fs::path scratchHome() {
    const fs::path h = benchHome().string() + "-write";
    fs::create_directories(h);
    fs::copy_file(stateHome() / ".claude.json", h / ".claude.json", fs::copy_options::overwrite_existing);
    return h;
}

void BM_WriteIdentity(benchmark::State& state) {
    const fs::path home = scratchHome();
    const std::string identity = *ClaudeAppState::readIdentity(home);
    for (auto _ : state)
        ClaudeAppState::writeIdentity(home, identity);
}

BENCHMARK(BM_ReadIdentity)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_ReadEmail)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FullParse)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WriteIdentity)->Unit(benchmark::kMillisecond)->Iterations(2);

int memoryMode(const std::string& op) {
    const fs::path home = stateHome();
    const double fileMb = static_cast<double>(fs::file_size(home / ".claude.json")) / (1 << 20);
    const long before = peakRssKb();
    if (op == "readIdentity")
        benchmark::DoNotOptimize(ClaudeAppState::readIdentity(home));
    else if (op == "readEmail")
        benchmark::DoNotOptimize(ClaudeAppState::readEmail(home));
    else if (op == "fullParse")
        benchmark::DoNotOptimize(nlohmann::json::parse(slurp(home / ".claude.json")).size());
    else if (op == "writeIdentity")
        ClaudeAppState::writeIdentity(scratchHome(), *ClaudeAppState::readIdentity(home));
    else {
        std::fprintf(stderr, "unknown operation %s\n", op.c_str());
        return 2;
    }
    std::printf("%s: peak RSS growth %.1f MiB for a %.1f MiB file (%.3fx)\n", op.c_str(),
                (peakRssKb() - before) / 1024.0, fileMb, (peakRssKb() - before) / 1024.0 / fileMb);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string memoryOp;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--size-mb=", 10) == 0)
            g_sizeMb = std::strtoul(argv[i] + 10, nullptr, 10);
        else if (std::strncmp(argv[i], "--memory=", 9) == 0)
            memoryOp = argv[i] + 9;
        else
            rest.push_back(argv[i]);
    }
    if (!memoryOp.empty())
        return memoryMode(memoryOp);
    stateHome(); // generate before timing
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
