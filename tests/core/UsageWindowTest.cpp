#include "usage/UsageWindow.h"
#include "usage/UsageForecast.h"

#include <gtest/gtest.h>

using namespace std::chrono;

namespace {

const Instant kNow = DateTime::fromUnixSeconds(1'750'000'000);

UsageWindow window(std::string key, std::optional<Instant> resetsAt = std::nullopt,
                   std::optional<double> windowSeconds = std::nullopt) {
    return UsageWindow{std::move(key), 10, resetsAt, windowSeconds};
}

TEST(UsageWindowOrder, DisplayOrderIsByRankThenKeyAndStable) {
    std::vector<UsageWindow> windows;
    for (const char* k : {"seven_day_sonnet", "five_hour", "seven_day_scoped:Opus 4", "seven_day",
                          "seven_day_scoped:Haiku", "extra"})
        windows.push_back(window(k));
    sortForDisplay(windows);
    std::vector<std::string> keys;
    for (const auto& w : windows)
        keys.push_back(w.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"five_hour", "seven_day", "seven_day_scoped:Haiku",
                                              "seven_day_scoped:Opus 4", "seven_day_sonnet", "extra"}));

    // Equal keys keep their order; unknown keys sort by code point among themselves.
    std::vector<UsageWindow> same{window("zz"), window("five_hour"), window("Zz"), window("zz")};
    same[0].utilization = 1;
    same[3].utilization = 2;
    sortForDisplay(same);
    EXPECT_EQ(same[0].key, "five_hour");
    EXPECT_EQ(same[1].key, "Zz");
    EXPECT_EQ(same[2].utilization, 1);
    EXPECT_EQ(same[3].utilization, 2);
}

TEST(UsageWindowOrder, RanksOfEveryKnownKey) {
    EXPECT_EQ(UsageWindow::order("five_hour"), 0);
    EXPECT_EQ(UsageWindow::order("codex_5h"), 0);
    EXPECT_EQ(UsageWindow::order("seven_day"), 1);
    EXPECT_EQ(UsageWindow::order("codex_week"), 1);
    EXPECT_EQ(UsageWindow::order("seven_day_scoped:"), 2);
    EXPECT_EQ(UsageWindow::order("seven_day_opus"), 3);
    EXPECT_EQ(UsageWindow::order("seven_day_fable"), 4);
    EXPECT_EQ(UsageWindow::order("seven_day_sonnet"), 5);
    EXPECT_EQ(UsageWindow::order("Five_hour"), 9);
    EXPECT_EQ(UsageWindow::order("seven_day_oauth_apps"), 9);
}

TEST(UsageWindowLabels, LongAndCompactFormsWithTheirTwoMiddleDots) {
    EXPECT_EQ(UsageWindow::label("five_hour"), "5時間");
    EXPECT_EQ(UsageWindow::label("seven_day"), "週\u30fb全モデル");
    EXPECT_EQ(UsageWindow::compactLabel("seven_day"), "週\u00b7全");
    EXPECT_EQ(UsageWindow::label("seven_day_opus"), "週・Opus");
    EXPECT_EQ(UsageWindow::compactLabel("seven_day_sonnet"), "週·Sonnet");
    EXPECT_EQ(UsageWindow::compactLabel("seven_day_fable"), "週·Fable");
    EXPECT_EQ(UsageWindow::label("codex_5h"), "5時間");
    EXPECT_EQ(UsageWindow::label("codex_week"), "週");
    EXPECT_EQ(UsageWindow::compactLabel("codex_week"), "週");
    EXPECT_EQ(UsageWindow::label("seven_day_scoped:Opus 4"), "週・Opus 4");
    EXPECT_EQ(UsageWindow::compactLabel("seven_day_scoped:Opus 4"), "週·Opus 4");
    EXPECT_EQ(UsageWindow::label("seven_day_scoped:"), "週・");
    EXPECT_EQ(UsageWindow::label("seven_day_other"), "seven day other");
    EXPECT_EQ(UsageWindow::compactLabel("five_hour_x"), "five hour x");
    EXPECT_EQ(UsageWindow::label(""), "");
}

