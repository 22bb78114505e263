// LD_PRELOAD shim of the crash tests: logs every fsync and fdatasync (with the file's path) and
// every rename, one line each, to the file that ULMET_FSYNC_LOG names. A kill cannot show a
// lost page cache; this shows that a file was flushed before it took its place.

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

void logLine(const char* what, const char* a, const char* b) {
    const char* log = std::getenv("ULMET_FSYNC_LOG");
    if (!log)
        return;
    if (std::FILE* f = std::fopen(log, "a")) {
        std::fprintf(f, "%s %s %s\n", what, a, b);
        std::fclose(f);
    }
}

void logFd(const char* what, int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[PATH_MAX];
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    path[n > 0 ? n : 0] = '\0';
    logLine(what, path, "");
}

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd) {
    static const auto real = next<int (*)(int)>("fsync");
    logFd("fsync", fd);
    return real(fd);
}

extern "C" int fdatasync(int fd) {
    static const auto real = next<int (*)(int)>("fdatasync");
    logFd("fsync", fd);
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) {
    static const auto real = next<int (*)(const char*, const char*)>("rename");
    logLine("rename", from, to);
    return real(from, to);
}
