#include "readings/Readings.h"
#include "base/Language.h"
#include "claude/CredentialResolver.h"
#include "readings/OneShot.h"
#include "readings/ProfileQuery.h"
#include "readings/ProfileReader.h"
#include "readings/WaybarOutput.h"
#include "usage/AnthropicAPI.h"

#include "FakeClock.h"
#include "JsonSchema.h"
#include "MemorySecretStore.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "TestHttpServer.h"

#include "net/CurlTransport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

using nlohmann::json;
using namespace std::chrono;

namespace {

const Instant kNow = *DateTime::parseIso8601("2026-09-14T12:00:00Z");

json schema() {
    return json::parse(*testsupport::readFile(std::string(ULMET_SOURCE_DIR) + "/docs/readings.schema.json"));
}

ProfileConfig profile(std::string name, std::optional<std::string> email = std::nullopt,
                      Provider provider = Provider::claude) {
    ProfileConfig p;
    p.name = std::move(name);
    p.accountEmail = std::move(email);
    p.provider = provider;
    return p;
}

UsageWindow window(std::string key, double util, std::optional<Instant> resets = std::nullopt) {
    return UsageWindow{std::move(key), util, resets, std::nullopt};
}

} // namespace

// Every kind of profile: read, failed, not read yet, Codex, read from the status line; the
// shown profile falls back past an active one without a reading; odd values stay valid JSON.
TEST(Readings, TheDocumentFollowsItsSchemaAndTellsEveryKindOfProfile) {
    AppConfig config;
    config.profiles = {profile("active", "a@x"), profile("read", "r@x"), profile("waiting"),
                       profile("codex", std::nullopt, Provider::codex), profile("bad\xff name")};
    config.activeProfileID = config.profiles[0].id;
    const auto& ps = config.profiles;
    std::map<Uuid, ProfileStatus> statuses;
    statuses.insert_or_assign(ps[0].id, ProfileStatus::error("認証エラー (401)"));
    statuses.insert_or_assign(ps[1].id, ProfileStatus::ok({window("seven_day", 26, kNow + hours(24)),
                                                           window("five_hour", 62, kNow + hours(1))},
                                                          kNow - minutes(1)));
    statuses.insert_or_assign(ps[3].id, ProfileStatus::ok({window("codex_5h", 3)}, kNow));
    statuses.insert_or_assign(ps[4].id, ProfileStatus::ok({window("five_hour", NAN)}, kNow));
    const std::map<Uuid, UsageSource> sources{{ps[1].id, UsageSource::statusLine},
                                              {ps[0].id, UsageSource::api}};
    const std::map<Uuid, std::string> emails{{ps[2].id, "learned@x"}};
    const auto forecast = [&](const Uuid& id, const UsageWindow& w, Instant) -> std::optional<Instant> {
        return id == ps[1].id && w.key == "five_hour" ? std::optional(kNow + minutes(30)) : std::nullopt;
    };
    const Readings readings = Readings::build(config, statuses, sources, emails, forecast, kNow);
    EXPECT_EQ(readings.shown, ps[1].id) << "the active profile has no reading";

    const json doc = json::parse(readings.toJson(kNow));
    EXPECT_EQ(testsupport::schemaErrors(schema(), doc), std::vector<std::string>{});
    EXPECT_EQ(doc["version"], 1);
    EXPECT_EQ(doc["shown"], ps[1].id.toString());
    const json& p = doc["profiles"];
    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(p[0]["error"], "認証エラー (401)");
    EXPECT_EQ(p[0]["active"], true);
    EXPECT_EQ(p[0]["windows"], json::array());
    EXPECT_EQ(p[1]["source"], "statusLine");
    EXPECT_EQ(p[1]["readAt"], "2026-09-14T11:59:00Z");
    ASSERT_EQ(p[1]["windows"].size(), 2u);
    EXPECT_EQ(p[1]["windows"][0], (json{{"key", "five_hour"},
                                        {"label", "5時間"},
                                        {"utilization", 62},
                                        {"resetsAt", "2026-09-14T13:00:00Z"},
                                        {"elapsedFraction", 0.8},
                                        {"fullAt", "2026-09-14T12:30:00Z"}}))
        << "display order, elapsed as of now";
    EXPECT_EQ(p[2]["email"], "learned@x");
    EXPECT_EQ(p[2]["source"], nullptr);
    EXPECT_EQ(p[2]["error"], nullptr);
    EXPECT_EQ(p[3]["source"], "codexLog");
    EXPECT_EQ(p[4]["name"], "bad\xEF\xBF\xBD name");
    EXPECT_EQ(p[4]["windows"][0]["utilization"], nullptr);

    // What changes the document for scripts: not the time alone.
    Readings later = Readings::build(config, statuses, sources, emails, forecast, kNow + minutes(1));
    EXPECT_TRUE(later.sameFigures(readings));
    statuses.insert_or_assign(ps[0].id, ProfileStatus::ok({window("five_hour", 1)}, kNow + minutes(1)));
    later = Readings::build(config, statuses, sources, emails, forecast, kNow + minutes(1));
    EXPECT_FALSE(later.sameFigures(readings));
    EXPECT_EQ(later.shown, ps[0].id);
}