TEST(UsageWindowLabels, KeysSideBySideAreToldApart) {
    using L = std::vector<std::string>;
    EXPECT_EQ(UsageWindow::distinctCompactLabels({"five_hour", "seven_day", "codex_5h", "codex_week"}),
              (L{"5時間", "週·全", "5時間 (Codex)", "週"}));
    EXPECT_EQ(UsageWindow::distinctCompactLabels({"codex_5h", "codex_week"}), (L{"5時間", "週"}));
    EXPECT_EQ(UsageWindow::distinctCompactLabels({"seven_day_other", "seven day other"}),
              (L{"seven day other [seven_day_other]", "seven day other [seven day other]"}));
}

TEST(UsageWindowElapsed, FractionOfTheWindowThatHasPassed) {
    EXPECT_DOUBLE_EQ(*window("five_hour", kNow + minutes(150)).elapsedFraction(kNow), 0.5);
    EXPECT_DOUBLE_EQ(*window("five_hour", kNow + hours(6)).elapsedFraction(kNow), 0.0);
    EXPECT_DOUBLE_EQ(*window("five_hour", kNow - seconds(1)).elapsedFraction(kNow), 1.0);
    EXPECT_DOUBLE_EQ(*window("five_hour", kNow).elapsedFraction(kNow), 1.0);
    EXPECT_FALSE(window("five_hour").elapsedFraction(kNow));
    EXPECT_DOUBLE_EQ(*window("seven_day_other", kNow + hours(84)).elapsedFraction(kNow), 0.5);
    EXPECT_DOUBLE_EQ(*window("codex_week", kNow + hours(42)).elapsedFraction(kNow), 0.75);
    EXPECT_FALSE(window("extra", kNow + hours(1)).elapsedFraction(kNow));
    // A stated length wins over the key.
    EXPECT_DOUBLE_EQ(*window("seven_day", kNow + minutes(15), 3600).elapsedFraction(kNow), 0.75);
    EXPECT_DOUBLE_EQ(*window("extra", kNow + minutes(15), 3600).elapsedFraction(kNow), 0.75);
}

TEST(UsageWindowRemain, MinutesHoursAndDaysAtTheirBoundaries) {
    auto remain = [](Instant::duration d) { return UsageWindow::remainShort(kNow + d, kNow); };
    EXPECT_EQ(remain(-hours(1)), "残0分");
    EXPECT_EQ(remain(seconds(59)), "残0分");
    EXPECT_EQ(remain(minutes(45) + seconds(59)), "残45分");
    EXPECT_EQ(remain(minutes(59) + seconds(59)), "残59分");
    EXPECT_EQ(remain(minutes(60)), "残1h");
    EXPECT_EQ(remain(hours(3) + minutes(59)), "残3h");
    EXPECT_EQ(remain(hours(47) + minutes(59)), "残47h");
    EXPECT_EQ(remain(hours(48)), "残2日");
    EXPECT_EQ(remain(hours(24 * 6 + 23)), "残6日");
}

TEST(ProfileStatus, OkAndErrorCases) {
    const auto ok = ProfileStatus::ok({window("five_hour")}, kNow);
    const auto err = ProfileStatus::error("失敗");
    ASSERT_TRUE(ok.isOk());
    EXPECT_EQ(ok.okValue()->windows.size(), 1u);
    EXPECT_EQ(ok.okValue()->at, kNow);
    EXPECT_FALSE(err.isOk());
    EXPECT_EQ(err.errorValue()->message, "失敗");
    EXPECT_NE(ok, err);
}

