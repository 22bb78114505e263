#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

class JobGroup;
class UsageStore;

// What the settings window edits: the configuration's fields (every edit goes through the store's
// debounced save, so a burst of typing is one write), the account operations, the live login's
// address (read off the main thread) and the login item. Main thread.
class SettingsModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(double pollIntervalSec READ pollIntervalSec WRITE setPollIntervalSec NOTIFY changed)
    Q_PROPERTY(bool keychainConnected READ keychainConnected NOTIFY changed)
    Q_PROPERTY(bool autoReadLiveClaude READ autoReadLiveClaude WRITE setAutoReadLiveClaude NOTIFY changed)
    Q_PROPERTY(bool menuSessionEnabled READ menuSessionEnabled WRITE setMenuSessionEnabled NOTIFY changed)
    Q_PROPERTY(QString menuSessionStyle READ menuSessionStyle WRITE setMenuSessionStyle NOTIFY changed)
    Q_PROPERTY(bool menuSessionShowRemaining READ menuSessionShowRemaining WRITE setMenuSessionShowRemaining
                   NOTIFY changed)
    Q_PROPERTY(bool menuWeekEnabled READ menuWeekEnabled WRITE setMenuWeekEnabled NOTIFY changed)
    Q_PROPERTY(QString menuWeekStyle READ menuWeekStyle WRITE setMenuWeekStyle NOTIFY changed)
    Q_PROPERTY(bool autoSwitchEnabled READ autoSwitchEnabled WRITE setAutoSwitchEnabled NOTIFY changed)
    Q_PROPERTY(
        double autoSwitchThreshold READ autoSwitchThreshold WRITE setAutoSwitchThreshold NOTIFY changed)
    Q_PROPERTY(int previewRevision READ previewRevision NOTIFY previewChanged)
    Q_PROPERTY(QString liveEmail READ liveEmail NOTIFY liveEmailChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY launchChanged)
    Q_PROPERTY(QString launchError READ launchError NOTIFY launchChanged)
    Q_PROPERTY(bool forecastNotify READ forecastNotify WRITE setForecastNotify NOTIFY changed)
    // "auto" (the locale's), "ja" or "en": read when the program starts.
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY changed)
    // Per Claude profile id: {"state": "ours" | "other" | "none", "command", "message"}, for the
    // statusLine entry of its directory's settings.json (read off the main thread).
    Q_PROPERTY(QVariantMap statusLine READ statusLine NOTIFY statusLineChanged)
    Q_PROPERTY(QStringList styles READ styles CONSTANT)
    Q_PROPERTY(QStringList styleNames READ styleNames CONSTANT)
    Q_PROPERTY(QStringList colorNames READ colorNames CONSTANT)

public:
    // `executable`: what the login item starts.
    SettingsModel(UsageStore* store, QString executable, QObject* parent = nullptr);
    ~SettingsModel() override;

    double pollIntervalSec() const;
    void setPollIntervalSec(double seconds);
    bool keychainConnected() const;
    bool autoReadLiveClaude() const;
    void setAutoReadLiveClaude(bool on);
    bool menuSessionEnabled() const;
    void setMenuSessionEnabled(bool on);
    QString menuSessionStyle() const;
    void setMenuSessionStyle(const QString& style);
    bool menuSessionShowRemaining() const;
    void setMenuSessionShowRemaining(bool on);
    bool menuWeekEnabled() const;
    void setMenuWeekEnabled(bool on);
    QString menuWeekStyle() const;
    void setMenuWeekStyle(const QString& style);
    bool autoSwitchEnabled() const;
    void setAutoSwitchEnabled(bool on);
    double autoSwitchThreshold() const;
    void setAutoSwitchThreshold(double percent);
    bool forecastNotify() const;
    QString language() const;
    void setLanguage(const QString& language);
    void setForecastNotify(bool on);
    QVariantMap statusLine() const { return m_statusLine; }
    int previewRevision() const { return m_previewRevision; }
    // The live login's account as the store knows it (the one its operations act on).
    QString liveEmail() const;
    bool launchAtLogin() const { return m_launchAtLogin; }
    QString launchError() const { return m_launchError; }
    QStringList styles() const;
    QStringList styleNames() const;
    QStringList colorNames() const;

    // Profile rows (by id text).
    Q_INVOKABLE void setProfileName(const QString& id, const QString& name);
    Q_INVOKABLE void setProfileProvider(const QString& id, const QString& provider);
    Q_INVOKABLE void setProfileColor(const QString& id, const QString& colorName);
    Q_INVOKABLE void setProfileDirectory(const QString& id, const QString& directory);
    Q_INVOKABLE void setProfileUsageSource(const QString& id, const QString& source);
    // Adds this program as the statusLine command of the profile's directory, off the main
    // thread; the outcome's message goes to statusLine[id].message.
    Q_INVOKABLE void installStatusLine(const QString& id);
    // Reads every Claude profile's statusLine entry again.
    Q_INVOKABLE void recheckStatusLine();
    Q_INVOKABLE void moveProfile(const QString& id, int by);
    Q_INVOKABLE void removeProfile(const QString& id);
    Q_INVOKABLE void addProfile(const QString& provider);
    // Stores the live login in the profile.
    Q_INVOKABLE void capture(const QString& id);
    // Has the store read the live login (and every profile) again.
    Q_INVOKABLE void recheckLiveLogin();
    Q_INVOKABLE void connectKeychain();
    Q_INVOKABLE void disconnectKeychain();
    // On a refusal the switch returns to the real state and the error is kept for the view.
    Q_INVOKABLE void setLaunchAtLogin(bool on);

signals:
    void changed();
    void previewChanged();
    void liveEmailChanged();
    void launchChanged();
    void statusLineChanged();

private:
    template <class F>
    void edit(F change);
    // (profile id, expanded directory) of every Claude profile.
    std::vector<std::pair<QString, std::filesystem::path>> claudeDirectories() const;

    UsageStore* m_store;
    QString m_executable;
    std::shared_ptr<JobGroup> m_jobs;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    int m_previewRevision = 0;
    bool m_launchAtLogin = false;
    QString m_launchError;
    QVariantMap m_statusLine;
    std::vector<std::pair<QString, std::filesystem::path>> m_statusLineDirs; // as last read
    QMap<QString, QString> m_statusLineMessages;
};
