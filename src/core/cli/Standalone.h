#pragma once

#include "base/Services.h"

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

// The verbs for scripts done without a running MeterKeeper (the bus client found none): the same
// steps the running program takes, once, with no store. Blocking; exit statuses as Verbs'.
namespace Standalone {

// `ulmet --switch PROFILE`: the switch the running program makes, then the new active profile
// (and any identity learned on the way) written to the configuration in `baseDir`.
int switchProfile(const Services& services, const std::filesystem::path& baseDir, const std::string& query,
                  std::ostream& out, std::ostream& err);

// `ulmet --json` (the readings document) or `--waybar` (one waybar line of it): every profile
// read once, as `ulmet --check` reads them.
int readings(const Services& services, bool waybar, std::ostream& out, std::ostream& err);

// Runs `verb` on a thread of its own with the real outside world (libcurl, the platform's secret
// store, the wall clock): libsecret and libcurl get a thread that nothing else uses.
int withRealServices(const std::function<int(const Services&)>& verb, std::ostream& err);

} // namespace Standalone
