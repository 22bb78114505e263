#include "claude/CustodyLock.h"

#include "base/Errors.h"
#include "base/FileIO.h"
#include "base/Language.h"
#include "base/Text.h"

#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <thread>

namespace fs = std::filesystem;

// One per data folder in this process: which thread has the turn (and how often it holds it),
// and the file lock while it does.
// WORKAROUND(GCC 12's ThreadSanitizer has no interceptor for pthread_mutex_clocklock, which
// std::recursive_timed_mutex::try_lock_until calls: it saw every unlock of one as an unlock of
// an unlocked mutex): the turn is a plain mutex and a condition variable.
struct CustodyLock::Shared {
    std::mutex mutex;
    std::condition_variable released;
    std::thread::id owner; // under `mutex`; none while no thread has the turn
    int depth = 0;         // under `mutex`
    FileIO::UniqueFd fd;   // the owner's
};

namespace {

std::shared_ptr<CustodyLock::Shared> sharedFor(const fs::path& dir) {
    static std::mutex mutex;
    static std::map<fs::path, std::shared_ptr<CustodyLock::Shared>> all;
    std::error_code error;
    fs::path key = fs::weakly_canonical(dir, error);
    if (error)
        key = fs::absolute(dir, error);
    const std::lock_guard lock(mutex);
    auto& shared = all[key.lexically_normal()];
    if (!shared)
        shared = std::make_shared<CustodyLock::Shared>();
    return shared;
}

Error busy() {
    return Error(TR("別の MeterKeeper がログインを操作中です。しばらくしてからやり直してください"));
}

} // namespace

CustodyLock::CustodyLock(const fs::path& dataDir, std::chrono::milliseconds wait)
    : m_shared(sharedFor(dataDir)) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const auto me = std::this_thread::get_id();
    {
        std::unique_lock lock(m_shared->mutex);
        if (m_shared->owner == me) { // held again: the same hold
            ++m_shared->depth;
            return;
        }
        if (!m_shared->released.wait_until(lock, deadline,
                                           [&] { return m_shared->owner == std::thread::id(); }))
            throw busy();
        m_shared->owner = me;
    }
    const auto giveUp = [&] {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->owner = std::thread::id();
        m_shared->released.notify_all();
    };
    std::error_code error;
    if (!FileIO::createDirectories(dataDir, 0700, error)) {
        giveUp();
        throw FileError(dataDir, error);
    }
    const fs::path file = dataDir / kFileName;
    FileIO::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        const int e = errno;
        giveUp();
        throw FileError(file, std::error_code(e, std::generic_category()));
    }
    // Another process's turn ends within its operation (a few network exchanges at most).
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        if (e != EWOULDBLOCK && e != EINTR) {
            giveUp();
            throw FileError(file, std::error_code(e, std::generic_category()));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            giveUp();
            throw busy();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::lock_guard lock(m_shared->mutex);
    m_shared->fd = std::move(fd);
    m_shared->depth = 1;
}

CustodyLock::~CustodyLock() {
    const std::lock_guard lock(m_shared->mutex);
    if (--m_shared->depth > 0)
        return;
    m_shared->fd.reset(); // closing the file ends the flock
    m_shared->owner = std::thread::id();
    m_shared->released.notify_all();
}
