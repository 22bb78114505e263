#include "models/ProfileListModel.h"

#include "store/UsageStore.h"
#include "usage/UsageWindow.h"

#include <QVariantMap>

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

ProfileListModel::ProfileListModel(UsageStore* store, QObject* parent)
    : QAbstractListModel(parent)
    , m_store(store) {
    m_nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(m_store->currentTime().time_since_epoch())
                  .count();
    for (const ProfileConfig& p : m_store->config().profiles)
        m_ids.push_back(qs(p.id.toString()));
    for (auto signal : {&UsageStore::configChanged, &UsageStore::statusesChanged, &UsageStore::emailsChanged,
                        &UsageStore::slotPresenceChanged, &UsageStore::pendingEnrollEmailChanged})
        connect(m_store, signal, this, &ProfileListModel::sync);
}

int ProfileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QHash<int, QByteArray> ProfileListModel::roleNames() const {
    return {{ProfileIdRole, "profileId"},
            {NameRole, "name"},
            {ProviderRole, "provider"},
            {ColorRole, "profileColor"},
            {EmailRole, "email"},
            {IsActiveRole, "isActive"},
            {HasSlotRole, "hasSlot"},
            {IsDuplicateRole, "isDuplicate"},
            {IsFirstRole, "isFirst"},
            {IsLastRole, "isLast"},
            {StatusKindRole, "statusKind"},
            {MessageRole, "message"},
            {WindowsRole, "windows"},
            {ColorNameRole, "colorName"},
            {ConfigDirRole, "configDir"},
            {KnownEmailRole, "knownEmail"},
            {HasIdentityRole, "hasIdentity"},
            {ClaudePositionRole, "claudePosition"},
            {UsageSourceRole, "usageSource"}};
}

QVariant ProfileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= count())
        return {};
    const auto& profiles = m_store->config().profiles;
    const auto id = Uuid::parse(m_ids[index.row()].toStdString());
    const ProfileConfig* profile = nullptr;
    for (const ProfileConfig& p : profiles)
        if (id && p.id == *id)
            profile = &p;
    if (!profile)
        return {};
    const auto& config = m_store->config();
    const ProfileState* state = m_store->state(profile->id);
    switch (role) {
    case ProfileIdRole:
        return m_ids[index.row()];
    case NameRole:
        return qs(profile->name);
    case ProviderRole:
        return qs(std::string(toString(profile->provider)));
    case ColorRole:
        return QString::fromStdString(ColorPalette::hexText(ColorPalette::color(profile->colorName)));
    case EmailRole:
        return state && state->email ? qs(*state->email) : QString();
    case ColorNameRole:
        return qs(profile->colorName);
    case ConfigDirRole:
        return qs(profile->configDir);
    case UsageSourceRole:
        return qs(std::string(toString(profile->usageSource)));
    case KnownEmailRole:
        if (state && state->email)
            return qs(*state->email);
        return profile->accountEmail ? qs(*profile->accountEmail) : QString();
    case HasIdentityRole:
        return profile->accountIdentity.has_value();
    case ClaudePositionRole: {
        if (profile->provider != Provider::claude)
            return 0;
        int position = 0;
        for (const ProfileConfig& p : profiles) {
            position += p.provider == Provider::claude;
            if (&p == profile)
                break;
        }
        return position;
    }
    case IsActiveRole:
        return config.activeProfileID == profile->id;
    case HasSlotRole:
        return state && state->slotPresent.value_or(false);
    case IsDuplicateRole:
        return m_store->isDuplicateProfile(*profile);
    case IsFirstRole:
        return index.row() == 0;
    case IsLastRole:
        return index.row() == count() - 1;
    case StatusKindRole:
    case MessageRole:
    case WindowsRole: {
        if (!state || !state->status)
            return role == StatusKindRole ? QVariant(QStringLiteral("none")) : QVariant();
        if (const auto* error = state->status->errorValue()) {
            if (role == MessageRole && m_store->enrolmentTarget() == profile->id)
                // One call to action for the account on offer: the panel's "登録" puts it here.
                return tr("「登録」を押すと %1 のログインをここに取り込みます")
                    .arg(qs(*m_store->pendingEnrollEmail()));
            return role == StatusKindRole ? QVariant(QStringLiteral("error"))
                   : role == MessageRole  ? QVariant(qs(error->message))
                                          : QVariant();
        }
        if (role == StatusKindRole)
            return QStringLiteral("ok");
        const Instant now{std::chrono::duration_cast<Instant::duration>(std::chrono::milliseconds(m_nowMs))};
        if (role == MessageRole) // a reading kept after a failed look: how old, and why
            return state->problem
                       ? qs(UsageWindow::readingAge(state->ok()->at, now) + " · " + *state->problem)
                       : QString();
        QVariantList windows;
        for (const UsageWindow& w : state->ok()->windows) {
            const auto elapsed = w.elapsedFraction(now);
            QVariantMap cell;
            cell.insert(QStringLiteral("key"), qs(w.key));
            cell.insert(QStringLiteral("label"), qs(UsageWindow::compactLabel(w.key)));
            cell.insert(QStringLiteral("utilization"), w.utilization);
            cell.insert(QStringLiteral("percentText"), qs(UsageWindow::percentText(w.utilization)));
            cell.insert(QStringLiteral("elapsed"), elapsed ? *elapsed : -1.0);
            cell.insert(QStringLiteral("remaining"),
                        w.resetsAt ? qs(UsageWindow::remainShort(*w.resetsAt, now)) : QString());
            cell.insert(QStringLiteral("aheadOfPace"), elapsed && *elapsed + 0.08 < w.utilization / 100);
            QString forecast;
            if (const auto full = m_store->forecast(profile->id, w, state->ok()->at))
                forecast =
                    tr("このペースだと %1 ごろ上限（リセット %2）")
                        .arg(qs(DateTime::clockText(*full, now)), qs(DateTime::clockText(*w.resetsAt, now)));
            cell.insert(QStringLiteral("forecast"), forecast);
            windows.push_back(cell);
        }
        return windows;
    }
    default:
        return {};
    }
}

void ProfileListModel::refreshTime() {
    m_nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(m_store->currentTime().time_since_epoch())
                  .count();
    if (count() > 0)
        emit dataChanged(index(0), index(count() - 1), {WindowsRole, MessageRole});
}

void ProfileListModel::sync() {
    QStringList ids;
    for (const ProfileConfig& p : m_store->config().profiles)
        ids.push_back(qs(p.id.toString()));
    if (ids != m_ids) {
        QStringList sortedNew = ids, sortedOld = m_ids;
        sortedNew.sort();
        sortedOld.sort();
        if (sortedNew == sortedOld) {
            // A reorder: move rows one by one, so that delegates (a row being dragged) survive.
            for (int to = 0; to < ids.size(); ++to) {
                const int from = static_cast<int>(m_ids.indexOf(ids[to]));
                if (from == to)
                    continue;
                beginMoveRows({}, from, from, {}, to);
                m_ids.move(from, to);
                endMoveRows();
            }
        } else {
            beginResetModel();
            m_ids = ids;
            endResetModel();
            emit countChanged();
            return;
        }
    }
    if (count() > 0)
        emit dataChanged(index(0), index(count() - 1));
}
