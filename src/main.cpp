// Process entry. The status line runs here alone: claude may call it several times a second, so
// it must not pay for loading Qt, libcurl and libsecret. Everything else is in the module
// "ulmet-full.so", loaded on demand from beside this executable (the build tree) or from the
// program's library directory.

#include "base/FileIO.h"
#include "base/Language.h"
#include "base/Modules.h"
#include "base/Paths.h"
#include "cli/Verbs.h"
#include "config/ConfigStore.h"
#include "statusline/StatusLineCommand.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdio>
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

// The core's texts in the user's language, for what this executable prints itself (each module
// it loads has its own copy of the core and chooses there).
void useLanguage() {
    Language::use(ConfigStore::chosenLanguage(), Language::localeDir(selfExecutable().parent_path()));
}

int runStatusLine() {
    std::signal(SIGPIPE, SIG_IGN); // claude closing the pipe early must not kill the call
    useLanguage();
    const StatusLineCommand::Environment env{ConfigStore::baseDir(), Paths::homeDir(),
                                             std::getenv("CLAUDE_CONFIG_DIR"),
                                             std::chrono::system_clock::now()};
    return StatusLineCommand::run(STDIN_FILENO, std::cout, env);
}

int runStatusLineInstall(const std::string& dir) {
    useLanguage();
    fs::path self = selfExecutable();
    if (self.empty()) {
        std::cerr << "ulmet: cannot tell where this executable is\n";
        return 1;
    }
    const auto result = StatusLineCommand::install(Paths::expandTilde(dir, Paths::homeDir()),
                                                   StatusLineCommand::commandFor(self));
    (result.failed ? std::cerr : std::cout) << result.message << '\n';
    return result.failed ? 1 : 0;
}

// Runs `entryName` of the module `moduleName` ("ulmet-full.so", "ulmet-cli.so").
int runModule(const char* moduleName, const char* entryName, int argc, char** argv) {
    using Entry = int (*)(int, char**);
    const fs::path self = selfExecutable();
    std::vector<fs::path> candidates;
    if (!self.empty())
        candidates.push_back(self.parent_path() / moduleName);
    candidates.push_back(fs::path(ULMET_MODULE_DIR) / moduleName);
    std::string errors;
    for (const fs::path& path : candidates) {
        std::error_code error;
        if (!fs::is_regular_file(path, error))
            continue;
        if (auto entry = reinterpret_cast<Entry>(Modules::entry(path, entryName, errors)))
            return entry(argc, argv); // never unloaded: it runs until the process ends
    }
    std::cerr << "ulmet: cannot load the program module " << moduleName << " (looked beside " << self.string()
              << " and in " << ULMET_MODULE_DIR << ")" << errors << '\n';
    return 1;
}

int runFull(int argc, char** argv) {
    return runModule("ulmet-full.so", "ulmet_full_main", argc, argv);
}

// The configured profiles' names, one per line, for shell completion: read only, never written.
int listProfiles() {
    std::error_code error;
    const auto text = FileIO::readFile(ConfigStore::baseDir() / "config.json", std::size_t(16) << 20, error);
    if (const auto config = text ? AppConfig::decode(*text) : std::nullopt)
        for (const ProfileConfig& p : config->profiles)
            if (p.name.find('\n') == std::string::npos)
                std::cout << p.name << '\n';
    return 0;
}

// Whether a connection to `path` (a listening Unix socket; '@' names an abstract one) is accepted.
bool socketAnswers(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    socklen_t length = sizeof address;
    if (path[0] == '@') {
        address.sun_path[0] = '\0';
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return ok;
}

// Whether a display is there to show the tray application on. Qt gives up on a display it
// cannot reach by aborting the process, so the common cases are asked first: no display at all
// (a text console, SSH without forwarding) or a local one that is gone. A display reached
// otherwise (over TCP), or a platform chosen through QT_QPA_PLATFORM, is left to Qt.
bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        const std::string path =
            wayland[0] == '/' ? std::string(wayland) : std::string(runtime ? runtime : "") + "/" + wayland;
        if (socketAnswers(path))
            return true;
    }
    const char* x = std::getenv("DISPLAY");
    if (!x || !*x)
        return false;
    std::string display = x;
    if (display.rfind("unix:", 0) == 0)
        display.erase(0, 4);
    if (display[0] != ':')
        return true; // host:N, or a socket path: Qt's to try
    const std::string number = display.substr(1, display.find('.') - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return true;
    const std::string socket = "/tmp/.X11-unix/X" + number;
    return socketAnswers(socket) || socketAnswers("@" + socket);
}

// QtDBus's connection thread outlives a module's main, and the destructors exit() runs (Qt's type
// registry among them) race with it: now and then a script read "QReadWriteLock: destroying locked
// QReadWriteLock" and "Trying to construct an instance of an invalid type" after a verb's answer.
// Everything a verb writes is written when its module returns, so it ends there.
[[noreturn]] void endWithoutExitHandlers(int status) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace

int main(int argc, char** argv) {
    const Verbs::Command command = Verbs::parse(argc, argv);
    if (command.error) {
        std::cerr << "ulmet: " << *command.error << '\n' << Verbs::usage();
        return Verbs::kUsage;
    }
    switch (command.verb) {
    case Verbs::Verb::statusLine:
        return runStatusLine();
    case Verbs::Verb::statusLineInstall:
        return runStatusLineInstall(command.operand);
    case Verbs::Verb::listProfiles:
        return listProfiles();
    case Verbs::Verb::help:
        std::cout << "MeterKeeper: how much of each rate-limit window your claude (and codex) accounts "
                     "have used.\n"
                  << Verbs::usage();
        return 0;
    case Verbs::Verb::version:
        std::cout << "ulmet " << ULMET_VERSION << '\n';
        return 0;
    default:
        break;
    }
    const Verbs::Option& option = command.option();
    if (option.runs == Verbs::Runs::busClient) {
        // The bus client asks the running MeterKeeper; without one, the program module does the
        // work (-1).
        int status = runModule("ulmet-cli.so", "ulmet_cli_main", argc, argv);
        if (status == -1)
            status = runFull(argc, argv);
        endWithoutExitHandlers(status);
    }
    if (option.needsDisplay && !displayAvailable()) {
        std::cerr
            << "ulmet: no graphical display to show the tray on (DISPLAY and WAYLAND_DISPLAY lead to none); "
               "`ulmet --check` prints the same facts as text\n";
        return 1;
    }
    return runFull(argc, argv);
}
