#include "platform/terminationsignals.h"
#include "table.h"

#include <QtTest>

#include <csignal>

class TestSignals : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void arriveOnTheEventLoop_data() {
        testing::rowsOf<int>("signalNumber", {{"SIGTERM", int(SIGTERM)}, {"SIGINT", int(SIGINT)}});
    }

    void arriveOnTheEventLoop() {
        QFETCH(int, signalNumber);

        platform::TerminationSignals watcher;
        QVERIFY(watcher.isActive());
        QSignalSpy spy(&watcher, &platform::TerminationSignals::received);
        // The process lives on after the signal: it is only reported.
        QCOMPARE(::raise(signalNumber), 0);
        QVERIFY(spy.wait(10000));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.first().first().toInt(), signalNumber);

        // Two at once are both reported.
        ::raise(signalNumber);
        ::raise(signalNumber);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 10000);
    }

    void defaultHandlingComesBack() {
        { platform::TerminationSignals watcher; }
        struct sigaction now = {};
        QCOMPARE(::sigaction(SIGTERM, nullptr, &now), 0);
        QVERIFY(now.sa_handler == SIG_DFL);
        // And a new instance can take over again.
        platform::TerminationSignals again;
        QVERIFY(again.isActive());
    }
};

QTEST_GUILESS_MAIN(TestSignals)
#include "tst_signals.moc"
