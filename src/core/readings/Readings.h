#pragma once

#include "config/AppConfig.h"
#include "usage/UsageWindow.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What scripts and status bars are told about every profile: its latest reading or error, where
// the reading came from, and when each window fills at its recent pace. The running store builds
// it from its state (`ulmet --json`, the D-Bus interface); without a running store OneShot reads
// it once. Its JSON document (docs/json.md) never holds a token.
struct Readings {
    // The document's format; raised only when a member changes its meaning or goes away.
    static constexpr int kFormatVersion = 1;

    struct Window {
        UsageWindow window;
        std::optional<Instant> fullAt; // when it fills at its recent pace, before its reset
        friend bool operator==(const Window&, const Window&) = default;
    };
    struct Profile {
        Uuid id;
        std::string name;
        Provider provider = Provider::claude;
        std::optional<std::string> email;
        bool active = false;
        std::optional<std::string> source; // "api", "statusLine", "codexLog"; none when not known
        std::optional<std::string> error;  // the last attempt's message; no windows then
        // The last attempt failed, for this reason, after a reading: the windows are that reading.
        std::optional<std::string> staleBecause;
        std::optional<Instant> readAt;
        std::vector<Window> windows; // in display order
        friend bool operator==(const Profile&, const Profile&) = default;
    };

    std::vector<Profile> profiles; // in configured order
    std::optional<Uuid> shown;     // the profile whose figures the tray shows
    std::optional<Instant> lastRefresh;
    friend bool operator==(const Readings&, const Readings&) = default;

    // When a window of a profile, read at `takenAt`, fills at its recent pace.
    using Forecast = std::function<std::optional<Instant>(const Uuid&, const UsageWindow&, Instant takenAt)>;
    // A profile without an entry in `statuses` has neither windows nor error (not read yet). The
    // shown profile is the active one when it has a reading, else the first with one.
    static Readings build(const AppConfig& config, const std::map<Uuid, ProfileStatus>& statuses,
                          const std::map<Uuid, UsageSource>& sources,
                          const std::map<Uuid, std::string>& emails, const Forecast& forecast,
                          std::optional<Instant> lastRefresh,
                          const std::map<Uuid, std::string>& staleBecause = {});

    // Whether `other` tells the same as this apart from when things were read: a refresh that
    // reads the same figures again changes nothing a script or a status bar shows.
    bool sameFigures(const Readings& other) const;

    // The JSON document, compact, on one line; elapsed fractions as of `now`.
    std::string toJson(Instant now) const;
};
