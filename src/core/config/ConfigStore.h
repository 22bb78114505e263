#pragma once

#include "base/Language.h"
#include "config/AppConfig.h"

#include <filesystem>

// The configuration file: where it lives, how it is read, repaired and written.
// Stateless: every call reads and writes the files anew.
namespace ConfigStore {

// The configuration directory, computed once per process from the environment:
// $XDG_DATA_HOME/ulmet when that is an absolute path, else $HOME/.local/share/ulmet
// (on macOS ~/Library/Application Support/ulmet). It may not exist yet.
const std::filesystem::path& baseDir();
// The same rule as a pure function (`xdgDataHome` may be null).
std::filesystem::path baseDirFor(const char* xdgDataHome, const std::filesystem::path& home);

// Loads config.json, or repairs it from config.json.bak, or makes a first configuration from the
// accounts found in the home directory. Never fails; leaves a config.json behind whenever it had
// to make or repair one (unless the directory cannot be written).
AppConfig loadOrCreate();
AppConfig loadOrCreate(const std::filesystem::path& dir, const std::filesystem::path& home);

// loadOrCreate(), and whether config.json had to be left alone: it exists but could neither be
// read nor set aside, so the configuration is a fresh one in memory and saving it would replace
// the user's file for good.
struct Loaded {
    AppConfig config;
    bool fileLeftAlone = false;
};
Loaded load(const std::filesystem::path& dir, const std::filesystem::path& home);

// Writes config.json atomically (pretty-printed, keys sorted), after copying the same bytes to
// config.json.bak when the file being replaced holds a configuration with profiles. Failures are
// ignored: the caller keeps using its configuration in memory.
void save(const AppConfig& config);
void save(const AppConfig& config, const std::filesystem::path& dir);

// The language setting of config.json in `dir`, read quickly and never repaired or written (for
// the command line, which may run many times a second): automatic when the file or the member
// is missing or unreadable.
Language::Setting languageSetting(const std::filesystem::path& dir);
// The language the user reads: the setting in baseDir()'s config.json, else the locale.
Language::Lang chosenLanguage();

// A first configuration: one profile per ".claude" or ".claude-*" directory in the home directory.
AppConfig detectDefault();
AppConfig detectDefault(const std::filesystem::path& home);

} // namespace ConfigStore
