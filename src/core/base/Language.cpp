#include "base/Language.h"

#include <libintl.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>

namespace fs = std::filesystem;

#ifndef ULMET_LOCALE_DIR
#define ULMET_LOCALE_DIR "/usr/share/locale"
#endif

namespace Language {

namespace {

constexpr const char* kDomain = "ulmet";
std::atomic<Lang> g_current{Lang::japanese};

Lang fromName(std::string_view name) {
    if (name.empty() || name == "C" || name == "POSIX" || name.substr(0, 2) == "C.")
        return Lang::japanese;
    if (name.substr(0, 2) == "ja")
        return Lang::japanese;
    return Lang::english;
}

} // namespace

Lang fromLocale(const Getenv& getenv) {
    for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(variable);
        if (!value || !*value)
            continue;
        std::string_view name(value);
        if (std::strcmp(variable, "LANGUAGE") == 0)
            name = name.substr(0, name.find(':'));
        if (!name.empty())
            return fromName(name);
    }
    return Lang::japanese;
}

Setting settingFromString(std::string_view text) {
    if (text == "ja")
        return Setting::japanese;
    if (text == "en")
        return Setting::english;
    return Setting::automatic;
}

Lang choose(Setting setting, const Getenv& getenv) {
    switch (setting) {
    case Setting::japanese:
        return Lang::japanese;
    case Setting::english:
        return Lang::english;
    case Setting::automatic:
        break;
    }
    return fromLocale(getenv);
}

std::string_view code(Lang lang) {
    return lang == Lang::english ? "en" : "ja";
}

void use(Lang lang, const fs::path& localeDir) {
    g_current = lang;
    if (lang == Lang::japanese)
        return;
    // gettext takes the catalogue's language from LANGUAGE, which it ignores while the messages
    // locale is "C" (the locale named in LANG is not installed, or none is set): the built-in
    // C.UTF-8 is not "C" and is always there.
    const char* messages = std::setlocale(LC_MESSAGES, "");
    if (!messages || std::strcmp(messages, "C") == 0 || std::strcmp(messages, "POSIX") == 0)
        std::setlocale(LC_MESSAGES, "C.UTF-8");
    ::setenv("LANGUAGE", std::string(code(lang)).c_str(), 1);
    ::bindtextdomain(kDomain, localeDir.c_str());
    ::bind_textdomain_codeset(kDomain, "UTF-8");
}

Lang current() {
    return g_current;
}

fs::path localeDir(const fs::path& executableDir) {
    std::error_code error;
    if (const fs::path beside = executableDir / "locale"; fs::is_directory(beside, error))
        return beside;
    return ULMET_LOCALE_DIR;
}

const char* translate(const char* source) {
    if (g_current.load(std::memory_order_relaxed) == Lang::japanese)
        return source;
    return ::dgettext(kDomain, source);
}

} // namespace Language
