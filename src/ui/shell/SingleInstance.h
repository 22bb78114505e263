#pragma once

#include <QObject>

#include <memory>

class QLocalServer;
class QLockFile;

// One MeterKeeper per user. The first process owns the name io.github.ulmet.MeterKeeper on the
// session bus (the bus frees it when the process dies, however it dies); a later one calls its
// Activate method — the first opens its panel — and exits. Without a session bus, a lock file
// in $XDG_RUNTIME_DIR and a local socket do the same.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.ulmet.MeterKeeper")
public:
    static constexpr const char* kServiceName = "io.github.ulmet.MeterKeeper";

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first; otherwise the first has been asked to show itself.
    bool claim();

public slots:
    // Called by a later launch.
    Q_SCRIPTABLE void Activate();

signals:
    void activated();

private:
    bool claimWithoutBus();
    static QString privateDir();
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