// `ulmet --json` without MeterKeeper forecasts each window from its own profile's readings of
// the last hour: one account filling fast says nothing about another that stands still.
TEST(OneShot, EachProfilesForecastComesFromItsOwnHistory) {
    const ProfileConfig filling = profile("filling"), still = profile("still");
    const UsageWindow now{"five_hour", 50, kNow + hours(4), 5 * 3600.0};
    std::vector<HistoryRecord> history;
    for (int ago : {50, 30, 10}) { // one percent a minute
        history.push_back({kNow - minutes(ago), filling.id, {window("five_hour", 50.0 - ago)}});
        history.push_back({kNow - minutes(ago), still.id, {window("five_hour", 50)}});
    }
    const auto full = OneShot::forecast(history, filling.id, now, kNow);
    ASSERT_TRUE(full);
    EXPECT_NEAR(duration<double>(*full - kNow).count(), 50 * 60, 1);
    EXPECT_FALSE(OneShot::forecast(history, still.id, now, kNow)) << "not filling";
}

TEST(ProfileQuery, FindsByIdNameOrAddressAndNamesTheAmbiguous) {
    std::vector<ProfileConfig> ps = {
        profile("work", "me@example.com"),    profile("Home", "home@example.com"),
        profile("home", "other@example.com"), profile("twin", "same@x"),
        profile("twin2", "SAME@x"),           profile("me@example.com")};
    using Kind = ProfileQuery::Match::Kind;
    const auto found = [&](std::string_view q) {
        const auto m = ProfileQuery::find(ps, q);
        return m.kind == Kind::found ? m.profile->name : "(" + m.message + ")";
    };
    EXPECT_EQ(found(ps[0].id.toString()), "work");
    std::string lower = ps[1].id.toString();
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_EQ(found(lower), "Home");
    EXPECT_EQ(found("home"), "home") << "the exact name before the name in another case";
    EXPECT_EQ(found("HOME@example.com"), "Home");
    EXPECT_EQ(found("me@example.com"), "me@example.com") << "a name before an address";
    EXPECT_EQ(found("TWIN"), "twin");

    const auto twins = ProfileQuery::find(ps, "same@X");
    EXPECT_EQ(twins.kind, Kind::ambiguous);
    EXPECT_NE(twins.message.find(ps[3].id.toString()), std::string::npos);
    EXPECT_NE(twins.message.find(ps[4].id.toString()), std::string::npos);
    for (const char* q : {"nobody", "", "wor"})
        EXPECT_EQ(ProfileQuery::find(ps, q).kind, Kind::unknown) << q;
    // Not found: what there is, and where names are changed.
    const std::string none = ProfileQuery::find(ps, "nobody").message;
    EXPECT_TRUE(
        none.starts_with("「nobody」という名前、メールアドレス、ID のプロファイルはありません\n"
                         "プロファイル（名前は MeterKeeper の設定の「プロファイル」で変えられます）:\n"))
        << none;
    for (const ProfileConfig& p : ps)
        EXPECT_NE(none.find("\n  " + p.name + " "), std::string::npos) << p.name;
    EXPECT_EQ(ProfileQuery::find({}, "nobody").message,
              "「nobody」という名前、メールアドレス、ID のプロファイルはありません");
}

