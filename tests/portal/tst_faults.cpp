// Fault switches of the stand-in portal, in the process and as options of the program.
#include "charts/chartrenderer.h"
#include "portalclient.h"
#include "table.h"

#include <QtTest>

using portal::Faults;
using portal::PortalServer;

Q_DECLARE_METATYPE(Faults::Marker)

namespace {

const QByteArray kMarker = "<!-- AD END Location: CT -->";

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<PortalServer> m_server;
    QByteArray m_code;
    QByteArray m_other;

    QByteArray chartOf(const QByteArray& code) const {
        return "/z?s=" + code + portal::suffixForCode(QString::fromLatin1(code)).toLatin1() +
               "&a=v&p=m25,m75&t=3m&l=off&z=m&q=c";
    }
    QByteArray intradayOf(const QByteArray& code) const {
        return "/c/1d/" + code.left(1) + "/" + code +
               portal::suffixForCode(QString::fromLatin1(code)).toLatin1() + ".gif";
    }
    QByteArray detailOf(const QByteArray& code) const {
        return "/q?s=" + code + "&d=t&k=c3&h=on&z=m";
    }

private Q_SLOTS:
    void initTestCase() {
        m_code = firstCodeWithSuffix(QStringLiteral(".t")).toLatin1();
        m_other = firstCodeWithSuffix(QStringLiteral(".q")).toLatin1();
        QVERIFY(!m_code.isEmpty() && !m_other.isEmpty());
        m_server = std::make_unique<PortalServer>(testOptions());
        QVERIFY(m_server->start());
    }
    void init() {
        m_server->setFaults({});
        m_server->clearLog();
    }
    void cleanupTestCase() { m_server.reset(); }

    void faultsReadBack() {
        Faults f;
        f.delayMs = 5;
        f.nonImageCode = QString::fromLatin1(m_code);
        f.marker = Faults::Marker::AtOffset;
        f.markerOffset = 77;
        m_server->setFaults(f);
        const Faults back = m_server->faults();
        QCOMPARE(back.delayMs, 5);
        QCOMPARE(back.nonImageCode, f.nonImageCode);
        QCOMPARE(back.marker, Faults::Marker::AtOffset);
        QCOMPARE(back.markerOffset, 77);
    }

