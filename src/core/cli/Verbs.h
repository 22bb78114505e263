#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The command line: every option, its help line and where it runs, in one table that the entry
// point dispatches from, `--help` prints and each module reads its arguments with. Depends on
// nothing (the entry point links it without Qt, libcurl or libsecret).
namespace Verbs {

// The exit statuses of every verb, with or without a running MeterKeeper: 0 done; 1 failed (the
// message on standard error); 2 a usage error; 3 no profile, or more than one, answers to the
// name given to --switch.
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;
inline constexpr int kNoSuchProfile = 3;

enum class Verb {
    tray,
    check,
    switchTo,
    refresh,
    json,
    waybar,
    listProfiles,
    statusLine,
    statusLineInstall,
    help,
    version,
};

// Which part of the program a verb needs.
enum class Runs {
    entry,     // the entry point alone: nothing more is loaded
    program,   // the program module (Qt, libcurl, libsecret, the interface)
    busClient, // the bus client asks the running MeterKeeper; without one, the program module
};

struct Option {
    std::string_view name;    // "--switch"
    std::string_view operand; // "PROFILE"; empty when it takes none
    std::string_view help;    // its line in --help (continued lines start with a line feed)
    std::optional<Verb> verb; // none: it modifies another verb (--raw, --watch)
    Runs runs = Runs::entry;
    bool needsDisplay = false;
    std::string_view modifies = {}; // a modifier's verb ("--check" for --raw)
};
std::span<const Option> options();

// What the command line asks for.
struct Command {
    Verb verb = Verb::tray;
    std::string operand; // --switch's profile, --statusline-install's directory
    bool raw = false;    // --check --raw
    bool watch = false;  // --waybar --watch
    // A usage error: what is wrong ("unknown option --x"); the verb is then meaningless.
    std::optional<std::string> error;
    const Option& option() const; // the verb's row of the table
};
// `args` without the program's name. `--statusline`, `--statusline-install DIR` and `--check`
// are found in any position (claude and older scripts pass more); every other form is exact.
Command parse(std::span<const std::string> args);
Command parse(int argc, char** argv); // argv[0] is the program's name

// The help text: the synopsis and one line per option.
std::string usage();

} // namespace Verbs
