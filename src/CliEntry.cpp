// The verbs for scripts and status bars (--switch, --refresh, --json, --waybar) as a client of the
// running MeterKeeper, loaded by the entry point when one is given. QtCore and QtDBus alone, so
// that a status bar polling `ulmet --json` pays neither for the interface nor for libcurl and
// libsecret. Returns -1 when the full module is to do the work instead (none runs).

#include "bus/BusClient.h"

extern "C" __attribute__((visibility("default"))) int ulmet_cli_main(int argc, char** argv) {
    return BusClient::run(argc, argv);
}