TEST(WaybarOutput, TheShownProfilesFiguresLevelsAndEveryProfileInTheTooltip) {
    testsupport::ScopedEnv tz("TZ", "UTC");
    ::tzset();
    AppConfig config;
    config.profiles = {profile("a<b>&c", "a@x"), profile("codex", std::nullopt, Provider::codex),
                       profile("gone")};
    const auto& ps = config.profiles;
    const auto lineFor = [&](std::map<Uuid, ProfileStatus> statuses, std::optional<Uuid> active) {
        config.activeProfileID = active;
        return json::parse(WaybarOutput::line(
            json::parse(Readings::build(config, statuses, {}, {}, nullptr, kNow).toJson(kNow)), kNow));
    };
    std::map<Uuid, ProfileStatus> statuses;
    statuses.insert_or_assign(ps[0].id,
                              ProfileStatus::ok({window("five_hour", 69.5, kNow + hours(2)),
                                                 window("seven_day", 26), window("seven_day_opus", 95)},
                                                kNow));
    statuses.insert_or_assign(ps[1].id,
                              ProfileStatus::ok({window("codex_week", 90), window("codex_5h", 3)}, kNow));
    statuses.insert_or_assign(ps[2].id, ProfileStatus::error("認証エラー"));

    json line = lineFor(statuses, ps[0].id);
    EXPECT_EQ(line["text"], "70% · 26%");
    EXPECT_EQ(line["alt"], "a&lt;b&gt;&amp;c");
    EXPECT_EQ(line["class"], "normal") << "69.5 is below 70 (a scoped window is not a glyph's figure)";
    EXPECT_EQ(line["percentage"], 70);
    EXPECT_EQ(line["tooltip"],
              "MeterKeeper\n\n● a&lt;b&gt;&amp;c (a@x)\n  5時間 70% · リセット 14:00\n"
              "  週・全モデル 26%\n  週・Opus 95%\n\ncodex\n  5時間 3%\n  週 90%\n\ngone\n  認証エラー");

    line = lineFor(statuses, ps[1].id);
    EXPECT_EQ(line["text"], "3% · 90%");
    EXPECT_EQ(line["class"], "critical");
    statuses.insert_or_assign(ps[1].id, ProfileStatus::ok({window("codex_5h", 70)}, kNow));
    EXPECT_EQ(lineFor(statuses, ps[1].id)["class"], "warning");
    statuses.insert_or_assign(ps[1].id, ProfileStatus::ok({window("codex_5h", 250)}, kNow));
    EXPECT_EQ(lineFor(statuses, ps[1].id)["percentage"], 100);

    // A reading kept after a failed look says how old it is, in the person's language.
    const auto staleLine = [&](Instant now) {
        config.activeProfileID = ps[0].id;
        const Readings r =
            Readings::build(config, statuses, {}, {}, nullptr, now, {{ps[0].id, "API エラー (HTTP 500)"}});
        return json::parse(WaybarOutput::line(json::parse(r.toJson(now)), now));
    };
    line = staleLine(kNow + minutes(12));
    EXPECT_EQ(line["text"], "70% · 26% (12分前の値)");
    EXPECT_NE(
        line["tooltip"].get<std::string>().find("(a@x)\n  12分前の値 · API エラー (HTTP 500)\n  5時間 70%"),
        std::string::npos)
        << line["tooltip"];
    EXPECT_EQ(staleLine(kNow + hours(3))["text"], "70% · 26% (3時間前の値)");
    Language::use(Language::Lang::english, ULMET_BUILD_DIR "/locale");
    EXPECT_EQ(staleLine(kNow + minutes(12))["text"], "70% · 26% (Read 12 min ago)");
    EXPECT_EQ(staleLine(kNow + hours(50))["text"], "70% · 26% (Read 2 days ago)");
    Language::use(Language::Lang::japanese, {});

    line = lineFor({{ps[2].id, ProfileStatus::error("x")}}, ps[2].id);
    EXPECT_EQ(line["text"], "–");
    EXPECT_EQ(line["class"], "normal");
    for (const char* odd : {"[]", "{\"profiles\":{}}", "{\"shown\":1,\"profiles\":[1,{\"windows\":7}]}"})
        EXPECT_EQ(json::parse(WaybarOutput::line(json::parse(odd), kNow))["text"], "–") << odd;
    EXPECT_EQ(json::parse(WaybarOutput::notRunningLine())["class"], "stopped");
}

