// Helper of the crash test of a switch: switches between the profiles of the configuration in
// DATA_DIR as `ulmet --switch` does, one after the other, until it is killed. Its secret store is
// the file SECRETS_FILE, its token and profile endpoints those of ULMET_API_ORIGIN and
// ULMET_CONSOLE_ORIGIN. Prints "ready" before the first switch.
//   crash_switcher HOME DATA_DIR SECRETS_FILE SEED

#include "cli/Standalone.h"
#include "config/ConfigStore.h"
#include "net/CurlTransport.h"

#include "CrashSwitch.h"
#include "FakeClock.h"
#include "FileSecretStore.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: crash_switcher HOME DATA_DIR SECRETS_FILE SEED\n");
        return 2;
    }
    const std::filesystem::path home = argv[1];
    const std::filesystem::path dataDir = argv[2];
    testsupport::FileSecretStore secrets(argv[3]);
    CurlTransport http;
    const testsupport::FakeClock clock(crashswitch::now());
    const Services services{http, secrets, clock, home};
    std::minstd_rand random(static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
    const std::vector<ProfileConfig> profiles = ConfigStore::load(dataDir, home).config.profiles;
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        std::ostringstream said;
        Standalone::switchProfile(services, dataDir, profiles[random() % profiles.size()].name, said, said);
    }
}
