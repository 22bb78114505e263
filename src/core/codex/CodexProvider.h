#pragma once

#include "base/DateTime.h"
#include "base/Errors.h"
#include "usage/UsageWindow.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CodexError : public Error {
public:
    enum class Kind { noSessions, noRateLimits };

    // "セッションが見つかりません（<path>）。codex を一度実行すると記録されます"
    static CodexError noSessions(const std::string& path);
    // "使用量の記録がまだありません。codex を一度実行してください"
    static CodexError noRateLimits();

    Kind kind() const { return m_kind; }

private:
    CodexError(Kind kind, const std::string& description)
        : Error(description)
        , m_kind(kind) {}
    Kind m_kind;
};

// Rate-limit readings of a codex account, from the session logs codex writes below
// <configDir>/sessions. Stateless and read-only; every call walks the directory again. Session
// files can be gigabytes: each is read backwards from its end and only until its newest report,
// so the cost does not grow with the file.
namespace CodexProvider {

// One rate-limit report of one log line.
struct Snapshot {
    Instant timestamp = Instant::min(); // the line's time stamp, or the distant past
    std::optional<nlohmann::json> primary;
    std::optional<nlohmann::json> secondary;
    std::optional<std::string> planType;
};

// "codex_5h" and/or "codex_week", "codex_5h" first. Throws CodexError.
std::vector<UsageWindow> readUsage(std::string_view configDir, const std::filesystem::path& home,
                                   Instant now);

// The plan type of the newest session file whose last report names one; none on any failure.
std::optional<std::string> readPlanType(std::string_view configDir, const std::filesystem::path& home);

// ---- The steps, exposed for tests and benchmarks ----

// The `limit` most recently modified ".jsonl" files below `dir` (hidden entries skipped, links
// to directories not followed), newest first; ties keep the walk's order.
std::vector<std::filesystem::path> recentSessionFiles(const std::filesystem::path& dir, std::size_t limit);

// The report of the last qualifying line of a file: a JSON object line holding, through nested
// objects, a "rate_limits" object that does not belong to another metered bucket (a "limit_id"
// text other than "codex"). Lines longer than `maxLineBytes` are passed over.
inline constexpr std::size_t kMaxLineBytes = 64u << 20;
std::optional<Snapshot> lastRateLimits(const std::filesystem::path& file,
                                       std::size_t maxLineBytes = kMaxLineBytes);

// The first "rate_limits" object found through nested objects (members in key order).
const nlohmann::json* findRateLimits(const nlohmann::json& value);

// A window from a "primary"/"secondary" object; none without a usable "used_percent".
std::optional<UsageWindow> makeWindow(std::string key, const std::optional<nlohmann::json>& usage,
                                      Instant now);

} // namespace CodexProvider
