// The program beyond the status line, loaded by the entry point when needed: the text diagnostic
// with --check, the verbs for scripts when no MeterKeeper runs to take them, otherwise the tray
// application. Its libraries (Qt, libcurl, libsecret) are loaded
// only with it.

#include "base/Clock.h"
#include "base/Language.h"
#include "base/Paths.h"
#include "check/CheckRunner.h"
#include "config/ConfigStore.h"
#include "net/CurlTransport.h"
#include "secrets/PlatformSecretStore.h"

#ifdef ULMET_WITH_APP
#include "bus/CommandLine.h"
#include "shell/MeterKeeperApp.h"
#endif

#include <algorithm>
#include <csignal>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

int runCheck(const std::vector<std::string>& args) {
    // A closed standard output must not kill the run: the exit status is 0 whatever happened.
    std::signal(SIGPIPE, SIG_IGN);
    std::thread worker([&args] {
        try {
            CurlTransport http;
            auto secrets = makePlatformSecretStore();
            SystemClock clock;
            const Services services{http, *secrets, clock, Paths::homeDir()};
            CheckRunner::run(args, std::cout, services);
        } catch (const std::exception& e) {
            std::cout.flush();
            std::cerr << "ulmet: the check stopped early: " << e.what() << '\n';
        }
    });
    worker.join();
    std::cout.flush();
    return 0;
}

// The core's texts in the user's language (this module has its own copy of the core).
void useLanguage() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    Language::use(ConfigStore::chosenLanguage(), Language::localeDir(self.parent_path()));
}

} // namespace

extern "C" __attribute__((visibility("default"))) int ulmet_full_main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    // A whole-argument, case-sensitive match in any position, the program path included.
    if (std::find(args.begin(), args.end(), "--check") != args.end()) {
        useLanguage();
        return runCheck(args);
    }

#ifdef ULMET_WITH_APP
    // The verbs for scripts, when no running MeterKeeper took them (the entry point asked first).
    for (const char* verb : {"--switch", "--json", "--waybar"})
        if (std::find(args.begin(), args.end(), verb) != args.end())
            return CommandLine::runAlone(argc, argv);
    return MeterKeeperApp::run(argc, argv);
#else
    std::cerr << "ulmet: this build has no tray application (ULMET_BUILD_APP=OFF); "
                 "run `ulmet --check` for the text report.\n";
    return 2;
#endif
}
