#pragma once

// History as the store writes it, made up: three profiles read once a minute. Every record is a
// pure function of its profile and minute, so a test can say what any day file held before and
// what it must hold after thinning without keeping either.
//   profile 0: five_hour, resetting at the 5-hour marks of UTC (a quarter hour's boundary);
//   profile 1: the same plus seven_day, resetting weekly;
//   profile 2: five_hour resetting 7 minutes past the marks, so resets fall inside quarters.
// Reset times wobble by a second from one reading to the next, as the endpoint's do.

#include "history/HistoryStore.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

class SyntheticHistory {
public:
    static constexpr int kProfiles = 3;

    struct Day {
        std::string name;
        Instant begin, end; // the minutes of the day: [begin, end)
    };

    const Uuid& id(int p) const { return m_ids[p]; }

    HistoryRecord record(Instant t, int p) const {
        const long long s = seconds(t);
        const double u = static_cast<double>((s / 60 * 7 + p * 13) % 1000) / 10;
        HistoryRecord r{t, m_ids[p], {}};
        r.windows.push_back(
            {"five_hour", u, at(nextMark(s, kFiveHours, offset(p)) - s / 60 % 2), std::nullopt});
        if (p == 1)
            r.windows.push_back({"seven_day", u / 3, at(nextMark(s, kWeek, 0) - s / 60 % 2), std::nullopt});
        return r;
    }

    std::string line(Instant t, int p) const { return *HistoryStore::encodeLine(record(t, p)); }

    // Whether thinning keeps the record of profile p at minute t of a day ending at `end`: the
    // last of its quarter hour, or the last before one of its windows resets.
    bool kept(Instant t, int p, Instant end) const {
        const long long s = seconds(t), n = s + 60;
        if (t + std::chrono::minutes(1) >= end || s / 900 != n / 900)
            return true;
        if (nextMark(s, kFiveHours, offset(p)) != nextMark(n, kFiveHours, offset(p)))
            return true;
        return p == 1 && nextMark(s, kWeek, 0) != nextMark(n, kWeek, 0);
    }

    // One day file's text before thinning, and after.
    std::string text(const Day& day, bool thinned) const {
        std::string out;
        for (Instant t = day.begin; t < day.end; t += std::chrono::minutes(1))
            for (int p = 0; p < kProfiles; ++p)
                if (!thinned || kept(t, p, day.end))
                    out += line(t, p);
        return out;
    }

    // Writes every minute from `from` up to `to` (whole minutes) into `dir`, one file per local day.
    std::vector<Day> write(const std::filesystem::path& dir, Instant from, Instant to) const {
        std::filesystem::create_directories(dir);
        std::vector<Day> days;
        std::ofstream out;
        std::string buffer;
        auto flush = [&] {
            if (days.empty())
                return;
            out.open(dir / days.back().name, std::ios::binary | std::ios::trunc);
            out << buffer;
            out.close();
            buffer.clear();
        };
        for (Instant t = std::chrono::floor<std::chrono::minutes>(from); t < to;
             t += std::chrono::minutes(1)) {
            const std::string name = HistoryStore::dayFileName(t);
            if (days.empty() || days.back().name != name) {
                flush();
                days.push_back({name, t, t});
            }
            days.back().end = t + std::chrono::minutes(1);
            for (int p = 0; p < kProfiles; ++p)
                buffer += line(t, p);
        }
        flush();
        return days;
    }

private:
    static constexpr long long kFiveHours = 5 * 3600, kWeek = 7 * 86400;
    static long long seconds(Instant t) {
        return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
    }
    static Instant at(long long s) { return Instant(std::chrono::seconds(s)); }
    static long long offset(int p) { return p == 2 ? 7 * 60 : 0; }
    static long long nextMark(long long s, long long period, long long offset) {
        return ((s - offset) / period + 1) * period + offset;
    }

    Uuid m_ids[kProfiles] = {*Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
                             *Uuid::parse("0F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0"),
                             *Uuid::parse("11111111-2222-4333-8444-555555555555")};
};

} // namespace testsupport
