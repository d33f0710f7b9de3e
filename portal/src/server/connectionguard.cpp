#include "server/connectionguard.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace portal {

namespace {

// A small HTML page, like the portal's other error pages, and the end of the connection.
QByteArray shortAnswer(int status, const char* reason) {
    const QByteArray code = QByteArray::number(status);
    const QByteArray body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + code +
                            ' ' + reason + "</title></head><body><h1>" + code + ' ' + reason +
                            "</h1></body></html>\n";
    return "HTTP/1.1 " + code + ' ' + reason +
           "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Whether a complete request head announces a body: any Transfer-Encoding, or a Content-Length
// other than zero (a malformed one included).
bool announcesBody(const QByteArray& head) {
    qsizetype start = 0;
    while (start < head.size()) {
        qsizetype end = head.indexOf('\n', start);
        if (end < 0)
            end = head.size();
        const QByteArray line = head.mid(start, end - start);
        start = end + 1;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "transfer-encoding")
            return true;
        if (name == "content-length") {
            bool ok = false;
            const qlonglong length = value.toLongLong(&ok);
            if (!ok || length != 0)
                return true;
        }
    }
    return false;
}

int openReserve() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

} // namespace

// Watches one connection. Its slot on readyRead is connected before the HTTP server's, so it
// sees every byte first (peeked, not read) and can answer in the server's place.
class ConnectionGuard : public QObject {
public:
    using Clock = std::chrono::steady_clock;

    ConnectionGuard(QTcpSocket* socket, const ServerLimits& limits, QObject* server)
        : QObject(socket)
        , m_socket(socket)
        , m_limits(limits)
        , m_server(server) {
        m_idle.setSingleShot(true);
        m_headDeadline.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, this, &ConnectionGuard::idleTimeout);
        connect(&m_headDeadline, &QTimer::timeout, this, &ConnectionGuard::headTimeout);
        connect(socket, &QTcpSocket::readyRead, this, &ConnectionGuard::readyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, &ConnectionGuard::written);
        m_idle.start(m_limits.idleTimeoutMs);
        // The first head is due from the opening: a connection that never starts one is closed
        // as well as one that never finishes it.
        m_headDeadline.start(m_limits.headerTimeoutMs);
    }

    // Only whole requests and answers count: a client that sends a head byte by byte is no more
    // active for it, so trickling does not keep a slot.
    Clock::time_point lastActive() const { return m_lastActive; }
    // A connection the server still owes an answer is busy, not idle.
    bool canBeClosedForRoom() const { return m_owed == 0; }

    void closeForRoom() { close(); }

private:
    void readyRead() {
        if (m_refused) {
            // Nothing more is read for the server; what still arrives is dropped.
            if (m_socket->isTransactionStarted())
                m_socket->rollbackTransaction();
            m_socket->readAll();
            return;
        }
        const QByteArray fresh = m_socket->peek(m_socket->bytesAvailable());
        for (const char c : fresh) {
            if (m_head.isEmpty() && (c == '\r' || c == '\n'))
                continue; // blank lines before a request line are allowed and ignored
            if (m_head.isEmpty() && !m_headDeadline.isActive())
                m_headDeadline.start(m_limits.headerTimeoutMs);
            m_head.append(c);
            if (m_head.size() > m_limits.maxHeadBytes) {
                refuse(431, "Request Header Fields Too Large");
                return;
            }
            if (c != '\n' || !(m_head.endsWith("\n\n") || m_head.endsWith("\n\r\n")))
                continue;
            // A whole head: the server will answer it, so the connection is not idle until then.
            if (announcesBody(m_head)) {
                refuse(413, "Content Too Large");
                return;
            }
            m_head.clear();
            m_headDeadline.stop();
            ++m_owed;
            m_idle.stop();
            m_lastActive = Clock::now();
        }
    }

    void written() {
        // Progress on an answer; once it is all out, the connection owes nothing.
        if (m_socket->bytesToWrite() == 0)
            m_owed = 0;
        m_idle.start(m_limits.idleTimeoutMs);
        m_lastActive = Clock::now();
    }

    void idleTimeout() { close(); }

    void headTimeout() {
        if (m_refused)
            return;
        // A head behind an answer still owed waits for the server, not for the client: it is
        // timed again once the answers are out, so that nothing is written ahead of them.
        if (m_owed > 0) {
            m_headDeadline.start(m_limits.headerTimeoutMs);
            return;
        }
        // A client that has begun a head learns why it is cut off; one that sent nothing is just
        // closed, as a connection opened ahead of need may be.
        if (m_head.isEmpty())
            close();
        else
            refuse(408, "Request Timeout");
    }

    void close() {
        // An answer the client does not take is dropped, not flushed.
        if (m_socket->bytesToWrite() > 0)
            m_socket->abort();
        else
            m_socket->disconnectFromHost();
    }

    void refuse(int status, const char* reason) {
        m_refused = true;
        m_headDeadline.stop();
        m_idle.start(m_limits.idleTimeoutMs);
        // On its way out: the first to go when room is needed.
        m_lastActive = Clock::time_point::min();
        // The server sees nothing more of this connection; the guard answers and closes it.
        if (m_server)
            QObject::disconnect(m_socket, &QTcpSocket::readyRead, m_server, nullptr);
        if (m_socket->isTransactionStarted())
            m_socket->rollbackTransaction();
        m_socket->readAll();
        m_socket->write(shortAnswer(status, reason));
        m_socket->disconnectFromHost();
    }

    QTcpSocket* m_socket;
    ServerLimits m_limits;
    QPointer<QObject> m_server;
    QByteArray m_head;
    QTimer m_idle;
    QTimer m_headDeadline; // runs while a head is due: from the opening, then from its first byte
    Clock::time_point m_lastActive = Clock::now();
    int m_owed = 0; // whole requests seen whose answers are not yet out
    bool m_refused = false;
};

