#pragma once

#include "base/Services.h"
#include "usage/UsageWindow.h"

#include <ostream>
#include <span>
#include <string>

// The text diagnostic behind `ulmet --check`: loads (or creates) the configuration, then for every
// profile resolves its credentials and asks the usage endpoint (or reads the Codex logs), one
// line per fact. An error of one profile is printed in its section as one "  ERROR: " line and
// the run goes on; nothing is reported to the caller. Writes nothing but a first configuration when
// there is none (a configuration file with a fault is reported and left as it is; no renewal, no
// history, no back-off).
namespace CheckRunner {

// The report goes to `out`; `raw` adds each usage answer's HTTP status and body.
// Blocking, strictly one profile and one request after the other.
void run(bool raw, std::ostream& out, const Services& services);

// "  <key padded or cut to 24 UTF-16 units> <%5.1f>%[  resets <ISO time>]"
std::string windowLine(const UsageWindow& window);
// "  <key padded or cut to 24 UTF-16 units>  full ~<ISO time>[, resets <ISO time>]": when the window
// fills at its recent pace.
std::string forecastLine(const UsageWindow& window, Instant full);

} // namespace CheckRunner
