// The window starts the quote-portal beside the program when nothing listens at the chart
// server's loopback address, and stops only what it started.
#include "controls.h"
#include "mainwin/form1.h"
#include "operations.h"
#include "processes.h"
#include "table.h"
#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>
#include <QtTest>

#include <unistd.h>

class TestPortalOnDemand : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startedWithTheWindow() {
        const QString base = testing::deadBase();
        testing::ProgramFolder folder(base);
        testing::MessageCatcher messages;
        auto w = openWindow(folder, true);

        // Started from the event loop once the window is up, it comes to listen on its own.
        QTRY_VERIFY_WITH_TIMEOUT(testing::portalAnswers(base), 20000);
        const qint64 portal = testing::childProcess(::getpid(), "quote-portal");
        QVERIFY(portal > 0);
        testing::ui(*w).Text1->setText(QStringLiteral("4674"));
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));
        for (int pane = 0; pane < 4; ++pane)
            QVERIFY(!testing::ui(*w).Picture1[pane]->pixmap().isNull());
        QCOMPARE(messages.texts(), QStringList());

        w->close();
        QTRY_VERIFY_WITH_TIMEOUT(testing::processGone(portal), 20000);
        QVERIFY(!testing::portalAnswers(base));
    }

    void runningPortalIsLeftAlone() {
        testing::TestPortal running;
        QVERIFY(running.started());
        testing::ProgramFolder folder(running.base());
        testing::MessageCatcher messages;
        auto w = openWindow(folder, true);

        // Once the window has looked there, it has nothing to start.
        QTRY_VERIFY_WITH_TIMEOUT(running.targets().contains(QStringLiteral("/support/")), 20000);
        QCOMPARE(testing::childProcess(::getpid(), "quote-portal"), qint64(0));
        testing::ui(*w).Text1->setText(QStringLiteral("4674"));
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));
        QVERIFY(!testing::ui(*w).Picture1[0]->pixmap().isNull());

        w->close();
        w.reset();
        QVERIFY(testing::portalAnswers(running.base()));
        QCOMPARE(messages.texts(), QStringList());
    }

    void cannotStart_data() {
        // silentServer: else: nothing listens, and no quote-portal
        testing::columns<bool, QString>({"silentServer", "reason"});
        QTest::newRow("port held by a server that is no portal") << true << "ポータルではない";
        QTest::newRow("no quote-portal beside the program") << false << "quote-portal";
    }

    void cannotStart() {
        QFETCH(bool, silentServer);
        QFETCH(QString, reason);

        QTcpServer silent;
        QString base = testing::deadBase();
        if (silentServer) {
            QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
            base = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());
        }
        testing::ProgramFolder folder(base);
        testing::MessageCatcher messages;
        auto w = openWindow(folder, silentServer);

        // Said once, naming the address and why; the window goes on.
        QTRY_COMPARE_WITH_TIMEOUT(messages.texts().size(), 1, 20000);
        const QString message = messages.texts().first();
        QVERIFY2(message.contains(base.mid(7)), qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
        QCOMPARE(testing::childProcess(::getpid(), "quote-portal"), qint64(0));

        QVERIFY(testing::ui(*w).Text1->isEnabled());
        testing::ui(*w).Text1->setText(QStringLiteral("4674"));
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));
        QCOMPARE(messages.texts().size(), 2);
        QVERIFY(testing::ui(*w).Text1->isEnabled());
        w->close();
        QCOMPARE(messages.texts().size(), 2);
    }

private:
    std::unique_ptr<Form1> openWindow(const testing::ProgramFolder& folder, bool portalBeside) {
        if (portalBeside)
            QFile::link(testing::binFolder() + QStringLiteral("/quote-portal"),
                        folder.file(QStringLiteral("quote-portal")));
        ViewerContext context = folder.context();
        context.startPortal = true;
        return testing::shownWindow(context);
    }
};

QUORVIX_WINDOW_TEST_MAIN(TestPortalOnDemand)

#include "tst_portalondemand.moc"
