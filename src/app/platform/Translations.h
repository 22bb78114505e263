#pragma once

#include "base/Language.h"

#include <QTranslator>

#include <filesystem>

// The user's language for this process, once its QCoreApplication exists: the setting in
// config.json, else the locale. The core's texts (gettext) and the Qt layers' (the translator of
// ":/i18n/ulmet_LANG.qm", carried by every module with the app layer) follow it.
class Translations {
public:
    Translations();
    // A given language, with the core's catalogues in `localeDir` (tests).
    Translations(Language::Lang language, const std::filesystem::path& localeDir);
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    Language::Lang language() const { return m_language; }

private:
    void install(const std::filesystem::path& localeDir);

    Language::Lang m_language;
    QTranslator m_translator;
    bool m_installed = false;
};
