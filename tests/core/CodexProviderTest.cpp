#include "codex/CodexProvider.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using nlohmann::json;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const Instant kNow = *DateTime::parseIso8601("2026-09-14T12:00:00Z");
const fs::path kSample = fs::path(ULMET_TEST_DATA) / "codex/rollout-sample.jsonl";

std::string report(const std::string& ts, double primary, double secondary, const std::string& extra = "") {
    return R"({"timestamp":")" + ts +
           R"(","type":"event_msg","payload":{"type":"token_count","info":null,"rate_limits":{"limit_id":"codex","primary":{"used_percent":)" +
           std::to_string(primary) +
           R"(,"window_minutes":300,"resets_at":1789408260},"secondary":{"used_percent":)" +
           std::to_string(secondary) +
           R"(,"window_minutes":10080,"resets_at":1789713000},"plan_type":"plus")" + extra + "}}}\n";
}

class CodexTest : public testing::Test {
protected:
    TempDir home;
    fs::path sessions = home / ".codex/sessions";

    // A session file with the given content and modification time (seconds after an epoch).
    fs::path session(const std::string& relative, const std::string& content, int ageSeconds = 0) {
        const fs::path path = sessions / relative;
        writeFile(path, content);
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(1000 + ageSeconds));
        return path;
    }
    std::vector<UsageWindow> usage() { return CodexProvider::readUsage("~/.codex", home.path(), kNow); }
    std::string failure() {
        try {
            usage();
        } catch (const CodexError& e) {
            return e.what();
        }
        return "<no error>";
    }
};

TEST_F(CodexTest, ReadsTheNewestReportOfARealSessionLog) {
    session("2026/09/14/rollout-a.jsonl", *readFile(kSample));
    const auto windows = usage();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].key, "codex_5h");
    EXPECT_EQ(windows[0].utilization, 3);
    EXPECT_EQ(windows[0].windowSeconds, 18000);
    EXPECT_EQ(windows[0].resetsAt, DateTime::fromUnixSeconds(1789408260));
    EXPECT_EQ(windows[1].key, "codex_week");
    EXPECT_EQ(windows[1].utilization, 44);
    EXPECT_EQ(windows[1].windowSeconds, 604800);
    EXPECT_EQ(CodexProvider::readPlanType("~/.codex", home.path()), "plus");
}

TEST_F(CodexTest, MissingSessionsAndMissingReports) {
    EXPECT_EQ(failure(),
              "セッションが見つかりません（" + sessions.string() + "）。codex を一度実行すると記録されます");
    EXPECT_FALSE(CodexProvider::readPlanType("~/.codex", home.path()));
    session("a.jsonl", "{\"type\":\"session_meta\"}\n");
    EXPECT_EQ(failure(), "使用量の記録がまだありません。codex を一度実行してください");
    session("b.jsonl", R"({"rate_limits":{"primary":{"window_minutes":300}}})"
                       "\n");
    EXPECT_EQ(failure(), "使用量の記録がまだありません。codex を一度実行してください");
}

TEST_F(CodexTest, OnlyTheEightNewestVisibleJsonlFilesAreRead) {
    for (int i = 0; i < 12; ++i)
        session("f" + std::to_string(i) + ".jsonl",
                report("2026-09-14T08:00:0" + std::to_string(i % 10) + "Z", i, 1), i * 10);
    // The ninth newest holds the newest report, but is never read.
    session("f8.jsonl", report("2026-09-14T11:00:00Z", 99, 1), 80);
    // Hidden files and directories, other extensions.
    session(".hidden.jsonl", report("2026-09-14T11:59:00Z", 50, 1), -500);
    session(".cache/x.jsonl", report("2026-09-14T11:59:00Z", 51, 1), -500);
    session("upper.JSONL", report("2026-09-14T11:59:00Z", 52, 1), -500);
    session("notes.json", report("2026-09-14T11:59:00Z", 53, 1), -500);
    const auto files = CodexProvider::recentSessionFiles(sessions, 8);
    ASSERT_EQ(files.size(), 8u);
    EXPECT_EQ(files.front().filename(), "f0.jsonl");
    EXPECT_EQ(files.back().filename(), "f7.jsonl");
    EXPECT_EQ(usage()[0].utilization, 7) << "newest time stamp among the eight newest files";
}

