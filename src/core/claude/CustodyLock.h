#pragma once

#include <chrono>
#include <filesystem>
#include <memory>

// The one lock over the profiles' slots, claude's live login and the custody ledger, for every
// thread and every process of this user: an advisory flock on "custody.lock" in the data folder.
// Whatever reads a refresh token to renew it, stores a login or writes claude's login holds it
// from its first read to its last write, so that a second process (ulmet --switch beside the
// tray) never renews or overwrites what the first is about to.
//
// Held again by the thread that holds it, it is the same hold (a switch renews its target under
// its own lock). Two holders in one process on the same folder exclude each other as two
// processes would. Blocking: never on the main thread.
class CustodyLock {
public:
    // Waits up to `wait` for the lock; throws Error when it is still held then, or when the lock
    // file cannot be created.
    explicit CustodyLock(const std::filesystem::path& dataDir,
                         std::chrono::milliseconds wait = std::chrono::seconds(60));
    ~CustodyLock();
    CustodyLock(const CustodyLock&) = delete;
    CustodyLock& operator=(const CustodyLock&) = delete;

    static constexpr const char* kFileName = "custody.lock";

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};