TEST(DateTime, DatesOfTheSameDayNumberInOtherMonthsParseApart) {
    // One after the other, as the history reader meets them: no day is taken for another.
    for (const char* text : {"2026-01-15T08:00:00Z", "2026-02-15T08:00:00Z", "2027-02-15T08:00:00Z",
                             "2027-02-16T08:00:00Z", "2026-01-15T08:00:00Z"})
        EXPECT_EQ(DateTime::formatIso8601(*DateTime::parseIso8601(text)), text);
}

TEST(DateTime, FormatsUtcWithoutFraction) {
    EXPECT_EQ(DateTime::formatIso8601(DateTime::fromUnixSeconds(1748779200.75)), "2025-06-01T12:00:00Z");
    EXPECT_EQ(DateTime::formatIso8601(DateTime::fromUnixSeconds(0)), "1970-01-01T00:00:00Z");
    EXPECT_EQ(DateTime::formatIso8601(DateTime::fromUnixSeconds(-0.5)), "1969-12-31T23:59:59Z");
    EXPECT_EQ(DateTime::formatIso8601(DateTime::fromUnixSeconds(951782400)), "2000-02-29T00:00:00Z");
}

// The projected moment a window fills, on constructed histories.
TEST(UsageForecastTest, RecentPaceAverageFallbackAndResets) {
    const Instant now = DateTime::fromUnixSeconds(1'800'000'000);
    auto session = [&](double util, minutes toReset) {
        return UsageWindow{"five_hour", util, now + toReset, std::nullopt};
    };
    auto series = [&](std::initializer_list<std::pair<int, double>> points) { // minutes before now
        std::vector<UsageForecast::Reading> r;
        for (const auto& [ago, value] : points)
            r.push_back({now - minutes(ago), value});
        return r;
    };
    auto minutesTo = [&](std::optional<Instant> t) {
        return t ? duration<double>(*t - now).count() / 60 : -1;
    };

    // A steady 0.6 % a minute: 60 % left fills in 100 minutes, before the reset in 120.
    const auto steady = series({{60, 4}, {50, 10}, {40, 16}, {30, 22}, {20, 28}, {10, 34}});
    EXPECT_NEAR(minutesTo(UsageForecast::fullAt(session(40, 120min), now, steady)), 100, 0.01);
    EXPECT_FALSE(UsageForecast::fullAt(session(40, 90min), now, steady)) << "resets first";

    // A burst in the last twenty minutes after a flat stretch: the recent line fills in time,
    // where the average since the window began (50 % in 3 h) would not.
    const auto burst = series({{60, 20}, {50, 20}, {40, 20}, {30, 20}, {20, 20}, {10, 35}});
    EXPECT_NEAR(minutesTo(UsageForecast::fullAt(session(50, 120min), now, burst)), 116.67, 0.05);
    EXPECT_FALSE(UsageForecast::fullAt(session(50, 120min), now, {}));

    // The window reset twenty minutes ago: the previous window's high readings do not count.
    const auto reset = series({{50, 95}, {40, 97}, {30, 99}, {20, 0}, {10, 10}});
    EXPECT_NEAR(minutesTo(UsageForecast::fullAt(session(20, 280min), now, reset)), 80, 0.01);

    // Too few readings: the average pace since the window began (90 % in 3 h → 20 minutes).
    EXPECT_NEAR(minutesTo(UsageForecast::fullAt(session(90, 120min), now, series({{5, 89}}))), 20, 0.01);

    // Nothing to say: not filling, already full, no reset time, a reset in the past.
    EXPECT_FALSE(UsageForecast::fullAt(session(30, 120min), now, series({{60, 30}, {30, 30}, {10, 30}})));
    EXPECT_FALSE(UsageForecast::fullAt(session(100, 120min), now, steady));
    EXPECT_FALSE(
        UsageForecast::fullAt(UsageWindow{"five_hour", 50, std::nullopt, std::nullopt}, now, steady));
    EXPECT_FALSE(UsageForecast::fullAt(session(50, -5min), now, steady));
}

} // namespace
