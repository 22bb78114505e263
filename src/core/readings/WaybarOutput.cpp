#include "readings/WaybarOutput.h"

#include "base/Language.h"
#include "base/Text.h"
#include "usage/UsageWindow.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace WaybarOutput {
namespace {

using nlohmann::json;

std::string escapeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string textOf(const json& object, const char* member) {
    const auto it = object.find(member);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<double> numberOf(const json& object, const char* member) {
    const auto it = object.find(member);
    if (it == object.end() || !it->is_number())
        return std::nullopt;
    const double value = it->get<double>();
    return std::isfinite(value) ? std::optional(value) : std::nullopt;
}

std::optional<Instant> timeOf(const json& object, const char* member) {
    const std::string text = textOf(object, member);
    return text.empty() ? std::nullopt : DateTime::parseIso8601(text);
}

const json& arrayOf(const json& object, const char* member) {
    static const json empty = json::array();
    const auto it = object.find(member);
    return it != object.end() && it->is_array() ? *it : empty;
}

// "5時間 62% · リセット 14:32 · 上限 ~13:50"
std::string windowLine(const json& w, Instant now) {
    const std::optional<double> util = numberOf(w, "utilization");
    std::string line = textOf(w, "label") + " " + UsageWindow::percentText(util.value_or(NAN));
    if (const auto resets = timeOf(w, "resetsAt"))
        line += Text::fill(TR(" · リセット %1"), {DateTime::clockText(*resets, now)});
    if (const auto full = timeOf(w, "fullAt"))
        line += Text::fill(TR(" · 上限 ~%1"), {DateTime::clockText(*full, now)});
    return line;
}

std::string line(const std::string& text, const std::string& alt, const std::string& tooltip, const char* cls,
                 int percentage) {
    const nlohmann::ordered_json out = {
        {"text", text}, {"alt", alt}, {"tooltip", tooltip}, {"class", cls}, {"percentage", percentage}};
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace

const char* level(double utilization) {
    if (utilization >= 90)
        return "critical";
    if (utilization >= 70)
        return "warning";
    return "normal";
}

std::string line(const json& readings, Instant now) {
    if (!readings.is_object())
        return line("–", "", "MeterKeeper", "normal", 0);
    const std::string shown = textOf(readings, "shown");
    std::string tooltip = "MeterKeeper";
    std::string text = "–";
    std::string alt;
    std::optional<double> highest;
    for (const json& p : arrayOf(readings, "profiles")) {
        if (!p.is_object())
            continue;
        const std::string name = textOf(p, "name");
        const std::string email = textOf(p, "email");
        tooltip += "\n\n" + (p.value("active", false) ? std::string("● ") : std::string("")) + name;
        if (!email.empty() && email != name)
            tooltip += " (" + email + ")";
        if (const std::string error = textOf(p, "error"); !error.empty())
            tooltip += "\n  " + error;
        else if (arrayOf(p, "windows").empty())
            tooltip += std::string("\n  ") + TR("未取得");
        // A reading kept after a failed look: how old it is, and why it was not read again.
        std::optional<std::string> age;
        if (const auto readAt = timeOf(p, "readAt"); readAt && !textOf(p, "staleBecause").empty()) {
            age = UsageWindow::readingAge(*readAt, now);
            tooltip += "\n  " + *age + " · " + textOf(p, "staleBecause");
        }
        for (const json& w : arrayOf(p, "windows"))
            if (w.is_object())
                tooltip += "\n  " + windowLine(w, now);
        if (shown.empty() || textOf(p, "id") != shown)
            continue;
        // The session and weekly figures, as the tray's glyphs show them.
        std::vector<std::string> figures;
        static constexpr const char* kClaudeKeys[] = {"five_hour", "seven_day"};
        static constexpr const char* kCodexKeys[] = {"codex_5h", "codex_week"};
        for (const char* key : textOf(p, "provider") == "codex" ? kCodexKeys : kClaudeKeys) {
            for (const json& w : arrayOf(p, "windows")) {
                if (!w.is_object() || textOf(w, "key") != key)
                    continue;
                const double util = numberOf(w, "utilization").value_or(NAN);
                figures.push_back(UsageWindow::percentText(util));
                if (std::isfinite(util))
                    highest = std::max(highest.value_or(util), util);
                break;
            }
        }
        alt = name;
        if (!figures.empty()) {
            text = figures.front();
            for (std::size_t i = 1; i < figures.size(); ++i)
                text += " · " + figures[i];
            if (age)
                text += " (" + *age + ")";
        }
    }
    const int percentage = highest ? static_cast<int>(std::lround(std::clamp(*highest, 0.0, 100.0))) : 0;
    return line(escapeMarkup(text), escapeMarkup(alt), escapeMarkup(tooltip), level(highest.value_or(0)),
                percentage);
}

std::string notRunningLine() {
    return line(TR("MeterKeeper 停止中"), "",
                TR("MeterKeeper は起動していません。起動すると使用量を表示します"), "stopped", 0);
}

} // namespace WaybarOutput
