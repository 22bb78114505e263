#pragma once

// The verbs for scripts and status bars as a client of the running MeterKeeper: `ulmet --switch
// PROFILE`, `--refresh`, `--json` and `--waybar [--watch]` ask it over the session bus. Built into
// a module of its own that loads QtCore and QtDBus and nothing else of ours (no libcurl, no
// libsecret, no interface), since status bars run it every few seconds.
//
// Exit status: 0 done; 1 failed (the message on standard error); 2 a usage error; 3 no profile,
// or more than one, answers to the name given to --switch.
namespace BusClient {

// The verbs' exit statuses, with or without a running MeterKeeper.
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;
inline constexpr int kNoSuchProfile = 3;

// What run() returns when no MeterKeeper answers and the verb can be done without it (--switch,
// --json, --waybar): the caller runs CommandLine::runAlone instead.
inline constexpr int kDoItAlone = -1;

int run(int argc, char** argv);

} // namespace BusClient
