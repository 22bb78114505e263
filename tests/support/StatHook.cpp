#include "StatHook.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex;
std::string g_path;
std::function<void()> g_action;
std::atomic<int> g_calls{0};
thread_local bool t_inAction = false;

void before(const char* path) {
    if (t_inAction || !path)
        return;
    std::function<void()> action;
    {
        const std::lock_guard lock(g_mutex);
        if (!g_action || g_path != path)
            return;
        action = g_action;
    }
    t_inAction = true;
    action();
    t_inAction = false;
    ++g_calls;
}

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int stat(const char* __restrict path, struct stat* __restrict buf) noexcept {
    static const auto real = next<int (*)(const char*, struct stat*)>("stat");
    before(path);
    return real(path, buf);
}

extern "C" int stat64(const char* __restrict path, struct stat64* __restrict buf) noexcept {
    static const auto real = next<int (*)(const char*, struct stat64*)>("stat64");
    before(path);
    return real(path, buf);
}

namespace testsupport {

StatHook::StatHook(const std::filesystem::path& path, std::function<void()> action) {
    const std::lock_guard lock(g_mutex);
    g_path = path.string();
    g_action = std::move(action);
    g_calls = 0;
}

StatHook::~StatHook() {
    const std::lock_guard lock(g_mutex);
    g_action = nullptr;
    g_path.clear();
}

int StatHook::calls() const {
    return g_calls;
}

} // namespace testsupport
