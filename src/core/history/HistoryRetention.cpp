#include "history/HistoryRetention.h"

#include "history/HistoryStore.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace HistoryRetention {
namespace {

std::optional<sys_days> dayOfName(std::string_view name) {
    if (!HistoryStore::isDayFileName(name))
        return std::nullopt;
    auto number = [&](std::size_t at, std::size_t length) {
        int v = 0;
        for (std::size_t i = at; i < at + length; ++i)
            v = v * 10 + (name[i] - '0');
        return v;
    };
    const year_month_day day{year(number(0, 4)), month(static_cast<unsigned>(number(5, 2))),
                             std::chrono::day(static_cast<unsigned>(number(8, 2)))};
    if (!day.ok())
        return std::nullopt;
    return sys_days(day);
}

// Whether `b`, the next reading of the same profile, shows a reset of one of `a`'s windows: a
// reset time that moved, appeared or went away.
bool resetBetween(const HistoryRecord& a, const HistoryRecord& b) {
    for (const UsageWindow& w : a.windows) {
        for (const UsageWindow& v : b.windows) {
            if (v.key != w.key)
                continue;
            if (w.resetsAt.has_value() != v.resetsAt.has_value())
                return true;
            if (w.resetsAt &&
                (*w.resetsAt > *v.resetsAt + kSameReset || *v.resetsAt > *w.resetsAt + kSameReset))
                return true;
            break;
        }
    }
    return false;
}

struct Entry {
    std::string_view line; // with its line feed when it had one
    HistoryRecord record;
};

// Every line of the text, or none when a non-empty line holds no record.
std::optional<std::vector<Entry>> entries(std::string_view text) {
    std::vector<Entry> out;
    out.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl == std::string_view::npos ? text.size() : nl + 1);
        text.remove_prefix(line.size());
        const std::string_view content = line.substr(0, line.size() - (line.back() == '\n'));
        if (content.empty())
            continue;
        auto record = HistoryStore::decodeLine(content);
        if (!record)
            return std::nullopt;
        out.push_back({line, std::move(*record)});
    }
    return out;
}

} // namespace

sys_days localDay(Instant t) {
    const std::time_t seconds = system_clock::to_time_t(floor<std::chrono::seconds>(t));
    std::tm local{};
    localtime_r(&seconds, &local);
    return sys_days(year_month_day{year(local.tm_year + 1900), month(static_cast<unsigned>(local.tm_mon + 1)),
                                   day(static_cast<unsigned>(local.tm_mday))});
}

std::string fileName(sys_days day) {
    const year_month_day ymd(day);
    char name[32];
    std::snprintf(name, sizeof name, "%04d-%02u-%02u.jsonl", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return name;
}

Fate fateOf(std::string_view name, sys_days today) {
    const auto day = dayOfName(name);
    if (!day)
        return Fate::keepWhole;
    const auto age = (today - *day).count();
    if (age > kKeptDays)
        return Fate::remove;
    if (age > kWholeDays)
        return Fate::thin;
    return Fate::keepWhole;
}

std::optional<std::string> thin(std::string_view text) {
    auto all = entries(text);
    if (!all)
        return std::nullopt;
    // Each profile's readings in time order (lines of equal time in file order).
    std::vector<std::uint32_t> order(all->size());
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const HistoryRecord& x = (*all)[a].record;
        const HistoryRecord& y = (*all)[b].record;
        if (x.profileID != y.profileID)
            return x.profileID < y.profileID;
        return x.ts < y.ts;
    });
    // A reading stays when it is its profile's last in its quarter hour, or the last before a
    // reset: the peak before a reset survives beside the quarter's last reading after it.
    auto quarter = [](Instant t) { return floor<minutes>(t).time_since_epoch().count() / kQuarter.count(); };
    std::vector<bool> keep(all->size(), true);
    for (std::size_t k = 0; k + 1 < order.size(); ++k) {
        const HistoryRecord& current = (*all)[order[k]].record;
        const HistoryRecord& next = (*all)[order[k + 1]].record;
        if (next.profileID == current.profileID && quarter(next.ts) == quarter(current.ts) &&
            !resetBetween(current, next))
            keep[order[k]] = false;
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < all->size(); ++i) {
        if (!keep[i])
            continue;
        out.append((*all)[i].line);
        if (out.back() != '\n')
            out.push_back('\n'); // a torn last line is never the end of another
    }
    return out;
}

bool holdsOnlyRecords(std::string_view text) {
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!line.empty() && !HistoryStore::decodeLine(line))
            return false;
    }
    return true;
}

FolderSize measure(const fs::path& dir) {
    FolderSize size;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        std::error_code e;
        if (!it->is_regular_file(e))
            continue;
        const auto bytes = it->file_size(e);
        if (e)
            continue;
        size.bytes += bytes;
        size.days += HistoryStore::isDayFileName(it->path().filename().string());
    }
    return size;
}

std::string describe(const FolderSize& size) {
    if (size.days == 0)
        return "none";
    char text[64];
    const double bytes = static_cast<double>(size.bytes);
    if (bytes < 1e3)
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    else if (bytes < 1e6)
        std::snprintf(text, sizeof text, "%.1f kB", bytes / 1e3);
    else if (bytes < 1e9)
        std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    else
        std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
    std::string out = text;
    out.append(", ").append(std::to_string(size.days)).append(size.days == 1 ? " day" : " days");
    return out;
}

} // namespace HistoryRetention
