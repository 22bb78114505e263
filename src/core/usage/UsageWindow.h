#pragma once

#include "base/DateTime.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One rate-limit window of one account as read at one moment.
struct UsageWindow {
    std::string key;        // e.g. "five_hour", "seven_day_scoped:Opus 4", "codex_week"
    double utilization = 0; // percent used, 0-100
    std::optional<Instant> resetsAt;
    std::optional<double> windowSeconds; // the window's length when the source states it

    friend bool operator==(const UsageWindow&, const UsageWindow&) = default;

    // Sort order of a key: five-hour 0, weekly 1, scoped weekly 2, Opus 3, Fable 4, Sonnet 5,
    // anything else 9.
    static int order(std::string_view key);
    // Japanese label ("5時間", "週・全モデル", ...; with the full-width middle dot U+30FB).
    static std::string label(std::string_view key);
    // Short label for narrow cells ("週·全", ...; with the Latin middle dot U+00B7).
    static std::string compactLabel(std::string_view key);
    // The compact labels of several keys shown side by side, told apart where they would read
    // the same: a Codex key's gets " (Codex)" ("5時間" beside "5時間 (Codex)"), and any that
    // still match get their key in brackets.
    static std::vector<std::string> distinctCompactLabels(const std::vector<std::string>& keys);
    // The length used for the elapsed fraction: windowSeconds, else the key's default.
    std::optional<double> length() const;

    // How much of the window's time has passed, in [0, 1]; none without a reset time or a
    // known length. A reset in the past gives 1.
    std::optional<double> elapsedFraction(Instant now) const;

    // Time left until `until`: "残45分", "残3h", "残2日" (past times give "残0分").
    static std::string remainShort(Instant until, Instant now);
    // How old a reading is, for one shown after a failed look: "12分前の値", "3時間前の値",
    // "2日前の値" (at least a minute).
    static std::string readingAge(Instant takenAt, Instant now);

    // A utilization as the views show it: rounded half away from zero, then "%" ("70%");
    // "–%" for a value that is not a number.
    static std::string percentText(double utilization);
};

// Sorts into display order: by order(key), then by key in code-point order; stable.
void sortForDisplay(std::vector<UsageWindow>& windows);

// A profile's latest result: the windows read and when, or the message of the failure.
class ProfileStatus {
public:
    struct Ok {
        std::vector<UsageWindow> windows;
        Instant at;
        friend bool operator==(const Ok&, const Ok&) = default;
    };
    struct Error {
        std::string message;
        friend bool operator==(const Error&, const Error&) = default;
    };

    static ProfileStatus ok(std::vector<UsageWindow> windows, Instant at) {
        return ProfileStatus(Ok{std::move(windows), at});
    }
    static ProfileStatus error(std::string message) { return ProfileStatus(Error{std::move(message)}); }

    bool isOk() const { return std::holds_alternative<Ok>(m_value); }
    const Ok* okValue() const { return std::get_if<Ok>(&m_value); }
    const Error* errorValue() const { return std::get_if<Error>(&m_value); }

    friend bool operator==(const ProfileStatus&, const ProfileStatus&) = default;

private:
    explicit ProfileStatus(std::variant<Ok, Error> value)
        : m_value(std::move(value)) {}
    std::variant<Ok, Error> m_value;
};
