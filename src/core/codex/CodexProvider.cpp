#include "codex/CodexProvider.h"

#include "base/FileIO.h"
#include "base/Json.h"
#include "base/Language.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "codex/TextSearch.h"
#include "usage/AnthropicAPI.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

CodexError CodexError::noSessions(const std::string& path) {
    return CodexError(
        Kind::noSessions,
        Text::fill(TR("セッションが見つかりません（%1）。codex を一度実行すると記録されます"), {path}));
}

CodexError CodexError::noRateLimits() {
    return CodexError(Kind::noRateLimits, TR("使用量の記録がまだありません。codex を一度実行してください"));
}

namespace CodexProvider {
namespace {

constexpr std::size_t kFileLimit = 8;
constexpr std::string_view kNeedle = "rate_limits";
constexpr std::size_t kChunk = 256u << 10; // scanned while it is still in the cache
constexpr std::size_t kStep = 64u << 10;
constexpr int kMaxDepth = 64; // of the session directory tree

fs::path sessionsDir(std::string_view configDir, const fs::path& home) {
    return Paths::expandTilde(configDir, home) / "sessions";
}

// Reads exactly [offset, offset + length) unless the file ends first; returns the bytes read.
std::size_t readAt(int fd, char* into, std::size_t length, off_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, into + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// Start of the line holding the byte at `offset`: just after the previous line feed.
off_t lineStart(int fd, off_t offset, const char* buffer, off_t bufferStart) {
    if (const void* nl = ::memrchr(buffer, '\n', static_cast<std::size_t>(offset - bufferStart)))
        return bufferStart + (static_cast<const char*>(nl) - buffer) + 1;
    std::string step(kStep, '\0');
    for (off_t end = bufferStart; end > 0;) {
        const off_t from = std::max<off_t>(0, end - static_cast<off_t>(kStep));
        const std::size_t got = readAt(fd, step.data(), static_cast<std::size_t>(end - from), from);
        if (const void* nl = ::memrchr(step.data(), '\n', got))
            return from + (static_cast<const char*>(nl) - step.data()) + 1;
        end = from;
    }
    return 0;
}

// End of the line holding the byte at `offset`: its line feed, or the end of the file.
off_t lineEnd(int fd, off_t offset, const char* buffer, off_t bufferStart, std::size_t bufferLength,
              off_t size) {
    const std::size_t at = static_cast<std::size_t>(offset - bufferStart);
    if (const void* nl = std::memchr(buffer + at, '\n', bufferLength - at))
        return bufferStart + (static_cast<const char*>(nl) - buffer);
    std::string step(kStep, '\0');
    for (off_t from = bufferStart + static_cast<off_t>(bufferLength); from < size;) {
        const std::size_t got = readAt(fd, step.data(), kStep, from);
        if (got == 0)
            break;
        if (const void* nl = std::memchr(step.data(), '\n', got))
            return from + (static_cast<const char*>(nl) - step.data());
        from += static_cast<off_t>(got);
    }
    return size;
}

// The report of one line, when the line qualifies.
std::optional<Snapshot> reportOf(std::string_view line) {
    const auto document = Json::parse(line);
    if (!document || !document->is_object())
        return std::nullopt;
    const json* limits = findRateLimits(*document);
    if (!limits)
        return std::nullopt;
    // Another metered bucket (one model's own limit) is not the account's usage.
    if (const auto id = limits->find("limit_id"); id != limits->end() && id->is_string() && *id != "codex")
        return std::nullopt;
    Snapshot snapshot;
    const auto ts = document->find("timestamp");
    if (auto t = AnthropicAPI::parseDate(ts == document->end() ? nullptr : &*ts))
        snapshot.timestamp = *t;
    if (const auto p = limits->find("primary"); p != limits->end() && p->is_object())
        snapshot.primary = *p;
    if (const auto s = limits->find("secondary"); s != limits->end() && s->is_object())
        snapshot.secondary = *s;
    if (const auto plan = limits->find("plan_type"); plan != limits->end() && plan->is_string())
        snapshot.planType = plan->get<std::string>();
    return snapshot;
}

void walk(const fs::path& dir, int depth, std::vector<std::pair<fs::path, fs::file_time_type>>& found) {
    if (depth > kMaxDepth)
        return;
    std::error_code error;
    fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, error);
    for (fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        if (name.starts_with('.'))
            continue; // hidden: neither kept nor entered
        std::error_code statError;
        if (path.extension() == ".jsonl") {
            auto modified = fs::last_write_time(path, statError);
            found.emplace_back(path, statError ? fs::file_time_type::min() : modified);
        }
        // Links to directories are not followed: no loops.
        if (fs::is_directory(it->symlink_status(statError)))
            walk(path, depth + 1, found);
    }
}

double minutesOf(const json& usage) {
    const auto it = usage.find("window_minutes");
    const auto v = AnthropicAPI::numeric(it == usage.end() ? nullptr : &*it);
    return v && std::isfinite(*v) ? *v : NAN;
}

// The key of a report window: by its stated length when it has one, else by its position.
std::string keyFor(const json& usage, const char* positional) {
    const double minutes = minutesOf(usage);
    if (minutes >= 10080)
        return "codex_week";
    if (minutes < 1440)
        return "codex_5h";
    return positional;
}

} // namespace

std::vector<fs::path> recentSessionFiles(const fs::path& dir, std::size_t limit) {
    std::vector<std::pair<fs::path, fs::file_time_type>> found;
    std::error_code error;
    if (!fs::is_directory(dir, error))
        return {};
    walk(dir, 0, found);
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<fs::path> files;
    for (std::size_t i = 0; i < found.size() && i < limit; ++i)
        files.push_back(std::move(found[i].first));
    return files;
}

std::optional<Snapshot> lastRateLimits(const fs::path& file, std::size_t maxLineBytes) {
    FileIO::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const off_t size = st.st_size;

    // Only the last qualifying line counts: search backwards for the text "rate_limits", one
    // chunk at a time, and judge each line that holds it, newest first.
    std::vector<char> buffer(kChunk + kNeedle.size());
    std::vector<off_t> hits;
    std::string line;
    off_t limit = size; // occurrences starting at or after this belong to lines already judged
    while (limit > 0) {
        const off_t start = std::max<off_t>(0, limit - static_cast<off_t>(kChunk));
        const off_t stop = std::min<off_t>(size, limit + static_cast<off_t>(kNeedle.size()) - 1);
        const std::size_t length =
            readAt(fd.get(), buffer.data(), static_cast<std::size_t>(stop - start), start);
        if (length < static_cast<std::size_t>(stop - start))
            return std::nullopt; // the file shrank or cannot be read: try again next time

        hits.clear();
        const std::string_view chunk(buffer.data(), length);
        for (std::size_t from = 0;;) {
            // "_l" (needle bytes 4 and 5) is rare in session logs; "r" and "s" are not.
            const std::size_t found = TextSearch::find(chunk.substr(from), kNeedle, 4, 5);
            if (found == std::string_view::npos || start + static_cast<off_t>(from + found) >= limit)
                break;
            hits.push_back(start + static_cast<off_t>(from + found));
            from += found + 1;
        }
        off_t judgedFrom = limit;
        for (auto it = hits.rbegin(); it != hits.rend(); ++it) {
            if (*it >= judgedFrom)
                continue;
            const off_t begin = lineStart(fd.get(), *it, buffer.data(), start);
            const off_t end = lineEnd(fd.get(), *it, buffer.data(), start, length, size);
            judgedFrom = begin;
            if (static_cast<std::size_t>(end - begin) > maxLineBytes)
                continue; // too long to hold: passed over
            line.resize(static_cast<std::size_t>(end - begin));
            if (readAt(fd.get(), line.data(), line.size(), begin) != line.size())
                return std::nullopt;
            if (auto snapshot = reportOf(line))
                return snapshot;
        }
        limit = std::min(start, judgedFrom);
    }
    return std::nullopt;
}

const json* findRateLimits(const json& value) {
    if (!value.is_object())
        return nullptr;
    if (const auto it = value.find("rate_limits"); it != value.end() && it->is_object())
        return &*it;
    for (const auto& member : value)
        if (const json* found = findRateLimits(member))
            return found;
    return nullptr;
}

std::optional<UsageWindow> makeWindow(std::string key, const std::optional<json>& usage, Instant now) {
    if (!usage || !usage->is_object())
        return std::nullopt;
    auto number = [&](const char* name) {
        const auto it = usage->find(name);
        auto v = AnthropicAPI::numeric(it == usage->end() ? nullptr : &*it);
        return v && std::isfinite(*v) ? v : std::nullopt;
    };
    auto used = number("used_percent");
    if (!used)
        return std::nullopt;
    const auto minutes = number("window_minutes");
    std::optional<Instant> reset;
    if (const auto r = number("resets_at"))
        reset = DateTime::fromUnixSeconds(*r > 1e12 ? *r / 1000 : *r);
    if (reset && *reset <= now) {
        reset.reset(); // the window has rolled over since the report was written
        used = 0;
    }
    std::optional<double> seconds;
    if (minutes)
        seconds = *minutes * 60;
    return UsageWindow{std::move(key), std::clamp(*used, 0.0, 100.0), reset, seconds};
}

std::vector<UsageWindow> readUsage(std::string_view configDir, const fs::path& home, Instant now) {
    const fs::path dir = sessionsDir(configDir, home);
    const auto files = recentSessionFiles(dir, kFileLimit);
    if (files.empty())
        throw CodexError::noSessions(dir.string());

    std::optional<Snapshot> best;
    for (const auto& file : files) {
        auto snapshot = lastRateLimits(file);
        if (snapshot && (!best || snapshot->timestamp > best->timestamp))
            best = std::move(snapshot);
    }
    if (!best)
        throw CodexError::noRateLimits();

    // Which window is which: by the stated length where there is one (plans without a five-hour
    // window report the week as "primary"), else by position; never both under one key.
    std::string primaryKey = "codex_5h";
    std::string secondaryKey = "codex_week";
    if (best->primary && best->secondary) {
        std::string p = keyFor(*best->primary, "codex_5h");
        std::string s = keyFor(*best->secondary, "codex_week");
        if (p != s) {
            primaryKey = std::move(p);
            secondaryKey = std::move(s);
        }
    } else if (best->primary) {
        primaryKey = keyFor(*best->primary, "codex_5h");
    } else if (best->secondary) {
        secondaryKey = keyFor(*best->secondary, "codex_week");
    }

    std::vector<UsageWindow> windows;
    if (auto w = makeWindow(primaryKey, best->primary, now))
        windows.push_back(std::move(*w));
    if (auto w = makeWindow(secondaryKey, best->secondary, now))
        windows.push_back(std::move(*w));
    if (windows.empty())
        throw CodexError::noRateLimits();
    if (windows.size() == 2 && windows[1].key == "codex_5h")
        std::swap(windows[0], windows[1]);
    return windows;
}

std::optional<std::string> readPlanType(std::string_view configDir, const fs::path& home) {
    for (const auto& file : recentSessionFiles(sessionsDir(configDir, home), kFileLimit))
        if (auto snapshot = lastRateLimits(file); snapshot && snapshot->planType)
            return snapshot->planType;
    return std::nullopt;
}

} // namespace CodexProvider
