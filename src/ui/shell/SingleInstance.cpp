#include "shell/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

namespace {
const QString kPath = QStringLiteral("/MeterKeeper");
const QString kInterface = QStringLiteral("io.github.ulmet.MeterKeeper");

QString socketName() {
    return QStringLiteral("ulmet-") + QString::number(::getuid());
}
} // namespace

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

void SingleInstance::Activate() {
    emit activated();
}

bool SingleInstance::claim() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return claimWithoutBus();
    bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots);
    const auto reply = bus.interface()->registerService(QString::fromLatin1(kServiceName),
                                                        QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return true;
    bus.unregisterObject(kPath);
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kServiceName), kPath, kInterface,
                                                       QStringLiteral("Activate"));
    bus.call(call, QDBus::Block, 3000);
    return false;
}

bool SingleInstance::claimWithoutBus() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    m_lock = std::make_unique<QLockFile>(dir + QStringLiteral("/ulmet.lock"));
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        m_server = std::make_unique<QLocalServer>();
        QLocalServer::removeServer(socketName());
        m_server->listen(socketName());
        connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* s = m_server->nextPendingConnection()) {
                s->deleteLater();
                emit activated();
            }
        });
        return true;
    }
    // The first process may still be starting its server: try for about a second.
    for (int i = 0; i < 20; ++i) {
        QLocalSocket socket;
        socket.connectToServer(socketName());
        if (socket.waitForConnected(50)) {
            socket.disconnectFromServer();
            return false;
        }
        QThread::msleep(50);
    }
    return false;
}
