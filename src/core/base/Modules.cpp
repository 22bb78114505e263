#include "base/Modules.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace Modules {
namespace {

// Why a file or folder with this status may not hold code we run; empty when it may.
std::string unsafe(const struct stat& st, const fs::path& shown) {
    if (st.st_uid != ::getuid() && st.st_uid != 0)
        return shown.string() + " belongs to another user; not loaded";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return shown.string() + " is writable by other users; not loaded";
    return {};
}

std::string unsafeFolder(const fs::path& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return folder.string() + ": " + std::strerror(errno);
    return unsafe(st, folder);
}

// The file a module's path leads to (links resolved): what is checked and what is loaded.
fs::path realPath(const fs::path& module) {
    std::error_code error;
    fs::path real = fs::canonical(module, error);
    return error ? module : real;
}

// An open file, closed unless it is kept: a loaded module keeps its descriptor for good, since
// the loader knows the module by the descriptor's name and a reused number would name another.
class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    void keep() { m_fd = -1; }

private:
    int m_fd;
};

} // namespace

std::string unsafeToLoad(const fs::path& module) {
    const fs::path real = realPath(module);
    struct stat st {};
    if (::stat(real.c_str(), &st) != 0)
        return real.string() + ": " + std::strerror(errno);
    if (std::string why = unsafe(st, real); !why.empty())
        return why;
    return unsafeFolder(real.parent_path());
}

void* entry(const fs::path& path, const char* entryName, std::string& errors) {
    // The file is opened once, and what is checked and loaded is that open file: a file swapped in
    // at the path between the checks and the load is never run.
    const fs::path real = realPath(path);
    Descriptor file(::open(real.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    std::string why;
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0)
        why = real.string() + ": " + std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        why = real.string() + " is not a file; not loaded";
    if (why.empty())
        why = unsafe(st, real);
    if (why.empty())
        why = unsafeFolder(real.parent_path());
    if (!why.empty()) {
        errors += "\n  " + why;
        return nullptr;
    }
    const std::string opened = "/proc/self/fd/" + std::to_string(file.get());
    void* module = ::dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        errors += "\n  " + real.string() + ": " + ::dlerror();
        return nullptr;
    }
    file.keep();
    if (void* symbol = ::dlsym(module, entryName))
        return symbol;
    errors += "\n  " + real.string() + ": no entry point";
    return nullptr;
}

fs::path fileOf(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname)
        return {};
    const fs::path name = info.dli_fname;
    if (!name.string().starts_with("/proc/self/fd/"))
        return name;
    std::error_code error;
    fs::path real = fs::read_symlink(name, error);
    return error ? fs::path() : real;
}

} // namespace Modules
