#include "platform/multitransfer.h"
#include "table.h"
#include "testsupport.h"

#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using platform::FetchResult;
using Status = platform::FetchResult::Status;

Q_DECLARE_METATYPE(platform::FetchResult::Status)

namespace {

// A listener that records the first bytes each connection sends and never answers: a server
// that accepts and hangs, or the far end of a redirect that must (or must not) be followed.
class SilentServer : public QObject {
public:
    SilentServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                ++m_connections;
                connect(s, &QTcpSocket::readyRead, s, [this, s] { m_received += s->readAll(); });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; }
    QByteArray received() const { return m_received; }

private:
    QTcpServer m_server;
    int m_connections = 0;
    QByteArray m_received;
};

} // namespace

// The concurrent transfer against real servers on loopback: redirects within bounds, the limit
// per host, cancelling, and connections kept for the next transfer.
class TestMultiTransfer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_portal.started());
        m_code = m_portal.codeUnder(".t");
        // /hop/N answers with a redirect to /hop/N-1, and /hop/0 with one to the portal's chart:
        // N+1 redirects in all. /to/SCHEME redirects to SCHEME://127.0.0.1:m_targetPort/x (file: a
        // local file).
        const QString chart = chartUrl();
        m_redirector.route(QStringLiteral("/hop/<arg>"), [this, chart](int n) {
            QHttpServerResponse r(QHttpServerResponder::StatusCode::Found);
            r.addHeader("Location", n > 0 ? QStringLiteral("http://127.0.0.1:%1/hop/%2")
                                                .arg(m_redirectorPort)
                                                .arg(n - 1)
                                                .toLatin1()
                                          : chart.toLatin1());
            return r;
        });
        m_redirector.route(QStringLiteral("/to/<arg>"), [this](const QString& scheme) {
            QHttpServerResponse r(QHttpServerResponder::StatusCode::Found);
            r.addHeader("Location", scheme == QLatin1String("file")
                                        ? QByteArray("file:///etc/hostname")
                                        : QStringLiteral("%1://127.0.0.1:%2/x")
                                              .arg(scheme)
                                              .arg(m_targetPort)
                                              .toLatin1());
            return r;
        });
        m_redirectorPort = m_redirector.listen(QHostAddress::LocalHost, 0);
        QVERIFY(m_redirectorPort != 0);
    }

    void cleanup() { m_portal.server().setFaults({}); }

    void redirects_data() {
        testing::columns<int, Status>({"redirects", "status"});
        QTest::newRow("none") << 0 << Status::Answered;
        QTest::newRow("one") << 1 << Status::Answered;
        QTest::newRow("five") << 5 << Status::Answered;
        QTest::newRow("six") << 6 << Status::Failed;
    }

    void redirects() {
        QFETCH(int, redirects);
        QFETCH(Status, status);
        platform::MultiTransfer transfer;
        const QString url = redirects == 0 ? chartUrl()
                                           : QStringLiteral("http://127.0.0.1:%1/hop/%2")
                                                 .arg(m_redirectorPort)
                                                 .arg(redirects - 1);
        const FetchResult result = fetchOne(transfer, url);
        QCOMPARE(result.status, status);
        if (status == Status::Answered)
            QVERIFY(result.body.startsWith("GIF8"));
        else
            QVERIFY(result.body.isEmpty());
    }

    void redirectToOtherSchemes_data() {
        // followed: the transfer went on to the redirect's target (seen by a listener there).
        testing::columns<QString, bool>({"scheme", "followed"});
        QTest::newRow("https is followed") << "https" << true;
        QTest::newRow("ftp is refused") << "ftp" << false;
        QTest::newRow("gopher is refused") << "gopher" << false;
        QTest::newRow("file is refused") << "file" << false;
    }

    void redirectToOtherSchemes() {
        QFETCH(QString, scheme);
        QFETCH(bool, followed);
        SilentServer target;
        platform::Transfer::Options options;
        options.totalTimeoutMs = 1500;
        platform::MultiTransfer transfer(options);
        m_targetPort = target.port();
        const FetchResult result =
            fetchOne(transfer,
                     QStringLiteral("http://127.0.0.1:%1/to/%2").arg(m_redirectorPort).arg(scheme));
        // Either way no answer is taken from there: the listener never answers, and a refused
        // scheme is a miss.
        QVERIFY2(!result.answered(), result.body.left(200).constData());
        QVERIFY(result.body.isEmpty());
        if (followed) {
            // A TLS handshake began: its first record is a handshake record (0x16).
            QTRY_VERIFY(!target.received().isEmpty());
            QCOMPARE(target.received().at(0), char(0x16));
        } else {
            QCOMPARE(result.status, Status::Failed);
            QCOMPARE(target.connections(), 0);
        }
    }

    void limitPerHost() {
        // Twenty slow answers from one host: never more than eight at the portal at once, and all
        // twenty arrive. A second host is not held back by the first one's queue.
        m_portal.server().setFaults(testing::slowBy(300));
        m_portal.clearLog();
        SilentServer other;

        platform::MultiTransfer transfer;
        int arrived = 0;
        int images = 0;
        for (int i = 0; i < 20; ++i) {
            transfer.fetch(chartUrl(), [&](FetchResult r) {
                ++arrived;
                images += r.body.startsWith("GIF8") ? 1 : 0;
            });
        }
        transfer.fetch(QStringLiteral("http://127.0.0.1:%1/x").arg(other.port()), {});
        QTRY_COMPARE(other.connections(), 1);
        QVERIFY(transfer.inFlight() <= platform::MultiTransfer::kMaxPerHost + 1);
        QTRY_COMPARE_WITH_TIMEOUT(arrived, 20, 20000);
        QCOMPARE(images, 20);

        const QList<portal::LogEntry> log = m_portal.server().requestLog();
        QCOMPARE(log.size(), 20);
        int most = 0;
        int mostConnections = 0;
        for (const portal::LogEntry& e : log) {
            most = qMax(most, e.inFlight);
            mostConnections = qMax(mostConnections, e.connections);
        }
        QCOMPARE(most, platform::MultiTransfer::kMaxPerHost);
        QCOMPARE(mostConnections, platform::MultiTransfer::kMaxPerHost);
    }

    void cancelled() {
        SilentServer hanging;
        platform::MultiTransfer transfer;
        const QString url = QStringLiteral("http://127.0.0.1:%1/x").arg(hanging.port());
        int called = 0;
        QList<platform::MultiTransfer::Ticket> tickets;
        // Ten: eight in flight, two queued behind them.
        for (int i = 0; i < 10; ++i)
            tickets << transfer.fetch(url, [&](FetchResult) { ++called; });
        QTRY_COMPARE(hanging.connections(), platform::MultiTransfer::kMaxPerHost);
        QCOMPARE(transfer.inFlight(), platform::MultiTransfer::kMaxPerHost);
        QCOMPARE(transfer.pending(), 10);
        for (auto t : tickets)
            transfer.cancel(t);
        QCOMPARE(transfer.pending(), 0);
        QCOMPARE(transfer.inFlight(), 0);
        // The queued two never started, and nothing is delivered after a cancel.
        QTest::qWait(200);
        QCOMPARE(called, 0);
        QCOMPARE(hanging.connections(), platform::MultiTransfer::kMaxPerHost);
        // The transfer still works afterwards.
        QVERIFY(fetchOne(transfer, chartUrl()).body.startsWith("GIF8"));
    }

    void connectionsReused() {
        m_portal.clearLog();
        platform::MultiTransfer transfer;
        for (int i = 0; i < 5; ++i)
            QVERIFY(fetchOne(transfer, chartUrl()).body.startsWith("GIF8"));
        // One after another over one kept connection.
        for (const portal::LogEntry& e : m_portal.server().requestLog())
            QCOMPARE(e.connections, 1);
    }

private:
    FetchResult fetchOne(platform::MultiTransfer& transfer, const QString& url);
    QString chartUrl() const;

    testing::TestPortal m_portal;
    QHttpServer m_redirector;
    quint16 m_redirectorPort = 0;
    quint16 m_targetPort = 0;
    QString m_code;
};

QString TestMultiTransfer::chartUrl() const {
    return m_portal.base() + "/c/1d/" + m_code.left(1) + "/" + m_code + ".t.gif";
}

FetchResult TestMultiTransfer::fetchOne(platform::MultiTransfer& transfer, const QString& url) {
    std::optional<FetchResult> result;
    transfer.fetch(url, [&](FetchResult r) { result = std::move(r); });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 20000))
        qWarning("no answer within 20 s");
    return result.value_or(FetchResult{});
}

QTEST_MAIN(TestMultiTransfer)
#include "tst_multitransfer.moc"
