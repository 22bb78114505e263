#include "config/AppConfig.h"

#include "base/Base64.h"
#include "base/Json.h"
#include "base/Language.h"

#include <nlohmann/json.hpp>

#include <array>
#include <stdexcept>

using nlohmann::json;

namespace {

constexpr std::array kProviders{Provider::claude, Provider::codex};
constexpr std::array kStyles{MenuBarStyle::batteryClassic, MenuBarStyle::progressBar,
                             MenuBarStyle::percentage, MenuBarStyle::iconWithBar, MenuBarStyle::compact};

// Reads the members of a JSON object into a record. Absent and null members leave the field
// at its default. Every failure names the member it is about.
class Decoder {
public:
    Decoder(const json& object, std::string path)
        : m_object(object)
        , m_path(std::move(path)) {
        if (!m_object.is_object())
            fail(m_path, "is not an object");
    }

    void field(const char* key, double& value) {
        if (const json* v = member(key)) {
            if (!v->is_number())
                typeError(key, "a number");
            value = v->get<double>();
        }
    }
    void field(const char* key, bool& value) {
        if (const json* v = member(key)) {
            if (!v->is_boolean())
                typeError(key, "a boolean");
            value = v->get<bool>();
        }
    }
    void field(const char* key, std::string& value) {
        if (const json* v = member(key))
            value = text(key, *v);
    }
    void field(const char* key, std::optional<std::string>& value) {
        if (const json* v = member(key))
            value = text(key, *v);
    }
    void required(const char* key, std::string& value) {
        const json* v = member(key);
        if (!v)
            fail(where(key), "is missing");
        value = text(key, *v);
    }
    void field(const char* key, Uuid& value) {
        if (const json* v = member(key))
            value = uuid(key, *v);
    }
    void field(const char* key, std::optional<Uuid>& value) {
        if (const json* v = member(key))
            value = uuid(key, *v);
    }
    void field(const char* key, Provider& value) { enumeration(key, value, providerFromString); }
    void field(const char* key, MenuBarStyle& value) { enumeration(key, value, menuBarStyleFromString); }
    void field(const char* key, UsageSource& value) { enumeration(key, value, usageSourceFromString); }
    void base64(const char* key, std::optional<std::string>& value) {
        if (const json* v = member(key)) {
            auto bytes = Base64::decode(text(key, *v));
            if (!bytes)
                fail(where(key), "is not valid Base64");
            value = std::move(*bytes);
        }
    }
    void field(const char* key, std::vector<ProfileConfig>& value) {
        const json* v = member(key);
        if (!v)
            return;
        if (!v->is_array())
            typeError(key, "an array");
        value.clear();
        value.reserve(v->size());
        for (std::size_t i = 0; i < v->size(); ++i)
            value.push_back(decodeProfile((*v)[i], where(key) + "[" + std::to_string(i) + "]"));
    }

    static ProfileConfig decodeProfile(const json& object, std::string path);

private:
    const json* member(const char* key) const {
        const auto it = m_object.find(key);
        if (it == m_object.end() || it->is_null())
            return nullptr;
        return &*it;
    }
    std::string where(const char* key) const { return m_path.empty() ? key : m_path + "." + key; }
    [[noreturn]] static void fail(const std::string& what, const std::string& problem) {
        throw ConfigDecodeError(what, problem);
    }
    [[noreturn]] void typeError(const char* key, const char* expected) const {
        fail(where(key), std::string("is not ") + expected);
    }
    std::string text(const char* key, const json& v) const {
        if (!v.is_string())
            typeError(key, "a string");
        return v.get<std::string>();
    }
    Uuid uuid(const char* key, const json& v) const {
        auto parsed = Uuid::parse(text(key, v));
        if (!parsed)
            fail(where(key), "is not a UUID");
        return *parsed;
    }
    template <class E, class Parse>
    void enumeration(const char* key, E& value, Parse parse) {
        if (const json* v = member(key)) {
            auto parsed = parse(text(key, *v));
            if (!parsed)
                fail(where(key), "has an unknown value \"" + v->get<std::string>() + "\"");
            value = *parsed;
        }
    }

