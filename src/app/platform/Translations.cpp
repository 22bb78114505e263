#include "platform/Translations.h"

#include "config/ConfigStore.h"

#include <QCoreApplication>

Translations::Translations()
    : m_language(ConfigStore::chosenLanguage()) {
    // After QCoreApplication: the translator is installed into it.
    install(Language::localeDir(QCoreApplication::applicationDirPath().toStdString()));
}

Translations::Translations(Language::Lang language, const std::filesystem::path& localeDir)
    : m_language(language) {
    install(localeDir);
}

void Translations::install(const std::filesystem::path& localeDir) {
    Language::use(m_language, localeDir);
    if (m_language == Language::Lang::japanese)
        return; // the source texts
    const QString file =
        QStringLiteral(":/i18n/ulmet_%1.qm").arg(QString::fromUtf8(Language::code(m_language)));
    m_installed = m_translator.load(file) && QCoreApplication::installTranslator(&m_translator);
}

Translations::~Translations() {
    if (m_installed)
        QCoreApplication::removeTranslator(&m_translator);
    Language::use(Language::Lang::japanese, {});
}
