#include "files.h"
#include "platform/portalstarter.h"
#include "platform/transfer.h"
#include "processes.h"
#include "recorder.h"
#include "table.h"
#include "testsupport.h"

#include <QtTest>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

#include <csignal>

#include <unistd.h>

using platform::PortalStarter;
using Outcome = platform::PortalStarter::Outcome;
Q_DECLARE_METATYPE(Outcome)

namespace {

platform::FetchResult fetch(const QString& url) {
    platform::Transfer::Options options;
    options.connectTimeoutMs = 2000;
    options.totalTimeoutMs = 5000;
    platform::Transfer transfer(options);
    return transfer.fetch(url);
}

// Starts and waits for the outcome into result. start() must only begin the work: the outcome
// is still to come when it returns, and then comes once.
void startAndWait(PortalStarter& starter, QSignalSpy& outcomes, const QString& base,
                  PortalStarter::Result& result,
                  std::chrono::milliseconds wait = PortalStarter::kDefaultWait) {
    QVERIFY(outcomes.isValid());
    QCOMPARE(outcomes.count(), 0);
    starter.start(base, wait);
    QVERIFY(starter.isPending());
    QCOMPARE(outcomes.count(), 0);
    QVERIFY(outcomes.wait(60000));
    QCOMPARE(outcomes.count(), 1);
    QVERIFY(!starter.isPending());
    result = outcomes.first().first().value<PortalStarter::Result>();
}

// A loopback server on the test's own thread that takes each connection and holds it, reading
// what is asked and never answering; closes it at once; or answers the way the portal's support
// page does.
class Taker : public QTcpServer {
public:
    enum class Way { Hold, HangUp, AnswerAsPortal };
    explicit Taker(Way way) {
        connect(this, &QTcpServer::newConnection, this, [this, way] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                if (way == Way::HangUp) {
                    socket->close();
                    socket->deleteLater();
                    continue;
                }
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, way] {
                    m_asked += socket->readAll();
                    if (way == Way::AnswerAsPortal && m_asked.contains("\r\n\r\n")) {
                        const QByteArray body = "<html><h1>Quorvix Chart Viewer</h1></html>";
                        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                      "Content-Length: " +
                                      QByteArray::number(body.size()) +
                                      "\r\nConnection: close\r\n\r\n" + body);
                        socket->disconnectFromHost();
                    }
                });
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }
    const QByteArray& asked() const { return m_asked; }

private:
    QByteArray m_asked;
};

} // namespace