TEST(DateTime, ClockTextInLocalTime) {
    for (const char* zone : {"UTC", "Asia/Tokyo", "America/Los_Angeles"}) {
        testsupport::ScopedEnv tz("TZ", zone);
        ::tzset();
        const std::time_t t = std::chrono::system_clock::to_time_t(kNow);
        std::tm local{};
        localtime_r(&t, &local);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%d:%02d", local.tm_hour, local.tm_min);
        EXPECT_EQ(DateTime::clockText(kNow, kNow + minutes(1)), expected) << zone;
        std::snprintf(expected, sizeof expected, "%d/%d %d:%02d", local.tm_mon + 1, local.tm_mday,
                      local.tm_hour, local.tm_min);
        EXPECT_EQ(DateTime::clockText(kNow, kNow + hours(48)), expected) << zone;
    }
    ::tzset();
}

namespace {

// One profile read against a loopback usage endpoint, with status-line readings filed under a
// temporary configuration directory.
class ProfileReaderTest : public testing::Test {
protected:
    testsupport::TempDir home;
    std::filesystem::path baseDir = home / ".local/share/ulmet";
    testsupport::TestHttpServer server;
    testsupport::ScopedEnv api{"ULMET_API_ORIGIN", server.origin()};
    CurlTransport http;
    testsupport::MemorySecretStore secrets;
    testsupport::FakeClock clock{kNow};
    Services services{http, secrets, clock, home.path()};

    void SetUp() override {
        server.reply("GET", std::string(AnthropicAPI::kUsagePath), 200,
                     R"({"five_hour":{"utilization":10},"seven_day":{"utilization":20}})");
        server.reply("GET", std::string(AnthropicAPI::kProfilePath), 200, R"({"account":{"email":"a@x"}})");
    }
    ProfileConfig endpoint(std::optional<std::string> email) {
        ProfileConfig p = profile("a", std::move(email));
        p.configDir = "~/.claude-a";
        return p;
    }
    ProfileConfig statusLine(std::optional<std::string> email) {
        ProfileConfig p = endpoint(std::move(email));
        p.usageSource = UsageSource::statusLine;
        return p;
    }
    void file(std::optional<std::string> account, Instant at = kNow, double fiveHour = 77) {
        std::error_code error;
        StatusLineReading reading{StatusLineStore::normalDir("~/.claude-a", home.path()),
                                  at,
                                  {window("five_hour", fiveHour, kNow + hours(2))},
                                  std::move(account),
                                  std::nullopt};
        ASSERT_TRUE(StatusLineStore::record(baseDir, reading, error));
    }
    ProfileReader::Request request() {
        ProfileReader::Request r;
        r.baseDir = baseDir;
        r.token = [](const ProfileConfig&) {
            return ProfileReader::Token{OAuthCredentials{"tok-a", kNow + hours(1), "r-a", "test"}, false};
        };
        r.statusLineFreshFor = seconds(60);
        return r;
    }
    std::size_t asked(std::string_view path) {
        std::size_t n = 0;
        for (const auto& r : server.requests())
            n += r.path == path;
        return n;
    }
};

std::vector<std::string> keys(const ProfileReader::Outcome& outcome) {
    std::vector<std::string> k;
    if (const auto* ok = outcome.status.okValue())
        for (const UsageWindow& w : ok->windows)
            k.push_back(w.key);
    return k;
}

} // namespace

// Which profiles a filed reading may stand for: its account's, and one read from the status line
// when either side cannot tell the account.
TEST_F(ProfileReaderTest, AStatusLineReadingServesOnlyTheProfilesItMayStandFor) {
    file(std::nullopt);
    EXPECT_FALSE(ProfileReader::statusLineReading(baseDir, endpoint(std::nullopt), home.path()))
        << "no account on either side is no match for an endpoint profile";
    EXPECT_TRUE(ProfileReader::statusLineReading(baseDir, statusLine("a@x"), home.path()));
    file("b@x", kNow + seconds(1));
    EXPECT_FALSE(ProfileReader::statusLineReading(baseDir, endpoint("a@x"), home.path()));
    EXPECT_FALSE(ProfileReader::statusLineReading(baseDir, statusLine("a@x"), home.path()));
    EXPECT_TRUE(ProfileReader::statusLineReading(baseDir, statusLine(std::nullopt), home.path()))
        << "a profile without a known address takes any reading of its directory";
    EXPECT_TRUE(ProfileReader::statusLineReading(baseDir, endpoint("b@x"), home.path()));
}

