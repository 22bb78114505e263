#include "cli/Standalone.h"

#include "base/Clock.h"
#include "base/Json.h"
#include "base/Paths.h"
#include "claude/AccountSteps.h"
#include "claude/ActiveCredentialStore.h"
#include "claude/SlotCustodian.h"
#include "cli/Verbs.h"
#include "config/ConfigStore.h"
#include "net/CurlTransport.h"
#include "readings/OneShot.h"
#include "readings/ProfileQuery.h"
#include "readings/WaybarOutput.h"
#include "secrets/PlatformSecretStore.h"

#include <exception>
#include <thread>

namespace Standalone {

int switchProfile(const Services& services, const std::filesystem::path& baseDir, const std::string& query,
                  std::ostream& out, std::ostream& err) {
    const ConfigStore::Loaded loaded = ConfigStore::load(baseDir, services.home);
    AppConfig config = loaded.config;
    const ProfileQuery::Match match = ProfileQuery::find(config.profiles, query);
    if (match.kind != ProfileQuery::Match::Kind::found) {
        err << match.message << '\n';
        return Verbs::kNoSuchProfile;
    }
    const ProfileConfig target = *match.profile;
    ActiveCredentialStore::removeLeftovers(services.home);
    SlotCustodian custodian(services, baseDir);
    const AccountSteps::Switch result = AccountSteps::switchTo(services, custodian, config.profiles, target);
    // The new active profile is written unless config.json has a fault: the person's file is left
    // as they wrote it (the running program follows the live login when it starts).
    bool changed = false;
    if (result.outgoingIdentity)
        for (ProfileConfig& p : config.profiles)
            if (p.id == result.outgoingIdentity->profile &&
                p.accountIdentity != result.outgoingIdentity->blob) {
                p.accountIdentity = result.outgoingIdentity->blob;
                changed = true;
            }
    if (result.switched && config.activeProfileID != target.id) {
        config.activeProfileID = target.id;
        changed = true;
    }
    if (loaded.fault)
        err << ConfigStore::describe(*loaded.fault, (baseDir / "config.json").string()) << '\n';
    else if (changed)
        ConfigStore::save(config, baseDir);
    (result.switched ? out : err) << result.message << '\n';
    return result.switched ? 0 : Verbs::kFailed;
}

int readings(const Services& services, bool waybar, std::ostream& out, std::ostream&) {
    const std::string document = OneShot::collect(services).toJson(services.clock.now());
    if (waybar)
        out << WaybarOutput::line(Json::parse(document).value_or(nlohmann::json()), services.clock.now());
    else
        out << document;
    out << '\n';
    out.flush();
    return 0;
}

int withRealServices(const std::function<int(const Services&)>& verb, std::ostream& err) {
    int status = Verbs::kFailed;
    std::thread worker([&] {
        try {
            CurlTransport http;
            const auto secrets = makePlatformSecretStore();
            const Services services{http, *secrets, Clock::system(), Paths::homeDir()};
            status = verb(services);
        } catch (const std::exception& e) {
            err << "ulmet: " << e.what() << '\n';
            status = Verbs::kFailed;
        }
    });
    worker.join();
    return status;
}

} // namespace Standalone