    const json& m_object;
    std::string m_path;
};

// Writes a record's fields as members of a JSON object; absent optionals are left out.
class Encoder {
public:
    json object = json::object();

    void field(const char* key, double value) {
        try {
            object[key] = Json::number(value);
        } catch (const std::domain_error&) {
            throw ConfigEncodeError(std::string(key) + " is not a finite number");
        }
    }
    void field(const char* key, bool value) { object[key] = value; }
    void field(const char* key, const std::string& value) { object[key] = value; }
    void required(const char* key, const std::string& value) { object[key] = value; }
    void field(const char* key, const std::optional<std::string>& value) {
        if (value)
            object[key] = *value;
    }
    void field(const char* key, const Uuid& value) { object[key] = value.toString(); }
    void field(const char* key, const std::optional<Uuid>& value) {
        if (value)
            object[key] = value->toString();
    }
    void field(const char* key, Provider value) { object[key] = toString(value); }
    void field(const char* key, MenuBarStyle value) { object[key] = toString(value); }
    void field(const char* key, UsageSource value) {
        if (value != UsageSource::api) // older readers never see the member unless it is used
            object[key] = toString(value);
    }
    void base64(const char* key, const std::optional<std::string>& value) {
        if (value)
            object[key] = Base64::encode(*value);
    }
    void field(const char* key, const std::vector<ProfileConfig>& value) {
        json list = json::array();
        for (const auto& profile : value)
            list.push_back(profile.toJson());
        object[key] = std::move(list);
    }
};

// The one list of each record's members: JSON name and field, for decoding and encoding alike.
// Defaults are the member initialisers of the records.
template <class Visitor, class Profile>
void visitFields(Visitor& v, Profile& p) {
    v.field("id", p.id);
    v.required("name", p.name);
    v.field("configDir", p.configDir);
    v.field("keychainService", p.keychainService);
    v.field("keychainAccount", p.keychainAccount);
    v.field("colorName", p.colorName);
    v.field("accountEmail", p.accountEmail);
    v.field("provider", p.provider);
    v.base64("accountIdentity", p.accountIdentity);
    v.field("usageSource", p.usageSource);
}

template <class Visitor, class Config>
void visitConfigFields(Visitor& v, Config& c) {
    v.field("pollIntervalSec", c.pollIntervalSec);
    v.field("profiles", c.profiles);
    v.field("activeProfileID", c.activeProfileID);
    v.field("keychainConnected", c.keychainConnected);
    v.field("autoReadLiveClaude", c.autoReadLiveClaude);
    v.field("menuSessionEnabled", c.menuSessionEnabled);
    v.field("menuSessionStyle", c.menuSessionStyle);
    v.field("menuSessionShowRemaining", c.menuSessionShowRemaining);
    v.field("menuWeekEnabled", c.menuWeekEnabled);
    v.field("menuWeekStyle", c.menuWeekStyle);
    v.field("autoSwitchEnabled", c.autoSwitchEnabled);
    v.field("autoSwitchThreshold", c.autoSwitchThreshold);
    v.field("forecastNotify", c.forecastNotify);
    v.field("language", c.language);
}

ProfileConfig Decoder::decodeProfile(const json& object, std::string path) {
    Decoder decoder(object, std::move(path));
    ProfileConfig profile; // a fresh id unless the member is present
    visitFields(decoder, profile);
    return profile;
}

} // namespace

std::span<const Provider> allProviders() {
    return kProviders;
}
std::span<const MenuBarStyle> allMenuBarStyles() {
    return kStyles;
}

std::string_view toString(Provider provider) {
    switch (provider) {
    case Provider::claude:
        return "claude";
    case Provider::codex:
        return "codex";
    }
    return "claude";
}

std::string_view toString(MenuBarStyle style) {
    switch (style) {
    case MenuBarStyle::batteryClassic:
        return "batteryClassic";
    case MenuBarStyle::progressBar:
        return "progressBar";
    case MenuBarStyle::percentage:
        return "percentage";
    case MenuBarStyle::iconWithBar:
        return "iconWithBar";
    case MenuBarStyle::compact:
        return "compact";
    }
    return "batteryClassic";
}

std::optional<Provider> providerFromString(std::string_view text) {
    for (Provider p : kProviders)
        if (toString(p) == text)
            return p;
    return std::nullopt;
}

