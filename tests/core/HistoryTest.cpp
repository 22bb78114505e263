#include "history/HistoryChart.h"
#include "history/HistoryRetention.h"
#include "history/HistoryStore.h"

#include "FakeClock.h"
#include "ScopedEnv.h"
#include "StatHook.h"
#include "SyntheticHistory.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace fs = std::filesystem;
using namespace std::chrono;
using testsupport::readFile;
using testsupport::ScopedEnv;
using testsupport::StatHook;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const Uuid kA = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
const Uuid kB = *Uuid::parse("0F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0");

Instant wholeSeconds(Instant t) {
    return floor<seconds>(t);
}

HistoryRecord record(Instant ts, Uuid id,
                     std::vector<UsageWindow> windows = {{"five_hour", 42.5, std::nullopt, std::nullopt}}) {
    return HistoryRecord{wholeSeconds(ts), id, std::move(windows)};
}

// Local midnight of "today" + offset days, + hours. Today is fixed once per run, so that a run
// across midnight does not see two different todays; the real today is then later, never earlier.
Instant localTime(int dayOffset, int hour, int minute = 0, int second = 0) {
    static const std::time_t anchor = std::time(nullptr);
    std::tm t{};
    localtime_r(&anchor, &t);
    t.tm_mday += dayOffset;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return system_clock::from_time_t(std::mktime(&t));
}

TEST(HistoryLine, ExactFormAndRoundTrip) {
    const HistoryRecord r{DateTime::fromUnixSeconds(1748779200),
                          kA,
                          {{"five_hour", 42, DateTime::fromUnixSeconds(1748790000), std::nullopt},
                           {"seven_day_scoped:Opus \"4\"", 42.5, std::nullopt, 604800},
                           {"codex_5h", 0.1, std::nullopt, 18000.5}}};
    const auto line = HistoryStore::encodeLine(r);
    ASSERT_TRUE(line);
    EXPECT_EQ(*line,
              R"({"ts":"2025-06-01T12:00:00Z","profileID":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","windows":[)"
              R"({"key":"five_hour","utilization":42,"resetsAt":"2025-06-01T15:00:00Z"},)"
              R"({"key":"seven_day_scoped:Opus \"4\"","utilization":42.5,"windowSeconds":604800},)"
              R"({"key":"codex_5h","utilization":0.1,"windowSeconds":18000.5}]})"
              "\n");
    EXPECT_EQ(HistoryStore::decodeLine(line->substr(0, line->size() - 1)), r);
}

TEST(HistoryLine, NonFiniteNumbersAreNotWritten) {
    EXPECT_FALSE(
        HistoryStore::encodeLine(record(system_clock::now(), kA, {{"k", NAN, std::nullopt, std::nullopt}})));
    EXPECT_FALSE(
        HistoryStore::encodeLine(record(system_clock::now(), kA, {{"k", 1, std::nullopt, INFINITY}})));
}

