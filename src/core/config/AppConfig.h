#pragma once

#include "base/Uuid.h"

#include <nlohmann/json_fwd.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Which command-line tool an account belongs to.
enum class Provider { claude, codex };

// Where an account's readings come from: the provider's usage endpoint with the account's token,
// or what claude hands its status-line command (no token at all).
enum class UsageSource { api, statusLine };

// Glyph style of a menu-bar metric.
enum class MenuBarStyle { batteryClassic, progressBar, percentage, iconWithBar, compact };

std::span<const Provider> allProviders();
std::span<const MenuBarStyle> allMenuBarStyles();

// The JSON text values ("claude", "batteryClassic", ...) and their inverse.
std::string_view toString(Provider provider);
std::string_view toString(MenuBarStyle style);
std::optional<Provider> providerFromString(std::string_view text);
std::optional<MenuBarStyle> menuBarStyleFromString(std::string_view text);
std::string_view toString(UsageSource source);
std::optional<UsageSource> usageSourceFromString(std::string_view text);

// The Japanese name shown by the style picker.
std::string_view displayName(MenuBarStyle style);

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The ten profile tints, in their fixed order.
namespace ColorPalette {

struct Entry {
    std::string_view name;
    Rgb color;
};

std::span<const Entry> all();
// The colour of a palette name (exact, case-sensitive); any other name gives accent().
Rgb color(std::string_view name);
Rgb accent();
// "#rrggbb", lower case.
std::string hexText(Rgb color);

} // namespace ColorPalette

// One monitored account.
struct ProfileConfig {
    Uuid id = Uuid::random();
    std::string name;
    std::string configDir = "~/.claude"; // as written by the user, usually with a leading "~"
    std::optional<std::string> keychainService;
    std::optional<std::string> keychainAccount;
    std::string colorName = "orange";
    std::optional<std::string> accountEmail;
    Provider provider = Provider::claude;
    std::optional<std::string> accountIdentity; // bytes: the compact identity JSON object
    UsageSource usageSource = UsageSource::api; // written only when not the default

    friend bool operator==(const ProfileConfig&, const ProfileConfig&) = default;

    // Throws ConfigDecodeError; see AppConfig::fromJson.
    static ProfileConfig fromJson(const nlohmann::json& json);
    // Throws ConfigEncodeError for values JSON cannot hold.
    nlohmann::json toJson() const;
};

// The whole persisted configuration. Member initialisers are the values of absent keys.
struct AppConfig {
    double pollIntervalSec = 60;         // seconds; see pollInterval()
    std::vector<ProfileConfig> profiles; // the user's priority order
    std::optional<Uuid> activeProfileID;
    bool keychainConnected = false;
    bool autoReadLiveClaude = false;
    bool menuSessionEnabled = true;
    MenuBarStyle menuSessionStyle = MenuBarStyle::batteryClassic;
    bool menuSessionShowRemaining = false;
    bool menuWeekEnabled = false;
    MenuBarStyle menuWeekStyle = MenuBarStyle::percentage;
    bool autoSwitchEnabled = false;
    double autoSwitchThreshold = 100; // percent, 0-100 scale
    bool forecastNotify = false;      // tell when the active session window will fill soon
    std::string language = "auto";    // "auto" (the locale's), "ja" or "en"; read at start

    friend bool operator==(const AppConfig&, const AppConfig&) = default;

    // The time between two readings, in seconds: pollIntervalSec, but never under half a minute.
    static constexpr double kMinimumPollInterval = 30;
    double pollInterval() const { return std::max(pollIntervalSec, kMinimumPollInterval); }

    // Absent or null members take their defaults; unknown members are ignored. A member of the
    // wrong JSON type, an invalid UUID, an unknown enumeration text, invalid Base64 or a profile
    // without "name" throws ConfigDecodeError, and nothing of the document is used.
    static AppConfig fromJson(const nlohmann::json& json);
    // Optional fields are left out when absent; whole numbers are written as integers.
    // Throws ConfigEncodeError for a non-finite number.
    nlohmann::json toJson() const;

    // Parses and decodes a whole config.json; none when it is not valid JSON or does not decode.
    static std::optional<AppConfig> decode(std::string_view text);
    // Pretty-printed JSON with every object's members in sorted order, ending with a line feed;
    // none when the configuration cannot be encoded.
    std::optional<std::string> encode() const;
};

// The profiles in the order the menu bar looks for one to show: the active profile (when it names
// one of them) first, then the others in configured order.
std::vector<const ProfileConfig*> activeFirst(const AppConfig& config);

// Names the member that does not hold what it should ("profiles[1].provider"; empty for the
// document as a whole) and says what is wrong with it.
struct ConfigDecodeError : std::runtime_error {
    ConfigDecodeError(std::string member, const std::string& problem)
        : std::runtime_error((member.empty() ? std::string("the document") : member) + " " + problem)
        , m_member(std::move(member)) {}
    const std::string& member() const { return m_member; }

private:
    std::string m_member;
};

struct ConfigEncodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
