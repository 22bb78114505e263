#include "statusline/StatusLineStore.h"

#include "base/FileIO.h"
#include "base/Json.h"
#include "base/Language.h"
#include "base/Paths.h"
#include "base/Text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace fs = std::filesystem;
using nlohmann::json;

namespace StatusLineStore {
namespace {

constexpr std::size_t kMaxFile = 64 * 1024;
constexpr auto kFutureTolerance = std::chrono::minutes(1);
// Reset times outside 2001..2200 are not times claude would send (milliseconds, garbage).
constexpr double kEarliestReset = 978307200;  // 2001-01-01
constexpr double kLatestReset = 7258118400.0; // 2200-01-01

std::string fileName(std::string_view normalDir) {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(Text::fnv1a64(normalDir)));
    return name;
}

std::optional<UsageWindow> windowOf(const json& limits, const char* key) {
    const auto it = limits.find(key);
    if (it == limits.end() || !it->is_object())
        return std::nullopt;
    const auto used = it->find("used_percentage");
    if (used == it->end() || !used->is_number())
        return std::nullopt;
    const double percent = used->get<double>();
    if (!std::isfinite(percent) || percent < 0 || percent > 100)
        return std::nullopt;
    UsageWindow w;
    w.key = key;
    w.utilization = percent;
    if (const auto reset = it->find("resets_at"); reset != it->end() && reset->is_number()) {
        const double seconds = reset->get<double>();
        if (std::isfinite(seconds) && seconds >= kEarliestReset && seconds <= kLatestReset)
            w.resetsAt = DateTime::fromUnixSeconds(seconds);
    }
    return w;
}

// A time in milliseconds read back from a file: within 1970..2200, so it converts exactly.
std::optional<Instant> fromMillis(const json& value) {
    if (!value.is_number_integer())
        return std::nullopt;
    const std::int64_t ms = value.get<std::int64_t>();
    if (ms < 0 || ms > static_cast<std::int64_t>(kLatestReset) * 1000)
        return std::nullopt;
    return Instant(std::chrono::milliseconds(ms));
}

std::int64_t millis(Instant t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

} // namespace

fs::path dir(const fs::path& baseDir) {
    return baseDir / "statusline";
}

std::string normalDir(std::string_view path, const fs::path& home) {
    fs::path p = Paths::expandTilde(path, home);
    if (p.is_relative())
        p = home / p;
    std::error_code error;
    if (fs::path canonical = fs::canonical(p, error); !error)
        p = canonical;
    std::string text = p.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::optional<Input> parseInput(std::string_view text) {
    const auto doc = Json::parse(text);
    if (!doc || !doc->is_object())
        return std::nullopt;
    Input input;
    if (const auto limits = doc->find("rate_limits"); limits != doc->end() && limits->is_object())
        for (const char* key : {"five_hour", "seven_day"})
            if (auto w = windowOf(*limits, key))
                input.windows.push_back(std::move(*w));
    if (const auto t = doc->find("transcript_path"); t != doc->end() && t->is_string())
        input.transcriptPath = t->get<std::string>();
    return input;
}

std::string configDirFor(const char* envConfigDir, const std::optional<std::string>& transcriptPath,
                         const fs::path& home) {
    if (envConfigDir && *envConfigDir)
        return normalDir(envConfigDir, home);
    if (transcriptPath && !transcriptPath->empty()) {
        // <dir>/projects/<project>/<session>.jsonl: the directory above the last "projects".
        const fs::path transcript = fs::path(*transcriptPath).lexically_normal();
        fs::path best;
        fs::path walked;
        for (const fs::path& part : transcript.parent_path()) {
            if (part == "projects" && !walked.empty())
                best = walked;
            walked /= part;
        }
        if (!best.empty() && best.is_absolute())
            return normalDir(best.string(), home);
    }
    return normalDir("~/.claude", home);
}

std::string encode(const StatusLineReading& reading) {
    json windows = json::array();
    for (const UsageWindow& w : reading.windows) {
        json entry{{"key", w.key}, {"utilization", Json::number(w.utilization)}};
        if (w.resetsAt)
            entry["resetsAt"] = millis(*w.resetsAt);
        windows.push_back(std::move(entry));
    }
    json doc{{"configDir", reading.configDir}, {"at", millis(reading.at)}, {"windows", std::move(windows)}};
    if (reading.account)
        doc["account"] = *reading.account;
    if (reading.accountUnknown)
        doc["accountUnknown"] = *reading.accountUnknown;
    if (!reading.stateStamp.empty())
        doc["stateStamp"] = reading.stateStamp;
    return doc.dump() + "\n";
}

std::optional<StatusLineReading> decode(std::string_view text) {
    const auto doc = Json::parse(text);
    if (!doc || !doc->is_object())
        return std::nullopt;
    const auto dirIt = doc->find("configDir");
    const auto atIt = doc->find("at");
    const auto windowsIt = doc->find("windows");
    if (dirIt == doc->end() || !dirIt->is_string() || atIt == doc->end() || windowsIt == doc->end() ||
        !windowsIt->is_array())
        return std::nullopt;
    const auto at = fromMillis(*atIt);
    if (!at)
        return std::nullopt;
    StatusLineReading reading;
    reading.configDir = dirIt->get<std::string>();
    reading.at = *at;
    for (auto [member, field] :
         {std::pair{"account", &reading.account}, {"accountUnknown", &reading.accountUnknown}})
        if (const auto it = doc->find(member); it != doc->end() && it->is_string())
            *field = it->get<std::string>();
    if (const auto it = doc->find("stateStamp"); it != doc->end() && it->is_string())
        reading.stateStamp = it->get<std::string>();
    for (const json& entry : *windowsIt) {
        if (!entry.is_object())
            return std::nullopt;
        const auto key = entry.find("key");
        const auto util = entry.find("utilization");
        if (key == entry.end() || !key->is_string() || util == entry.end() || !util->is_number())
            return std::nullopt;
        UsageWindow w;
        w.key = key->get<std::string>();
        w.utilization = util->get<double>();
        if (!std::isfinite(w.utilization) || w.utilization < 0 || w.utilization > 100)
            return std::nullopt;
        if (const auto reset = entry.find("resetsAt"); reset != entry.end()) {
            w.resetsAt = fromMillis(*reset);
            if (!w.resetsAt)
                return std::nullopt;
        }
        reading.windows.push_back(std::move(w));
    }
    return reading;
}

bool record(const fs::path& baseDir, const StatusLineReading& reading, std::error_code& error) {
    error.clear();
    const fs::path folder = dir(baseDir);
    if (!FileIO::createDirectories(baseDir, 0700, error) || !FileIO::createDirectories(folder, 0700, error))
        return false;
    const std::string name = fileName(reading.configDir);
    // One writer per directory at a time: read, compare, replace.
    const fs::path lockPath = folder / (name + ".lock");
    FileIO::UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock) {
        error = std::error_code(errno, std::generic_category());
        return false;
    }
    while (::flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) {
            error = std::error_code(errno, std::generic_category());
            return false;
        }
    const fs::path file = folder / (name + ".json");
    std::error_code readError;
    if (const auto text = FileIO::readFile(file, kMaxFile, readError))
        if (const auto stored = decode(*text); stored && stored->configDir == reading.configDir &&
                                               stored->at > reading.at &&
                                               stored->at - reading.at <= kFutureTolerance)
            return true; // a later reading is already there (one far ahead was made by a wrong clock)
    // Rewritten at every redraw and worth nothing after a crash: no flushes.
    return FileIO::writeAtomic(file, encode(reading), 0600, error, FileIO::Durability::unsynced);
}

fs::path stateFileOf(std::string_view dir, const fs::path& home) {
    return dir == normalDir("~/.claude", home) ? home / ".claude.json" : fs::path(dir) / ".claude.json";
}

std::string stateStamp(std::string_view dir, const fs::path& home) {
    struct stat st {};
    if (::stat(stateFileOf(dir, home).c_str(), &st) != 0)
        return {};
    return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

std::optional<std::string> liveAccount(std::string_view dir, const fs::path& home,
                                       std::optional<std::string>& why) {
    why.reset();
    const fs::path file = stateFileOf(dir, home);
    std::error_code error;
    const auto size = fs::file_size(file, error);
    if (error)
        return std::nullopt;
    if (size > kMaxStateFile) {
        why = Text::fill(TR("%1 が %2 MB を超えるため、アカウントを確かめていません"),
                         {file.string(), std::to_string(kMaxStateFile >> 20)});
        return std::nullopt;
    }
    const auto text = FileIO::readFile(file, kMaxStateFile, error);
    const auto member = text ? Json::quickMember(*text, "oauthAccount") : std::nullopt;
    const auto account = member ? Json::parse(*member) : std::nullopt;
    if (!account || !account->is_object())
        return std::nullopt;
    const auto email = account->find("emailAddress");
    if (email == account->end() || !email->is_string() || email->get_ref<const std::string&>().empty())
        return std::nullopt;
    return email->get<std::string>();
}

std::optional<StatusLineReading> load(const fs::path& baseDir, std::string_view configDir,
                                      const fs::path& home) {
    const std::string normal = normalDir(configDir, home);
    std::error_code error;
    const auto text = FileIO::readFile(dir(baseDir) / (fileName(normal) + ".json"), kMaxFile, error);
    if (!text)
        return std::nullopt;
    auto reading = decode(*text);
    if (!reading || reading->configDir != normal)
        return std::nullopt; // another directory's file under the same name: never mixed up
    return reading;
}

std::string noReadingMessage(std::string_view configDir) {
    return Text::fill(TR("ステータスラインからの読み取りがまだありません。設定の「ステータスライン」で %1 "
                         "に導入し（または ulmet --statusline-install %1）、このアカウントで claude "
                         "を使うと表示されます"),
                      {configDir});
}

std::vector<UsageWindow> windowsAt(const StatusLineReading& reading, Instant now) {
    std::vector<UsageWindow> windows = reading.windows;
    for (UsageWindow& w : windows)
        if (w.resetsAt && *w.resetsAt <= now) {
            w.utilization = 0;
            w.resetsAt.reset();
        }
    return windows;
}

} // namespace StatusLineStore