    void delayHoldsTheAnswer() {
        Faults f;
        f.delayMs = 1500;
        m_server->setFaults(f);
        QTcpSocket socket;
        QVERIFY(sendRequest(socket, m_server->port(), "/support/"));
        QTRY_COMPARE(m_server->requestLog().size(), 1);
        // The request has been handled but its answer is held back.
        QCOMPARE(socket.bytesAvailable(), qint64(0));
        const Answer a = readAnswer(socket);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body.at(0), '<');
    }

    void stopWhileAnAnswerIsHeld_data() {
        testing::rowsOf<bool>("destroy", {{"stop", false}, {"destructor", true}});
    }
    void stopWhileAnAnswerIsHeld() {
        QFETCH(bool, destroy);
        auto server = std::make_unique<PortalServer>(testOptions());
        QVERIFY(server->start());
        Faults f;
        f.delayMs = 600000;
        server->setFaults(f);
        QTcpSocket socket;
        QVERIFY(sendRequest(socket, server->port(), chartOf(m_code)));
        QTRY_COMPARE(server->requestLog().size(), 1);
        if (destroy) {
            server.reset();
        } else {
            server->stop();
            QCOMPARE(server->port(), quint16(0));
        }
        const Answer a = readAnswer(socket);
        QCOMPARE(a.status, 0);
        QVERIFY(a.closed);
        if (server) {
            // It can be started again afterwards.
            server->setFaults({});
            QVERIFY(server->start());
            QCOMPARE(fetch(server->port(), "/support/").status, 200);
        }
    }

    void dropClosesWithoutAnswer() {
        Faults f;
        f.dropConnection = true;
        m_server->setFaults(f);
        const Answer a = fetch(m_server->port(), chartOf(m_code));
        QCOMPARE(a.status, 0);
        QVERIFY(a.closed);
        QVERIFY(a.body.isEmpty());
        const auto log = m_server->requestLog();
        QCOMPARE(log.size(), 1);
        QCOMPARE(log[0].status, 0);
        m_server->setFaults({});
        QCOMPARE(fetch(m_server->port(), chartOf(m_code)).status, 200);
    }

    void status500_data() {
        testing::rowsOf<QByteArray>("target", {{"chart", chartOf(m_code)},
                                               {"intraday", intradayOf(m_code)},
                                               {"detail", detailOf(m_code)},
                                               {"unknown path", QByteArray("/nothing")}});
    }
    void status500() {
        QFETCH(QByteArray, target);
        Faults f;
        f.status500 = true;
        m_server->setFaults(f);
        const Answer a = fetch(m_server->port(), target);
        QCOMPARE(a.status, 500);
        QVERIFY(a.contentType.startsWith("text/html"));
        QCOMPARE(a.body.at(0), '<');
        QCOMPARE(m_server->requestLog().value(0).status, 500);
    }

    void nonImageCode_data() {
        testing::columns<QByteArray, bool>({"target", "image"});
        QTest::newRow("chart of the code") << chartOf(m_code) << false;
        QTest::newRow("intraday of the code") << intradayOf(m_code) << false;
        QTest::newRow("chart of another code") << chartOf(m_other) << true;
        QTest::newRow("intraday of another code") << intradayOf(m_other) << true;
    }
    void nonImageCode() {
        QFETCH(QByteArray, target);
        QFETCH(bool, image);
        Faults f;
        f.nonImageCode = QString::fromLatin1(m_code);
        m_server->setFaults(f);
        const Answer a = fetch(m_server->port(), target);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body.at(0), 'G');
        QImage img;
        QCOMPARE(img.loadFromData(a.body), image);
    }

    void marker_data() {
        // expectedAt: -1: anywhere in 2048..15000
        testing::columns<Faults::Marker, int, int, int>(
            {"marker", "offset", "count", "expectedAt"});
        QTest::newRow("normal") << Faults::Marker::Normal << 0 << 1 << -1;
        QTest::newRow("absent") << Faults::Marker::Absent << 0 << 0 << -1;
        QTest::newRow("twice") << Faults::Marker::Twice << 0 << 2 << -1;
        QTest::newRow("at 0") << Faults::Marker::AtOffset << 0 << 1 << 0;
        QTest::newRow("at 100") << Faults::Marker::AtOffset << 100 << 1 << 100;
        QTest::newRow("at 15000") << Faults::Marker::AtOffset << 15000 << 1 << 15000;
        QTest::newRow("at 15001") << Faults::Marker::AtOffset << 15001 << 1 << 15001;
    }
    void marker() {
        QFETCH(Faults::Marker, marker);
        QFETCH(int, offset);
        QFETCH(int, count);
        QFETCH(int, expectedAt);
        Faults f;
        f.marker = marker;
        f.markerOffset = offset;
        m_server->setFaults(f);
        const Answer a = fetch(m_server->port(), detailOf(m_code));
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body.count(kMarker), count);
        if (count == 0)
            return;
        const int at = a.body.indexOf(kMarker);
        if (expectedAt >= 0) {
            QCOMPARE(at, expectedAt);
        } else {
            QVERIFY(at >= 2048 && at <= 15000);
        }
        // The quote data still follows the (first) marker.
        QVERIFY(QString::fromUtf8(a.body.mid(at)).contains(QStringLiteral("前日終値")));
    }

    void program_data() {
        // check: "image", "notimage", "nomarker", "marker@N", "html"
        testing::columns<QStringList, QByteArray, int, QByteArray>(
            {"options", "target", "status", "check"});
        QTest::newRow("plain chart")
            << QStringList() << chartOf(m_code) << 200 << QByteArray("image");
        QTest::newRow("delay") << QStringList{"--delay-ms", "100"} << intradayOf(m_code) << 200
                               << QByteArray("image");
        QTest::newRow("drop") << QStringList{"--drop"} << chartOf(m_code) << 0 << QByteArray();
        QTest::newRow("status 500")
            << QStringList{"--status-500"} << chartOf(m_code) << 500 << QByteArray("html");
        QTest::newRow("non-image code") << QStringList{"--non-image-code", QString(m_code)}
                                        << chartOf(m_code) << 200 << QByteArray("notimage");
        QTest::newRow("marker absent") << QStringList{"--marker", "absent"} << detailOf(m_code)
                                       << 200 << QByteArray("nomarker");
        QTest::newRow("marker twice")
            << QStringList{"--marker", "twice"} << detailOf(m_code) << 200 << QByteArray("twice");
        QTest::newRow("marker offset") << QStringList{"--marker", "offset:15001"}
                                       << detailOf(m_code) << 200 << QByteArray("marker@15001");
    }
    void program() {
        if (!QFile::exists(programPath()))
            QSKIP("quote-portal is not built");
        QFETCH(QStringList, options);
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QByteArray, check);
        Program p;
        QVERIFY2(p.start(options), qPrintable(p.firstLine));
        const Answer a = fetch(p.port, target);
        QCOMPARE(a.status, status);
        QImage img;
        if (check == "image") {
            QVERIFY(img.loadFromData(a.body));
            QCOMPARE(img.size(), QSize(portal::kChartWidth, portal::kChartHeight));
        } else if (check == "notimage") {
            QCOMPARE(a.body.at(0), 'G');
            QVERIFY(!img.loadFromData(a.body));
        } else if (check == "html") {
            QCOMPARE(a.body.at(0), '<');
        } else if (check == "nomarker") {
            QCOMPARE(a.body.count(kMarker), 0);
        } else if (check == "twice") {
            QCOMPARE(a.body.count(kMarker), 2);
        } else if (check.startsWith("marker@")) {
            QCOMPARE(a.body.indexOf(kMarker), check.mid(7).toInt());
        }
    }

    void programRefusesBadOptions_data() {
        testing::rowsOf<QStringList>(
            "options", {{"listen without port", QStringList{"--listen", "127.0.0.1"}},
                        {"listen not an address", QStringList{"--listen", "nowhere:80"}},
                        {"as-of not a date", QStringList{"--as-of", "2026-13-40"}},
                        {"marker unknown", QStringList{"--marker", "sometimes"}}});
    }
    void programRefusesBadOptions() {
        if (!QFile::exists(programPath()))
            QSKIP("quote-portal is not built");
        QFETCH(QStringList, options);
        QProcess process;
        process.start(programPath(), options);
        QVERIFY(process.waitForFinished(30000));
        QVERIFY(process.exitCode() != 0);
        QVERIFY(!process.readAllStandardOutput().startsWith("listening on"));
        QVERIFY(!process.readAllStandardError().isEmpty());
    }

    void programReportsBadPriceRowsOnce() {
        if (!QFile::exists(programPath()))
            QSKIP("quote-portal is not built");
        QTemporaryDir dir;
        QVERIFY(QFile::copy(codeListPath(),
                            dir.filePath(QStringLiteral("銘柄コード一覧20060513.csv"))));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("prices")));
        QFile prices(dir.filePath(QStringLiteral("prices/%1.csv").arg(QString(m_code))));
        QVERIFY(prices.open(QIODevice::WriteOnly));
        prices.write("Date,Open,High,Low,Close,Volume\n2025-03-03,1000,1050,990,1040,120000\n"
                     "garbage\n2025-03-04,1040,1100,1030,1097,150000\n2025-03-05,x,1,1,1,1\n");
        prices.close();
        Program p;
        QVERIFY(p.start({}, dir.path()));
        QCOMPARE(fetch(p.port, chartOf(m_code)).status, 200);
        QCOMPARE(fetch(p.port, detailOf(m_code)).status, 200);
        QCOMPARE(fetch(p.port, intradayOf(m_code)).status, 200);
        p.process.terminate();
        QVERIFY(p.process.waitForFinished(10000));
        const QString err = QString::fromUtf8(p.process.readAllStandardError());
        QCOMPARE(err.count(QStringLiteral("読めない")), 1);
        QVERIFY2(err.contains(QStringLiteral("読めない 2 行を除いて")), qPrintable(err));
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
