#include "readings/Readings.h"

#include "base/DateTime.h"
#include "base/Json.h"

#include <cmath>

namespace {

nlohmann::ordered_json isoOrNull(const std::optional<Instant>& t) {
    return t ? nlohmann::ordered_json(DateTime::formatIso8601(*t)) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json textOrNull(const std::optional<std::string>& s) {
    return s ? nlohmann::ordered_json(*s) : nlohmann::ordered_json(nullptr);
}

// A figure as JSON; none for what JSON cannot hold (an answer's NaN).
nlohmann::ordered_json numberOrNull(std::optional<double> value) {
    return value && std::isfinite(*value) ? nlohmann::ordered_json(Json::number(*value))
                                          : nlohmann::ordered_json(nullptr);
}

} // namespace

Readings Readings::build(const AppConfig& config, const std::map<Uuid, ProfileStatus>& statuses,
                         const std::map<Uuid, UsageSource>& sources,
                         const std::map<Uuid, std::string>& emails, const Forecast& forecast,
                         std::optional<Instant> lastRefresh,
                         const std::map<Uuid, std::string>& staleBecause) {
    Readings r;
    r.lastRefresh = lastRefresh;
    for (const ProfileConfig& p : config.profiles) {
        Profile out;
        out.id = p.id;
        out.name = p.name;
        out.provider = p.provider;
        if (const auto e = emails.find(p.id); e != emails.end())
            out.email = e->second;
        else
            out.email = p.accountEmail;
        out.active = config.activeProfileID == p.id;
        if (p.provider == Provider::codex)
            out.source = "codexLog";
        else if (const auto s = sources.find(p.id); s != sources.end())
            out.source = std::string(toString(s->second));
        if (const auto st = statuses.find(p.id); st != statuses.end()) {
            if (const ProfileStatus::Ok* ok = st->second.okValue()) {
                out.readAt = ok->at;
                std::vector<UsageWindow> windows = ok->windows;
                sortForDisplay(windows);
                for (UsageWindow& w : windows) {
                    const auto full = forecast ? forecast(p.id, w, ok->at) : std::nullopt;
                    out.windows.push_back({std::move(w), full});
                }
                if (const auto why = staleBecause.find(p.id); why != staleBecause.end())
                    out.staleBecause = why->second;
            } else {
                out.error = st->second.errorValue()->message;
            }
        }
        r.profiles.push_back(std::move(out));
    }
    for (const ProfileConfig* p : activeFirst(config))
        if (const auto st = statuses.find(p->id); st != statuses.end() && st->second.isOk()) {
            r.shown = p->id;
            break;
        }
    return r;
}

bool Readings::sameFigures(const Readings& other) const {
    const auto untimed = [](Readings r) {
        r.lastRefresh.reset();
        for (Profile& p : r.profiles) {
            p.readAt.reset();
            for (Window& w : p.windows) // NaN, which equals nothing, stands for "no figure"
                if (std::isnan(w.window.utilization))
                    w.window.utilization = -1;
        }
        return r;
    };
    return untimed(*this) == untimed(other);
}

std::string Readings::toJson(Instant now) const {
    nlohmann::ordered_json profilesJson = nlohmann::ordered_json::array();
    for (const Profile& p : profiles) {
        nlohmann::ordered_json windowsJson = nlohmann::ordered_json::array();
        for (const Window& w : p.windows)
            windowsJson.push_back({{"key", w.window.key},
                                   {"label", UsageWindow::label(w.window.key)},
                                   {"utilization", numberOrNull(w.window.utilization)},
                                   {"resetsAt", isoOrNull(w.window.resetsAt)},
                                   {"elapsedFraction", numberOrNull(w.window.elapsedFraction(now))},
                                   {"fullAt", isoOrNull(w.fullAt)}});
        profilesJson.push_back({{"id", p.id.toString()},
                                {"name", p.name},
                                {"provider", std::string(toString(p.provider))},
                                {"email", textOrNull(p.email)},
                                {"active", p.active},
                                {"source", textOrNull(p.source)},
                                {"error", textOrNull(p.error)},
                                {"staleBecause", textOrNull(p.staleBecause)},
                                {"readAt", isoOrNull(p.readAt)},
                                {"windows", std::move(windowsJson)}});
    }
    const nlohmann::ordered_json doc = {
        {"version", kFormatVersion},
        {"program", std::string("ulmet ") + ULMET_VERSION},
        {"generatedAt", DateTime::formatIso8601(now)},
        {"lastRefresh", isoOrNull(lastRefresh)},
        {"shown", shown ? nlohmann::ordered_json(shown->toString()) : nlohmann::ordered_json(nullptr)},
        {"profiles", std::move(profilesJson)}};
    // Names and messages come from files and answers: a byte that is not UTF-8 is replaced
    // rather than ending the document.
    return doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