TEST(HistoryLine, OtherShapesOfTheSameRecordAndUnreadableLines) {
    const std::string id = "e621e1f8-c36c-495a-93fc-0c247a3e6e5f";
    // Any member order, white space, escapes, unknown members, nulls for optionals, lower-case ids.
    const auto r = HistoryStore::decodeLine(
        R"( { "windows" : [ {"utilization": 5e1, "key": "five\u005fhour", "resetsAt": null,
        "extra": [1]} ], "profileID": ")" +
        id + R"(", "ts": "2025-06-01T12:00:00Z", "v": 2 } )");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->profileID, kA);
    EXPECT_EQ(r->windows.at(0).key, "five_hour");
    EXPECT_EQ(r->windows.at(0).utilization, 50);
    EXPECT_FALSE(r->windows.at(0).resetsAt);

    const std::string good = R"({"ts":"2025-06-01T12:00:00Z","profileID":")" + id + R"(","windows":[]})";
    EXPECT_TRUE(HistoryStore::decodeLine(good));
    for (const std::string& bad :
         {std::string(R"({"ts":"2025-06-01T12:00:00.5Z","profileID":")") + id + R"(","windows":[]})",
          std::string(R"({"ts":"2025-06-01T12:00:00Z","profileID":"nope","windows":[]})"),
          std::string(R"({"profileID":")") + id + R"(","windows":[]})",
          std::string(R"({"ts":"2025-06-01T12:00:00Z","profileID":")") + id + R"("})",
          std::string(R"({"ts":"2025-06-01T12:00:00Z","profileID":")") + id + R"(","windows":[{"key":"k"}]})",
          std::string(R"({"ts":"2025-06-01T12:00:00Z","profileID":")") + id +
              R"(","windows":[{"key":"k","utilization":"5"}]})",
          std::string(R"({"ts":"2025-06-01T12:00:00Z","profileID":")") + id +
              R"(","windows":[{"key":"k","utilization":5,"resetsAt":"2025-06-01T12:00:00.1Z"}]})",
          std::string(R"({"ts":"2025-06-01T12:00:00Z","profileID":")") + id +
              R"(","windows":[{"key":"k","utilization":1e999}]})",
          std::string(R"({"ts":"2025-06-01T12:00:00Z","profileID":")") + id +
              R"(","windows":[{"key":"\xff","utilization":1}]})",
          good.substr(0, good.size() - 1), std::string("[]"), std::string("garbage")})
        EXPECT_FALSE(HistoryStore::decodeLine(bad)) << bad;
}

class HistoryStoreTest : public testing::Test {
protected:
    TempDir tmp;
    fs::path dir = tmp / "history";
};

// Which day is today comes from the store's clock, for its reads and for its retention passes: a
// clock far from the wall clock's (a test's, or a machine whose clock jumps) neither hides
// today's file nor thins it as if it were months old.
TEST_F(HistoryStoreTest, TodayIsTheDayOfTheStoresClock) {
    for (const int daysFromNow : {-90, 0, 900}) {
        SCOPED_TRACE(daysFromNow);
        fs::remove_all(dir);
        const testsupport::FakeClock clock(localTime(daysFromNow, 12));
        HistoryStore store(dir, clock);
        std::vector<HistoryRecord> written;
        for (int minute = 1; minute <= 30; ++minute)
            written.push_back(record(clock.now() - minutes(minute), kA));
        std::reverse(written.begin(), written.end());
        for (const HistoryRecord& r : written)
            store.append(r);
        // A retention pass started by the appends goes on in later turns of the worker.
        for (int i = 0; i < 3; ++i)
            store.load(clock.now() - hours(1));
        EXPECT_EQ(store.load(clock.now() - hours(1)), written);
    }
}

TEST_F(HistoryStoreTest, AppendsGoToTheFileOfTheirOwnLocalDayAndLoadSeesThem) {
    HistoryStore store(dir);
    const Instant lateYesterday = localTime(-1, 23, 59, 59);
    const Instant today = localTime(0, 0, 0, 1);
    store.append(record(lateYesterday, kA));
    store.append(record(today, kB));
    store.append(record(today + seconds(1), kA));
    const auto loaded = store.load(localTime(-1, 0));
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].ts, wholeSeconds(lateYesterday));
    EXPECT_EQ(loaded[1].profileID, kB);
    auto lines = [&](Instant day) {
        const std::string text = readFile(dir / HistoryStore::dayFileName(day)).value_or("");
        return std::count(text.begin(), text.end(), '\n');
    };
    EXPECT_EQ(lines(lateYesterday), 1);
    EXPECT_EQ(lines(today), 2);
    EXPECT_EQ(testsupport::fileMode(dir / HistoryStore::dayFileName(today)), 0600u)
        << "the readings are private";
}

