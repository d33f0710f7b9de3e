#pragma once

#include <QHostAddress>
#include <QList>
#include <QTcpServer>

class QSocketNotifier;

namespace portal {

class ConnectionGuard;

// What one portal process allows its clients.
struct ServerLimits {
    int maxHeadBytes = 16 * 1024; // request line and header fields of one request together
    int idleTimeoutMs = 30000;    // a connection that owes no answer is closed after this
    // Open at once. One more closes the connection idle the longest to make room; when every
    // connection is owed an answer, it is answered 503 and closed instead.
    int maxConnections = 64;
    // A request head must be whole this long after it is due (from the opening for the first,
    // from its first byte for the next on a kept connection); if not, the connection is answered
    // 408 and closed, or just closed when nothing of a head came.
    int headerTimeoutMs = 10000;
};

// The listening side in front of the HTTP server, which in this Qt version has no limits of its
// own: it accepts connections itself (so that running out of descriptors turns a client away
// instead of spinning on a listening socket that stays readable), caps their number, and
// watches every connection's bytes before the HTTP server reads them: an oversized request head
// is answered 431, a request with a body 413, a head that is not whole in time 408, and a
// connection that is idle for too long is closed. The HTTP server takes the connections with bind()
// and nextPendingConnection().
class GuardedListener : public QTcpServer {
public:
    explicit GuardedListener(const ServerLimits& limits, QObject* parent = nullptr);
    ~GuardedListener() override;

    bool start(const QHostAddress& address, quint16 port);
    // The receiver whose connections to a socket are cut when the guard answers in its place.
    void setHttpServer(QObject* server) { m_server = server; }

    QTcpSocket* nextPendingConnection() override;

    int openConnections() const { return int(m_guards.size()); }

private:
    void acceptReady();
    void admit(int descriptor);
    void turnAway(int descriptor);
    bool makeRoom();
    bool shedOneWithoutDescriptors();
    void pauseFor(int ms);

    ServerLimits m_limits;
    QObject* m_server = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    int m_watched = -1; // the listening socket, as the descriptor the guard accepts on
    int m_reserve = -1; // a spare descriptor, given up to accept and close one client
    QList<ConnectionGuard*> m_guards; // one a connection that holds a slot
};

} // namespace portal
