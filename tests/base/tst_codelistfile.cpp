#include "base/codelistfile.h"
#include "files.h"
#include "table.h"

#include <QtTest>

// The code list file as both programs read it: its lines, decoded, without their ends.
class TestCodeListFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.renew()); }

    void lines_data() {
        testing::columns<QByteArray, QStringList>({"bytes", "lines"});

        // "極洋" and "表示" in code page 932; the second byte of 表 (0x95 0x5C) is a backslash.
        const QByteArray kyokuyo("1301,\x8b\xc9\x97\x6d,ETF");
        const QString kyokuyoText = QStringLiteral("1301,極洋,ETF");

        QTest::newRow("CR LF") << QByteArray(kyokuyo + "\r\n4674,x,y\r\n")
                               << QStringList{kyokuyoText, "4674,x,y"};
        QTest::newRow("LF only") << QByteArray(kyokuyo + "\n4674,x,y\n")
                                 << QStringList{kyokuyoText, "4674,x,y"};
        QTest::newRow("last line without line end")
            << QByteArray(kyokuyo + "\r\n4674,x,y") << QStringList{kyokuyoText, "4674,x,y"};
        QTest::newRow("empty lines inside are lines")
            << QByteArray("1301,a,b\r\n\r\n\n4674,x,y\r\n")
            << QStringList{"1301,a,b", "", "", "4674,x,y"};
        QTest::newRow("a CR inside a line stays")
            << QByteArray("1301,a\rb,c\r\n") << QStringList{"1301,a\rb,c"};
        QTest::newRow("backslash byte inside a character")
            << QByteArray("130A,\x95\x5c\x8e\xa6,ETF\r\n")
            << QStringList{QStringLiteral("130A,表示,ETF")};
        QTest::newRow("only a line end") << QByteArray("\r\n") << QStringList{""};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
    }

    void lines() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);

        const QString path = m_dir.filePath(QString::fromUtf8(base::kCodeListFileName));
        QVERIFY(testing::writeBytes(path, bytes));
        QCOMPARE(base::readCodeListLines(path), lines);
    }

    void unreadable_data() {
        testing::rowsOf<QString>("what", {{"missing", "missing"}, {"a folder", "folder"}});
    }

    void unreadable() {
        QFETCH(QString, what);
        const QString path = m_dir.filePath(QString::fromUtf8(base::kCodeListFileName));
        if (what == "folder")
            QVERIFY(QDir().mkdir(path));
        QCOMPARE(base::readCodeListLines(path), QStringList{});
    }

    // The list that lies beside the programs, under the name both of them open.
    void shippedList() {
        const QString path =
            QStringLiteral(QUORVIX_BIN_DIR "/") + QString::fromUtf8(base::kCodeListFileName);
        const QStringList lines = base::readCodeListLines(path);
        QCOMPARE(lines.size(), 4268 + 117);
        QCOMPARE(lines.first(), QStringLiteral("1301,極洋,プライム（内国株式）"));
        for (const QString& line : lines)
            QVERIFY2(line.count(QLatin1Char(',')) == 2 && !line.contains(QLatin1Char('\r')),
                     qPrintable(line));
    }

private:
    testing::FreshFolder m_dir;
};

QTEST_GUILESS_MAIN(TestCodeListFile)
#include "tst_codelistfile.moc"
