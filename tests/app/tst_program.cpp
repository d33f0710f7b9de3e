// The viewer as a program: started in a program folder of its own, with quote-portal beside it,
// the way a user starts it from a menu.
#include "files.h"
#include "processes.h"
#include "table.h"
#include "testsupport.h"

#include <QtTest>

#include <QProcess>

#include <csignal>

#include <unistd.h>

namespace {

bool placeProgram(const QString& name, const QString& folder) {
    const QString from = testing::binFolder() + QLatin1Char('/') + name;
    const QString to = folder + QLatin1Char('/') + name;
    // A hard link where the file system allows it: the program then finds itself in folder.
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    return QFile::copy(from, to);
}

} // namespace

class TestProgram : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.renew());
        m_program = m_dir.filePath(QStringLiteral("program"));
        m_home = m_dir.filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(m_program) && QDir().mkpath(m_home));
        QVERIFY(placeProgram(QStringLiteral("quorvix"), m_program));
        QVERIFY(placeProgram(QStringLiteral("quote-portal"), m_program));
        QVERIFY(placeProgram(QStringLiteral("銘柄コード一覧20060513.csv"), m_program));
    }

    void cleanup() {
        if (m_viewer.state() != QProcess::NotRunning) {
            m_viewer.kill();
            m_viewer.waitForFinished(10000);
        }
    }

    void portalEndsWithTheViewer_data() {
        // clean: the window closes as with its close button
        testing::columns<int, bool>({"signalNumber", "clean"});

        QTest::newRow("SIGTERM") << int(SIGTERM) << true;
        QTest::newRow("SIGINT") << int(SIGINT) << true;
        QTest::newRow("SIGKILL") << int(SIGKILL) << false;
    }

    void portalEndsWithTheViewer() {
        QFETCH(int, signalNumber);
        QFETCH(bool, clean);

        const QString base = testing::deadBase();
        startViewer(base);
        // Nothing listened there: the viewer starts its own portal.
        QTRY_VERIFY_WITH_TIMEOUT(testing::portalAnswers(base), 120000);
        const qint64 portal = testing::childProcess(m_viewer.processId(), "quote-portal");
        QVERIFY(portal > 0);

        QCOMPARE(::kill(pid_t(m_viewer.processId()), signalNumber), 0);
        QVERIFY(m_viewer.waitForFinished(60000));
        if (clean) {
            QCOMPARE(m_viewer.exitStatus(), QProcess::NormalExit);
            QCOMPARE(m_viewer.exitCode(), 0);
            // Closing saved what closing saves: the code box and the marks.
            QFile settings(m_home + QStringLiteral("/.config/ZELK/ZELK.ini"));
            QVERIFY(settings.open(QIODevice::ReadOnly));
            QVERIFY(settings.readAll().contains("LASTCODE="));
            QVERIFY(QFileInfo::exists(m_program + QStringLiteral("/MARK.csv")));
        }
        QTRY_VERIFY_WITH_TIMEOUT(testing::processGone(portal), 30000);
        QVERIFY(!testing::portalAnswers(base));
    }

    void runningPortalIsLeftAlone() {
        testing::TestPortal running;
        QVERIFY(running.started());
        startViewer(running.base());

        // The viewer looks whether a portal answers there, and finds one.
        QTRY_VERIFY_WITH_TIMEOUT(running.targets().contains(QStringLiteral("/support/")), 120000);
        QCOMPARE(testing::childProcess(m_viewer.processId(), "quote-portal"), qint64(0));

        QCOMPARE(::kill(pid_t(m_viewer.processId()), SIGTERM), 0);
        QVERIFY(m_viewer.waitForFinished(60000));
        QCOMPARE(m_viewer.exitCode(), 0);
        // One look only, and the portal still answers after the viewer ended.
        QCOMPARE(running.targets().count(QStringLiteral("/support/")), 1);
        QVERIFY(testing::portalAnswers(running.base()));
    }

private:
    void startViewer(const QString& base) {
        QVERIFY(testing::writeBytes(m_program + QStringLiteral("/servers.ini"),
                                    testing::serversIni(base)));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home + QStringLiteral("/.local/share"));
        m_viewer.setProcessEnvironment(env);
        m_viewer.setProcessChannelMode(QProcess::ForwardedChannels);
        m_viewer.start(m_program + QStringLiteral("/quorvix"), {});
        QVERIFY(m_viewer.waitForStarted(30000));
    }

    testing::FreshFolder m_dir;
    QString m_program;
    QString m_home;
    QProcess m_viewer;
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
