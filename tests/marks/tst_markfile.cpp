#include "marks/markfile.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

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

class TstMarkFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void read_data();
    void read();
    void readMissingFile();
    void readFolder();
    void write_data();
    void write();
    void writeFails_data();
    void writeFails();
};

void TstMarkFile::read_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("hasLine");
    QTest::addColumn<QString>("line");

    QTest::newRow("CR LF") << QByteArray("4674,1000,9999,\r\n") << true << "4674,1000,9999,";
    QTest::newRow("LF") << QByteArray("4674,1000,9999,\n") << true << "4674,1000,9999,";
    QTest::newRow("no line end") << QByteArray("4674,1000,9999,") << true << "4674,1000,9999,";
    QTest::newRow("alphanumeric codes")
        << QByteArray("130A,4674,1A3C,\r\n") << true << "130A,4674,1A3C,";
    QTest::newRow("zero bytes") << QByteArray() << false << "";
    QTest::newRow("only CR LF") << QByteArray("\r\n") << true << "";
    QTest::newRow("empty first line, more lines")
        << QByteArray("\r\n4674,1000,\r\n9999,\r\n") << true << "";
    QTest::newRow("only the first line counts")
        << QByteArray("4674,\r\n1000,\r\n") << true << "4674,";
    QTest::newRow("damaged: no comma after the last mark")
        << QByteArray("4674,1000\r\n") << true << "4674,1000";
    QTest::newRow("damaged: letters and blanks kept")
        << QByteArray("4674,ab d,\r\n") << true << "4674,ab d,";
    QTest::newRow("long line") << (manyMarks(7000).toLatin1() + "\r\n1000,\r\n") << true
                               << manyMarks(7000);
}

void TstMarkFile::read() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, hasLine);
    QFETCH(QString, line);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("MARK.csv"));
    QVERIFY(writeBytes(path, bytes));

    const std::optional<QString> read = marks::readMarkLine(path);
    QCOMPARE(read.has_value(), hasLine);
    if (hasLine)
        QCOMPARE(*read, line);
}

void TstMarkFile::readMissingFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(!marks::readMarkLine(dir.filePath(QStringLiteral("MARK.csv"))).has_value());
}

void TstMarkFile::readFolder() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("MARK.csv")));
    QVERIFY(!marks::readMarkLine(dir.filePath(QStringLiteral("MARK.csv"))).has_value());
}

void TstMarkFile::write_data() {
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QString>("text");

    QTest::newRow("new file") << QByteArray() << "4674,1000,9999,";
    QTest::newRow("alphanumeric codes") << QByteArray("4674,\r\n") << "130A,4674,";
    QTest::newRow("empty list") << QByteArray("4674,\r\n") << "";
    QTest::newRow("replaces a longer file whole")
        << QByteArray("4674,1000,9999,\r\n1301,\r\nmore text\r\n") << "1000,";
    QTest::newRow("7,000 marks") << QByteArray("4674,\r\n") << manyMarks(7000);
}

void TstMarkFile::write() {
    QFETCH(QByteArray, old);
    QFETCH(QString, text);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("MARK.csv"));
    if (!old.isEmpty())
        QVERIFY(writeBytes(path, old));

    QVERIFY(marks::writeMarkLine(path, text));
    QCOMPARE(fileBytes(path), text.toLatin1() + "\r\n");
    QCOMPARE(marks::readMarkLine(path), std::optional<QString>(text));
    // Nothing but the mark file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("MARK.csv")});
}

void TstMarkFile::writeFails_data() {
    QTest::addColumn<QString>("situation");
    QTest::newRow("folder does not exist") << "missing folder";
    QTest::newRow("mark file name is a folder") << "folder";
    QTest::newRow("parent is a file") << "parent file";
    QTest::newRow("disk runs out of room") << "full";
    QTest::newRow("read-only folder") << "read-only";
}

void TstMarkFile::writeFails() {
    QFETCH(QString, situation);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray old("4674,1000,\r\n");
    QString path = dir.filePath(QStringLiteral("MARK.csv"));
    QString oldPath; // the file whose old content must survive, when there is one
    const QString text = manyMarks(6000);

    bool written = true;
    if (situation == QLatin1String("missing folder")) {
        path = dir.filePath(QStringLiteral("gone/MARK.csv"));
        written = marks::writeMarkLine(path, text);
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("gone"))));
    } else if (situation == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("MARK.csv")));
        written = marks::writeMarkLine(path, text);
        QVERIFY(QFileInfo(path).isDir());
    } else if (situation == QLatin1String("parent file")) {
        oldPath = dir.filePath(QStringLiteral("notafolder"));
        QVERIFY(writeBytes(oldPath, old));
        written = marks::writeMarkLine(oldPath + QStringLiteral("/MARK.csv"), text);
    } else if (situation == QLatin1String("full")) {
        oldPath = path;
        QVERIFY(writeBytes(oldPath, old));
        FileSizeLimit limit(4096);
        QVERIFY(limit.active());
        written = marks::writeMarkLine(path, text);
    } else if (situation == QLatin1String("read-only")) {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders; the other rows cover failed saves");
        oldPath = path;
        QVERIFY(writeBytes(oldPath, old));
        QFile::Permissions before = QFile::permissions(dir.path());
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        written = marks::writeMarkLine(path, text);
        QFile::setPermissions(dir.path(), before);
    }

    QVERIFY(!written);
    if (!oldPath.isEmpty())
        QCOMPARE(fileBytes(oldPath), old);
    // A failed save leaves no half-written file behind.
    const QStringList left =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : left)
        QVERIFY2(name == QLatin1String("MARK.csv") || name == QLatin1String("notafolder"),
                 qPrintable(name));
}

QTEST_GUILESS_MAIN(TstMarkFile)
#include "tst_markfile.moc"
