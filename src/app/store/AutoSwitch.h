#pragma once

#ifndef Q_MOC_RUN
#include "base/DateTime.h"
#include "base/Uuid.h"
#include "config/AppConfig.h"
#include "usage/UsageWindow.h"
#include <QCoro/QCoroTask>
#include <optional>
#include <set>
#include <utility>
#include <vector>
#endif

class UsageStore;

// Automatic switching (when the active account's session window is over the threshold, the
// first account of the priority list under it with a slot takes over, at most every five
// minutes), and the forecast of a filling session window with its notice. Main thread; owned by
// the store.
class AutoSwitch {
public:
    explicit AutoSwitch(UsageStore& store);

    // After every cycle: switches when the rules say so, on a turn of the store's lane.
    QCoro::Task<> evaluate();
    // When a window of a profile, read at `takenAt`, fills at its recent pace, if before its reset
    // and still ahead of now.
    std::optional<Instant> forecast(const Uuid& id, const UsageWindow& window, Instant takenAt) const;
    // Tells once per window when the active session window will fill within kForecastWarning.
    void notifyForecast();
    // The person switched to this profile: automatic switching leaves that choice alone until the
    // profile's session window that is current now has reset, or until another profile is active.
    void personChose(const Uuid& id);

private:
    // Whether automatic switching is on, an account is active and the last switch is long enough ago.
    bool due() const;
    // The accounts that may take over from `activeID`, in priority order (slots not looked at).
    std::vector<ProfileConfig> candidates(const Uuid& activeID) const;

    // Whether the person's choice still stands for the active profile (and forgets one that does
    // not).
    bool choiceStands(const Uuid& activeID);

    UsageStore& m_store;
    std::optional<Instant> m_lastSwitchAt;
    struct Choice {
        Uuid profile;
        std::optional<Instant> until; // the reset of its session window then, once known
    };
    std::optional<Choice> m_choice;
    std::set<std::pair<Uuid, Instant>> m_forecastNotified; // (profile, reset) already told
};
