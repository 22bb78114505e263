#pragma once

// The verbs for scripts done without a running MeterKeeper (BusClient found none): `--json` and
// `--waybar` read every profile once, as `ulmet --check` does, and `--switch` makes the switch
// with the store's own steps on a store of its own. Same exit statuses as BusClient::run.
namespace CommandLine {

int runAlone(int argc, char** argv);

} // namespace CommandLine
