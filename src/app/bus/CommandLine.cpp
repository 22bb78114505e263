#include "bus/CommandLine.h"

#include "bus/BusClient.h"

#include "base/Clock.h"
#include "base/Json.h"
#include "base/Paths.h"
#include "config/ConfigStore.h"
#include "net/CurlTransport.h"
#include "platform/Translations.h"
#include "readings/OneShot.h"
#include "readings/ProfileQuery.h"
#include "readings/WaybarOutput.h"
#include "secrets/PlatformSecretStore.h"
#include "store/Sleeper.h"
#include "store/UsageStore.h"

#include <QCoreApplication>

#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace CommandLine {
namespace {

using BusClient::kFailed;
using BusClient::kNoSuchProfile;

// Readings taken here, once, on a thread of their own as `ulmet --check` takes them.
std::string oneShotReadings() {
    std::string document;
    std::exception_ptr failure;
    std::thread worker([&document, &failure] {
        try {
            CurlTransport http;
            const auto secrets = makePlatformSecretStore();
            SystemClock clock;
            const Services services{http, *secrets, clock, Paths::homeDir()};
            document = OneShot::collect(services).toJson(clock.now());
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return document;
}

int switchAlone(int argc, char** argv, const std::string& query) {
    QCoreApplication app(argc, argv);
    const Translations translations;
    CurlTransport http;
    const auto secrets = makePlatformSecretStore();
    SystemClock clock;
    TimerSleeper sleeper;
    UsageStore store(StoreDependencies{Services{http, *secrets, clock, Paths::homeDir()},
                                       ConfigStore::baseDir(), nullptr, &sleeper, nullptr, true});
    const ProfileQuery::Match match = ProfileQuery::find(store.config().profiles, query);
    if (match.kind != ProfileQuery::Match::Kind::found) {
        std::cerr << match.message << '\n';
        return kNoSuchProfile;
    }
    UsageStore::SwitchOutcome outcome;
    bool done = false;
    // A named closure: the coroutine keeps using its captures until it ends.
    const auto switchAndQuit = [&]() -> QCoro::Task<> {
        outcome = co_await store.switchProfile(*match.profile);
        done = true;
        QCoreApplication::quit();
    };
    const QCoro::Task<> task = switchAndQuit();
    if (!done)
        QCoreApplication::exec();
    (outcome.switched ? std::cout : std::cerr) << outcome.message << '\n';
    return outcome.switched ? 0 : kFailed;
}

} // namespace

int runAlone(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 2 && args[0] == "--switch")
            return switchAlone(argc, argv, args[1]);
        const std::string document = oneShotReadings();
        if (args == std::vector<std::string>{"--waybar"})
            std::cout << WaybarOutput::line(Json::parse(document).value_or(nlohmann::json()),
                                            std::chrono::system_clock::now())
                      << '\n';
        else
            std::cout << document << '\n';
        std::cout.flush();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "ulmet: " << e.what() << '\n';
        return kFailed;
    }
}

} // namespace CommandLine
