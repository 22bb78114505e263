#include "usage/UsageWindow.h"

#include "base/Language.h"
#include "base/Text.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::string_view kScopedPrefix = "seven_day_scoped:";
constexpr double kFiveHours = 18000;
constexpr double kSevenDays = 604800;

struct KnownKey {
    std::string_view key;
    std::string_view label;
    std::string_view compact;
};

// Labels use the katakana middle dot "・" (U+30FB), compact labels the Latin "·" (U+00B7).
constexpr KnownKey kKnownKeys[] = {
    {"five_hour", TR_NOOP("5時間"), TR_NOOP("5時間")},
    {"seven_day", TR_NOOP("週・全モデル"), TR_NOOP("週·全")},
    {"seven_day_opus", TR_NOOP("週・Opus"), TR_NOOP("週·Opus")},
    {"seven_day_fable", TR_NOOP("週・Fable"), TR_NOOP("週·Fable")},
    {"seven_day_sonnet", TR_NOOP("週・Sonnet"), TR_NOOP("週·Sonnet")},
    {"codex_5h", TR_NOOP("5時間"), TR_NOOP("5時間")},
    {"codex_week", TR_NOOP("週"), TR_NOOP("週")},
};

const KnownKey* findKnown(std::string_view key) {
    for (const KnownKey& k : kKnownKeys)
        if (k.key == key)
            return &k;
    return nullptr;
}

} // namespace

int UsageWindow::order(std::string_view key) {
    if (key == "five_hour" || key == "codex_5h")
        return 0;
    if (key == "seven_day" || key == "codex_week")
        return 1;
    if (key.starts_with(kScopedPrefix))
        return 2;
    if (key == "seven_day_opus")
        return 3;
    if (key == "seven_day_fable")
        return 4;
    if (key == "seven_day_sonnet")
        return 5;
    return 9;
}

std::string UsageWindow::label(std::string_view key) {
    if (const KnownKey* known = findKnown(key))
        return TR(known->label.data());
    if (key.starts_with(kScopedPrefix))
        return Text::fill(TR("週・%1"), {key.substr(kScopedPrefix.size())});
    std::string text(key);
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

std::string UsageWindow::compactLabel(std::string_view key) {
    if (const KnownKey* known = findKnown(key))
        return TR(known->compact.data());
    if (key.starts_with(kScopedPrefix))
        return Text::fill(TR("週·%1"), {key.substr(kScopedPrefix.size())});
    return label(key);
}

std::vector<std::string> UsageWindow::distinctCompactLabels(const std::vector<std::string>& keys) {
    std::vector<std::string> labels;
    for (const std::string& key : keys)
        labels.push_back(compactLabel(key));
    auto shared = [&](std::size_t i) { return std::count(labels.begin(), labels.end(), labels[i]) > 1; };
    std::vector<bool> clash(labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i)
        clash[i] = shared(i);
    for (std::size_t i = 0; i < labels.size(); ++i)
        if (clash[i] && keys[i].starts_with("codex_"))
            labels[i] += " (Codex)";
    for (std::size_t i = 0; i < labels.size(); ++i)
        clash[i] = shared(i);
    for (std::size_t i = 0; i < labels.size(); ++i)
        if (clash[i])
            labels[i] += " [" + keys[i] + "]";
    return labels;
}

std::optional<double> UsageWindow::length() const {
    if (windowSeconds)
        return windowSeconds;
    if (key.starts_with("five_hour") || key == "codex_5h")
        return kFiveHours;
    if (key.starts_with("seven_day") || key == "codex_week")
        return kSevenDays;
    return std::nullopt;
}

std::optional<double> UsageWindow::elapsedFraction(Instant now) const {
    const std::optional<double> len = length();
    if (!len || !resetsAt)
        return std::nullopt;
    const double remaining = DateTime::secondsBetween(now, *resetsAt);
    if (remaining < 0)
        return 1.0;
    const double fraction = 1.0 - remaining / *len;
    if (std::isnan(fraction))
        return std::nullopt; // a zero length with no time left
    return std::clamp(fraction, 0.0, 1.0);
}

std::string UsageWindow::remainShort(Instant until, Instant now) {
    using namespace std::chrono;
    const auto left = until > now ? until - now : Instant::duration::zero();
    const long long minutes = duration_cast<std::chrono::minutes>(left).count();
    if (minutes <= 59)
        return Text::fill(TR("残%1分"), {std::to_string(minutes)});
    if (minutes < 2880)
        return Text::fill(TR("残%1h"), {std::to_string(minutes / 60)});
    return Text::fill(TR("残%1日"), {std::to_string(minutes / 1440)});
}

std::string UsageWindow::readingAge(Instant takenAt, Instant now) {
    using namespace std::chrono;
    const auto age = now > takenAt ? now - takenAt : Instant::duration::zero();
    const long long minutes = std::max<long long>(1, duration_cast<std::chrono::minutes>(age).count());
    if (minutes <= 59)
        return Text::fill(TR("%1分前の値"), {std::to_string(minutes)});
    if (minutes < 2880)
        return Text::fill(TR("%1時間前の値"), {std::to_string(minutes / 60)});
    return Text::fill(TR("%1日前の値"), {std::to_string(minutes / 1440)});
}

void sortForDisplay(std::vector<UsageWindow>& windows) {
    std::stable_sort(windows.begin(), windows.end(), [](const UsageWindow& a, const UsageWindow& b) {
        const int oa = UsageWindow::order(a.key);
        const int ob = UsageWindow::order(b.key);
        if (oa != ob)
            return oa < ob;
        return a.key < b.key;
    });
}

std::string UsageWindow::percentText(double utilization) {
    if (!std::isfinite(utilization))
        return "–%";
    return std::to_string(static_cast<long long>(std::round(utilization))) + "%";
}
