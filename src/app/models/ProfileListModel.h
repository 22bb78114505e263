#pragma once

#include <QAbstractListModel>
#include <QStringList>

class UsageStore;

// The store's profiles as rows for the views, in configuration order. Everything a profile's
// section shows is a role; the time-dependent parts (elapsed markers, time left, ahead of pace)
// are computed for `now`, which the view moves on with refreshTime() while it is visible. Rows
// follow the store: a reorder moves rows (a drag keeps its delegate), other changes update them.
class ProfileListModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        ProfileIdRole = Qt::UserRole + 1,
        NameRole,
        ProviderRole, // "claude" or "codex"
        ColorRole,    // "#rrggbb"
        EmailRole,    // "" when none is known
        IsActiveRole,
        HasSlotRole,
        IsDuplicateRole,
        IsFirstRole,
        IsLastRole,
        StatusKindRole, // "none", "ok" or "error"
        MessageRole,    // the error status's message, or a reading kept after a failed look: its age and why
        WindowsRole,    // list of maps: key, label, utilization, percentText, elapsed (-1 when none),
                        // remaining ("" when no reset time), aheadOfPace, forecast ("" when none)
        ColorNameRole,  // the palette name
        ConfigDirRole,
        KnownEmailRole,     // the learned address, else the configured one, else ""
        HasIdentityRole,    // a captured identity (switchable)
        ClaudePositionRole, // 1, 2, … among the Claude profiles (the switching priority); 0 for Codex
        UsageSourceRole,    // "api" or "statusLine"
    };
    Q_ENUM(Role)

    explicit ProfileListModel(UsageStore* store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return static_cast<int>(m_ids.size()); }

    // Re-reads the store's clock and updates the time-dependent roles.
    Q_INVOKABLE void refreshTime();

signals:
    void countChanged();

private:
    void sync();
    UsageStore* m_store;
    QStringList m_ids;
    qint64 m_nowMs = 0;
};
