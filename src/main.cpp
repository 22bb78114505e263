// Process entry. The status line runs here alone: claude may call it several times a second, so
// it must not pay for loading Qt, libcurl and libsecret. Everything else is in the module
// "ulmet-full.so", loaded on demand from beside this executable (the build tree) or from the
// program's library directory.

#include "base/FileIO.h"
#include "base/Language.h"
#include "base/Modules.h"
#include "base/Paths.h"
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

int runStatusLineInstall(const std::vector<std::string>& args) {
    useLanguage();
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

constexpr const char* kUsage =
    "usage: ulmet [--check [--raw] | --switch PROFILE | --refresh | --json | --waybar [--watch]\n"
    "              | --list-profiles | --statusline | --statusline-install DIR | --help | --version]\n"
    "  (none)                    run MeterKeeper in the tray (a second start shows the running one's panel)\n"
    "  --check                   print every profile's login, account and usage windows as text, and exit\n"
    "  --raw                     with --check: also print the HTTP status and body of each usage answer\n"
    "  --switch PROFILE          make PROFILE's login (a name, e-mail address or id) claude's live login;\n"
    "                            through the running MeterKeeper when there is one\n"
    "  --refresh                 have the running MeterKeeper read every profile now\n"
    "  --json                    print every profile's readings as one JSON document (see ulmet(1))\n"
    "  --waybar                  print one line for a waybar custom module (also i3blocks, polybar)\n"
    "  --watch                   with --waybar: a new line at every change, for as long as it runs\n"
    "  --list-profiles           print the configured profiles' names, one per line\n"
    "  --statusline              what claude runs as its status line: file its reading, print one line\n"
    "  --statusline-install DIR  make ulmet the status line of the claude configuration directory DIR\n"
    "  --help                    print this help, and exit\n"
    "  --version                 print the version, and exit\n";

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
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (std::find(args.begin(), args.end(), "--statusline") != args.end())
        return runStatusLine();
    if (std::find(args.begin(), args.end(), "--statusline-install") != args.end())
        return runStatusLineInstall(args);
    // The check takes whatever else is given (older scripts pass more); everything else is exact.
    if (std::find(args.begin(), args.end(), "--check") != args.end())
        return runFull(argc, argv);
    // The verbs for scripts check their own arguments and ask the running MeterKeeper; without
    // one, the full program does the work (-1).
    for (const char* verb : {"--switch", "--refresh", "--json", "--waybar", "--watch"})
        if (std::find(args.begin(), args.end(), verb) != args.end()) {
            int status = runModule("ulmet-cli.so", "ulmet_cli_main", argc, argv);
            if (status == -1)
                status = runFull(argc, argv);
            endWithoutExitHandlers(status);
        }
    if (args.size() == 1 && args[0] == "--list-profiles")
        return listProfiles();
    if (!args.empty()) {
        if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
            std::cout << "MeterKeeper: how much of each rate-limit window your claude (and codex) accounts "
                         "have used.\n"
                      << kUsage;
            return 0;
        }
        if (args.size() == 1 && (args[0] == "--version" || args[0] == "-V")) {
            std::cout << "ulmet " << ULMET_VERSION << '\n';
            return 0;
        }
        const auto odd = std::find_if(args.begin(), args.end(), [](const std::string& a) {
            return a != "--help" && a != "-h" && a != "--version" && a != "-V";
        });
        std::cerr << "ulmet: " << (odd == args.end() ? "one option at a time" : "unknown option " + *odd)
                  << '\n'
                  << kUsage;
        return 2;
    }
    if (!displayAvailable()) {
        std::cerr
            << "ulmet: no graphical display to show the tray on (DISPLAY and WAYLAND_DISPLAY lead to none); "
               "`ulmet --check` prints the same facts as text\n";
        return 1;
    }
    return runFull(argc, argv);
}
