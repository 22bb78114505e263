#pragma once

#include <ostream>
#include <span>
#include <string>

// The text diagnostic behind `ulmet --check`: loads (or creates) the configuration and prints
// one line per fact for every profile. Errors of one profile are printed in its section and the
// run goes on; nothing is reported to the caller.
namespace CheckRunner {

// `args` is the whole argument list (it is searched for "--raw"); the report goes to `out`.
// Blocking; meant to run on a background thread while the caller waits.
void run(std::span<const std::string> args, std::ostream& out);

} // namespace CheckRunner
