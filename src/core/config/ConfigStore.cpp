#include "config/ConfigStore.h"

#include "base/FileIO.h"
#include "base/Json.h"
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
void save(const AppConfig& config) {
    save(config, baseDir());
}
AppConfig detectDefault() {
    return detectDefault(Paths::homeDir());
}

AppConfig loadOrCreate(const fs::path& dir, const fs::path& home) {
    return load(dir, home).config;
}

Loaded load(const fs::path& dir, const fs::path& home) {
    const fs::path file = dir / kFileName;
    if (auto config = readConfig(file))
        return {*config};

    std::error_code error;
    if (fs::exists(fs::symlink_status(file, error))) {
        // Damaged, empty or unreadable: set it aside once, then fall back on the backup.
        const fs::path corrupt = dir / (std::string(kFileName) + ".corrupt");
        FileIO::copyNoReplace(file, corrupt, kFileMode, error);
        const bool preserved = fs::exists(fs::symlink_status(corrupt, error));
        if (auto backup = readConfig(dir / (std::string(kFileName) + ".bak"))) {
            if (preserved)
                save(*backup, dir);
            return {*backup, !preserved};
        }
        if (!preserved) {
            // The damaged file could not be copied aside (it cannot even be read): replacing it
            // would lose it for good, so run on a fresh configuration in memory and leave it.
            return {detectDefault(home), true};
        }
    }
    AppConfig config = detectDefault(home);
    save(config, dir);
    return {config};
}

void save(const AppConfig& config, const fs::path& dir) {
    std::error_code error;
    FileIO::createDirectories(dir, kDirMode, error);
    const auto bytes = config.encode();
    if (!bytes)
        return;
    const fs::path file = dir / kFileName;
    const fs::path backup = dir / (std::string(kFileName) + ".bak");
    const auto currentBytes = FileIO::readFile(file, kMaxFileSize, error);
    const auto current =
        currentBytes && !currentBytes->empty() ? AppConfig::decode(*currentBytes) : std::nullopt;
    const bool backupWanted = current && !current->profiles.empty();
    // The store saves after every refresh: a file that already holds these bytes (and a backup
    // that already matches) is left alone instead of being rewritten every minute.
    if (currentBytes == bytes && (!backupWanted || FileIO::readFile(backup, kMaxFileSize, error) == bytes))
        return;
    if (backupWanted)
        FileIO::writeAtomic(backup, *bytes, kFileMode, error);
    FileIO::writeAtomic(file, *bytes, kFileMode, error);
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
