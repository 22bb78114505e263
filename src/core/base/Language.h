#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// The language the user reads. Japanese is the source language of every text (and what a session
// with no language set gets, so bug reports and scripts stay as they were); English is the first
// translation, and what any other language gets. The core's texts go through GNU gettext
// (`TR("…")`, extracted by xgettext into translations/), the Qt layers' through Qt's translator.
namespace Language {

enum class Lang { japanese, english };
// The user's choice in the settings; `automatic` follows the locale.
enum class Setting { automatic, japanese, english };

using Getenv = std::function<const char*(const char*)>;

// From the locale variables, the first one set in this order: LANGUAGE (its first entry),
// LC_ALL, LC_MESSAGES, LANG. "ja…" is Japanese, "C", "POSIX" or none is Japanese, anything else
// English.
Lang fromLocale(const Getenv& getenv);
// The setting's text in the configuration: "ja", "en"; anything else is automatic.
Setting settingFromString(std::string_view text);
Lang choose(Setting setting, const Getenv& getenv);

// "ja" / "en": the code of a language (the Qt translator's and the manual page's).
std::string_view code(Lang lang);

// Makes `lang` the language of TR() in this process, with the catalogue msgfmt compiled into
// `localeDir`/LANG/LC_MESSAGES/ulmet.mo, whether or not that locale is installed. Japanese needs
// no catalogue; a missing or damaged one leaves the texts in Japanese.
void use(Lang lang, const std::filesystem::path& localeDir);
// The language in use (Japanese until use()).
Lang current();

// Where the catalogues are: `locale` beside the executable (the build tree), else the
// installed one.
std::filesystem::path localeDir(const std::filesystem::path& executableDir);

// The text in the language in use.
const char* translate(const char* source);

} // namespace Language

// A text the user reads, written in Japanese (the source) and translated at run time.
#define TR(text) Language::translate(text)
// A text marked for translation where it is defined (a table), translated where it is used.
#define TR_NOOP(text) text