TEST_F(CodexTest, TimeStampsDecideAcrossFilesFileOrderWithinOne) {
    // Within one file the last report wins even when its time stamp is older.
    session("a.jsonl", report("2026-09-14T10:00:00Z", 10, 1) + report("2026-09-14T09:00:00Z", 11, 1), 0);
    EXPECT_EQ(usage()[0].utilization, 11);
    // Across files the time stamps decide: an older report in an older file loses...
    session("b.jsonl", report("2026-09-14T08:30:00Z", 20, 1), 100);
    EXPECT_EQ(usage()[0].utilization, 11);
    // ...a later report in an older file wins.
    session("c.jsonl", report("2026-09-14T11:00:00Z", 30, 1), 200);
    EXPECT_EQ(usage()[0].utilization, 30);
    // Equal time stamps: the more recently modified file.
    session("d.jsonl", report("2026-09-14T11:00:00Z", 40, 1), 150);
    EXPECT_EQ(usage()[0].utilization, 40);
}

TEST_F(CodexTest, AReportWithoutTimeStampLosesToAnyDatedOne) {
    std::string undated = report("x", 5, 1);
    undated.replace(undated.find("\"timestamp\":\"x\","), 16, "");
    session("new.jsonl", undated, 0);
    session("old.jsonl", report("2026-09-14T01:00:00Z", 6, 1), 100);
    EXPECT_EQ(usage()[0].utilization, 6);
    fs::remove(sessions / "old.jsonl");
    session("older.jsonl", undated.substr(0, undated.size() - 1) + "\n", 300);
    EXPECT_EQ(usage()[0].utilization, 5) << "all undated: the most recently modified file";
}

TEST_F(CodexTest, LinesThatDoNotQualify) {
    const std::string good = report("2026-09-14T10:00:00Z", 12, 1);
    const std::vector<std::string> later = {
        R"({"timestamp":"2026-09-14T11:00:00Z","text":"the word rate_limits in a string"})",
        R"({"timestamp":"2026-09-14T11:00:00Z","rate_limits":"text"})",
        R"({"timestamp":"2026-09-14T11:00:00Z","payload":[{"rate_limits":{"primary":{"used_percent":90}}}]})",
        R"(["rate_limits"])",
        R"({"timestamp":"2026-09-14T11:00:00Z","rate_limits":{"primary":{"used_percent":90}})", // cut off
        R"({"timestamp":"2026-09-14T11:00:00Z","payload":{"rate_limits":{"limit_id":"codex_bengalfox","primary":{"used_percent":90}}}})",
        "\xff\xfe rate_limits \xc3\x28",
    };
    for (const auto& line : later) {
        session("a.jsonl", good + line + "\n");
        EXPECT_EQ(usage()[0].utilization, 12) << line;
    }
    // A half-written last line without its line feed.
    session("a.jsonl",
            good + R"({"timestamp":"2026-09-14T11:00:00Z","payload":{"rate_limits":{"primary":{"used_pe)");
    EXPECT_EQ(usage()[0].utilization, 12);
    // Without "limit_id" (older logs) a report qualifies.
    session("a.jsonl", good + R"({"rate_limits":{"primary":{"used_percent":77}}})"
                              "\n");
    EXPECT_EQ(usage()[0].utilization, 77);
}

TEST_F(CodexTest, InvalidUtf8AndBinaryElsewhereDoNotHideReports) {
    std::string junk(100000, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<char>((i * 7919) % 256);
    session("a.jsonl", junk + "\n" + report("2026-09-14T10:00:00Z", 33, 1) + "\xc3\x28\n" + junk);
    EXPECT_EQ(usage()[0].utilization, 33);
}

TEST_F(CodexTest, WindowValues) {
    const auto at = [&](const std::string& primary, const std::string& secondary = "null") {
        session("a.jsonl",
                R"({"rate_limits":{"primary":)" + primary + R"(,"secondary":)" + secondary + "}}\n");
        return usage();
    };
    EXPECT_EQ(at(R"({"used_percent":120})")[0].utilization, 100);
    EXPECT_EQ(at(R"({"used_percent":-5})")[0].utilization, 0);
    EXPECT_EQ(at(R"({"used_percent":"42.5"})")[0].utilization, 42.5);
    EXPECT_FALSE(at(R"({"used_percent":1})")[0].windowSeconds);
    const auto ms = at(R"({"used_percent":1,"resets_at":1.79e12})");
    EXPECT_EQ(ms[0].resetsAt, DateTime::fromUnixSeconds(1.79e9)) << "milliseconds above 1e12";
    EXPECT_EQ(at(R"({"used_percent":1,"resets_at":"1790000000"})")[0].resetsAt,
              DateTime::fromUnixSeconds(1.79e9));
}

TEST_F(CodexTest, AResetInThePastMeansAFreshWindow) {
    session("a.jsonl",
            R"({"rate_limits":{"primary":{"used_percent":100,"window_minutes":300,"resets_at":1700000000}}})"
            "\n");
    const auto windows = usage();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].utilization, 0);
    EXPECT_FALSE(windows[0].resetsAt);
    EXPECT_EQ(windows[0].windowSeconds, 18000);
}

