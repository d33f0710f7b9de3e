#include "base/filereplace.h"
#include "files.h"
#include "table.h"
#include "unprivileged.h"

#include <QtTest>

#include <unistd.h>

// The same program is the child that writes in a folder where it may create nothing: with
// REPLACE_CHILD_PATH set it replaces that file with REPLACE_CHILD_BYTES and exits 0 on success.

namespace {

using testing::fileBytes;
using testing::isSymLink;
using testing::writeBytes;

const char* const kChildPath = "REPLACE_CHILD_PATH";
const char* const kChildBytes = "REPLACE_CHILD_BYTES";

QStringList entries(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                               QDir::Hidden | QDir::System);
    names.sort();
    return names;
}

bool setAge(const QString& path, int seconds) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    return f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-seconds),
                         QFileDevice::FileModificationTime);
}

} // namespace

class TestFileReplace : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.renew()); }

    void replaces_data() {
        // planted: what stands at the name before the write
        testing::columns<QString, bool>({"planted", "written"});

        QTest::newRow("nothing") << "nothing" << true;
        QTest::newRow("a longer file") << "longer" << true;
        QTest::newRow("link to another file") << "link" << true;
        QTest::newRow("link to a file not yet there") << "dangling link" << true;
        QTest::newRow("link to a folder") << "folder link" << true;
        QTest::newRow("second name of another file") << "hard link" << true;
        QTest::newRow("a folder") << "folder" << false;
        QTest::newRow("folder does not exist") << "missing folder" << false;
    }

    void replaces() {
        QFETCH(QString, planted);
        QFETCH(bool, written);

        QTemporaryDir outside; // the user's other files
        QVERIFY(outside.isValid());
        QString path = m_dir.filePath(QStringLiteral("temp1.gif"));
        const QString victim = outside.filePath(QStringLiteral("victim"));
        const QByteArray victimBytes("the user's own file\n");
        const QByteArray bytes("GIF89a new chart");

        if (planted == QLatin1String("longer")) {
            QVERIFY(writeBytes(path, QByteArray(4096, 'x')));
        } else if (planted == QLatin1String("link")) {
            QVERIFY(writeBytes(victim, victimBytes));
            QVERIFY(QFile::link(victim, path));
        } else if (planted == QLatin1String("dangling link")) {
            QVERIFY(QFile::link(victim, path));
        } else if (planted == QLatin1String("folder link")) {
            QVERIFY(QFile::link(outside.path(), path));
        } else if (planted == QLatin1String("hard link")) {
            QVERIFY(writeBytes(victim, victimBytes));
            QCOMPARE(
                ::link(QFile::encodeName(victim).constData(), QFile::encodeName(path).constData()),
                0);
        } else if (planted == QLatin1String("folder")) {
            QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("temp1.gif")));
        } else if (planted == QLatin1String("missing folder")) {
            path = m_dir.filePath(QStringLiteral("gone/temp1.gif"));
        }
        const QStringList outsideBefore = entries(outside.path());

        QCOMPARE(base::replaceFile(path, bytes), written);

        if (written) {
            QVERIFY(!isSymLink(path));
            QCOMPARE(fileBytes(path), bytes);
            QCOMPARE(entries(m_dir.path()), QStringList{QStringLiteral("temp1.gif")});
        } else {
            // Nothing but what was there before: no temporary file is left behind.
            QCOMPARE(entries(m_dir.path()), planted == QLatin1String("folder")
                                                ? QStringList{QStringLiteral("temp1.gif")}
                                                : QStringList{});
        }
        // Nothing outside the program folder was written, created or removed.
        QCOMPARE(entries(outside.path()), outsideBefore);
        if (outsideBefore.contains(QStringLiteral("victim")))
            QCOMPARE(fileBytes(victim), victimBytes);
    }

    void folderWithoutNewFiles_data() {
        testing::rowsOf<bool>("link", {{"plain file is overwritten in place", false},
                                       {"link is not followed", true}});
    }

    void folderWithoutNewFiles() {
        QFETCH(bool, link);

        QTemporaryDir outside;
        QVERIFY(outside.isValid());
        const QString path = m_dir.filePath(QStringLiteral("temp2.html"));
        const QString victim = outside.filePath(QStringLiteral("victim"));
        const QByteArray old("old page, longer than the new one\n");
        const QByteArray bytes("<html>new</html>");

        if (link) {
            QVERIFY(writeBytes(victim, old));
            QVERIFY(QFile::setPermissions(victim, QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ReadOther | QFile::WriteOther));
            QVERIFY(testing::handToChild(victim));
            QVERIFY(QFile::setPermissions(outside.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                              QFile::ExeOwner | QFile::ExeOther));
            QVERIFY(QFile::link(victim, path));
        } else {
            QVERIFY(writeBytes(path, old));
            QVERIFY(testing::handToChild(path));
        }
        QVERIFY(testing::handToChild(m_dir.path()));
        const QFile::Permissions before = QFile::permissions(m_dir.path());
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner |
                                                        QFile::ReadOther | QFile::ExeOther));

        QProcessEnvironment env;
        env.insert(QLatin1String(kChildPath), path);
        env.insert(QLatin1String(kChildBytes), QString::fromLatin1(bytes));
        QString output;
        const int code = testing::runChild(env, &output);
        QFile::setPermissions(m_dir.path(), before);

        QVERIFY2(code == 0 || code == 1, qPrintable(output));
        if (link) {
            QCOMPARE(code, 1);
            QVERIFY(isSymLink(path));
            QCOMPARE(fileBytes(victim), old);
        } else {
            QCOMPARE(code, 0);
            QCOMPARE(fileBytes(path), bytes);
        }
        QCOMPARE(entries(m_dir.path()), QStringList{QStringLiteral("temp2.html")});
    }

    void leftovers_data() {
        testing::columns<QString, int, bool>({"name", "ageSeconds", "removed"});

        QTest::newRow("left by a killed save") << "MARK.csv.a1B2c3" << 3600 << true;
        QTest::newRow("just over the minimum age") << "MARK.csv.Zz09aa" << 90 << true;
        QTest::newRow("a save running now") << "MARK.csv.a1B2c3" << 0 << false;
        QTest::newRow("five characters") << "MARK.csv.a1B2c" << 3600 << false;
        QTest::newRow("seven characters") << "MARK.csv.a1B2c3d" << 3600 << false;
        QTest::newRow("not a letter or digit") << "MARK.csv.a1-2c3" << 3600 << false;
        QTest::newRow("another file's") << "LIST.csv.a1B2c3" << 3600 << false;
        QTest::newRow("the mark file itself") << "MARK.csv" << 3600 << false;
        QTest::newRow("a backup the user made") << "MARK.csv.backup" << 3600 << false;
        QTest::newRow("a dated copy the user made") << "MARK.csv.202601" << 3600 << false;
        QTest::newRow("upper case and digits") << "MARK.csv.AB12CD" << 3600 << true;
    }

    void leftovers() {
        QFETCH(QString, name);
        QFETCH(int, ageSeconds);
        QFETCH(bool, removed);

        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        const QString other = m_dir.filePath(name);
        QVERIFY(writeBytes(other, "4674,\r\n"));
        QVERIFY(setAge(other, ageSeconds));

        QCOMPARE(base::removeSaveLeftovers(path), removed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(other), !removed);
    }

private:
    testing::FreshFolder m_dir;
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildPath)) {
        return base::replaceFile(qEnvironmentVariable(kChildPath), qgetenv(kChildBytes)) ? 0 : 1;
    }
    QCoreApplication app(argc, argv);
    TestFileReplace test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_filereplace.moc"