GuardedListener::GuardedListener(const ServerLimits& limits, QObject* parent)
    : QTcpServer(parent)
    , m_limits(limits)
    , m_reserve(openReserve()) {}

GuardedListener::~GuardedListener() {
    delete m_notifier;
    if (m_watched >= 0)
        ::close(m_watched);
    if (m_reserve >= 0)
        ::close(m_reserve);
}

bool GuardedListener::start(const QHostAddress& address, quint16 port) {
    if (!listen(address, port))
        return false;
    // Accepting is done here, not by QTcpServer.
    pauseAccepting();
    // Watched through a descriptor of its own: QTcpServer turns its notifier on the listening
    // descriptor on and off again (nextPendingConnection() does), and Qt's own event dispatcher
    // keeps one read notifier per descriptor, so on a shared one the guard's would be displaced
    // and then dropped with QTcpServer's.
    m_watched = ::fcntl(int(socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (m_watched < 0) {
        close();
        return false;
    }
    m_notifier = new QSocketNotifier(m_watched, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &GuardedListener::acceptReady);
    return true;
}

QTcpSocket* GuardedListener::nextPendingConnection() {
    QTcpSocket* socket = QTcpServer::nextPendingConnection();
    // QTcpServer turns its own accepting back on here; it stays off.
    pauseAccepting();
    return socket;
}

void GuardedListener::acceptReady() {
    // A bounded batch, so that answers on open connections go on between batches.
    for (int i = 0; i < 32; ++i) {
        const int fd = ::accept4(m_watched, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            admit(fd);
            continue;
        }
        switch (errno) {
        case EINTR:
        case ECONNABORTED:
            continue;
        case EAGAIN:
#if EAGAIN != EWOULDBLOCK
        case EWOULDBLOCK:
#endif
            return;
        case EMFILE:
        case ENFILE:
            // The client waiting in the queue would keep the listening socket readable and this
            // loop busy: turn it away with the spare descriptor.
            if (shedOneWithoutDescriptors())
                continue;
            pauseFor(200);
            return;
        default:
            pauseFor(200);
            return;
        }
    }
}

bool GuardedListener::shedOneWithoutDescriptors() {
    if (m_reserve < 0)
        m_reserve = openReserve();
    if (m_reserve < 0)
        return false;
    ::close(m_reserve);
    m_reserve = -1;
    const int fd = ::accept4(m_watched, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
    m_reserve = openReserve();
    return fd >= 0;
}

void GuardedListener::pauseFor(int ms) {
    m_notifier->setEnabled(false);
    QTimer::singleShot(ms, m_notifier, [n = m_notifier] { n->setEnabled(true); });
}

void GuardedListener::turnAway(int descriptor) {
    static const QByteArray busy = shortAnswer(503, "Service Unavailable");
    // Best effort on a fresh connection: the answer fits the socket's send buffer.
    [[maybe_unused]] const ssize_t sent =
        ::send(descriptor, busy.constData(), size_t(busy.size()), MSG_NOSIGNAL);
    ::shutdown(descriptor, SHUT_WR);
    ::close(descriptor);
}

bool GuardedListener::makeRoom() {
    // The connection idle the longest goes; one the server still owes an answer is not idle.
    ConnectionGuard* oldest = nullptr;
    for (ConnectionGuard* guard : m_guards) {
        if (guard->canBeClosedForRoom() && (!oldest || guard->lastActive() < oldest->lastActive()))
            oldest = guard;
    }
    if (!oldest)
        return false;
    // Its slot is free now, whenever its socket is done with.
    m_guards.removeOne(oldest);
    oldest->closeForRoom();
    return true;
}

void GuardedListener::admit(int descriptor) {
    if (openConnections() >= m_limits.maxConnections && !makeRoom()) {
        turnAway(descriptor);
        return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        delete socket;
        return;
    }
    // Bounds what one connection can make the server hold: a head never needs more.
    socket->setReadBufferSize(m_limits.maxHeadBytes + 4096);
    auto* guard = new ConnectionGuard(socket, m_limits, m_server);
    m_guards.append(guard);
    connect(socket, &QObject::destroyed, this, [this, guard] { m_guards.removeOne(guard); });
    // A connection that ends is let go even when the server has no more reason to.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    addPendingConnection(socket);
    Q_EMIT newConnection();
}

} // namespace portal
