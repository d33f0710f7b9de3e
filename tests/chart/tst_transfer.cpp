#include "platform/transfer.h"
#include "table.h"
#include "testsupport.h"

#include <QTcpServer>
#include <QtTest>

using platform::FetchResult;
using Status = platform::FetchResult::Status;

Q_DECLARE_METATYPE(portal::Faults)
Q_DECLARE_METATYPE(platform::FetchResult::Status)

// The synchronous transfer against a real server: what comes back, and what counts as no answer.
class TestTransfer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_portal.started());
        m_code = m_portal.codeUnder(".t");
        QVERIFY(!m_code.isEmpty());
    }

    void cleanup() { m_portal.server().setFaults({}); }

    void fetch_data() {
        // where: "chart" (the code's one-day chart), "unknown" (a code nobody serves), "closed"
        // (a port nobody listens on); begins: what the body starts with (answers only).
        testing::columns<QString, portal::Faults, qint64, long, Status, bool, QByteArray>(
            {"where", "faults", "maxBytes", "totalTimeoutMs", "status", "unreachable", "begins"});

        const qint64 noCap = 16 * 1024 * 1024;
        portal::Faults none;
        const portal::Faults slow = testing::slowBy(2500);
        portal::Faults drop;
        drop.dropConnection = true;
        portal::Faults error500;
        error500.status500 = true;

        QTest::newRow("image answered")
            << "chart" << none << noCap << 5000L << Status::Answered << false << QByteArray("GIF8");
        QTest::newRow("404 page is an answer")
            << "unknown" << none << noCap << 5000L << Status::Answered << false << QByteArray("<");
        QTest::newRow("500 page is an answer") << "chart" << error500 << noCap << 5000L
                                               << Status::Answered << false << QByteArray("<");
        QTest::newRow("refused") << "closed" << none << noCap << 5000L << Status::Unreachable
                                 << true << QByteArray();
        QTest::newRow("slow answer beyond the time-out")
            << "chart" << slow << noCap << 500L << Status::TimedOut << true << QByteArray();
        QTest::newRow("dropped connection")
            << "chart" << drop << noCap << 5000L << Status::Failed << false << QByteArray();
        QTest::newRow("answer beyond the size cap")
            << "chart" << none << qint64(100) << 5000L << Status::TooLarge << false << QByteArray();
    }

    void fetch() {
        QFETCH(QString, where);
        QFETCH(portal::Faults, faults);
        QFETCH(qint64, maxBytes);
        QFETCH(long, totalTimeoutMs);
        QFETCH(Status, status);
        QFETCH(bool, unreachable);
        QFETCH(QByteArray, begins);

        QString base = m_portal.base();
        QString code = m_code;
        if (where == "unknown")
            code = "0000";
        if (where == "closed") {
            const quint16 port = testing::closedPort();
            QVERIFY(port != 0);
            base = QStringLiteral("http://127.0.0.1:%1").arg(port);
        }
        m_portal.server().setFaults(faults);

        platform::Transfer::Options options;
        options.connectTimeoutMs = 1000;
        options.totalTimeoutMs = totalTimeoutMs;
        options.maxBytes = maxBytes;
        platform::Transfer transfer(options);
        const FetchResult result =
            transfer.fetch(base + "/c/1d/" + code.left(1) + "/" + code + ".t.gif");

        QCOMPARE(result.status, status);
        QCOMPARE(result.answered(), status == Status::Answered);
        QCOMPARE(result.unreachable(), unreachable);
        if (result.answered())
            QVERIFY2(result.body.startsWith(begins), result.body.left(40).constData());
        else
            QVERIFY(result.body.isEmpty());
    }

    void handleIsReused() {
        // One transfer serves one fetch after another, whatever the last one came to.
        platform::Transfer::Options options;
        options.connectTimeoutMs = 1000;
        options.totalTimeoutMs = 1500;
        platform::Transfer transfer(options);
        const QString chart = m_portal.base() + "/c/1d/" + m_code.left(1) + "/" + m_code + ".t.gif";

        QVERIFY(transfer.fetch(chart).body.startsWith("GIF8"));
        portal::Faults drop;
        drop.dropConnection = true;
        m_portal.server().setFaults(drop);
        QCOMPARE(transfer.fetch(chart).status, Status::Failed);
        m_portal.server().setFaults({});
        QVERIFY(transfer.fetch(chart).body.startsWith("GIF8"));
        QVERIFY(transfer.fetch(m_portal.base() + "/c/1d/0/0000.t.gif").body.startsWith("<"));
        QVERIFY(transfer.fetch(chart).body.startsWith("GIF8"));
    }

private:
    testing::TestPortal m_portal;
    QString m_code; // a listed code served under ".t"
};

QTEST_MAIN(TestTransfer)
#include "tst_transfer.moc"
