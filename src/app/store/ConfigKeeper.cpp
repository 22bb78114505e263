#include "store/ConfigKeeper.h"

#include "base/Text.h"
#include "store/UsageStore.h"

#include <QFileInfo>

namespace {

// An editor may write a file in several steps: look once it has been quiet this long.
constexpr std::chrono::milliseconds kSettleDelay{500};

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

ConfigKeeper::ConfigKeeper(UsageStore& store)
    : m_store(store) {
    QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_watcher,
                     [this] { lookAfterDelay(++m_lookGeneration); });
    QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_watcher,
                     [this] { lookAfterDelay(++m_lookGeneration); });
}

void ConfigKeeper::load() {
    const std::filesystem::path& dir = m_store.m_deps.configDir;
    ConfigStore::Loaded loaded = ConfigStore::load(dir, m_store.m_deps.services.home);
    m_store.m_config = std::move(loaded.config);
    m_bytes = std::move(loaded.bytes);
    if (loaded.fault) {
        m_onDefaults = loaded.source == ConfigStore::Loaded::Source::defaults;
        broken(ConfigStore::Reading{m_bytes, std::nullopt, loaded.fault});
    }
    watch();
}

void ConfigKeeper::watch() {
    // The folder sees a file renamed over config.json, the file a write into it. A watch on the
    // file ends with the file it watched, so it is set again after every look.
    const QString dir = QString::fromStdString(m_store.m_deps.configDir.string());
    const QString file = QString::fromStdString((m_store.m_deps.configDir / "config.json").string());
    if (!m_watcher.directories().contains(dir) && QFileInfo::exists(dir))
        m_watcher.addPath(dir);
    if (!m_watcher.files().contains(file) && !m_watcher.directories().contains(file) &&
        QFileInfo::exists(file))
        m_watcher.addPath(file);
}

QCoro::Task<> ConfigKeeper::lookAfterDelay(std::uint64_t generation) {
    const auto alive = m_store.m_alive;
    co_await m_store.m_deps.sleeper->sleep(kSettleDelay);
    if (!*alive || generation != m_lookGeneration)
        co_return; // the file changed again meanwhile
    if (look())
        m_store.startPolling(); // a new interval or new profiles count from now
}

bool ConfigKeeper::look() {
    watch();
    ConfigStore::Reading reading = ConfigStore::read(m_store.m_deps.configDir);
    if (!reading.bytes && !reading.fault)
        return false; // gone (an editor between removing and writing it): the next save writes it
    if (reading.bytes == m_bytes && (reading.bytes || m_fault))
        return false; // as last read or written here
    m_bytes = reading.bytes;
    if (reading.fault) {
        if (!m_fault)
            m_onDefaults = false; // what runs now is the configuration last read
        broken(reading);
        return false;
    }
    setFault(std::nullopt);
    if (*reading.config == m_store.m_config)
        return false;
    m_store.m_config = std::move(*reading.config);
    for (const ProfileConfig& p : m_store.m_config.profiles) {
        const ProfileState* s = m_store.state(p.id);
        if (p.accountEmail && (!s || !s->email))
            m_store.setEmail(p.id, p.accountEmail);
    }
    emit m_store.configChanged();
    return true;
}

void ConfigKeeper::save() {
    if (look() || m_fault)
        return; // the person's file comes first; a broken one is theirs to correct or restore
    if (auto bytes = ConfigStore::save(m_store.m_config, m_store.m_deps.configDir))
        m_bytes = std::move(bytes);
}

bool ConfigKeeper::restore() {
    if (!m_fault)
        return false;
    auto replaced = ConfigStore::replaceBroken(m_store.m_config, m_store.m_deps.configDir);
    if (!replaced) {
        look(); // corrected meanwhile, perhaps
        if (m_fault)
            m_store.setLastActionMessage(tr("設定を書き戻せませんでした").toStdString());
        return false;
    }
    m_bytes = std::move(replaced->bytes);
    setFault(std::nullopt);
    if (replaced->keptAs)
        m_store.setLastActionMessage(tr("設定を書き戻しました。誤りのあった内容は %1 に残しています")
                                         .arg(QString::fromStdString(replaced->keptAs->filename().string()))
                                         .toStdString());
    else
        m_store.setLastActionMessage(tr("設定を書き戻しました").toStdString());
    return true;
}

void ConfigKeeper::broken(const ConfigStore::Reading& reading) {
    std::optional<std::filesystem::path> keptAs;
    if (reading.bytes)
        keptAs = ConfigStore::keepBroken(m_store.m_deps.configDir, *reading.bytes);
    setFault(reading.fault);
    // Told once per version: an unreadable file has no content to tell versions apart by.
    const std::uint64_t fingerprint = reading.bytes ? Text::fnv1a64(*reading.bytes) : 0;
    if (!m_told.insert(fingerprint).second || !m_store.m_deps.notify)
        return;
    QString body = qs(ConfigStore::describe(*reading.fault, fileText().toStdString())) + QLatin1Char('\n') +
                   (m_onDefaults ? tr("既定の設定で動作中です。") : tr("バックアップの設定で動作中です。"));
    if (keptAs)
        body += tr("誤りのある内容は %1 に残しています。")
                    .arg(QString::fromStdString(keptAs->filename().string()));
    m_store.m_deps.notify(tr("設定ファイルに誤りがあります"), body);
}

void ConfigKeeper::setFault(std::optional<ConfigStore::Fault> fault) {
    if (m_fault == fault)
        return;
    m_fault = std::move(fault);
    emit m_store.configFaultChanged();
}

QString ConfigKeeper::fileText() const {
    // As the person finds it: the home directory as "~".
    const std::filesystem::path file = m_store.m_deps.configDir / "config.json";
    const std::filesystem::path relative = file.lexically_relative(m_store.m_deps.services.home);
    if (!m_store.m_deps.services.home.empty() && !relative.empty() && *relative.begin() != "..")
        return QStringLiteral("~/") + QString::fromStdString(relative.string());
    return QString::fromStdString(file.string());
}

QString ConfigKeeper::faultText() const {
    if (!m_fault)
        return {};
    QString text = qs(ConfigStore::describe(*m_fault, fileText().toStdString())) + QLatin1Char('\n') +
                   (m_onDefaults ? tr("既定の設定で動作中です。") : tr("バックアップの設定で動作中です。"));
    if (restoreText().isEmpty())
        text += tr("ファイルを直すまで、設定の変更は保存されません");
    else
        text += tr("ファイルを直すか「%1」を選ぶまで、設定の変更は保存されません").arg(restoreText());
    return text;
}

QString ConfigKeeper::restoreText() const {
    if (!m_fault || m_fault->kind == ConfigStore::Fault::Kind::unreadable)
        return {};
    return m_onDefaults ? tr("既定の設定に戻す") : tr("バックアップに戻す");
}
