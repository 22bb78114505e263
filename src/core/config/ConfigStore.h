#pragma once

#include "base/Language.h"
#include "config/AppConfig.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The configuration file: where it lives, how it is read and written, and how the person's broken
// versions of it are kept. Stateless: every call reads and writes the files anew.
namespace ConfigStore {

// The configuration directory, computed once per process from the environment:
// $XDG_DATA_HOME/ulmet when that is an absolute path, else $HOME/.local/share/ulmet
// (on macOS ~/Library/Application Support/ulmet). It may not exist yet.
const std::filesystem::path& baseDir();
// The same rule as a pure function (`xdgDataHome` may be null).
std::filesystem::path baseDirFor(const char* xdgDataHome, const std::filesystem::path& home);

// Why config.json gives no configuration.
struct Fault {
    enum class Kind {
        unreadable, // it cannot be opened or read, is not a regular file, or is far too large
        empty,      // it holds nothing
        syntax,     // it is not JSON: `line` and `column` (from 1, in characters) say where it stops
                    // being JSON, 0 when that is not known
        content,    // it is JSON, but `member` ("profiles[1].provider"; empty for the document as a
                    // whole) does not hold what it should
    };
    Kind kind = Kind::unreadable;
    std::size_t line = 0;
    std::size_t column = 0;
    std::string member;
    friend bool operator==(const Fault&, const Fault&) = default;
};

// One line for the person, in their language: `file` (as it should be shown) and what is wrong
// with it, with the line and column of a syntax error.
std::string describe(const Fault& fault, std::string_view file);

// What one read of config.json found.
struct Reading {
    std::optional<std::string> bytes; // its content; none when it is missing or cannot be read
    std::optional<AppConfig> config;  // what it holds, when it holds a configuration
    std::optional<Fault> fault;       // it exists but gives no configuration
};
// Reads config.json in `dir`; writes nothing. Neither a configuration nor a fault: there is none.
Reading read(const std::filesystem::path& dir);

// The configuration to run on, and where it came from.
struct Loaded {
    enum class Source {
        file,     // config.json
        backup,   // config.json.bak, config.json having a fault
        defaults, // detectDefault(): a first configuration, or config.json and its backup both unusable
    };
    AppConfig config;
    Source source = Source::file;
    // config.json exists but gives no configuration. It is left exactly as it is: `config` lives in
    // memory only, and save() will not write over the file.
    std::optional<Fault> fault;
    // config.json's content after the load (as read, or the first configuration written); none
    // when it is missing or cannot be read.
    std::optional<std::string> bytes;
};

// Loads config.json; when it has a fault, the configuration of config.json.bak, else a detected
// default, in memory. Never fails. Writes nothing but a first configuration made from the accounts
// in the home directory, when there is no config.json at all (and none when the directory cannot
// be written).
Loaded load(const std::filesystem::path& dir, const std::filesystem::path& home);
AppConfig loadOrCreate();
AppConfig loadOrCreate(const std::filesystem::path& dir, const std::filesystem::path& home);

// Writes config.json atomically (pretty-printed, keys sorted), after copying the same bytes to
// config.json.bak when the file being replaced holds a configuration with profiles. Writes only
// where there is no config.json or it holds a configuration: a file with a fault is the person's
// text, kept until they correct it or replace it through replaceBroken(). Returns the bytes
// config.json holds now; none when nothing could be written or the file was left alone (the
// caller keeps using its configuration in memory).
std::optional<std::string> save(const AppConfig& config);
std::optional<std::string> save(const AppConfig& config, const std::filesystem::path& dir);

// How many broken versions of config.json keepBroken() keeps.
inline constexpr int kKeptVersions = 5;
// The name of the `index`th kept version, the newest first: config.json.corrupt, then
// config.json.corrupt.1 and so on.
std::filesystem::path keptVersion(const std::filesystem::path& dir, int index);
// Keeps a broken content of config.json (`bytes`) beside it, so that nothing the person wrote is
// lost: as config.json.corrupt, the versions kept before moving on to .corrupt.1, .corrupt.2 … up
// to kKeptVersions in all, the oldest dropped. No kept version is ever written over. A content
// already kept under one of those names is not kept again. Returns the name that holds it; none
// when `bytes` is empty (nothing to keep) or it could not be kept.
std::optional<std::filesystem::path> keepBroken(const std::filesystem::path& dir, std::string_view bytes);

// Writes `config` over a config.json that has a fault, once its content is kept (keepBroken): the
// person chose to go back to the configuration the program runs on. Writes nothing, and returns
// none, when config.json holds a configuration now, cannot be read, or its content could not be
// kept.
struct Replaced {
    std::string bytes;                           // what config.json holds now
    std::optional<std::filesystem::path> keptAs; // where the broken content is (none: it was empty)
};
std::optional<Replaced> replaceBroken(const AppConfig& config, const std::filesystem::path& dir);

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
