#pragma once

#include <filesystem>
#include <string>

// Loading our own program modules (ulmet-full.so, ulmet-cli.so, ulmet-scene.so) safely.
namespace Modules {

// Why the module (or its folder) may not be loaded: code that another user could have written
// would run as us. Empty when it is ours or root's and writable by nobody else.
std::string unsafeToLoad(const std::filesystem::path& module);

// The symbol `entryName` of the module at `path`, loaded once and never unloaded (what it returns
// runs until the process ends); null with the reason appended to `errors` (one line each). The
// checks and the load are of one opened file (links resolved first), whose descriptor stays open.
void* entry(const std::filesystem::path& path, const char* entryName, std::string& errors);

// The file of the executable or module that holds `address` (a module loaded by entry() is known
// to the loader by its descriptor; this names the file itself); empty when it cannot be told.
std::filesystem::path fileOf(const void* address);

} // namespace Modules
