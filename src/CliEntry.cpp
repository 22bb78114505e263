// The verbs for scripts and status bars (--switch, --refresh, --json, --waybar), loaded by the
// entry point when one is given: the core and the application layer, over QtCore and QtDBus
// alone, so that a status bar polling `ulmet --json` does not pay for loading the interface.

#include "bus/CommandLine.h"

extern "C" __attribute__((visibility("default"))) int ulmet_cli_main(int argc, char** argv) {
    return CommandLine::run(argc, argv);
}
