// The viewer as a program: started in a program folder of its own, with quote-portal beside it,
// the way a user starts it from a menu.
#include "files.h"
#include "processes.h"
#include "table.h"
#include "testsupport.h"

#include <QtTest>

#include <QProcess>
#include <QStandardPaths>

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

// Runs xdotool against display and gives its output.
QByteArray xdotool(const QString& display, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(10000))
        return QByteArray();
    return p.readAllStandardOutput().trimmed();
}

// A window on display whose title matches the regular expression title: its id, or empty.
QByteArray windowNamed(const QString& display, const QString& title) {
    return xdotool(display, {QStringLiteral("search"), QStringLiteral("--name"), title})
        .split('\n')
        .value(0);
}

const QString kMainWindow = QStringLiteral("^Quorvix Chart Viewer  - ");
const QString kMessageBox = QStringLiteral("^Quorvix Chart Viewer$");
const QString kSettings = QStringLiteral("^Quorvix Chart Viewer 設定$");

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

    void cleanupTestCase() {
        if (m_xvfb.state() != QProcess::NotRunning) {
            m_xvfb.terminate();
            m_xvfb.waitForFinished(10000);
        }
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

    void signalEndsWhateverIsOpen_data() {
        // open: what waits for an answer when the signal comes ("", "message" a message box,
        // "settings" the settings dialog); markFolder: a folder stands at MARK.csv, so the marks
        // cannot be saved
        testing::columns<int, QString, bool>({"signalNumber", "open", "markFolder"});
        QTest::newRow("SIGTERM, nothing open") << int(SIGTERM) << "" << false;
        QTest::newRow("SIGINT, nothing open") << int(SIGINT) << "" << false;
        QTest::newRow("SIGTERM, nothing open, marks unsavable") << int(SIGTERM) << "" << true;
        QTest::newRow("SIGTERM, message box") << int(SIGTERM) << "message" << false;
        QTest::newRow("SIGINT, message box, marks unsavable") << int(SIGINT) << "message" << true;
        QTest::newRow("SIGTERM, settings dialog, marks unsavable")
            << int(SIGTERM) << "settings" << true;
        QTest::newRow("SIGINT, settings dialog") << int(SIGINT) << "settings" << false;
    }

    // A signal ends the program whatever dialog is open, with what can be saved saved; marks
    // that cannot be saved are said on standard error, not in a box nobody may answer.
    void signalEndsWhateverIsOpen() {
        QFETCH(int, signalNumber);
        QFETCH(QString, open);
        QFETCH(bool, markFolder);
        // Under AddressSanitizer the viewer on a real X server ends with status 1 where the
        // normal build ends with 0; the ending on a signal is checked in the normal build.
        if (qEnvironmentVariableIsSet("ASAN_OPTIONS"))
            QSKIP("the ending on a signal with dialogs open is checked in the normal build");
        // The dialogs are seen and clicked on a display of the test's own.
        const QString display = startDisplay();
        if (display.isEmpty())
            QSKIP("Xvfb and xdotool are needed to open the program's dialogs");

        const QString markFile = m_program + QStringLiteral("/MARK.csv");
        // A folder there at the start is told in a box of its own; for the settings dialog to be
        // reachable it comes once the window is up, where only the last save meets it.
        const bool folderLater = open == QLatin1String("settings");
        if (markFolder && !folderLater)
            QVERIFY(QDir().mkpath(markFile));
        testing::TestPortal running;
        QString base = running.base();
        if (open == QLatin1String("message")) {
            // No portal answers and none is beside the program: the start fails and says so.
            QVERIFY(QFile::remove(m_program + QStringLiteral("/quote-portal")));
            base = testing::deadBase();
        } else {
            QVERIFY(running.started());
        }
        startViewer(base, display);
        // qWaitFor asks once a turn and stops at the first yes. QTRY_VERIFY asks again after the
        // wait, and a window search that misses once under load then fails the test.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return m_viewer.state() != QProcess::Running ||
                       !windowNamed(display, kMainWindow).isEmpty();
            },
            120000));
        QVERIFY2(m_viewer.state() == QProcess::Running,
                 m_viewer.readAllStandardError().constData());
        if (markFolder && folderLater)
            QVERIFY(QDir().mkpath(markFile));
        if (open == QLatin1String("message")) {
            QVERIFY(QTest::qWaitFor([&] { return !windowNamed(display, kMessageBox).isEmpty(); },
                                    120000));
        } else if (open == QLatin1String("settings")) {
            // 設定, the first button under the charts; clicked again until the dialog shows.
            const QByteArray window = windowNamed(display, kMainWindow);
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return !windowNamed(display, kSettings).isEmpty() ||
                           (xdotool(display,
                                    {QStringLiteral("mousemove"), QStringLiteral("--window"),
                                     QString::fromLatin1(window), QStringLiteral("110"),
                                     QStringLiteral("464"), QStringLiteral("click"),
                                     QStringLiteral("1")}),
                            false);
                },
                120000));
        }

        QCOMPARE(::kill(pid_t(m_viewer.processId()), signalNumber), 0);
        QVERIFY(m_viewer.waitForFinished(60000));
        QCOMPARE(m_viewer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_viewer.exitCode(), 0);
        const QByteArray errors = m_viewer.readAllStandardError();
        QFile settings(m_home + QStringLiteral("/.config/ZELK/ZELK.ini"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("LASTCODE="));
        if (markFolder) {
            QVERIFY2(errors.contains(QFile::encodeName(markFile)), errors.constData());
        } else {
            QVERIFY(QFileInfo(markFile).isFile());
            QVERIFY2(!errors.contains("MARK.csv"), errors.constData());
        }
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
    // An X display of the test's own (":n"), started once; empty when it cannot be had.
    QString startDisplay() {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            return QString();
        if (m_xvfb.state() == QProcess::NotRunning) {
            for (int n = 90 + int(::getpid() % 100); m_display.isEmpty() && n < 400; n += 7) {
                if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                    QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                    continue;
                m_xvfb.start(QStringLiteral("Xvfb"),
                             {QStringLiteral(":%1").arg(n), QStringLiteral("-noreset"),
                              QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                              QStringLiteral("-screen"), QStringLiteral("0"),
                              QStringLiteral("1600x1000x24")});
                if (!m_xvfb.waitForStarted(10000))
                    return QString();
                // -noreset: a server resetting as the last viewer goes refuses the next one.
                // Its socket shows before it takes clients; ready once a client gets an answer.
                const QString name = QStringLiteral(":%1").arg(n);
                if (QTest::qWaitFor(
                        [&name] {
                            return !xdotool(name, {QStringLiteral("getdisplaygeometry")}).isEmpty();
                        },
                        30000)) {
                    m_display = name;
                } else {
                    m_xvfb.kill();
                    m_xvfb.waitForFinished(10000);
                }
            }
        }
        return m_display;
    }

    void startViewer(const QString& base, const QString& display = QString()) {
        QVERIFY(testing::writeBytes(m_program + QStringLiteral("/servers.ini"),
                                    testing::serversIni(base)));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home + QStringLiteral("/.local/share"));
        if (!display.isEmpty()) {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            env.insert(QStringLiteral("DISPLAY"), display);
        }
        m_viewer.setProcessEnvironment(env);
        // On a display its standard error is read; elsewhere it goes to the test's.
        m_viewer.setProcessChannelMode(display.isEmpty() ? QProcess::ForwardedChannels
                                                         : QProcess::ForwardedOutputChannel);
        m_viewer.start(m_program + QStringLiteral("/quorvix"), {});
        QVERIFY(m_viewer.waitForStarted(30000));
    }

    testing::FreshFolder m_dir;
    QString m_program;
    QString m_home;
    QProcess m_viewer;
    QProcess m_xvfb;
    QString m_display;
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
