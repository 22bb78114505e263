#include "claude/CustodyLock.h"

#include "base/Errors.h"
#include "base/FileIO.h"
#include "base/Language.h"
#include "base/Text.h"

#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <thread>

namespace fs = std::filesystem;

// One per data folder in this process: the threads' turn, and the file lock while any holds it.
struct CustodyLock::Shared {
    std::recursive_timed_mutex turn;
    int depth = 0; // under `turn`
    FileIO::UniqueFd fd;
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
    if (!m_shared->turn.try_lock_until(deadline))
        throw busy();
    std::unique_lock turn(m_shared->turn, std::adopt_lock);
    if (m_shared->depth == 0) {
        std::error_code error;
        if (!FileIO::createDirectories(dataDir, 0700, error))
            throw FileError(dataDir, error);
        const fs::path file = dataDir / kFileName;
        FileIO::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd)
            throw FileError(file, std::error_code(errno, std::generic_category()));
        // Another process's turn ends within its operation (a few network exchanges at most).
        while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                throw FileError(file, std::error_code(errno, std::generic_category()));
            if (std::chrono::steady_clock::now() >= deadline)
                throw busy();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_shared->fd = std::move(fd);
    }
    ++m_shared->depth;
    turn.release();
}

CustodyLock::~CustodyLock() {
    if (--m_shared->depth == 0)
        m_shared->fd.reset(); // closing the file ends the flock
    m_shared->turn.unlock();
}
