#pragma once

// Servers a test stands up beside the portal, each on an ephemeral loopback port and a thread
// of its own, since the window's transfers block the main thread.

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QSemaphore>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

namespace testing {

// A server running on a thread of its own until it is destroyed.
class ThreadedServer {
public:
    QString base() const;
    quint16 port() const { return m_port; }

protected:
    ThreadedServer() = default;
    ~ThreadedServer();
    // On the server's thread: listen sets up what serves (as children of owner) and returns the
    // port; then the thread runs its event loop until the server is destroyed.
    void start(std::function<quint16(QObject& owner)> listen);

private:
    std::unique_ptr<QThread> m_thread;
    QSemaphore m_ready;
    quint16 m_port = 0;
};

// Answers every request for path with one fixed page (text/html).
class FixedPageServer : public ThreadedServer {
public:
    FixedPageServer(const QString& path, const QByteArray& page);
};

// Accepts every connection, reads the request and never answers; records the targets asked
// for.
class SilentServer : public ThreadedServer {
public:
    SilentServer();
    QStringList targets() const;

private:
    mutable QMutex m_mutex;
    QStringList m_targets;
};

} // namespace testing
