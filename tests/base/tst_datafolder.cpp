#include "base/datafolder.h"
#include "table.h"

#include <QtTest>

#include <unistd.h>

namespace {

// A folder this process cannot write to. Permission bits do not stop root, so there a
// read-only mount is looked for instead; without one the case cannot be made here.
QString readOnlyFolder(const QTemporaryDir& dir) {
    const QString folder = dir.filePath(QStringLiteral("program"));
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        return folder;
    for (const char* mounted : {"/proc/sys", "/sys/fs/cgroup"}) {
        if (::access(mounted, W_OK) != 0)
            return QString::fromLatin1(mounted);
    }
    return QString();
}

} // namespace

class TestDataFolder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_hadXdg = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        m_savedXdg = qgetenv("XDG_DATA_HOME");
        m_savedHome = qgetenv("HOME");
    }

    void cleanup() {
        if (m_hadXdg)
            qputenv("XDG_DATA_HOME", m_savedXdg);
        else
            qunsetenv("XDG_DATA_HOME");
        qputenv("HOME", m_savedHome);
    }

    void folder_data() {
        // xdgDataHome: "-": unset; relative to the temporary folder
        // expected: "program", or relative to the temporary folder
        testing::columns<bool, QString, QString>({"programWritable", "xdgDataHome", "expected"});

        QTest::newRow("portable folder keeps the files") << true << "xdg"
                                                         << "program";
        QTest::newRow("portable, no XDG_DATA_HOME") << true << "-"
                                                    << "program";
        QTest::newRow("installed: XDG_DATA_HOME") << false << "xdg"
                                                  << "xdg/quorvix";
        QTest::newRow("installed: XDG_DATA_HOME not there yet") << false << "new/deeper"
                                                                << "new/deeper/quorvix";
        QTest::newRow("installed: default under HOME") << false << "-"
                                                       << "home/.local/share/quorvix";
        QTest::newRow("installed: data folder cannot be made") << false << "file/below"
                                                               << "program";
    }

    void folder() {
        QFETCH(bool, programWritable);
        QFETCH(QString, xdgDataHome);
        QFETCH(QString, expected);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString program = dir.filePath(QStringLiteral("portable"));
        QVERIFY(QDir().mkpath(program));
        if (!programWritable) {
            program = readOnlyFolder(dir);
            if (program.isEmpty())
                QSKIP("no folder here that this user cannot write to");
        }
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("home"))));
        qputenv("HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        if (xdgDataHome == QLatin1String("-"))
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(xdgDataHome)));

        const QString folder = base::userDataFolder(program);

        if (expected == QLatin1String("program")) {
            QCOMPARE(folder, program);
            // Portable use creates nothing elsewhere.
            QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("xdg/quorvix"))));
            QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("home/.local"))));
            return;
        }
        QCOMPARE(folder, dir.filePath(expected));
        QVERIFY(QFileInfo(folder).isDir());
        // The user's files can be written there.
        QFile mark(folder + QStringLiteral("/MARK.csv"));
        QVERIFY(mark.open(QIODevice::WriteOnly));
        QCOMPARE(base::userDataFolder(program), folder); // the same on the next start
    }

private:
    QByteArray m_savedXdg;
    QByteArray m_savedHome;
    bool m_hadXdg = false;
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
