#include "base/curloptions.h"
#include "servers.h"
#include "table.h"
#include "testsupport.h"

#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// Answers on a plain socket, so that the request's header lines are seen as they were sent:
//   /page    200 with "page"
//   /big     200 with 1000 bytes, their number announced
//   /hop/N   a redirect to /hop/N-1; /hop/0 one to /page (N + 1 redirects in all)
//   /to/ftp  a redirect to an ftp address
class PlainServer : public testing::ThreadedServer {
public:
    PlainServer() {
        start([this](QObject& owner) -> quint16 {
            auto* server = new QTcpServer(&owner);
            server->listen(QHostAddress::LocalHost);
            QObject::connect(server, &QTcpServer::newConnection, server, [this, server] {
                while (QTcpSocket* socket = server->nextPendingConnection())
                    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                     [this, socket] { serve(socket); });
            });
            return server->serverPort();
        });
    }

    QByteArray lastRequest() const {
        QMutexLocker lock(&m_mutex);
        return m_lastRequest;
    }

private:
    void serve(QTcpSocket* socket) {
        QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        const qsizetype end = request.indexOf("\r\n\r\n");
        if (end < 0) {
            socket->setProperty("request", request);
            return;
        }
        socket->setProperty("request", request.mid(end + 4));
        request.truncate(end + 2);
        {
            QMutexLocker lock(&m_mutex);
            m_lastRequest = request;
        }
        const QByteArray path = request.split(' ').value(1);
        QByteArray status = "200 OK";
        QByteArray headers;
        QByteArray body;
        if (path == "/page") {
            body = "page";
        } else if (path == "/big") {
            body = QByteArray(1000, 'x');
        } else if (path.startsWith("/hop/")) {
            const int n = path.mid(5).toInt();
            status = "302 Found";
            headers = "Location: " +
                      (n == 0 ? QByteArray("/page") : "/hop/" + QByteArray::number(n - 1)) + "\r\n";
        } else if (path == "/to/ftp") {
            status = "302 Found";
            headers =
                "Location: ftp://127.0.0.1:" + QByteArray::number(testing::closedPort()) + "/x\r\n";
        } else {
            status = "404 Not Found";
        }
        socket->write("HTTP/1.1 " + status + "\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n" + headers + "\r\n" + body);
    }

    mutable QMutex m_mutex;
    QByteArray m_lastRequest;
};

struct Outcome {
    CURLcode code = CURLE_FAILED_INIT;
    QByteArray body;
};

size_t keep(char* data, size_t size, size_t count, void* user) {
    static_cast<QByteArray*>(user)->append(data, qsizetype(size * count));
    return size * count;
}

Outcome perform(const QString& url, const base::CurlOptions& options) {
    Outcome outcome;
    base::initialiseCurl();
    CURL* handle = curl_easy_init();
    if (!handle)
        return outcome;
    base::configureCurl(handle, options);
    const QByteArray address = url.toUtf8();
    curl_easy_setopt(handle, CURLOPT_URL, address.constData());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, keep);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &outcome.body);
    outcome.code = curl_easy_perform(handle);
    curl_easy_cleanup(handle);
    return outcome;
}

const char* const kProxyVariables[] = {"http_proxy", "https_proxy", "all_proxy",
                                       "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

} // namespace

Q_DECLARE_METATYPE(CURLcode)

