// The window starts the quote-portal beside the program when nothing listens at the chart
// server's loopback address, and stops only what it started.
#include "controls.h"
#include "mainwin/form1.h"
#include "messages.h"
#include "operations.h"
#include "processes.h"
#include "table.h"
#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QtTest>

#include <csignal>

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

    void portalGone_data() {
        testing::columns<QString>({"how"});
        QTest::newRow("killed") << QStringLiteral("killed");
        QTest::newRow("ended with the viewer that started it") << QStringLiteral("viewer closed");
    }
    void portalGone() {
        QFETCH(QString, how);
        const QString base = testing::deadBase();
        testing::ProgramFolder folder(base);
        testing::MessageCatcher messages;
        auto first = openWindow(folder, true);
        QTRY_VERIFY_WITH_TIMEOUT(testing::portalAnswers(base), 20000);
        const qint64 portal = testing::childProcess(::getpid(), "quote-portal");
        QVERIFY(portal > 0);
        // A second viewer on the same address finds the first one's portal and uses it.
        auto second = openWindow(folder, true);
        testing::ui(*second).Text1->setText(QStringLiteral("4674"));
        second->Text1_DblClick();
        QVERIFY(testing::idle(*second));
        QVERIFY(!testing::ui(*second).Picture1[0]->pixmap().isNull());

        if (how == QLatin1String("killed"))
            QCOMPARE(::kill(pid_t(portal), SIGKILL), 0);
        else
            first->close();
        QTRY_VERIFY_WITH_TIMEOUT(testing::processGone(portal), 20000);
        QVERIFY(!testing::portalAnswers(base));

        // The next display finds nothing listening, starts the portal again and goes on.
        second->Text1_DblClick();
        QVERIFY(testing::idle(*second));
        for (int pane = 0; pane < 4; ++pane)
            QVERIFY(!testing::ui(*second).Picture1[pane]->pixmap().isNull());
        QVERIFY(testing::portalAnswers(base));
        // And a search goes on as well after the portal has gone once more.
        const qint64 again = testing::childProcess(::getpid(), "quote-portal");
        QVERIFY(again > 0 && again != portal);
        QCOMPARE(::kill(pid_t(again), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(testing::processGone(again), 20000);
        testing::ui(*second).Text1->setText(QStringLiteral("4673"));
        testing::ui(*second).Command6->click();
        QVERIFY(testing::idle(*second));
        QCOMPARE(testing::ui(*second).Text1->text(), QStringLiteral("4674"));
        QCOMPARE(messages.texts(), QStringList());
    }

    void foreignServerIsUsedSilently() {
        // Something that takes connections and never answers: the user's own server, a tunnel.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());
        testing::ProgramFolder folder(base);
        testing::MessageCatcher messages;
        auto w = openWindow(folder, true);
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 20000);
        // A display asked for now waits for the look at the address, then for the server.
        testing::ui(*w).Text1->setText(QStringLiteral("4674"));
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));
        // Only the display's own word: nothing about a portal, and none was started.
        QCOMPARE(messages.texts(), QStringList{testing::kUnreachableMessage});
        QCOMPARE(testing::childProcess(::getpid(), "quote-portal"), qint64(0));
    }

    void cannotStart() {
        // Nothing listens, and there is no quote-portal beside the program.
        const QString base = testing::deadBase();
        testing::ProgramFolder folder(base);
        testing::MessageCatcher messages;
        auto w = openWindow(folder, false);

        // Said once, naming the address and why; the window goes on.
        QTRY_COMPARE_WITH_TIMEOUT(messages.texts().size(), 1, 20000);
        const QString message = messages.texts().first();
        QVERIFY2(message.contains(base.mid(7)), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("quote-portal")), qPrintable(message));
        QCOMPARE(testing::childProcess(::getpid(), "quote-portal"), qint64(0));

        // A display then tries once more and ends as it always did, with one message more.
        QVERIFY(testing::ui(*w).Text1->isEnabled());
        testing::ui(*w).Text1->setText(QStringLiteral("4674"));
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));
        QCOMPARE(messages.texts().size(), 2);
        QCOMPARE(messages.texts().last(), testing::kUnreachableMessage);
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
