#include "base/Modules.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace Modules {

std::string unsafeToLoad(const fs::path& module) {
    for (const fs::path& p : {module, module.parent_path()}) {
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0)
            return p.string() + ": " + std::strerror(errno);
        if (st.st_uid != ::getuid() && st.st_uid != 0)
            return p.string() + " belongs to another user; not loaded";
        if (st.st_mode & (S_IWGRP | S_IWOTH))
            return p.string() + " is writable by other users; not loaded";
    }
    return {};
}

void* entry(const fs::path& path, const char* entryName, std::string& errors) {
    if (const std::string unsafe = unsafeToLoad(path); !unsafe.empty()) {
        errors += "\n  " + unsafe;
        return nullptr;
    }
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        errors += std::string("\n  ") + ::dlerror();
        return nullptr;
    }
    if (void* symbol = ::dlsym(module, entryName))
        return symbol;
    errors += "\n  " + path.string() + ": no entry point";
    return nullptr;
}

} // namespace Modules
