#pragma once

// The verbs for scripts and status bars as a client of the running MeterKeeper: `ulmet --switch
// PROFILE`, `--refresh`, `--json` and `--waybar [--watch]` ask it over the session bus. Built into
// a module of its own that loads QtCore and QtDBus and nothing else of ours (no libcurl, no
// libsecret, no interface), since status bars run it every few seconds.
// Exit statuses as Verbs' (core/cli).
namespace BusClient {

// What run() returns when no MeterKeeper answers and the verb can be done without it (--switch,
// --json, --waybar): the caller has the program module do it (core/cli/Standalone).
inline constexpr int kDoItAlone = -1;

int run(int argc, char** argv);

} // namespace BusClient
