#include "config/ConfigStore.h"

#include "base/FileIO.h"
#include "base/Json.h"
#include "base/Language.h"
#include "base/Paths.h"
#include "base/Text.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace ConfigStore {
namespace {

constexpr const char* kFileName = "config.json";
constexpr std::size_t kMaxFileSize = 64u << 20; // far above any real configuration
// The directory holds account identities and e-mail addresses: owner only.
constexpr mode_t kDirMode = 0700;
constexpr mode_t kFileMode = 0600;

// The configuration a file holds; none when it is missing, unreadable, empty or undecodable.
std::optional<AppConfig> readConfig(const fs::path& path) {
    std::error_code error;
    const auto bytes = FileIO::readFile(path, kMaxFileSize, error);
    if (!bytes || bytes->empty())
        return std::nullopt;
    return AppConfig::decode(*bytes);
}

} // namespace

fs::path baseDirFor(const char* xdgDataHome, const fs::path& home) {
#if defined(__APPLE__)
    (void)xdgDataHome;
    return home / "Library" / "Application Support" / "ulmet";
#else
    if (xdgDataHome && *xdgDataHome == '/')
        return fs::path(xdgDataHome) / "ulmet";
    return home / ".local" / "share" / "ulmet";
#endif
}

const fs::path& baseDir() {
    static const fs::path dir = baseDirFor(std::getenv("XDG_DATA_HOME"), Paths::homeDir());
    return dir;
}

AppConfig loadOrCreate() {
    return loadOrCreate(baseDir(), Paths::homeDir());
}
std::optional<std::string> save(const AppConfig& config) {
    return save(config, baseDir());
}
AppConfig detectDefault() {
    return detectDefault(Paths::homeDir());
}

AppConfig loadOrCreate(const fs::path& dir, const fs::path& home) {
    return load(dir, home).config;
}

std::string describe(const Fault& fault, std::string_view file) {
    switch (fault.kind) {
    case Fault::Kind::unreadable:
        return Text::fill(TR("%1 を読み込めません"), {file});
    case Fault::Kind::empty:
        return Text::fill(TR("%1 は空です"), {file});
    case Fault::Kind::syntax:
        if (fault.line == 0)
            return Text::fill(TR("%1 は JSON として読めません"), {file});
        return Text::fill(TR("%1 の %2 行 %3 列目に JSON の誤りがあります"),
                          {file, std::to_string(fault.line), std::to_string(fault.column)});
    case Fault::Kind::content:
        if (fault.member.empty())
            return Text::fill(TR("%1 は設定の形をしていません"), {file});
        return Text::fill(TR("%1 の「%2」の値が正しくありません"), {file, fault.member});
    }
    return std::string(file);
}

Reading read(const fs::path& dir) {
    const fs::path file = dir / kFileName;
    Reading reading;
    std::error_code error;
    reading.bytes = FileIO::readFile(file, kMaxFileSize, error);
    if (!reading.bytes) {
        if (fs::exists(fs::symlink_status(file, error)))
            reading.fault = Fault{Fault::Kind::unreadable, 0, 0, {}};
        return reading;
    }
    const std::string& bytes = *reading.bytes;
    if (bytes.empty()) {
        reading.fault = Fault{Fault::Kind::empty, 0, 0, {}};
        return reading;
    }
    Json::SyntaxError syntax;
    const auto document = Json::parse(bytes, syntax);
    if (!document) {
        Fault fault{Fault::Kind::syntax, 0, 0, {}};
        if (syntax.offset) {
            const Text::LineColumn at = Text::lineColumn(bytes, *syntax.offset);
            fault.line = at.line;
            fault.column = at.column;
        }
        reading.fault = fault;
        return reading;
    }
    try {
        reading.config = AppConfig::fromJson(*document);
    } catch (const ConfigDecodeError& e) {
        reading.fault = Fault{Fault::Kind::content, 0, 0, e.member()};
    }
    return reading;
}

Loaded load(const fs::path& dir, const fs::path& home) {
    Reading reading = read(dir);
    if (reading.config)
        return {std::move(*reading.config), Loaded::Source::file, std::nullopt, std::move(reading.bytes)};
    if (reading.fault) {
        // The person's file stays as it is; the program runs on the backup until it is corrected.
        if (auto backup = readConfig(dir / (std::string(kFileName) + ".bak")))
            return {std::move(*backup), Loaded::Source::backup, reading.fault, std::move(reading.bytes)};
        return {detectDefault(home), Loaded::Source::defaults, reading.fault, std::move(reading.bytes)};
    }
    AppConfig config = detectDefault(home);
    auto bytes = save(config, dir);
    return {std::move(config), Loaded::Source::defaults, std::nullopt, std::move(bytes)};
}

