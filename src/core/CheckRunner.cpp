#include "CheckRunner.h"

#include "AppConfig.h"
#include "ConfigStore.h"

#include <algorithm>

namespace CheckRunner {
namespace {

std::string headerLine(const ProfileConfig& profile, bool active) {
    std::string line = "== " + profile.name;
    line += profile.provider == Provider::codex ? " [Codex]" : " [Claude]";
    line += " (" + profile.configDir + ")";
    if (active)
        line += " [active]";
    return line;
}

} // namespace

void run(std::span<const std::string> args, std::ostream& out) {
    const bool raw = std::find(args.begin(), args.end(), "--raw") != args.end();
    (void)raw; // the raw usage body is printed with the usage lines

    const AppConfig config = ConfigStore::loadOrCreate();
    out << "ulmet --check\n";
    out << "config: " << (ConfigStore::baseDir() / "config.json").string() << '\n';
    out << "profiles: " << config.profiles.size() << '\n';
    for (const ProfileConfig& profile : config.profiles) {
        const bool active = config.activeProfileID && *config.activeProfileID == profile.id;
        out << '\n' << headerLine(profile, active) << '\n';
    }
    out.flush();
}

} // namespace CheckRunner
