#include "bus/BusService.h"

#include "readings/ProfileQuery.h"
#include "store/UsageStore.h"

#include <QDBusConnection>
#include <QPointer>

#include <algorithm>

BusService::BusService(UsageStore* store, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_lastSent(store->readings()) {
    m_throttle.setSingleShot(true);
    connect(&m_throttle, &QTimer::timeout, this, &BusService::sendIfChanged);
    connect(store, &UsageStore::statusesChanged, this, &BusService::noteChange);
    connect(store, &UsageStore::configChanged, this, &BusService::noteChange);
    connect(store, &UsageStore::emailsChanged, this, &BusService::noteChange);
    connect(store, &UsageStore::lastRefreshChanged, this, &BusService::noteChange);
}

bool BusService::publish(QDBusConnection bus) {
    return bus.registerObject(QString::fromLatin1(BusInterface::kPath), this,
                              QDBusConnection::ExportScriptableContents);
}

void BusService::Activate() {
    emit activateRequested();
}

void BusService::Switch(const QString& profile) {
    setDelayedReply(true);
    switchAndReply(profile, message());
}

void BusService::Refresh() {
    // A script refreshing in a loop must not undo the back-off after rate limiting.
    if (const auto until = m_store->backoffUntil(); until && *until > m_store->currentTime()) {
        sendErrorReply(QString::fromLatin1(BusInterface::kRateLimited),
                       tr("レート制限のため %1 まで再取得しません")
                           .arg(QString::fromStdString(DateTime::clockText(*until, m_store->currentTime()))));
        return;
    }
    m_store->requestRefresh();
}

QString BusService::Readings() {
    return QString::fromStdString(m_store->readings().toJson(m_store->currentTime()));
}

QCoro::Task<> BusService::switchAndReply(QString query, QDBusMessage call) {
    QDBusConnection bus = connection();
    const ProfileQuery::Match match = ProfileQuery::find(m_store->config().profiles, query.toStdString());
    if (match.kind != ProfileQuery::Match::Kind::found) {
        const char* name = match.kind == ProfileQuery::Match::Kind::ambiguous
                               ? BusInterface::kAmbiguousProfile
                               : BusInterface::kUnknownProfile;
        bus.send(call.createErrorReply(QString::fromLatin1(name), QString::fromStdString(match.message)));
        co_return;
    }
    QPointer<UsageStore> store = m_store;
    const UsageStore::SwitchOutcome outcome = co_await m_store->switchProfile(*match.profile);
    bus.send(outcome.switched ? call.createReply()
                              : call.createErrorReply(QString::fromLatin1(BusInterface::kSwitchFailed),
                                                      QString::fromStdString(outcome.message)));
    if (outcome.switched && store)
        co_await store->refreshAll();
}

void BusService::noteChange() {
    if (m_throttle.isActive())
        return;
    const qint64 since = m_sinceSent.isValid() ? m_sinceSent.elapsed() : kChangeIntervalMs;
    m_throttle.start(static_cast<int>(std::max<qint64>(0, kChangeIntervalMs - since)));
}

void BusService::sendIfChanged() {
    ::Readings now = m_store->readings();
    if (now.sameFigures(m_lastSent))
        return;
    m_lastSent = std::move(now);
    m_sinceSent.start();
    emit ReadingsChanged(QString::fromStdString(m_lastSent.toJson(m_store->currentTime())));
}
