// Helper of the crash-consistency test: rewrites the configuration, the live credential file and
// ~/.claude.json in a loop, alternating between two contents, until it is killed (or ROUNDS times).
//   crash_writer HOME CONFIG_DIR [ROUNDS]

#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "config/AppConfig.h"
#include "config/ConfigStore.h"

#include "CrashContents.h"
#include "MemorySecretStore.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: crash_writer HOME CONFIG_DIR [ROUNDS]\n");
        return 2;
    }
    const std::filesystem::path home = argv[1];
    const std::filesystem::path configDir = argv[2];
    testsupport::MemorySecretStore unused; // the live credential is the file here
    const unsigned long rounds = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 0;
    for (unsigned long i = 0; rounds == 0 || i < rounds; ++i) {
        const int v = static_cast<int>(i % 2);
        ConfigStore::save(crashcontents::config(v), configDir);
        ActiveCredentialStore::write(unused, home, crashcontents::credential(v));
        ClaudeAppState::writeIdentity(home, crashcontents::identity(v));
    }
}
