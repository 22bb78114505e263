#include "shell/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {
const QString kPath = QStringLiteral("/MeterKeeper");
const QString kInterface = QStringLiteral("io.github.ulmet.MeterKeeper");
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

// Where the lock and the socket live without a bus: a folder that is ours alone
// ($XDG_RUNTIME_DIR, else a folder of our own in the temp folder), or none. A folder that someone
// else made first is never used: they could hold our lock and keep us from starting.
QString SingleInstance::privateDir() {
    QString dir = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (dir.isEmpty()) {
        dir = QDir::tempPath() + QStringLiteral("/ulmet-") + QString::number(::getuid());
        ::mkdir(QFile::encodeName(dir).constData(), 0700);
    }
    struct stat st {};
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::getuid() || (st.st_mode & 077) != 0)
        return {};
    return dir;
}

bool SingleInstance::claimWithoutBus() {
    const QString dir = privateDir();
    if (dir.isEmpty()) {
        std::fprintf(stderr, "ulmet: no session bus and no private folder for the single-instance lock; "
                             "starting without it\n");
        return true;
    }
    const QString socketName = dir + QStringLiteral("/ulmet.socket");
    m_lock = std::make_unique<QLockFile>(dir + QStringLiteral("/ulmet.lock"));
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        m_server = std::make_unique<QLocalServer>();
        QLocalServer::removeServer(socketName);
        m_server->listen(socketName);
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
        socket.connectToServer(socketName);
        if (socket.waitForConnected(50)) {
            socket.disconnectFromServer();
            return false;
        }
        QThread::msleep(50);
    }
    return false;
}