TEST_F(HistoryStoreTest, LoadReadsOnlyTheDaysFromSinceAndDropsEarlierRecords) {
    {
        HistoryStore store(dir);
        for (int day = -4; day <= 0; ++day)
            for (int hour : {6, 11, 13})
                store.append(record(localTime(day, hour), kA));
    }
    HistoryStore store(dir);
    // Day -3 from 12:00 (one record), days -2 and -1, and today's whole file: a record later
    // today than now is read all the same.
    EXPECT_EQ(store.load(localTime(-3, 12)).size(), 1u + 3 + 3 + 3);
    const auto today = store.load(localTime(0, 10));
    for (const auto& r : today)
        EXPECT_GE(r.ts, localTime(0, 10));
    EXPECT_TRUE(store.load(localTime(2, 0)).empty()) << "a later day than today reads nothing";
}

TEST_F(HistoryStoreTest, DamagedLinesAndFilesLoseOnlyThemselves) {
    fs::create_directories(dir);
    const Instant t = localTime(0, 0, 30);
    const std::string good = *HistoryStore::encodeLine(record(t, kA));
    const std::string file = HistoryStore::dayFileName(t);
    writeFile(dir / file, good + "\n\nnot json\n" + std::string("\xff\xfe\n") + good + good.substr(0, 40));
    // A future day's file is never read, a record with a future time in today's file is.
    writeFile(dir / HistoryStore::dayFileName(localTime(2, 12)), good); // future even past a midnight
    HistoryStore store(dir);
    EXPECT_EQ(store.load(localTime(0, 0)).size(), 2u);
}

TEST_F(HistoryStoreTest, RecordsComeBackSortedByTimeStably) {
    HistoryStore store(dir);
    const Instant base = localTime(0, 0, 10);
    store.append(record(base + seconds(5), kA));
    store.append(record(base, kA));
    store.append(record(base + seconds(5), kB));
    const auto loaded = store.load(base);
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].ts, base);
    EXPECT_EQ(loaded[1].profileID, kA);
    EXPECT_EQ(loaded[2].profileID, kB);
}

TEST_F(HistoryStoreTest, AppendsFromTwoStoresInterleaveWholeLines) {
    {
        HistoryStore one(dir);
        HistoryStore two(dir);
        const Instant t = localTime(0, 0, 20);
        for (int i = 0; i < 500; ++i) {
            one.append(record(t, kA));
            two.append(record(t, kB));
        }
    }
    HistoryStore store(dir);
    EXPECT_EQ(store.load(localTime(0, 0)).size(), 1000u);
}

TEST_F(HistoryStoreTest, DaylightSavingDaysAreSteppedThroughTheCalendar) {
    struct ReadZoneAgain {
        ~ReadZoneAgain() { tzset(); }
    } readZoneAgain; // once TZ is restored: localtime_r would keep Berlin for the tests after
    ScopedEnv tz("TZ", "Europe/Berlin");
    tzset();
    // 2026-03-29 has 23 hours in Berlin, 2026-10-25 has 25.
    const Instant beforeSpring = *DateTime::parseIso8601("2026-03-28T12:00:00+01:00");
    const Instant afterSpring = *DateTime::parseIso8601("2026-03-30T00:30:00+02:00");
    EXPECT_EQ(HistoryStore::dayFileName(*DateTime::parseIso8601("2026-03-29T23:30:00+02:00")),
              "2026-03-29.jsonl");
    EXPECT_EQ(HistoryStore::dayFileName(*DateTime::parseIso8601("2026-10-25T23:30:00+01:00")),
              "2026-10-25.jsonl");
    {
        HistoryStore store(dir);
        store.append(record(beforeSpring, kA));
        store.append(record(*DateTime::parseIso8601("2026-03-29T23:59:00+02:00"), kA));
        store.append(record(afterSpring, kA));
        const auto loaded = store.load(beforeSpring);
        EXPECT_EQ(loaded.size(), 3u);
    }
    EXPECT_TRUE(fs::exists(dir / "2026-03-28.jsonl"));
    EXPECT_TRUE(fs::exists(dir / "2026-03-29.jsonl"));
    EXPECT_TRUE(fs::exists(dir / "2026-03-30.jsonl"));
}

TEST_F(HistoryStoreTest, AppendRecreatesAVanishedDirectoryAndLoadSeesItAtOnce) {
    HistoryStore store(dir);
    fs::remove_all(dir);
    store.append(record(system_clock::now(), kA));
    EXPECT_EQ(store.load(system_clock::now() - hours(1)).size(), 1u);
}

