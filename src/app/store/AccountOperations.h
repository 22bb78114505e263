#pragma once

#ifndef Q_MOC_RUN
#include "claude/AccountSteps.h"
#include "config/AppConfig.h"
#include "store/UsageStore.h"
#include <QCoro/QCoroTask>
#endif

// The person's operations on accounts: connecting the secret store, enrolment, capture and the
// switch — each AccountSteps' one job on a turn of the store's lane, its result applied to the
// store — and the profile list's edits. Main thread; owned by the store.
class AccountOperations {
public:
    using SwitchOutcome = UsageStore::SwitchOutcome;

    explicit AccountOperations(UsageStore& store);

    QCoro::Task<> connectKeychain();
    void disconnectKeychain();
    QCoro::Task<> enrollDetectedAccount();
    QCoro::Task<> captureActive(ProfileConfig profile);
    QCoro::Task<> switchTo(ProfileConfig target);
    QCoro::Task<SwitchOutcome> switchProfile(ProfileConfig target);
    // The switch's steps, on a turn of the lane taken by the caller. True when the switch was made.
    QCoro::Task<bool> switchSteps(ProfileConfig target);
    // Stores an identity read from ~/.claude.json in the profile of its account.
    void learnIdentity(const AccountSteps::Identity& learned);

    void addProfile(Provider provider);
    void removeProfile(const Uuid& id);
    void moveProfile(const Uuid& id, int by);
    void moveProfile(const Uuid& id, const Uuid& before);
    bool isDuplicateProfile(const ProfileConfig& profile) const;

private:
    UsageStore& m_store;
};
