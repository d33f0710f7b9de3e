#include "server/portalserver.h"

#include "pages/router.h"
#include "prices/marketdata.h"

#include <QAbstractHttpServer>
#include <QCoreApplication>
#include <QHash>
#include <QHttpServerRequest>
#include <QMetaEnum>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QTcpSocket>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <utility>

#include <sys/socket.h>

namespace portal {

namespace {

// The request's method as its request line names it ("GET", "PATCH", ...).
QByteArray methodName(QHttpServerRequest::Method m) {
    const char* key = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(m));
    return key ? QByteArray(key).toUpper() : QByteArrayLiteral("OTHER");
}

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

namespace {

// What the server thread and the owner's thread share.
struct ServerState {
    std::unique_ptr<MarketData> data;
    ChartStyle chartStyle; // set before the server starts, then only read
    bool keepLog = true;   // guarded by mutex
    mutable QMutex mutex;  // guards faults and log
    Faults faults;
    QList<LogEntry> log;

    Faults currentFaults() const {
        QMutexLocker lock(&mutex);
        return faults;
    }
    void record(const QByteArray& method, const QString& target, int status, int inFlight = 0,
                int connections = 0) {
        QMutexLocker lock(&mutex);
        if (!keepLog)
            return;
        // A long-running program keeps only the latest entries; tests read far fewer.
        constexpr int kMaxLog = 20000;
        if (log.size() >= kMaxLog)
            log.remove(0, kMaxLog / 2);
        log.append({QString::fromLatin1(method), target.left(2048), status, inFlight, connections});
    }
};

// Counts, on the server's thread, the answers still owed and the connections open, for the
// log. A connection the client has closed is noticed before counting (its end is already in the
// kernel), so a client that cancels and asks again is not counted twice.
class Concurrency {
public:
    int arrived(QTcpSocket* socket) {
        dropClosed();
        if (!m_owed.contains(socket)) {
            // m_guard ends these connections with this object.
            QObject::connect(socket, &QObject::destroyed, &m_guard,
                             [this, socket] { m_owed.remove(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, &m_guard,
                             [this, socket] { m_owed.remove(socket); });
        }
        ++m_owed[socket];
        return owed();
    }
    void answered(QTcpSocket* socket) {
        const auto it = m_owed.find(socket);
        if (it != m_owed.end() && it.value() > 0)
            --it.value();
    }
    int connections() const { return int(m_owed.size()); }

private:
    int owed() const {
        int sum = 0;
        for (int n : m_owed)
            sum += n;
        return sum;
    }
    void dropClosed() {
        for (auto it = m_owed.begin(); it != m_owed.end();) {
            char c = 0;
            const qintptr fd = it.key()->socketDescriptor();
            const bool closed = fd < 0 || ::recv(int(fd), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
            it = closed ? m_owed.erase(it) : std::next(it);
        }
    }
    QHash<QTcpSocket*, int> m_owed; // per connection that has asked something
    QObject m_guard;
};

// Answers every request itself: the routes are parsed from the raw target, and answers are
// written straight to the connection so that one can be held back (delay) or never sent (drop).
class HttpServer : public QAbstractHttpServer {
public:
    explicit HttpServer(ServerState* d)
        : m_d(d) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        const QUrl url = request.url();
        const QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
        const QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
        const QString target = QString::fromLatin1(path) +
                               (url.hasQuery() ? QStringLiteral("?") : QString()) +
                               QString::fromLatin1(query);
        const QByteArray method = methodName(request.method());
        const Faults faults = m_d->currentFaults();
        const int inFlight = m_concurrency.arrived(socket);
        const int connections = m_concurrency.connections();

        if (faults.dropConnection) {
            m_concurrency.answered(socket);
            m_d->record(method, target, 0, inFlight, connections);
            // After the server has finished with the request, so it does not touch a dead socket.
            QTimer::singleShot(0, socket, [socket] { socket->abort(); });
            return true;
        }
        m_d->data->reloadListingsIfChanged();
        const Response r = faults.status500
                               ? errorPage(500)
                               : route(*m_d->data, method, path, query, faults, m_d->chartStyle);
        m_d->record(method, target, r.status, inFlight, connections);

        // A client that asks for the connection to end gets it ended after the answer.
        bool close = false;
        for (const auto& [name, value] : request.headers()) {
            if (name.compare("connection", Qt::CaseInsensitive) == 0)
                close = value.trimmed().compare("close", Qt::CaseInsensitive) == 0;
        }
        QByteArray bytes =
            "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reason(r.status) +
            "\r\nContent-Type: " + r.contentType +
            "\r\nContent-Length: " + QByteArray::number(r.body.size()) +
            "\r\nConnection: " + (close ? QByteArray("close") : QByteArray("keep-alive")) +
            "\r\n\r\n";
        if (method != "HEAD")
            bytes += r.body;
        auto send = [this, socket, bytes, close] {
            m_concurrency.answered(socket);
            socket->write(bytes);
            if (close)
                socket->disconnectFromHost();
        };
        if (faults.delayMs > 0) {
            // The socket is the timer's context: a connection closed meanwhile cancels it, and
            // stopping the server cancels it with the socket.
            QTimer::singleShot(faults.delayMs, socket, send);
        } else {
            send();
        }
        return true;
    }

    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        handleRequest(request, socket);
    }

private:
    ServerState* m_d;
    Concurrency m_concurrency;
};

class ServerThread : public QThread {
public:
    ServerThread(ServerState* d, QHostAddress address, quint16 port, const ServerLimits& limits)
        : m_d(d)
        , m_address(std::move(address))
        , m_port(port)
        , m_limits(limits) {}
    quint16 listenedPort = 0;
    QSemaphore ready;

protected:
    void run() override {
        {
            HttpServer server(m_d);
            // The guard listens and hands the server only connections within the limits.
            auto* listener = new GuardedListener(m_limits, &server);
            if (listener->start(m_address, m_port)) {
                listener->setHttpServer(&server);
                server.bind(listener);
                listenedPort = listener->serverPort();
            }
            ready.release();
            if (listenedPort != 0)
                exec();
        }
    }

private:
    ServerState* m_d;
    QHostAddress m_address;
    quint16 m_port;
    ServerLimits m_limits;
};

} // namespace

struct PortalServer::Private {
    PortalOptions options;
    ServerLimits limits;
    ServerState state;
    ServerThread* thread = nullptr;
    quint16 port = 0;
    QHostAddress address;
};

PortalServer::PortalServer(const PortalOptions& options)
    : d(std::make_unique<Private>()) {
    d->options = options;
    const QString dir =
        options.dataDir.isEmpty() ? QCoreApplication::applicationDirPath() : options.dataDir;
    d->state.data = std::make_unique<MarketData>(dir, options.asOf);
    QString problem;
    d->state.chartStyle.candles = candlesFromConfiguration(dir, &problem);
    if (!problem.isEmpty())
        QTextStream(stderr) << problem << Qt::endl;
}

PortalServer::~PortalServer() {
    stop();
}

bool PortalServer::start(const QHostAddress& address, quint16 port) {
    stop();
    auto* thread = new ServerThread(&d->state, address, port, d->limits);
    thread->setObjectName(QStringLiteral("quote-portal"));
    thread->start();
    thread->ready.acquire();
    if (thread->listenedPort == 0) {
        thread->wait();
        delete thread;
        return false;
    }
    d->thread = thread;
    d->port = thread->listenedPort;
    d->address = address;
    return true;
}

void PortalServer::stop() {
    if (!d->thread)
        return;
    d->thread->quit();
    d->thread->wait();
    delete d->thread;
    d->thread = nullptr;
    d->port = 0;
}

quint16 PortalServer::port() const {
    return d->port;
}

QString PortalServer::baseUrl() const {
    QHostAddress a = d->address;
    if (a.isNull() || a == QHostAddress::Any || a == QHostAddress::AnyIPv4 ||
        a == QHostAddress::LocalHost)
        a = QHostAddress::LocalHost;
    const QString host = a.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(a.toString())
                             : a.toString();
    return QStringLiteral("http://%1:%2").arg(host).arg(d->port);
}

void PortalServer::setFaults(const Faults& faults) {
    QMutexLocker lock(&d->state.mutex);
    d->state.faults = faults;
}

Faults PortalServer::faults() const {
    return d->state.currentFaults();
}

void PortalServer::setLimits(const ServerLimits& limits) {
    d->limits = limits;
}

ServerLimits PortalServer::limits() const {
    return d->limits;
}

void PortalServer::setKeepRequestLog(bool keep) {
    QMutexLocker lock(&d->state.mutex);
    d->state.keepLog = keep;
    if (!keep)
        d->state.log.clear();
}

QList<LogEntry> PortalServer::requestLog() const {
    QMutexLocker lock(&d->state.mutex);
    return d->state.log;
}

QList<LogEntry> PortalServer::takeLog() {
    QMutexLocker lock(&d->state.mutex);
    return std::exchange(d->state.log, {});
}

void PortalServer::clearLog() {
    QMutexLocker lock(&d->state.mutex);
    d->state.log.clear();
}

QString PortalServer::suffixFor(const QString& code) const {
    return d->state.data->suffixFor(code);
}

} // namespace portal
