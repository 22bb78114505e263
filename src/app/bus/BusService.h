#pragma once

#include <QDBusContext>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "bus/BusInterface.h" // moc reads the introspection text from it

#ifndef Q_MOC_RUN
#include "readings/Readings.h"
#include <QCoro/QCoroTask>
#endif

class QDBusConnection;
class UsageStore;

// The running MeterKeeper on the session bus (interface io.github.ulmet.MeterKeeper1, described
// in io.github.ulmet.MeterKeeper1.xml beside this file): switch, refresh, the readings, and a
// signal when they change. A Switch takes its turn on the store's lane like a click.
class BusService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.ulmet.MeterKeeper1")
    Q_CLASSINFO("D-Bus Introspection", ULMET_BUS_INTERFACE_XML)

public:
    static constexpr int kChangeIntervalMs = 1000; // ReadingsChanged at most this often

    explicit BusService(UsageStore* store, QObject* parent = nullptr);
    // Exports the object at BusInterface::kPath; false when the bus refuses.
    bool publish(QDBusConnection bus);

public slots:
    Q_SCRIPTABLE void Activate();
    Q_SCRIPTABLE void Switch(const QString& profile);
    Q_SCRIPTABLE void Refresh();
    Q_SCRIPTABLE QString Readings();

signals:
    Q_SCRIPTABLE void ReadingsChanged(const QString& readings);
    void activateRequested();

private:
    QCoro::Task<> switchAndReply(QString query, QDBusMessage call);
    void noteChange();
    void sendIfChanged();

    UsageStore* m_store;
    ::Readings m_lastSent;
    QTimer m_throttle;
    QElapsedTimer m_sinceSent;
};