TEST_F(CodexTest, PrimaryWithoutPercentLeavesTheWeek) {
    session(
        "a.jsonl",
        R"({"rate_limits":{"primary":{"window_minutes":300},"secondary":{"used_percent":8,"window_minutes":10080}}})"
        "\n");
    const auto windows = usage();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].key, "codex_week");
    session("a.jsonl",
            R"({"rate_limits":{"primary":{"used_percent":"nan"},"secondary":{"used_percent":"inf"}}})"
            "\n");
    EXPECT_EQ(failure(), "使用量の記録がまだありません。codex を一度実行してください");
}

TEST_F(CodexTest, StatedWindowLengthsDecideTheKey) {
    auto keys = [&](const std::string& limits) {
        session("a.jsonl", R"({"rate_limits":)" + limits + "}\n");
        std::vector<std::string> k;
        for (const auto& w : usage())
            k.push_back(w.key);
        return k;
    };
    using V = std::vector<std::string>;
    // A plan without a five-hour window reports the week as primary.
    EXPECT_EQ(keys(R"({"primary":{"used_percent":5,"window_minutes":10080},"secondary":null})"),
              V{"codex_week"});
    EXPECT_EQ(
        keys(
            R"({"primary":{"used_percent":5,"window_minutes":43200},"secondary":{"used_percent":6,"window_minutes":300}})"),
        (V{"codex_5h", "codex_week"}));
    // Both would be the week: positions decide.
    EXPECT_EQ(
        keys(
            R"({"primary":{"used_percent":5,"window_minutes":10080},"secondary":{"used_percent":6,"window_minutes":43200}})"),
        (V{"codex_5h", "codex_week"}));
    EXPECT_EQ(keys(R"({"primary":null,"secondary":{"used_percent":6,"window_minutes":60}})"), V{"codex_5h"});
    EXPECT_EQ(keys(R"({"primary":{"used_percent":5,"window_minutes":1440}})"), V{"codex_5h"})
        << "a day: by position";
}

TEST_F(CodexTest, PlanTypeFromTheNewestFileThatNamesOne) {
    session("new.jsonl",
            R"({"rate_limits":{"primary":{"used_percent":1}}})"
            "\n",
            0);
    session("old.jsonl",
            R"({"rate_limits":{"primary":{"used_percent":1},"plan_type":"pro"}})"
            "\n",
            100);
    EXPECT_EQ(CodexProvider::readPlanType("~/.codex", home.path()), "pro");
    // Only the last report of a file counts.
    session("new.jsonl",
            R"({"rate_limits":{"plan_type":"team"}})"
            "\n"
            R"({"rate_limits":{"primary":{}}})"
            "\n",
            0);
    EXPECT_EQ(CodexProvider::readPlanType("~/.codex", home.path()), "pro");
}

TEST_F(CodexTest, HugeLinesAndChunkBoundaries) {
    // A report straddling the 1 MiB read chunks, behind a long line without a report.
    const std::string longLine = "{\"pad\":\"" + std::string((1u << 20) - 5, 'x') + "\"}\n";
    session("a.jsonl", report("2026-09-14T10:00:00Z", 21, 1) + longLine +
                           report("2026-09-14T10:00:01Z", 22, 1) + longLine.substr(0, 600000) + "\n");
    EXPECT_EQ(usage()[0].utilization, 22);
    // A line too long to hold is passed over, without holding it.
    const std::string giant = "{\"rate_limits\":{\"primary\":{\"used_percent\":99}},\"pad\":\"" +
                              std::string(3u << 20, 'y') + "\"}\n";
    const fs::path file = session("a.jsonl", report("2026-09-14T10:00:00Z", 23, 1) + giant);
    EXPECT_EQ(CodexProvider::lastRateLimits(file, 1u << 20)->primary->at("used_percent"), 23);
    EXPECT_EQ(CodexProvider::lastRateLimits(file)->primary->at("used_percent"), 99);
}

TEST_F(CodexTest, ADirectoryLoopThroughLinksEnds) {
    session("2026/a.jsonl", report("2026-09-14T10:00:00Z", 24, 1));
    fs::create_directory_symlink(sessions, sessions / "2026/loop");
    fs::create_directory_symlink(sessions / "2026", sessions / "again");
    EXPECT_EQ(usage()[0].utilization, 24);
}

TEST_F(CodexTest, UnreadableEntriesArePassedOver) {
    fs::create_directories(sessions / "dir.jsonl");
    ::mkfifo((sessions / "pipe.jsonl").c_str(), 0600);
    session("a.jsonl", report("2026-09-14T10:00:00Z", 25, 1), 1000);
    EXPECT_EQ(usage()[0].utilization, 25);
}

} // namespace
