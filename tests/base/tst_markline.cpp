#include "base/markline.h"
#include "files.h"
#include "table.h"

#include <QtTest>

#include <limits>

namespace {

QString manyMarks(int count) {
    QString s;
    for (int i = 0; i < count; ++i)
        s += QString::number(1000 + i % 9000) + QLatin1Char(',');
    return s;
}

} // namespace

// The mark file's first line, as the viewer and the portal read it.
class TestMarkLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.renew()); }

    void read_data() {
        testing::columns<QByteArray, bool, QString>({"bytes", "hasLine", "line"});

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
        QTest::newRow("lone CR line ends")
            << QByteArray("4674,1000,\r9999,\r1301,\r") << true << "4674,1000,";
        QTest::newRow("lone CR, then CR LF")
            << QByteArray("4674,\r\r\n1000,\r\n") << true << "4674,";
        QTest::newRow("empty first line ended by CR") << QByteArray("\r4674,\r") << true << "";
        // "メモ" and "表示" in code page 932; the second byte of 表 (0x95 0x5C) is a backslash.
        QTest::newRow("code page 932 text after the marks")
            << QByteArray("4674,1000,\x83\x81\x83\x82\r\n") << true
            << QStringLiteral("4674,1000,メモ");
        QTest::newRow("code page 932 with a backslash byte")
            << QByteArray("4674,\x95\x5c\x8e\xa6,\r\n") << true << QStringLiteral("4674,表示,");
        QTest::newRow("long line")
            << (manyMarks(7000).toLatin1() + "\r\n1000,\r\n") << true << manyMarks(7000);
    }

    void read() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, hasLine);
        QFETCH(QString, line);

        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        QVERIFY(testing::writeBytes(path, bytes));

        const std::optional<QString> read = base::readMarkLine(path);
        QCOMPARE(read.has_value(), hasLine);
        if (hasLine)
            QCOMPARE(*read, line);
    }

    void readMissingFile() {
        QVERIFY(!base::readMarkLine(m_dir.filePath(QStringLiteral("MARK.csv"))).has_value());
    }

    void readFolder() {
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("MARK.csv")));
        QVERIFY(!base::readMarkLine(m_dir.filePath(QStringLiteral("MARK.csv"))).has_value());
    }

    void readChecked_data() {
        // kind: what stands at the name ("file", "folder", "missing")
        testing::columns<QString, QByteArray, qint64, int, QString>(
            {"kind", "bytes", "limit", "status", "line"});
        const qint64 any = std::numeric_limits<qint64>::max();
        QTest::newRow("marks") << "file" << QByteArray("4674,1000,\r\n") << any
                               << int(base::MarkLineStatus::Read) << "4674,1000,";
        QTest::newRow("zero bytes")
            << "file" << QByteArray() << any << int(base::MarkLineStatus::NoLine) << "";
        QTest::newRow("missing") << "missing" << QByteArray() << any
                                 << int(base::MarkLineStatus::Missing) << "";
        QTest::newRow("folder") << "folder" << QByteArray() << any
                                << int(base::MarkLineStatus::NotAFile) << "";
        QTest::newRow("first line at the limit")
            << "file" << QByteArray("4674,1000,\r\n") << qint64(10)
            << int(base::MarkLineStatus::Read) << "4674,1000,";
        QTest::newRow("first line one byte past the limit")
            << "file" << QByteArray("4674,1000,\r\n") << qint64(9)
            << int(base::MarkLineStatus::TooLong) << "";
        QTest::newRow("long rest, short first line")
            << "file" << (QByteArray("4674,\r\n") + manyMarks(100000).toLatin1()) << qint64(10)
            << int(base::MarkLineStatus::Read) << "4674,";
    }

    void readChecked() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, limit);
        QFETCH(int, status);
        QFETCH(QString, line);

        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        if (kind == QLatin1String("file"))
            QVERIFY(testing::writeBytes(path, bytes));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("MARK.csv")));
        const base::MarkLineRead read = base::readMarkLineChecked(path, limit);
        QCOMPARE(int(read.status), status);
        QCOMPARE(read.line, line);
    }

    void readWork_data() {
        // The bytes taken from the file follow the first line, never the file: a refused line of
        // four times the size costs no more, a list of four times the marks about four times.
        testing::columns<int, int, qint64, qint64, qint64>(
            {"lineMarks", "restMarks", "limit", "atLeast", "atMost"});
        const qint64 limit = 256 * 1024;
        QTest::newRow("n marks") << 10000 << 0 << limit << qint64(50000) << qint64(50002 + 4096);
        QTest::newRow("4n marks") << 40000 << 0 << limit << qint64(200000) << qint64(200002 + 4096);
        QTest::newRow("n marks, 4n more below")
            << 10000 << 40000 << limit << qint64(50000) << qint64(50002 + 4096);
        QTest::newRow("refused: 2 MB line")
            << 400000 << 0 << limit << limit << qint64(limit + 2 * 4096);
        QTest::newRow("refused: 8 MB line")
            << 1600000 << 0 << limit << limit << qint64(limit + 2 * 4096);
    }

    void readWork() {
        QFETCH(int, lineMarks);
        QFETCH(int, restMarks);
        QFETCH(qint64, limit);
        QFETCH(qint64, atLeast);
        QFETCH(qint64, atMost);

        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        QVERIFY(testing::writeBytes(path, manyMarks(lineMarks).toLatin1() + "\r\n" +
                                              manyMarks(restMarks).toLatin1()));
        const base::MarkLineRead read = base::readMarkLineChecked(path, limit);
        QVERIFY2(read.bytesRead >= atLeast && read.bytesRead <= atMost,
                 qPrintable(QString::number(read.bytesRead)));
        QCOMPARE(read.line.size(), read.status == base::MarkLineStatus::Read ? lineMarks * 5 : 0);
    }

    void encode_data() {
        testing::columns<QString, QByteArray>({"text", "bytes"});

        QTest::newRow("codes") << "4674,130A," << QByteArray("4674,130A,");
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("code page 932 text")
            << QStringLiteral("4674,表示,") << QByteArray("4674,\x95\x5c\x8e\xa6,");
    }

    void encode() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);

        QCOMPARE(base::encodeMarkLine(text), bytes);
        const QString path = m_dir.filePath(QStringLiteral("MARK.csv"));
        QVERIFY(testing::writeBytes(path, bytes + "\r\n"));
        QCOMPARE(base::readMarkLine(path), std::optional<QString>(text));
    }

private:
    testing::FreshFolder m_dir;
};

QTEST_GUILESS_MAIN(TestMarkLine)
#include "tst_markline.moc"