#define START_AND_WAIT(...)                                                                        \
    do {                                                                                           \
        startAndWait(__VA_ARGS__);                                                                 \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class TestPortalStarter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_programs.isValid() && m_data.isValid());
        QVERIFY(
            QFile::link(testing::binFolder() + QStringLiteral("/quote-portal"), portalProgram()));
        // The code list ships beside the programs; the data folder starts without one.
        QVERIFY(QFile::copy(testing::binFolder() + QStringLiteral("/銘柄コード一覧20060513.csv"),
                            m_programs.filePath(QStringLiteral("銘柄コード一覧20060513.csv"))));
    }

    void loopbackEndpoint_data() {
        // host: empty: not a loopback address
        testing::columns<QString, QString, int>({"base", "host", "port"});

        QTest::newRow("shipped") << "http://127.0.0.1:8470"
                                 << "127.0.0.1" << 8470;
        QTest::newRow("other loopback") << "http://127.4.5.6:9001"
                                        << "127.4.5.6" << 9001;
        QTest::newRow("localhost") << "http://LocalHost:8000"
                                   << "127.0.0.1" << 8000;
        QTest::newRow("IPv6") << "http://[::1]:8470"
                              << "[::1]" << 8470;
        QTest::newRow("IPv6 written out") << "http://[0:0:0:0:0:0:0:1]:8470"
                                          << "[::1]" << 8470;
        QTest::newRow("IPv6 elsewhere") << "http://[2001:db8::1]:8470"
                                        << "" << 0;
        QTest::newRow("loopback look-alike") << "http://127.0.0.1.example:8470"
                                             << "" << 0;
        QTest::newRow("no port") << "http://127.0.0.1"
                                 << "127.0.0.1" << 80;
        QTest::newRow("documentation network") << "http://192.0.2.1:8470"
                                               << "" << 0;
        QTest::newRow("any address") << "http://0.0.0.0:8470"
                                     << "" << 0;
        QTest::newRow("a name") << "http://quote.test:8001"
                                << "" << 0;
        QTest::newRow("https") << "https://127.0.0.1:8470"
                               << "" << 0;
        QTest::newRow("empty") << ""
                               << "" << 0;
    }

    void loopbackEndpoint() {
        QFETCH(QString, base);
        QFETCH(QString, host);
        QFETCH(int, port);

        const PortalStarter::Endpoint e = PortalStarter::loopbackEndpoint(base);
        QCOMPARE(e.isValid(), !host.isEmpty());
        QCOMPARE(e.host, host);
        if (e.isValid())
            QCOMPARE(e.port, port);
    }

    void startsWhenNothingListens() {
        // Real prices in the data folder: the started portal must serve them.
        QVERIFY(QDir(m_data.path()).mkpath(QStringLiteral("prices")));
        QFile prices(m_data.filePath(QStringLiteral("prices/4674.csv")));
        QVERIFY(prices.open(QIODevice::WriteOnly));
        prices.write("Date,Open,High,Low,Close,Volume\n"
                     "2026-12-01,7000,7100,6900,7050,120000\n"
                     "2026-12-02,7050,7300,7000,7272,150000\n");
        prices.close();

        const QString base = testing::deadBase();
        QVERIFY(fetch(base + QStringLiteral("/support/")).unreachable());

        qint64 pid = 0;
        {
            PortalStarter starter(portalProgram(), m_data.path());
            QSignalSpy outcomes(&starter, &PortalStarter::finished);
            PortalStarter::Result r;
            START_AND_WAIT(starter, outcomes, base, r);
            QCOMPARE(r.outcome, Outcome::Started);
            QCOMPARE(r.address, base.mid(int(qstrlen("http://"))));
            QVERIFY(r.message.isEmpty());
            QVERIFY(starter.running());
            pid = starter.processId();
            QVERIFY(pid > 0);

            // It listens as soon as the outcome comes, with the shipped code list and the user's
            // data.
            const platform::FetchResult chart =
                fetch(base + QStringLiteral("/z?s=4674.t&a=v&p=m25,m75&t=3m&l=off&z=m&q=c"));
            QVERIFY(chart.answered());
            QVERIFY(chart.body.startsWith("GIF8"));
            const platform::FetchResult quote =
                fetch(base + QStringLiteral("/q?s=4674&d=t&k=c3&h=on&z=m"));
            QVERIFY(quote.answered());
            QVERIFY2(quote.body.contains("7,272"), quote.body.left(2000).constData());
            // The data folder links to the shipped list rather than holding a copy that ages.
            QVERIFY(QFileInfo(m_data.filePath(QStringLiteral("銘柄コード一覧20060513.csv")))
                        .isSymLink());
            QCOMPARE(outcomes.count(), 1);
        }
        // Gone with its starter: the port answers no more.
        QTRY_VERIFY_WITH_TIMEOUT(testing::processGone(pid), 10000);
        QVERIFY(fetch(base + QStringLiteral("/support/")).unreachable());
    }

    void leavesARunningPortalAlone() {
        testing::TestPortal running;
        QVERIFY(running.started());
        running.clearLog();
        {
            PortalStarter starter(portalProgram(), m_data.path());
            QSignalSpy outcomes(&starter, &PortalStarter::finished);
            PortalStarter::Result r;
            START_AND_WAIT(starter, outcomes, running.base(), r);
            QCOMPARE(r.outcome, Outcome::AlreadyListening);
            QCOMPARE(r.address, running.base().mid(int(qstrlen("http://"))));
            QVERIFY(r.message.isEmpty());
            QVERIFY(!starter.running());
            starter.stop();
            QCOMPARE(outcomes.count(), 1);
        }
        // One look at it, and it still answers.
        QCOMPARE(running.targets(), QStringList{QStringLiteral("/support/")});
        const platform::FetchResult after = fetch(running.base() + QStringLiteral("/support/"));
        QVERIFY(after.answered());
    }

    void looksWithoutHoldingThisThread() {
        // A portal answering from this very thread is found only if the look leaves the thread
        // to its event loop; a look that waited on the socket would get no answer from it.
        Taker portal(Taker::Way::AnswerAsPortal);
        QVERIFY(portal.listen(QHostAddress::LocalHost, 0));
        PortalStarter starter(portalProgram(), m_data.path());
        QSignalSpy outcomes(&starter, &PortalStarter::finished);
        PortalStarter::Result r;
        START_AND_WAIT(starter, outcomes, portal.base(), r);
        QCOMPARE(r.outcome, Outcome::AlreadyListening);
        QVERIFY(!starter.running());
        QVERIFY2(portal.asked().startsWith("GET /support/ "), portal.asked().constData());
    }

    void waitsForThePortalWithoutHoldingThisThread() {
        // This portal says that it listens only when the test, on this thread, has seen it run: a
        // start that held the thread until the portal listened would wait in vain and fail.
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString program = folder.filePath(QStringLiteral("quote-portal"));
        const QString go = folder.filePath(QStringLiteral("go"));
        QVERIFY(testing::writeProgram(program, "#!/bin/sh\nwhile [ ! -e '" + go.toUtf8() +
                                                   "' ]; do sleep 0.05; done\n"
                                                   "echo 'listening on http://127.0.0.1:1'\n"
                                                   "exec sleep 60\n"));

        PortalStarter starter(program, m_data.path());
        QSignalSpy outcomes(&starter, &PortalStarter::finished);
        starter.start(testing::deadBase());
        QVERIFY(starter.isPending());
        QTRY_VERIFY_WITH_TIMEOUT(starter.running(), 20000);
        QVERIFY(starter.isPending());
        QVERIFY(testing::writeBytes(go, QByteArray()));
        QVERIFY(outcomes.wait(60000));
        QCOMPARE(outcomes.count(), 1);
        const auto r = outcomes.first().first().value<PortalStarter::Result>();
        QVERIFY2(r.outcome == Outcome::Started, qPrintable(r.message));
        QVERIFY(starter.running());
        const qint64 pid = starter.processId();
        starter.stop();
        QVERIFY(testing::processGone(pid));
    }

    void notLoopbackIsLeftAlone() {
        // Nothing is tried there at all: no portal program is even looked for.
        PortalStarter starter(m_programs.filePath(QStringLiteral("none")), m_data.path());
        QSignalSpy outcomes(&starter, &PortalStarter::finished);
        // The outcome also crosses a queued connection whole.
        QObject receiver;
        PortalStarter::Result queued;
        connect(
            &starter, &PortalStarter::finished, &receiver,
            [&queued](const PortalStarter::Result& result) { queued = result; },
            Qt::QueuedConnection);
        PortalStarter::Result r;
        START_AND_WAIT(starter, outcomes, QStringLiteral("http://192.0.2.1:8470"), r);
        QCOMPARE(r.outcome, Outcome::NotLoopback);
        QVERIFY(r.message.isEmpty());
        QVERIFY(!starter.running());
        QTRY_COMPARE_WITH_TIMEOUT(queued.outcome, Outcome::NotLoopback, 10000);
        QVERIFY(queued.message.isEmpty());
    }

    void failures_data() {
        // outcome: AlreadyListening for whatever takes connections, which is used as it is;
        // reason: a part of the message that says why a start failed
        testing::columns<QString, Outcome, QString>({"what", "outcome", "reason"});

        QTest::newRow("silent server on the port")
            << "silent" << Outcome::AlreadyListening << QString();
        QTest::newRow("server taking the request, never answering")
            << "holding" << Outcome::AlreadyListening << QString();
        QTest::newRow("server hanging up at once")
            << "hangup" << Outcome::AlreadyListening << QString();
        QTest::newRow("another web server on the port")
            << "http" << Outcome::AlreadyListening << QString();
        QTest::newRow("no quote-portal")
            << "missing" << Outcome::Failed << "quote-portal がプログラムのフォルダー";
        QTest::newRow("quote-portal not executable")
            << "noexec" << Outcome::Failed << "quote-portal を実行できません";
        QTest::newRow("portal ending at once") << "exits" << Outcome::Failed << "終了コード 3";
        QTest::newRow("portal never listening")
            << "silentportal" << Outcome::Failed << "接続を受け付けません";
    }

    void failures() {
        QFETCH(QString, what);
        QFETCH(Outcome, outcome);
        QFETCH(QString, reason);

        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString program = folder.filePath(QStringLiteral("quote-portal"));
        QString base = testing::deadBase();
        std::chrono::milliseconds wait = PortalStarter::kDefaultWait;

        QTcpServer silent; // listens, never takes a connection
        Taker holding(Taker::Way::Hold);
        Taker hangingUp(Taker::Way::HangUp);
        testing::TestPortal other;
        if (what == QLatin1String("silent")) {
            QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
            base = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());
        } else if (what == QLatin1String("holding")) {
            QVERIFY(holding.listen(QHostAddress::LocalHost, 0));
            base = holding.base();
        } else if (what == QLatin1String("hangup")) {
            QVERIFY(hangingUp.listen(QHostAddress::LocalHost, 0));
            base = hangingUp.base();
        } else if (what == QLatin1String("http")) {
            portal::Faults faults;
            faults.status500 = true;
            other.server().setFaults(faults);
            base = other.base();
        } else if (what == QLatin1String("noexec")) {
            QVERIFY(testing::writeProgram(program, "#!/bin/sh\nexit 0\n", false));
        } else if (what == QLatin1String("exits")) {
            QVERIFY(testing::writeProgram(program, "#!/bin/sh\necho 'cannot read prices' >&2\n"
                                                   "exit 3\n"));
        } else if (what == QLatin1String("silentportal")) {
            QVERIFY(testing::writeProgram(program, "#!/bin/sh\nexec sleep 60\n"));
            wait = std::chrono::milliseconds(1500);
        }
        if (what != QLatin1String("missing") && what != QLatin1String("noexec") &&
            what != QLatin1String("exits") && what != QLatin1String("silentportal"))
            QVERIFY(QFile::link(portalProgram(), program)); // a real one, that must not be started

        PortalStarter starter(program, m_data.path());
        QSignalSpy outcomes(&starter, &PortalStarter::finished);
        PortalStarter::Result r;
        START_AND_WAIT(starter, outcomes, base, r, wait);
        QCOMPARE(r.outcome, outcome);
        QVERIFY(!starter.running());
        const QString address = base.mid(int(qstrlen("http://")));
        QCOMPARE(r.address, address);
        if (outcome == Outcome::Failed) {
            QVERIFY2(r.message.contains(address), qPrintable(r.message));
            QVERIFY2(r.message.contains(reason), qPrintable(r.message));
        } else {
            QCOMPARE(r.message, QString());
        }
        if (what == QLatin1String("exits"))
            QVERIFY2(r.message.contains(QStringLiteral("cannot read prices")),
                     qPrintable(r.message));
        if (what == QLatin1String("holding"))
            QVERIFY2(holding.asked().startsWith("GET /support/ "), holding.asked().constData());
        // Nothing of ours is left on the port.
        QCOMPARE(testing::childProcess(::getpid(), "quote-portal"), qint64(0));
    }

    void abandoned_data() {
        // destroy: else stop()
        testing::columns<bool>({"destroy"});

        QTest::newRow("stopped") << false;
        QTest::newRow("destroyed") << true;
    }

    void abandoned() {
        QFETCH(bool, destroy);

        // A portal that never says it listens keeps the start pending.
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString program = folder.filePath(QStringLiteral("quote-portal"));
        QVERIFY(testing::writeProgram(program, "#!/bin/sh\nexec sleep 60\n"));

        auto starter = std::make_unique<PortalStarter>(program, m_data.path());
        QSignalSpy outcomes(starter.get(), &PortalStarter::finished);
        starter->start(testing::deadBase());
        QTRY_VERIFY_WITH_TIMEOUT(starter->running() && starter->processId() > 0, 20000);
        const qint64 pid = starter->processId();
        QVERIFY(starter->isPending());

        if (destroy) {
            starter.reset();
        } else {
            starter->stop();
            QVERIFY(!starter->isPending());
            QVERIFY(!starter->running());
        }
        // Stopping waits for the child, so it is gone on return.
        QVERIFY(testing::processGone(pid));
        QCOMPARE(outcomes.count(), 0);
    }

private:
    QTemporaryDir m_programs; // a folder with quote-portal beside "the program"
    QTemporaryDir m_data;     // the user's data folder handed to the portal
    QString portalProgram() const { return m_programs.filePath(QStringLiteral("quote-portal")); }
};

QTEST_GUILESS_MAIN(TestPortalStarter)
#include "tst_portalstarter.moc"
