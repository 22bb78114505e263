#pragma once

// The verbs for scripts and status bars: `ulmet --switch PROFILE`, `--refresh`, `--json` and
// `--waybar [--watch]`. Each asks the running MeterKeeper over the session bus; without one,
// --switch and --json (and --waybar) do the work themselves, once, and --refresh fails.
//
// Exit status: 0 done; 1 failed (the message on standard error); 2 a usage error; 3 no profile,
// or more than one, answers to the name given to --switch.
namespace CommandLine {

int run(int argc, char** argv);

} // namespace CommandLine