// ---- Retention ------------------------------------------------------------------------------

TEST(HistoryRetention, FatesByAgeNamesAndSizes) {
    using HistoryRetention::Fate;
    const sys_days today = sys_days(2026y / December / 7);
    const struct {
        const char* name;
        Fate fate;
    } cases[] = {
        {"2026-12-07.jsonl", Fate::keepWhole}, {"2026-12-31.jsonl", Fate::keepWhole}, // today, the future
        {"2026-11-02.jsonl", Fate::keepWhole}, {"2026-11-01.jsonl", Fate::thin},      // 35, 36 days
        {"2025-11-02.jsonl", Fate::thin},      {"2025-11-01.jsonl", Fate::remove},    // 400, 401
        {"2025-02-29.jsonl", Fate::keepWhole}, {"2026-13-01.jsonl", Fate::keepWhole}, // no such day
        {"notes.txt", Fate::keepWhole},        {"2020-01-01.jsonl.bak", Fate::keepWhole},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HistoryRetention::fateOf(c.name, today), c.fate) << c.name;
    EXPECT_EQ(HistoryRetention::fileName(today - days(400)), "2025-11-02.jsonl");
    EXPECT_EQ(HistoryRetention::fileName(HistoryRetention::localDay(localTime(-3, 23, 59))),
              HistoryStore::dayFileName(localTime(-3, 23, 59)));

    EXPECT_EQ(HistoryRetention::describe({0, 0}), "none");
    EXPECT_EQ(HistoryRetention::describe({512, 1}), "512 B, 1 day");
    EXPECT_EQ(HistoryRetention::describe({12'345'678, 412}), "12.3 MB, 412 days");
}

