// The program beyond the entry point, loaded by it when needed: the text diagnostic with --check,
// the verbs for scripts when no MeterKeeper runs to take them, otherwise the tray application.
// Its libraries (Qt, libcurl, libsecret) are loaded only with it.

#include "base/Language.h"
#include "check/CheckRunner.h"
#include "cli/Standalone.h"
#include "cli/Verbs.h"
#include "config/ConfigStore.h"

#ifdef ULMET_WITH_APP
#include "shell/MeterKeeperApp.h"
#endif

#include <csignal>
#include <filesystem>
#include <iostream>

namespace {

// The core's texts in the user's language (this module has its own copy of the core).
void useLanguage() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    Language::use(ConfigStore::chosenLanguage(), Language::localeDir(self.parent_path()));
}

int runCheck(bool raw) {
    // The exit status is 0 whatever happened: the report says it.
    Standalone::withRealServices(
        [raw](const Services& services) {
            try {
                CheckRunner::run(raw, std::cout, services);
            } catch (const std::exception& e) {
                std::cout.flush();
                std::cerr << "ulmet: the check stopped early: " << e.what() << '\n';
            }
            return 0;
        },
        std::cerr);
    std::cout.flush();
    return 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int ulmet_full_main(int argc, char** argv) {
    const Verbs::Command command = Verbs::parse(argc, argv);
    switch (command.verb) {
    // A closed standard output must not kill a verb.
    case Verbs::Verb::check:
        std::signal(SIGPIPE, SIG_IGN);
        useLanguage();
        return runCheck(command.raw);
    // The verbs for scripts, when no running MeterKeeper took them (the entry point asked first).
    case Verbs::Verb::switchTo:
        std::signal(SIGPIPE, SIG_IGN);
        useLanguage();
        return Standalone::withRealServices(
            [&command](const Services& services) {
                return Standalone::switchProfile(services, ConfigStore::baseDir(), command.operand, std::cout,
                                                 std::cerr);
            },
            std::cerr);
    case Verbs::Verb::json:
    case Verbs::Verb::waybar:
        std::signal(SIGPIPE, SIG_IGN);
        useLanguage();
        return Standalone::withRealServices(
            [&command](const Services& services) {
                return Standalone::readings(services, command.verb == Verbs::Verb::waybar, std::cout,
                                            std::cerr);
            },
            std::cerr);
    default:
        break;
    }
#ifdef ULMET_WITH_APP
    return MeterKeeperApp::run(argc, argv);
#else
    std::cerr << "ulmet: this build has no tray application (ULMET_BUILD_APP=OFF); "
                 "run `ulmet --check` for the text report.\n";
    return 2;
#endif
}
