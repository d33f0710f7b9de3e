#include "base/markline.h"
#include "files.h"
#include "marks/markfile.h"
#include "marks/markstring.h"
#include "table.h"
#include "unprivileged.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

Q_DECLARE_METATYPE(marks::SaveFailure)

// The same program is the child that saves where only an ordinary user is stopped: with
// MARKSAVE_CHILD_PATH set it saves MARKSAVE_CHILD_TEXT there and exits with the failure's number.

namespace {

using testing::fileBytes;
using testing::writeBytes;

const char* const kChildPath = "MARKSAVE_CHILD_PATH";
const char* const kChildText = "MARKSAVE_CHILD_TEXT";

QString manyMarks(int count) {
    QString s;
    for (int i = 0; i < count; ++i)
        s += QString::number(1000 + i % 9000) + QLatin1Char(',');
    return s;
}

// Lowers the largest file this process may write, so that a write runs out of room the way it
// does on a full disk; restores the old limit when it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, SIG_DFL);
    }
    bool active() const { return m_active; }

private:
    rlimit m_old{};
    bool m_active = false;
};

} // namespace

class TestMarkFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.renew()); }

    void write_data() {
        testing::columns<QByteArray, QString, QByteArray>({"old", "text", "kept"});

        QTest::newRow("new file") << QByteArray() << "4674,1000,9999," << QByteArray();
        QTest::newRow("alphanumeric codes")
            << QByteArray("4674,\r\n") << "130A,4674," << QByteArray();
        QTest::newRow("empty list") << QByteArray("4674,\r\n") << "" << QByteArray();
        QTest::newRow("replaces the first line, keeps the others")
            << QByteArray("4674,1000,9999,\r\n1301,\r\nmore text\r\n") << "1000,"
            << QByteArray("1301,\r\nmore text\r\n");
        QTest::newRow("7,000 marks") << QByteArray("4674,\r\n") << manyMarks(7000) << QByteArray();
    }

    void write() {
        QFETCH(QByteArray, old);
        QFETCH(QString, text);
        QFETCH(QByteArray, kept);

        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        if (!old.isEmpty())
            QVERIFY(writeBytes(path, old));

        QVERIFY(marks::writeMarkLine(path, text));
        QCOMPARE(fileBytes(path), text.toLatin1() + "\r\n" + kept);
        QCOMPARE(base::readMarkLine(path), std::optional<QString>(text));
        // Nothing but the mark file is left beside it.
        QCOMPARE(
            QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{QStringLiteral("MARK.csv")});
    }

    void writeFails_data() {
        testing::columns<QString, marks::SaveFailure>({"situation", "failure"});
        QTest::newRow("folder does not exist")
            << "missing folder" << marks::SaveFailure::FolderMissing;
        QTest::newRow("mark file name is a folder") << "folder" << marks::SaveFailure::NotAFile;
        QTest::newRow("parent is a file") << "parent file" << marks::SaveFailure::FolderMissing;
        QTest::newRow("disk runs out of room") << "full" << marks::SaveFailure::WriteFailed;
    }

    void writeFails() {
        QFETCH(QString, situation);
        QFETCH(marks::SaveFailure, failure);

        const QByteArray old("4674,1000,\r\n");
        QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        QString oldPath; // the file whose old content must survive, when there is one
        const QString text = manyMarks(6000);

        marks::SaveResult result;
        if (situation == QLatin1String("missing folder")) {
            path = m_dir.filePath(QStringLiteral("gone/MARK.csv"));
            result = marks::writeMarkLine(path, text);
            QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("gone"))));
        } else if (situation == QLatin1String("folder")) {
            QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("MARK.csv")));
            result = marks::writeMarkLine(path, text);
            QVERIFY(QFileInfo(path).isDir());
        } else if (situation == QLatin1String("parent file")) {
            oldPath = m_dir.filePath(QStringLiteral("notafolder"));
            QVERIFY(writeBytes(oldPath, old));
            path = oldPath + QStringLiteral("/MARK.csv");
            result = marks::writeMarkLine(path, text);
        } else if (situation == QLatin1String("full")) {
            oldPath = path;
            QVERIFY(writeBytes(oldPath, old));
            FileSizeLimit limit(4096);
            QVERIFY(limit.active());
            result = marks::writeMarkLine(path, text);
        }

        QVERIFY(!result.saved());
        QCOMPARE(result.failure, failure);
        if (!oldPath.isEmpty())
            QCOMPARE(fileBytes(oldPath), old);
        // A failed save leaves no half-written file behind.
        const QStringList left =
            QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString& name : left)
            QVERIFY2(name == QLatin1String("MARK.csv") || name == QLatin1String("notafolder"),
                     qPrintable(name));
        // The user is told which file was not saved.
        for (const auto what : {marks::UnsavedMarks::Kept, marks::UnsavedMarks::LostAtExit,
                                marks::UnsavedMarks::Replaced})
            QVERIFY(marks::saveFailureMessage(path, result, what).contains(path));
    }

    void readOnlyFolder_data() {
        testing::columns<bool, marks::SaveFailure>({"fileWritable", "failure"});
        QTest::newRow("writable file is saved in place") << true << marks::SaveFailure::None;
        QTest::newRow("read-only file") << false << marks::SaveFailure::NotPermitted;
    }

    // A folder where no new file can be created: the atomic save cannot make its temporary file.
    void readOnlyFolder() {
        QFETCH(bool, fileWritable);
        QFETCH(marks::SaveFailure, failure);

        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        const QByteArray old("4674,1000,9999,1301,\r\n");
        const QString text = QStringLiteral("4674,1000,");
        QVERIFY(writeBytes(path, old));
        QVERIFY(testing::handToChild(path));
        QVERIFY(testing::handToChild(m_dir.path()));
        QVERIFY(QFile::setPermissions(path, fileWritable ? QFile::ReadOwner | QFile::WriteOwner
                                                         : QFile::ReadOwner));
        const QFile::Permissions before = QFile::permissions(m_dir.path());
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner |
                                                        QFile::ReadOther | QFile::ExeOther));

        QProcessEnvironment env;
        env.insert(QLatin1String(kChildPath), path);
        env.insert(QLatin1String(kChildText), text);
        QString output;
        const int code = testing::runChild(env, &output);
        QFile::setPermissions(m_dir.path(), before);

        QVERIFY2(code >= 0 && code < 10, qPrintable(output));
        QCOMPARE(static_cast<marks::SaveFailure>(code), failure);
        QCOMPARE(fileBytes(path),
                 failure == marks::SaveFailure::None ? text.toLatin1() + "\r\n" : old);
    }

    void keepsItsBytes_data() {
        // set: marked first, when not empty
        // clear: then cleared, when not empty
        testing::columns<QByteArray, QStringList, QString, QString, QByteArray>(
            {"bytes", "listed", "set", "clear", "saved"});

        // "ﾒﾓ:月曜に確認" in code page 932, half-width katakana and a backslash second byte
        // included.
        const QByteArray note("\xd2\xd3:\x8c\x8e\x97\x6a\x82\xc9\x8a\x6d\x94\x46\x95\x5c");
        QTest::newRow("code page 932 note, set")
            << (QByteArray("4674,1000,") + note + "\r\n") << QStringList{"4674", "1000"} << "9999"
            << "" << (QByteArray("4674,1000,") + note + "9999,\r\n");
        QTest::newRow("code page 932 note, clear")
            << (QByteArray("4674,1000,") + note + "\r\n") << QStringList{"4674", "1000"} << ""
            << "1000" << (QByteArray("4674,") + note + "\r\n");
        QTest::newRow("lone CR file, clear")
            << QByteArray("4674,1000,9999,\r1301,\r") << QStringList{"4674", "1000", "9999"} << ""
            << "1000" << QByteArray("4674,9999,\r\n1301,\r");
        QTest::newRow("lone CR file, set a marked code")
            << QByteArray("4674,1000,\r") << QStringList{"4674", "1000"} << "1000"
            << "" << QByteArray("4674,1000,\r\n");
        QTest::newRow("lone CR file, set and clear")
            << QByteArray("4674,1000,\r") << QStringList{"4674", "1000"} << "9999"
            << "4674" << QByteArray("1000,9999,\r\n");
    }

    // A mark file read, changed and saved again: what the user did not change keeps its bytes.
    void keepsItsBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, listed);
        QFETCH(QString, set);
        QFETCH(QString, clear);
        QFETCH(QByteArray, saved);

        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        QVERIFY(writeBytes(path, bytes));

        const std::optional<QString> line = base::readMarkLine(path);
        QVERIFY(line.has_value());
        marks::MarkString list(*line);
        QStringList marksRead;
        for (int k = 1; k <= listed.size(); ++k)
            marksRead << list.mark(k);
        QCOMPARE(marksRead, listed);

        if (!set.isEmpty())
            list.append(set);
        if (!clear.isEmpty())
            QVERIFY(list.remove(clear));
        QVERIFY(marks::writeMarkLine(path, list.text()));
        QCOMPARE(fileBytes(path), saved);
    }

    void savesKeepTheRest_data() {
        // viaLink: the mark file is a symbolic link to the user's file "notes.txt"
        testing::columns<bool, QByteArray, QString, QByteArray>(
            {"viaLink", "old", "text", "saved"});
        const QByteArray notes("4674,1000,\r\n\x83\x81\x83\x82: 7203 watch\r\nmore\r\n");
        QTest::newRow("link to a notes file")
            << true << notes << "4674,"
            << QByteArray("4674,\r\n\x83\x81\x83\x82: 7203 watch\r\nmore\r\n");
        QTest::newRow("further lines")
            << false << notes << "9999,"
            << QByteArray("9999,\r\n\x83\x81\x83\x82: 7203 watch\r\nmore\r\n");
        QTest::newRow("lone CR") << false << QByteArray("7203,6758,\r1301,\r\n9984,") << "7203,"
                                 << QByteArray("7203,\r\n1301,\r\n9984,");
        QTest::newRow("LF") << false << QByteArray("7203,\n1301,\n") << ""
                            << QByteArray("\r\n1301,\n");
        QTest::newRow("no line end")
            << false << QByteArray("7203,") << "7203,1301," << QByteArray("7203,1301,\r\n");
        QTest::newRow("empty first line, rest kept")
            << false << QByteArray("\r\n1301,\r\n") << "4674," << QByteArray("4674,\r\n1301,\r\n");
    }

    // A save writes the new first line and keeps every byte after the old one's end; a link is
    // written at its target and stays a link.
    void savesKeepTheRest() {
        QFETCH(bool, viaLink);
        QFETCH(QByteArray, old);
        QFETCH(QString, text);
        QFETCH(QByteArray, saved);

        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        const QString target = viaLink ? m_dir.filePath(QStringLiteral("notes.txt")) : path;
        QVERIFY(writeBytes(target, old));
        if (viaLink)
            QVERIFY(QFile::link(target, path));

        QVERIFY(marks::writeMarkLine(path, text));
        QCOMPARE(fileBytes(target), saved);
        QCOMPARE(QFileInfo(path).isSymLink(), viaLink);
        QCOMPARE(base::readMarkLine(path), std::optional<QString>(text));
        // Nothing but the mark file and the link's target is left in the folder.
        QCOMPARE(QDir(m_dir.path())
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                     .size(),
                 viaLink ? 2 : 1);
    }

    void refusedSaves_data() {
        testing::columns<QByteArray, marks::SaveFailure>({"old", "failure"});
        QTest::newRow("first line beyond the limit, never read")
            << (QByteArray(marks::kMaxMarkLineBytes + 5, '1') + "\r\nnotes\r\n")
            << marks::SaveFailure::TooLong;
        QTest::newRow("first line beyond the limit, no line end")
            << QByteArray(marks::kMaxMarkLineBytes + 1, '1') << marks::SaveFailure::TooLong;
    }

    // A file whose marks were never read is not written over: the save is refused and said so.
    void refusedSaves() {
        QFETCH(QByteArray, old);
        QFETCH(marks::SaveFailure, failure);

        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        QVERIFY(writeBytes(path, old));
        const marks::SaveResult result = marks::writeMarkLine(path, QStringLiteral("4674,"));
        QCOMPARE(result.failure, failure);
        QCOMPARE(fileBytes(path), old);
        const QString told = marks::saveFailureMessage(path, result, marks::UnsavedMarks::Kept);
        QVERIFY2(told.contains(QDir::toNativeSeparators(path)), qPrintable(told));
    }

private:
    testing::FreshFolder m_dir;
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildPath)) {
        const marks::SaveResult r = marks::writeMarkLine(qEnvironmentVariable(kChildPath),
                                                         qEnvironmentVariable(kChildText));
        return static_cast<int>(r.failure);
    }
    QCoreApplication app(argc, argv);
    TestMarkFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_markfile.moc"