// A quarter hour keeps its last reading per profile, and the last one before a reset; a reset
// time that wobbles by seconds is no reset; kept lines keep their bytes, whatever their form.
TEST(HistoryRetention, ThinningKeepsQuartersAndResetsByteForByte) {
    const Instant q = DateTime::fromUnixSeconds(1'789'000'200); // a quarter hour's start
    auto five = [](double u, Instant reset) { return std::vector<UsageWindow>{{"five_hour", u, reset, {}}}; };
    const Instant resetA = q + hours(2), resetB = q + hours(7);
    const std::string lines[] = {
        *HistoryStore::encodeLine(record(q + minutes(1), kA, five(10, resetA))),
        *HistoryStore::encodeLine(record(q + minutes(1), kB, five(1, resetA))),
        *HistoryStore::encodeLine(record(q + minutes(6), kA, five(90, resetA + seconds(1)))), // peak
        *HistoryStore::encodeLine(record(q + minutes(7), kA, five(0, resetB))), // after the reset
        *HistoryStore::encodeLine(record(q + minutes(9), kA, five(2, resetB - seconds(1)))),
        // profile B's last of the quarter, in another member order and spacing
        "{ \"profileID\": \"" + kB.toString() + "\", \"ts\": \"" + DateTime::formatIso8601(q + minutes(14)) +
            "\", \"windows\": [] }\n",
        *HistoryStore::encodeLine(record(q + minutes(8), kA, five(1, resetB))),  // out of order
        *HistoryStore::encodeLine(record(q + minutes(15), kA, five(3, resetB))), // next quarter
        *HistoryStore::encodeLine(record(q + minutes(16), kA, {{"five_hour", 4, std::nullopt, {}}})),
    };
    std::string text;
    for (const auto& l : lines)
        text += l;
    const std::string expected = lines[2] + lines[4] + lines[5] + lines[7] + lines[8];
    EXPECT_EQ(HistoryRetention::thin(text), expected);
    EXPECT_EQ(HistoryRetention::thin(expected), expected) << "thinning twice changes nothing";
    EXPECT_EQ(HistoryRetention::thin(lines[0] + "\n" + lines[8].substr(0, lines[8].size() - 1)),
              lines[0] + lines[8])
        << "blank lines go, a last line without its line feed gets one";
    EXPECT_FALSE(HistoryRetention::thin(text + "not a record\n" + lines[0]));
    EXPECT_FALSE(HistoryRetention::holdsOnlyRecords(lines[0] + lines[1].substr(0, 30)));
    EXPECT_TRUE(HistoryRetention::holdsOnlyRecords(text + "\n"));
}

// Fourteen months of readings, three profiles, one a minute: the last 36 days stay as written,
// older days keep each quarter's last reading and every reading before a reset, days beyond 400
// go; what is not purely records is left alone; a second pass changes nothing.
TEST_F(HistoryStoreTest, AYearOfReadingsIsThinnedWithinItsBounds) {
    const testsupport::SyntheticHistory synthetic;
    const Instant now = localTime(0, 12);
    const auto written = synthetic.write(dir, localTime(-405, 0), localTime(1, 0));
    const auto size = [&] { return HistoryRetention::measure(dir).bytes; };
    const std::uintmax_t before = size();

    const std::string thinDay = HistoryStore::dayFileName(localTime(-100, 12));
    const std::string oldDay = HistoryStore::dayFileName(localTime(-402, 12));
    const std::string damaged = readFile(dir / thinDay)->substr(0, 5000) + "\n{\"ts\":1}\n";
    writeFile(dir / thinDay, damaged);
    writeFile(dir / oldDay, damaged);
    writeFile(dir / "notes.txt", "mine");
    writeFile(dir / "2025-01-01.jsonl.bak", "mine too");
    writeFile(dir / (oldDay + ".tmp-aB3dE9"), "left by a crash");
    fs::last_write_time(dir / (oldDay + ".tmp-aB3dE9"), fs::file_time_type::clock::now() - hours(2));

    {
        HistoryStore store(dir);
        store.applyRetention(now);
        const sys_days today = HistoryRetention::localDay(now);
        int thinned = 0;
        for (const auto& day : written) {
            if (day.name == thinDay || day.name == oldDay)
                continue;
            const auto text = readFile(dir / day.name);
            switch (HistoryRetention::fateOf(day.name, today)) {
            case HistoryRetention::Fate::remove:
                EXPECT_FALSE(text) << day.name;
                break;
            case HistoryRetention::Fate::thin: {
                ASSERT_TRUE(text) << day.name;
                EXPECT_EQ(*text, synthetic.text(day, true)) << day.name;
                std::size_t first = 0; // profile 0's resets fall on quarters' boundaries
                for (std::size_t at = 0;
                     (at = text->find(synthetic.id(0).toString(), at)) != std::string::npos; ++at)
                    ++first;
                EXPECT_EQ(first, static_cast<std::size_t>((day.end - day.begin) / minutes(15))) << day.name;
                ++thinned;
                break;
            }
            case HistoryRetention::Fate::keepWhole:
                EXPECT_EQ(text, synthetic.text(day, false)) << day.name;
                break;
            }
        }
        EXPECT_GE(thinned, 364);
        EXPECT_EQ(readFile(dir / thinDay), damaged);
        EXPECT_EQ(readFile(dir / oldDay), damaged);
        EXPECT_EQ(readFile(dir / "notes.txt"), "mine");
        EXPECT_EQ(readFile(dir / "2025-01-01.jsonl.bak"), "mine too");
        EXPECT_FALSE(fs::exists(dir / (oldDay + ".tmp-aB3dE9")));
        EXPECT_EQ(testsupport::fileMode(dir / HistoryStore::dayFileName(localTime(-50, 12))), 0600u);
        EXPECT_LE(size() * 5, before) << size() << " of " << before;
        // The readers see the same: the month's chart and the start's 48 hours.
        const auto month = store.load(localTime(-30, 0));
        EXPECT_EQ(month.size(), static_cast<std::size_t>(
                                    3 * duration_cast<minutes>(localTime(1, 0) - localTime(-30, 0)).count()));
        EXPECT_TRUE(std::is_sorted(month.begin(), month.end(), [](auto& a, auto& b) { return a.ts < b.ts; }));
    }
    const auto after = size();
    HistoryStore(dir).applyRetention(now + hours(1));
    EXPECT_EQ(size(), after);
}

// The first append of a run starts the pass by itself, a couple of files at a time behind the
// store's other work; loads queued meanwhile are answered in between.
TEST_F(HistoryStoreTest, AnAppendStartsThePassAndLoadsAreAnsweredMeanwhile) {
    const testsupport::SyntheticHistory synthetic;
    const auto written = synthetic.write(dir, localTime(-48, 0), localTime(-38, 0));
    HistoryStore store(dir);
    store.append(record(system_clock::now(), kA));
    const auto deadline = steady_clock::now() + seconds(60);
    bool done = false;
    while (!done && steady_clock::now() < deadline) {
        EXPECT_EQ(store.load(system_clock::now() - hours(1)).size(), 1u);
        done = readFile(dir / ".retention") == written.back().name + "\n";
    }
    ASSERT_TRUE(done);
    for (const auto& day : written)
        EXPECT_EQ(readFile(dir / day.name), synthetic.text(day, true)) << day.name;
}

// A day that could not be thinned (here: something else has its name for a while) is looked at
// again by the next pass: the marker never moves past it.
TEST_F(HistoryStoreTest, ADayThatCouldNotBeThinnedIsThinnedByALaterPass) {
    const testsupport::SyntheticHistory synthetic;
    const auto written = synthetic.write(dir, localTime(-48, 0), localTime(-45, 0));
    ASSERT_EQ(written.size(), 3u);
    const auto& stuck = written.front();
    fs::rename(dir / stuck.name, tmp / "aside");
    fs::create_directory(dir / stuck.name);
    HistoryStore store(dir);
    store.applyRetention(localTime(0, 12));
    for (std::size_t i = 1; i < written.size(); ++i)
        EXPECT_EQ(readFile(dir / written[i].name), synthetic.text(written[i], true)) << written[i].name;

    fs::remove(dir / stuck.name);
    fs::rename(tmp / "aside", dir / stuck.name);
    store.applyRetention(localTime(0, 13));
    EXPECT_EQ(readFile(dir / stuck.name), synthetic.text(stuck, true));
}

// Another process appends to a day while it is being thinned (its clock set back): the day is
// replaced only while it is still the file that was read, so the record stays, and the next pass
// thins the day with it.
TEST_F(HistoryStoreTest, ARecordAppendedWhileADayIsThinnedIsKept) {
    const testsupport::SyntheticHistory synthetic;
    const auto written = synthetic.write(dir, localTime(-40, 0), localTime(-39, 0));
    ASSERT_EQ(written.size(), 1u);
    const auto& day = written.front();
    const Uuid other = *Uuid::parse("22222222-3333-4444-8555-666666666666");
    const std::string late = *HistoryStore::encodeLine(record(day.begin + hours(1), other));
    HistoryStore store(dir);
    {
        StatHook anotherProcess(dir / day.name, [&] {
            if (std::FILE* f = std::fopen((dir / day.name).c_str(), "a")) {
                std::fputs(late.c_str(), f);
                std::fclose(f);
            }
        });
        store.applyRetention(localTime(0, 12));
    }
    EXPECT_EQ(readFile(dir / day.name), synthetic.text(day, false) + late);
    store.applyRetention(localTime(0, 13));
    EXPECT_EQ(readFile(dir / day.name), synthetic.text(day, true) + late);
}

// ---- Chart data ----------------------------------------------------------------------------

TEST(HistoryRange, LabelsAndSpans) {
    ASSERT_EQ(allHistoryRanges().size(), 4u);
    EXPECT_EQ(label(HistoryRange::fiveHours), "5時間");
    EXPECT_EQ(label(HistoryRange::month), "30日");
    EXPECT_EQ(historyRangeFromString("7日"), HistoryRange::week);
    EXPECT_FALSE(historyRangeFromString("7 日"));
    EXPECT_EQ(spanSeconds(HistoryRange::day), 86400);
}

TEST(HistoryChart, PointsOfTheChosenKeyPerProfileAndKeysInDisplayOrder) {
    const Instant t = DateTime::fromUnixSeconds(1.79e9);
    const Uuid removed = Uuid::random();
    std::vector<HistoryRecord> records = {
        record(t, kA, {{"seven_day", 1, {}, {}}, {"five_hour", 2, {}, {}}, {"five_hour", 99, {}, {}}}),
        record(t + seconds(60), kB, {{"seven_day_opus", 3, {}, {}}, {"seven_day_scoped:Opus", 4, {}, {}}}),
        record(t + seconds(120), removed, {{"five_hour", 5, {}, {}}, {"codex_week", 6, {}, {}}}),
        record(t + seconds(180), kB, {{"five_hour", 7, {}, {}}}),
    };
    const auto data = HistoryChart::compute(records, {{kA, "main"}, {kB, "work"}}, "five_hour");
    EXPECT_EQ(data.keys, (std::vector<std::string>{"five_hour", "codex_week", "seven_day",
                                                   "seven_day_scoped:Opus", "seven_day_opus"}));
    ASSERT_EQ(data.points.size(), 2u);
    EXPECT_EQ(data.points[0].profile, "main");
    EXPECT_EQ(data.points[0].value, 2) << "the first window of the key";
    EXPECT_EQ(data.points[1].profile, "work");
    EXPECT_EQ(data.points[1].ts, t + seconds(180));
    EXPECT_NE(data.points[0].id, data.points[1].id);
}

TEST(HistoryChart, EmptyHistoryAndCodexOnlyHistory) {
    EXPECT_TRUE(HistoryChart::compute({}, {{kA, "main"}}, "five_hour").points.empty());
    EXPECT_TRUE(HistoryChart::compute({}, {{kA, "main"}}, "five_hour").keys.empty());
    const auto data = HistoryChart::compute(
        {record(system_clock::now(), kA, {{"codex_week", 1, {}, {}}, {"codex_5h", 2, {}, {}}})},
        {{kA, "codex"}}, "five_hour");
    EXPECT_TRUE(data.points.empty());
    EXPECT_EQ(data.keys, (std::vector<std::string>{"codex_5h", "codex_week"}));
}

TEST(HistoryChart, ThinsToFiveHundredByIndex) {
    const Instant t = DateTime::fromUnixSeconds(1.79e9);
    std::vector<HistoryRecord> records;
    for (int i = 0; i < 1234; ++i)
        records.push_back(record(t + seconds(i), kA, {{"five_hour", static_cast<double>(i), {}, {}}}));
    for (int i = 0; i < 500; ++i)
        records.push_back(record(t + seconds(i), kB, {{"five_hour", static_cast<double>(i), {}, {}}}));
    std::stable_sort(records.begin(), records.end(), [](auto& a, auto& b) { return a.ts < b.ts; });
    const auto data = HistoryChart::compute(records, {{kA, "a"}, {kB, "b"}}, "five_hour");
    std::vector<double> a, b;
    for (const auto& p : data.points)
        (p.profile == "a" ? a : b).push_back(p.value);
    ASSERT_EQ(a.size(), 500u);
    EXPECT_EQ((std::vector<double>(a.begin(), a.begin() + 5)), (std::vector<double>{0, 2, 4, 7, 9}));
    EXPECT_EQ(a.back(), 1231); // floor(499 * 2.468)
    ASSERT_EQ(b.size(), 500u);
    EXPECT_EQ(b.back(), 499);
}

TEST(HistoryChart, ProfilesWithTheSameNameShareASeriesName) {
    const Instant t = DateTime::fromUnixSeconds(1.79e9);
    const auto data =
        HistoryChart::compute({record(t, kA), record(t, kB)}, {{kA, "same"}, {kB, "same"}}, "five_hour");
    ASSERT_EQ(data.points.size(), 2u);
    EXPECT_EQ(data.points[0].profile, data.points[1].profile);
}

} // namespace
