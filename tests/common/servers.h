#pragma once

// Servers a test stands up beside the portal, each on an ephemeral loopback port and a thread
// of its own, since the window's transfers block the main thread.

#include <QByteArray>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>

namespace testing {

// Answers every request for path with one fixed page (text/html).
class FixedPageServer {
public:
    FixedPageServer(const QString& path, const QByteArray& page);
    ~FixedPageServer();
    QString base() const;

private:
    std::unique_ptr<QThread> m_thread;
    QSemaphore m_ready;
    quint16 m_port = 0;
};

// Accepts every connection, reads the request and never answers; records the targets asked
// for.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    QString base() const;
    quint16 port() const { return m_port; }
    QStringList targets() const;

private:
    void serve();

    std::unique_ptr<QThread> m_thread;
    QSemaphore m_ready;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QStringList m_targets;
};

} // namespace testing