// A status-line profile shows its reading's windows only; an endpoint profile's fresh reading
// keeps the endpoint's other windows, and a reading dated after now is no reason to skip a request.
TEST_F(ProfileReaderTest, WhatAReadingOfTheStatusLineReplacesAndWhenItSparesARequest) {
    auto withWeek = request();
    withWeek.previous = {window("five_hour", 5), window("seven_day", 30)};
    file("a@x");
    const auto fromStatusLine = ProfileReader::read(services, statusLine("a@x"), withWeek);
    EXPECT_EQ(fromStatusLine.source, UsageSource::statusLine);
    EXPECT_EQ(keys(fromStatusLine), std::vector<std::string>{"five_hour"});
    const auto fresh = ProfileReader::read(services, endpoint("a@x"), withWeek);
    EXPECT_EQ(fresh.source, UsageSource::statusLine);
    EXPECT_EQ(keys(fresh), (std::vector<std::string>{"five_hour", "seven_day"}));
    EXPECT_EQ(asked(AnthropicAPI::kUsagePath), 0u);

    file("a@x", kNow + minutes(5), 88); // a clock set back since it was filed
    const auto ahead = ProfileReader::read(services, endpoint("a@x"), request());
    EXPECT_EQ(ahead.source, UsageSource::api);
    EXPECT_EQ(asked(AnthropicAPI::kUsagePath), 1u);
}

// The address is asked for only when the caller wants it.
TEST_F(ProfileReaderTest, TheEndpointIsAskedForTheAddressOnlyWhenWanted) {
    auto r = request();
    EXPECT_FALSE(ProfileReader::read(services, endpoint("a@x"), r).email);
    EXPECT_EQ(asked(AnthropicAPI::kProfilePath), 0u);
    r.includeEmail = true;
    EXPECT_EQ(ProfileReader::read(services, endpoint("a@x"), r).email, "a@x");
    EXPECT_EQ(asked(AnthropicAPI::kProfilePath), 1u);
    EXPECT_EQ(asked(AnthropicAPI::kUsagePath), 2u);
}

// claude's own login whose access token has expired is not renewed here and not sent: its
// account's status-line reading stands in, or the outcome says why and that the last reading
// stays. Nothing reaches the endpoint.
TEST_F(ProfileReaderTest, AnExpiredLoginOfClaudesIsNeitherSentNorRenewed) {
    auto r = request();
    r.token = [](const ProfileConfig&) {
        return ProfileReader::Token{OAuthCredentials{"tok-a", kNow - seconds(1), "r-a", "test"}, true};
    };
    const auto none = ProfileReader::read(services, endpoint("a@x"), r);
    EXPECT_TRUE(none.keepsLast);
    ASSERT_TRUE(none.status.errorValue());
    EXPECT_EQ(none.status.errorValue()->message, ResolveError::claudeRenews().description());
    file("a@x", kNow - minutes(30));
    const auto standIn = ProfileReader::read(services, endpoint("a@x"), r);
    EXPECT_EQ(standIn.source, UsageSource::statusLine);
    EXPECT_EQ(server.requests().size(), 0u);
}

// A failed exchange is told in the person's words, not libcurl's.
TEST_F(ProfileReaderTest, AnEndpointThatCannotBeReachedIsToldInThePersonsWords) {
    std::string origin;
    {
        testsupport::TestHttpServer gone;
        origin = gone.origin();
    }
    const testsupport::ScopedEnv nowhere{"ULMET_API_ORIGIN", origin};
    const auto outcome = ProfileReader::read(services, endpoint("a@x"), request());
    ASSERT_TRUE(outcome.status.errorValue());
    EXPECT_EQ(outcome.status.errorValue()->message,
              "アカウントのサーバーに接続できませんでした。次の確認でもう一度試します");
}