std::string_view toString(UsageSource source) {
    return source == UsageSource::statusLine ? "statusLine" : "api";
}

std::optional<UsageSource> usageSourceFromString(std::string_view text) {
    if (text == "api")
        return UsageSource::api;
    if (text == "statusLine")
        return UsageSource::statusLine;
    return std::nullopt;
}

std::optional<MenuBarStyle> menuBarStyleFromString(std::string_view text) {
    for (MenuBarStyle s : kStyles)
        if (toString(s) == text)
            return s;
    return std::nullopt;
}

std::string_view displayName(MenuBarStyle style) {
    switch (style) {
    case MenuBarStyle::batteryClassic:
        return TR_NOOP("バッテリー");
    case MenuBarStyle::progressBar:
        return TR_NOOP("プログレスバー");
    case MenuBarStyle::percentage:
        return TR_NOOP("パーセント");
    case MenuBarStyle::iconWithBar:
        return TR_NOOP("アイコン+バー");
    case MenuBarStyle::compact:
        return TR_NOOP("コンパクト");
    }
    return "";
}

namespace ColorPalette {
namespace {

// The desktop's usual named colours (light appearance).
constexpr std::array<Entry, 10> kEntries{{
    {"orange", {0xFF, 0x95, 0x00}},
    {"blue", {0x00, 0x7A, 0xFF}},
    {"green", {0x34, 0xC7, 0x59}},
    {"purple", {0xAF, 0x52, 0xDE}},
    {"pink", {0xFF, 0x2D, 0x55}},
    {"teal", {0x30, 0xB0, 0xC7}},
    {"red", {0xFF, 0x3B, 0x30}},
    {"yellow", {0xFF, 0xCC, 0x00}},
    {"indigo", {0x58, 0x56, 0xD6}},
    {"mint", {0x00, 0xC7, 0xBE}},
}};

} // namespace

std::span<const Entry> all() {
    return kEntries;
}

Rgb accent() {
    return {0x00, 0x7A, 0xFF};
}

std::string hexText(Rgb color) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "#";
    for (std::uint8_t v : {color.r, color.g, color.b}) {
        text += kDigits[v >> 4];
        text += kDigits[v & 0xF];
    }
    return text;
}

Rgb color(std::string_view name) {
    for (const Entry& e : kEntries)
        if (e.name == name)
            return e.color;
    return accent();
}

} // namespace ColorPalette

ProfileConfig ProfileConfig::fromJson(const json& object) {
    return Decoder::decodeProfile(object, "profile");
}

json ProfileConfig::toJson() const {
    Encoder encoder;
    visitFields(encoder, *this);
    return std::move(encoder.object);
}

AppConfig AppConfig::fromJson(const json& object) {
    Decoder decoder(object, "");
    AppConfig config;
    visitConfigFields(decoder, config);
    return config;
}

json AppConfig::toJson() const {
    Encoder encoder;
    visitConfigFields(encoder, *this);
    return std::move(encoder.object);
}

std::optional<AppConfig> AppConfig::decode(std::string_view text) {
    auto document = Json::parse(text);
    if (!document)
        return std::nullopt;
    try {
        return fromJson(*document);
    } catch (const ConfigDecodeError&) {
        return std::nullopt;
    }
}

std::optional<std::string> AppConfig::encode() const {
    try {
        // nlohmann's object type keeps members sorted by key.
        std::string text = toJson().dump(2, ' ', false, json::error_handler_t::strict);
        text.push_back('\n');
        return text;
    } catch (const ConfigEncodeError&) {
        return std::nullopt;
    } catch (const json::exception&) {
        return std::nullopt; // text that is not valid UTF-8
    }
}

std::vector<const ProfileConfig*> activeFirst(const AppConfig& config) {
    std::vector<const ProfileConfig*> order;
    const ProfileConfig* active = nullptr;
    for (const ProfileConfig& p : config.profiles)
        if (config.activeProfileID == p.id) {
            active = &p;
            break;
        }
    if (active)
        order.push_back(active);
    for (const ProfileConfig& p : config.profiles)
        if (&p != active)
            order.push_back(&p);
    return order;
}
