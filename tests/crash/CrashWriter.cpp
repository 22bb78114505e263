// Helper of the crash-consistency test: rewrites the configuration, the live credential file and
// ~/.claude.json in a loop, alternating between two contents, until it is killed.
//   crash_writer HOME CONFIG_DIR

#include "claude/ActiveCredentialStore.h"
#include "claude/ClaudeAppState.h"
#include "config/AppConfig.h"
#include "config/ConfigStore.h"

#include "CrashContents.h"
#include "MemorySecretStore.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: crash_writer HOME CONFIG_DIR\n");
        return 2;
    }
    const std::filesystem::path home = argv[1];
    const std::filesystem::path configDir = argv[2];
    testsupport::MemorySecretStore unused; // the live credential is the file here
    for (unsigned long i = 0;; ++i) {
        const int v = static_cast<int>(i % 2);
        ConfigStore::save(crashcontents::config(v), configDir);
        ActiveCredentialStore::write(unused, home, crashcontents::credential(v));
        ClaudeAppState::writeIdentity(home, crashcontents::identity(v));
    }
}