// The option set both programs give libcurl, on real transfers over loopback.
class TestCurlOptions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Whatever proxies the environment names would change what every case here sees.
    void init() {
        for (const char* name : kProxyVariables)
            qunsetenv(name);
    }

    void transfers_data() {
        // path: on the plain server ("ftp" an ftp address, "silent" a server that never answers).
        testing::columns<QString, qint64, long, CURLcode, QByteArray>(
            {"path", "maxBytes", "totalTimeoutMs", "code", "body"});

        QTest::newRow("page") << "/page" << qint64(0) << 5000L << CURLE_OK << QByteArray("page");
        QTest::newRow("redirects up to the bound")
            << "/hop/4" << qint64(0) << 5000L << CURLE_OK << QByteArray("page");
        QTest::newRow("one redirect more")
            << "/hop/5" << qint64(0) << 5000L << CURLE_TOO_MANY_REDIRECTS << QByteArray();
        QTest::newRow("redirect to ftp")
            << "/to/ftp" << qint64(0) << 5000L << CURLE_UNSUPPORTED_PROTOCOL << QByteArray();
        QTest::newRow("ftp address")
            << "ftp" << qint64(0) << 5000L << CURLE_UNSUPPORTED_PROTOCOL << QByteArray();
        QTest::newRow("announced beyond the cap")
            << "/big" << qint64(999) << 5000L << CURLE_FILESIZE_EXCEEDED << QByteArray();
        QTest::newRow("exactly the cap")
            << "/big" << qint64(1000) << 5000L << CURLE_OK << QByteArray(1000, 'x');
        QTest::newRow("no cap") << "/big" << qint64(0) << 5000L << CURLE_OK
                                << QByteArray(1000, 'x');
        QTest::newRow("no answer within the time")
            << "silent" << qint64(0) << 300L << CURLE_OPERATION_TIMEDOUT << QByteArray();
    }

    void transfers() {
        QFETCH(QString, path);
        QFETCH(qint64, maxBytes);
        QFETCH(long, totalTimeoutMs);
        QFETCH(CURLcode, code);
        QFETCH(QByteArray, body);

        PlainServer server;
        testing::SilentServer silent;
        QString url = server.base() + path;
        if (path == "ftp")
            url = QStringLiteral("ftp://127.0.0.1:%1/x").arg(testing::closedPort());
        if (path == "silent")
            url = silent.base() + "/page";
        base::CurlOptions options;
        options.connectTimeoutMs = 1000;
        options.totalTimeoutMs = totalTimeoutMs;
        options.maxBytes = maxBytes;

        const Outcome outcome = perform(url, options);
        QCOMPARE(outcome.code, code);
        QCOMPARE(outcome.body, body);
    }

    void userAgent_data() {
        testing::columns<QByteArray, QByteArray>({"userAgent", "headerLine"});
        QTest::newRow("none") << QByteArray() << QByteArray();
        QTest::newRow("the portal's")
            << QByteArray("quote-portal") << QByteArray("\r\nUser-Agent: quote-portal\r\n");
    }

    void userAgent() {
        QFETCH(QByteArray, userAgent);
        QFETCH(QByteArray, headerLine);

        PlainServer server;
        base::CurlOptions options;
        options.userAgent = userAgent;
        QCOMPARE(perform(server.base() + "/page", options).code, CURLE_OK);
        const QByteArray request = server.lastRequest();
        if (headerLine.isEmpty())
            QVERIFY2(!request.toLower().contains("\r\nuser-agent:"), request.constData());
        else
            QVERIFY2(request.contains(headerLine), request.constData());
    }

    // The environment names a proxy that is not there: only a transfer that goes around it for
    // loopback reaches the server.
    void loopbackProxy_data() {
        testing::columns<QString, bool, CURLcode>({"host", "withoutProxy", "code"});
        QTest::newRow("127.0.0.1, direct") << "127.0.0.1" << true << CURLE_OK;
        QTest::newRow("localhost, direct") << "localhost" << true << CURLE_OK;
        QTest::newRow("127.0.0.1, through the proxy")
            << "127.0.0.1" << false << CURLE_COULDNT_CONNECT;
    }

    void loopbackProxy() {
        QFETCH(QString, host);
        QFETCH(bool, withoutProxy);
        QFETCH(CURLcode, code);

        PlainServer server;
        qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(testing::closedPort()));
        base::CurlOptions options;
        options.connectTimeoutMs = 1000;
        options.loopbackWithoutProxy = withoutProxy;
        const Outcome outcome =
            perform(QStringLiteral("http://%1:%2/page").arg(host).arg(server.port()), options);
        qunsetenv("http_proxy");
        QCOMPARE(outcome.code, code);
    }
};

QTEST_GUILESS_MAIN(TestCurlOptions)
#include "tst_curloptions.moc"
