// Process entry. The status line runs here alone: claude may call it several times a second, so
// it must not pay for loading Qt, libcurl and libsecret. Everything else is in the module
// "ulmet-full.so", loaded on demand from beside this executable (the build tree) or from the
// program's library directory.

#include "base/Paths.h"
#include "config/ConfigStore.h"
#include "statusline/StatusLineCommand.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path selfExecutable() {
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self;
}

int runStatusLine() {
    std::signal(SIGPIPE, SIG_IGN); // claude closing the pipe early must not kill the call
    const StatusLineCommand::Environment env{ConfigStore::baseDir(), Paths::homeDir(),
                                             std::getenv("CLAUDE_CONFIG_DIR"),
                                             std::chrono::system_clock::now()};
    return StatusLineCommand::run(STDIN_FILENO, std::cout, env);
}

int runStatusLineInstall(const std::vector<std::string>& args) {
    const auto it = std::find(args.begin(), args.end(), "--statusline-install");
    if (it + 1 == args.end()) {
        std::cerr
            << "usage: ulmet --statusline-install DIR (a claude configuration directory, e.g. ~/.claude)\n";
        return 2;
    }
    fs::path self = selfExecutable();
    if (self.empty()) {
        std::cerr << "ulmet: cannot tell where this executable is\n";
        return 1;
    }
    const auto result = StatusLineCommand::install(Paths::expandTilde(*(it + 1), Paths::homeDir()),
                                                   StatusLineCommand::commandFor(self));
    (result.failed ? std::cerr : std::cout) << result.message << '\n';
    return result.failed ? 1 : 0;
}

// Why the module (or its folder) may not be loaded: code that another user could have written
// would run as us. Empty when it is ours or root's and writable by nobody else.
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

int runFull(int argc, char** argv) {
    using Entry = int (*)(int, char**);
    const fs::path self = selfExecutable();
    std::vector<fs::path> candidates;
    if (!self.empty())
        candidates.push_back(self.parent_path() / "ulmet-full.so");
    candidates.push_back(fs::path(ULMET_MODULE_DIR) / "ulmet-full.so");
    std::string errors;
    for (const fs::path& path : candidates) {
        std::error_code error;
        if (!fs::is_regular_file(path, error))
            continue;
        if (const std::string unsafe = unsafeToLoad(path); !unsafe.empty()) {
            errors += "\n  " + unsafe;
            continue;
        }
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            errors += std::string("\n  ") + ::dlerror();
            continue;
        }
        if (auto entry = reinterpret_cast<Entry>(::dlsym(module, "ulmet_full_main")))
            return entry(argc, argv); // never unloaded: it runs until the process ends
        errors += "\n  " + path.string() + ": no entry point";
    }
    std::cerr << "ulmet: cannot load the program module ulmet-full.so (looked beside " << self.string()
              << " and in " << ULMET_MODULE_DIR << ")" << errors << '\n';
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (std::find(args.begin(), args.end(), "--statusline") != args.end())
        return runStatusLine();
    if (std::find(args.begin(), args.end(), "--statusline-install") != args.end())
        return runStatusLineInstall(args);
    return runFull(argc, argv);
}
