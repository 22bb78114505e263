#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// SIGTERM (the session ending, `kill`), SIGINT and SIGHUP end the event loop as "終了" does, so the
// program leaves through its normal exit: the store's jobs are waited for and the exit status is 0.
// The handler only writes a byte to a pipe; the main thread reads it.
class QuitOnSignal : public QObject {
    Q_OBJECT
public:
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};
