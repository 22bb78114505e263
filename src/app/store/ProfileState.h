#pragma once

#include "config/AppConfig.h"
#include "usage/UsageForecast.h"
#include "usage/UsageWindow.h"

#include <deque>
#include <map>
#include <optional>
#include <string>

// What the store knows of one profile this run (the configuration holds what is kept).
struct ProfileState {
    std::optional<ProfileStatus> status; // the latest reading, or why there is none; none: not read
    // Why the latest look failed while `status` keeps the reading taken before it (its age shows);
    // none once a look succeeds.
    std::optional<std::string> problem;
    std::optional<UsageSource> source; // where the latest reading came from
    std::optional<std::string> email;  // the account's address, configured or learned
    std::optional<bool> slotPresent;   // whether its slot holds a login; none: not looked
    // The last two hours of readings per window key, for the forecast.
    std::map<std::string, std::deque<UsageForecast::Reading>> recent;

    const ProfileStatus::Ok* ok() const { return status ? status->okValue() : nullptr; }
};