namespace {

// Writes config.json whatever it holds now, the backup first when the file being replaced holds a
// configuration with profiles. The bytes written, or none.
std::optional<std::string> write(const AppConfig& config, const fs::path& dir,
                                 const std::optional<std::string>& currentBytes,
                                 const std::optional<AppConfig>& current) {
    std::error_code error;
    FileIO::createDirectories(dir, kDirMode, error);
    auto bytes = config.encode();
    if (!bytes)
        return std::nullopt;
    const fs::path file = dir / kFileName;
    const fs::path backup = dir / (std::string(kFileName) + ".bak");
    const bool backupWanted = current && !current->profiles.empty();
    // The store saves after every refresh: a file that already holds these bytes (and a backup
    // that already matches) is left alone instead of being rewritten every minute.
    if (currentBytes == bytes && (!backupWanted || FileIO::readFile(backup, kMaxFileSize, error) == bytes))
        return bytes;
    if (backupWanted)
        FileIO::writeAtomic(backup, *bytes, kFileMode, error);
    if (!FileIO::writeAtomic(file, *bytes, kFileMode, error))
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<std::string> save(const AppConfig& config, const fs::path& dir) {
    Reading current = read(dir);
    if (current.fault)
        return std::nullopt; // the person's text, not ours to replace
    return write(config, dir, current.bytes, current.config);
}

fs::path keptVersion(const fs::path& dir, int index) {
    std::string name = std::string(kFileName) + ".corrupt";
    if (index > 0)
        name += "." + std::to_string(index);
    return dir / name;
}

std::optional<fs::path> keepBroken(const fs::path& dir, std::string_view bytes) {
    if (bytes.empty())
        return std::nullopt;
    std::error_code error;
    int free = -1;
    for (int i = 0; i < kKeptVersions; ++i) {
        const fs::path kept = keptVersion(dir, i);
        if (!fs::exists(fs::symlink_status(kept, error))) {
            if (free < 0)
                free = i;
            continue;
        }
        if (fs::file_size(kept, error) == bytes.size() && !error &&
            FileIO::readFile(kept, kMaxFileSize, error) == bytes)
            return kept;
    }
    if (free < 0) {
        // Every place is taken: the oldest version goes.
        free = kKeptVersions - 1;
        if (!fs::remove(keptVersion(dir, free), error) || error)
            return std::nullopt;
    }
    // The newer versions move one place on, up to the first free one; none is written over.
    for (int i = free; i > 0; --i)
        if (!FileIO::moveNoReplace(keptVersion(dir, i - 1), keptVersion(dir, i), error))
            return std::nullopt;
    if (!FileIO::writeNoReplace(keptVersion(dir, 0), bytes, kFileMode, error))
        return std::nullopt;
    return keptVersion(dir, 0);
}

std::optional<Replaced> replaceBroken(const AppConfig& config, const fs::path& dir) {
    const Reading current = read(dir);
    if (!current.fault || !current.bytes)
        return std::nullopt; // corrected meanwhile, or nothing of it could be read (and kept)
    Replaced replaced;
    if (!current.bytes->empty()) {
        replaced.keptAs = keepBroken(dir, *current.bytes);
        if (!replaced.keptAs)
            return std::nullopt;
    }
    auto bytes = write(config, dir, current.bytes, std::nullopt);
    if (!bytes)
        return std::nullopt;
    replaced.bytes = std::move(*bytes);
    return replaced;
}

AppConfig detectDefault(const fs::path& home) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(home, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name != ".claude" && !name.starts_with(".claude-"))
            continue;
        std::error_code statError;
        if (!fs::is_directory(it->path(), statError)) // follows symbolic links
            continue;
        if (!Text::isValidUtf8(name))
            continue; // cannot be written into the JSON configuration
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());

    AppConfig config;
    const auto palette = ColorPalette::all();
    for (std::size_t i = 0; i < names.size(); ++i) {
        ProfileConfig profile;
        profile.name = names[i] == ".claude" ? "main" : names[i].substr(8);
        profile.configDir = "~/" + names[i];
        profile.colorName = std::string(palette[i % palette.size()].name);
        config.profiles.push_back(std::move(profile));
    }
    if (config.profiles.empty()) {
        ProfileConfig profile;
        profile.name = "main";
        config.profiles.push_back(std::move(profile));
    }
    config.activeProfileID = config.profiles.front().id;
    config.autoReadLiveClaude = true;
    return config;
}

Language::Setting languageSetting(const fs::path& dir) {
    std::error_code error;
    const auto bytes = FileIO::readFile(dir / "config.json", kMaxFileSize, error);
    const auto member = bytes ? Json::quickMember(*bytes, "language") : std::nullopt;
    const auto value = member ? Json::parse(*member) : std::nullopt;
    if (!value || !value->is_string())
        return Language::Setting::automatic;
    return Language::settingFromString(value->get_ref<const std::string&>());
}

Language::Lang chosenLanguage() {
    return Language::choose(languageSetting(baseDir()), std::getenv);
}

} // namespace ConfigStore
