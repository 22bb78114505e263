#include "settings/SettingsModel.h"

#include "base/Language.h"
#include "base/Paths.h"
#include "platform/LaunchAtLogin.h"
#include "statusline/StatusLineCommand.h"
#include "store/UsageStore.h"
#include "store/Worker.h"

#include <QCoro/QCoroFuture>

namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::optional<Uuid> idOf(const QString& text) {
    return Uuid::parse(text.toStdString());
}

} // namespace

SettingsModel::SettingsModel(UsageStore* store, QString executable, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_executable(std::move(executable))
    , m_jobs(std::make_shared<JobGroup>())
    , m_launchAtLogin(LaunchAtLogin::isEnabled()) {
    connect(m_store, &UsageStore::configChanged, this, &SettingsModel::changed);
    connect(m_store, &UsageStore::configChanged, this, [this] {
        if (claudeDirectories() != m_statusLineDirs) // a directory or Claude profile changed
            recheckStatusLine();
    });
    // The preview label follows the configuration and every new reading.
    for (auto signal : {&UsageStore::configChanged, &UsageStore::statusesChanged})
        connect(m_store, signal, this, [this] {
            ++m_previewRevision;
            emit previewChanged();
        });
    connect(m_store, &UsageStore::liveEmailChanged, this, &SettingsModel::liveEmailChanged);
    recheckStatusLine();
}

SettingsModel::~SettingsModel() {
    *m_alive = false;
    m_jobs->close();
}

// One edit of the configuration: applied at once, written by the store's debounced save.
template <class F>
void SettingsModel::edit(F change) {
    AppConfig config = m_store->config();
    change(config);
    if (config == m_store->config())
        return;
    m_store->setConfig(config);
    m_store->scheduleSave();
}

double SettingsModel::pollIntervalSec() const {
    return m_store->config().pollIntervalSec;
}
void SettingsModel::setPollIntervalSec(double seconds) {
    edit([&](AppConfig& c) { c.pollIntervalSec = seconds; });
}
bool SettingsModel::keychainConnected() const {
    return m_store->config().keychainConnected;
}
bool SettingsModel::autoReadLiveClaude() const {
    return m_store->config().autoReadLiveClaude;
}
void SettingsModel::setAutoReadLiveClaude(bool on) {
    edit([&](AppConfig& c) { c.autoReadLiveClaude = on; });
}
bool SettingsModel::menuSessionEnabled() const {
    return m_store->config().menuSessionEnabled;
}
void SettingsModel::setMenuSessionEnabled(bool on) {
    edit([&](AppConfig& c) { c.menuSessionEnabled = on; });
}
QString SettingsModel::menuSessionStyle() const {
    return qs(toString(m_store->config().menuSessionStyle));
}
void SettingsModel::setMenuSessionStyle(const QString& style) {
    if (const auto s = menuBarStyleFromString(style.toStdString()))
        edit([&](AppConfig& c) { c.menuSessionStyle = *s; });
}
bool SettingsModel::menuSessionShowRemaining() const {
    return m_store->config().menuSessionShowRemaining;
}
void SettingsModel::setMenuSessionShowRemaining(bool on) {
    edit([&](AppConfig& c) { c.menuSessionShowRemaining = on; });
}
bool SettingsModel::menuWeekEnabled() const {
    return m_store->config().menuWeekEnabled;
}
void SettingsModel::setMenuWeekEnabled(bool on) {
    edit([&](AppConfig& c) { c.menuWeekEnabled = on; });
}
QString SettingsModel::menuWeekStyle() const {
    return qs(toString(m_store->config().menuWeekStyle));
}
void SettingsModel::setMenuWeekStyle(const QString& style) {
    if (const auto s = menuBarStyleFromString(style.toStdString()))
        edit([&](AppConfig& c) { c.menuWeekStyle = *s; });
}
bool SettingsModel::autoSwitchEnabled() const {
    return m_store->config().autoSwitchEnabled;
}
void SettingsModel::setAutoSwitchEnabled(bool on) {
    edit([&](AppConfig& c) { c.autoSwitchEnabled = on; });
}
double SettingsModel::autoSwitchThreshold() const {
    return m_store->config().autoSwitchThreshold;
}
void SettingsModel::setAutoSwitchThreshold(double percent) {
    edit([&](AppConfig& c) { c.autoSwitchThreshold = percent; });
}

QStringList SettingsModel::styles() const {
    QStringList all;
    for (MenuBarStyle s : allMenuBarStyles())
        all.push_back(qs(toString(s)));
    return all;
}
QStringList SettingsModel::styleNames() const {
    QStringList all;
    for (MenuBarStyle s : allMenuBarStyles())
        all.push_back(QString::fromUtf8(TR(displayName(s).data())));
    return all;
}
QStringList SettingsModel::colorNames() const {
    QStringList all;
    for (const ColorPalette::Entry& e : ColorPalette::all())
        all.push_back(qs(e.name));
    return all;
}

void SettingsModel::setProfileName(const QString& id, const QString& name) {
    edit([&](AppConfig& c) {
        for (ProfileConfig& p : c.profiles)
            if (p.id == idOf(id))
                p.name = name.toStdString();
    });
}
void SettingsModel::setProfileProvider(const QString& id, const QString& provider) {
    if (const auto value = providerFromString(provider.toStdString()))
        edit([&](AppConfig& c) {
            for (ProfileConfig& p : c.profiles)
                if (p.id == idOf(id))
                    p.provider = *value;
        });
}
void SettingsModel::setProfileColor(const QString& id, const QString& colorName) {
    edit([&](AppConfig& c) {
        for (ProfileConfig& p : c.profiles)
            if (p.id == idOf(id))
                p.colorName = colorName.toStdString();
    });
}
void SettingsModel::setProfileDirectory(const QString& id, const QString& directory) {
    edit([&](AppConfig& c) {
        for (ProfileConfig& p : c.profiles)
            if (p.id == idOf(id))
                p.configDir = directory.toStdString();
    });
}
void SettingsModel::moveProfile(const QString& id, int by) {
    m_store->moveProfileBy(id, by);
}
void SettingsModel::removeProfile(const QString& id) {
    if (const auto uuid = idOf(id))
        m_store->removeProfile(*uuid);
}
void SettingsModel::addProfile(const QString& provider) {
    if (const auto value = providerFromString(provider.toStdString()))
        m_store->addProfile(*value);
}

void SettingsModel::capture(const QString& id) {
    const auto uuid = idOf(id);
    const ProfileConfig* profile = nullptr;
    for (const ProfileConfig& p : m_store->config().profiles)
        if (uuid && p.id == *uuid)
            profile = &p;
    if (!profile)
        return;
    m_store->captureActive(*profile);
}

QString SettingsModel::language() const {
    return qs(m_store->config().language);
}
void SettingsModel::setLanguage(const QString& language) {
    const std::string value = language.toStdString();
    if (value == "auto" || value == "ja" || value == "en")
        edit([&](AppConfig& c) { c.language = value; });
}

bool SettingsModel::forecastNotify() const {
    return m_store->config().forecastNotify;
}
void SettingsModel::setForecastNotify(bool on) {
    edit([&](AppConfig& c) { c.forecastNotify = on; });
}

void SettingsModel::setProfileUsageSource(const QString& id, const QString& source) {
    if (const auto value = usageSourceFromString(source.toStdString()))
        edit([&](AppConfig& c) {
            for (ProfileConfig& p : c.profiles)
                if (p.id == idOf(id))
                    p.usageSource = *value;
        });
}

std::vector<std::pair<QString, std::filesystem::path>> SettingsModel::claudeDirectories() const {
    std::vector<std::pair<QString, std::filesystem::path>> dirs;
    const auto home = m_store->homeDirectory();
    for (const ProfileConfig& p : m_store->config().profiles)
        if (p.provider == Provider::claude)
            dirs.emplace_back(qs(p.id.toString()), Paths::expandTilde(p.configDir, home));
    return dirs;
}

void SettingsModel::recheckStatusLine() {
    const auto dirs = claudeDirectories();
    m_statusLineDirs = dirs;
    const std::string ours = StatusLineCommand::commandFor(m_executable.toStdString());
    auto job = m_jobs->run([dirs, ours] {
        std::vector<std::pair<QString, StatusLineCommand::Installed>> states;
        for (const auto& [id, dir] : dirs)
            states.emplace_back(id, StatusLineCommand::inspect(dir, ours));
        return states;
    });
    [](SettingsModel* self, std::shared_ptr<bool> alive,
       QFuture<std::vector<std::pair<QString, StatusLineCommand::Installed>>> pending) -> QCoro::Task<> {
        const auto states = co_await pending;
        if (!*alive)
            co_return;
        QVariantMap all;
        for (const auto& [id, installed] : states) {
            QVariantMap entry;
            entry.insert(QStringLiteral("state"), installed.state == StatusLineCommand::InstallState::ours
                                                      ? QStringLiteral("ours")
                                                  : installed.state == StatusLineCommand::InstallState::other
                                                      ? QStringLiteral("other")
                                                      : QStringLiteral("none"));
            entry.insert(QStringLiteral("command"), qs(installed.command));
            entry.insert(QStringLiteral("message"), self->m_statusLineMessages.value(id));
            all.insert(id, entry);
        }
        if (all != self->m_statusLine) {
            self->m_statusLine = all;
            emit self->statusLineChanged();
        }
    }(this, m_alive, job);
}

void SettingsModel::installStatusLine(const QString& id) {
    const ProfileConfig* profile = nullptr;
    for (const ProfileConfig& p : m_store->config().profiles)
        if (p.id == idOf(id))
            profile = &p;
    if (!profile || profile->provider != Provider::claude)
        return;
    const auto dir = Paths::expandTilde(profile->configDir, m_store->homeDirectory());
    const std::string command = StatusLineCommand::commandFor(m_executable.toStdString());
    auto job = m_jobs->run([dir, command] { return StatusLineCommand::install(dir, command); });
    [](SettingsModel* self, std::shared_ptr<bool> alive, QString id,
       QFuture<StatusLineCommand::InstallResult> pending) -> QCoro::Task<> {
        const auto result = co_await pending;
        if (!*alive)
            co_return;
        self->m_statusLineMessages.insert(id, qs(result.message));
        self->recheckStatusLine();
    }(this, m_alive, id, job);
}

QString SettingsModel::liveEmail() const {
    return m_store->liveEmailText();
}

void SettingsModel::recheckLiveLogin() {
    m_store->requestRefresh();
}

void SettingsModel::connectKeychain() {
    m_store->requestConnectKeychain();
}
void SettingsModel::disconnectKeychain() {
    m_store->disconnectKeychain();
}

void SettingsModel::setLaunchAtLogin(bool on) {
    const auto error = LaunchAtLogin::set(on, m_executable);
    m_launchError = error.value_or(QString());
    m_launchAtLogin = error ? LaunchAtLogin::isEnabled() : on;
    emit launchChanged();
}
