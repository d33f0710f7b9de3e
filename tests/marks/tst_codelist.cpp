#include "base/codepage932.h"
#include "files.h"
#include "marks/codelist.h"
#include "table.h"

#include <QStringEncoder>
#include <QtTest>

using marks::CodeList;

namespace {

const QString kShippedList =
    QStringLiteral(QUORVIX_BIN_DIR "/") + QString::fromUtf8(CodeList::kFileName);

QByteArray toCodePage932(const QString& text) {
    QStringEncoder encoder("windows-31j");
    return encoder.encode(text);
}

} // namespace

class TestCodeList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.renew()); }

    // The code list that ships beside the program, decoded from code page 932.
    void shippedList_data() {
        testing::columns<QString, QString>({"code", "row"});

        QTest::newRow("listed") << "4674" << QStringLiteral("4674,クレスコ,プライム（内国株式）");
        QTest::newRow("first line") << "1301" << QStringLiteral("1301,極洋,プライム（内国株式）");
        QTest::newRow("alphanumeric")
            << "130A"
            << QStringLiteral("130A,Ｖｅｒｉｔａｓ　Ｉｎ　Ｓｉｌｉｃｏ,グロース（内国株式）");
        QTest::newRow("last alphanumeric")
            << "258A" << QStringLiteral("258A,ＳＭＴ　ＥＴＦ国内リート厳選投資アクティブ,ETF・ETN");
        QTest::newRow("alphanumeric not listed") << "130C"
                                                 << "130C,????,????";
        QTest::newRow("not listed") << "1000"
                                    << "1000,????,????";
        QTest::newRow("part of a code") << "467"
                                        << "467,????,????";
        QTest::newRow("letters") << "abcd"
                                 << "abcd,????,????";
    }

    void shippedList() {
        QFETCH(QString, code);
        QFETCH(QString, row);

        QVERIFY2(QFileInfo::exists(kShippedList), qPrintable(kShippedList));
        const CodeList list = CodeList::load(kShippedList);
        QVERIFY(list.size() > 1000);
        QCOMPARE(list.row(code), row);
    }

    // Code-list files written for the case, in code page 932.
    void rows_data() {
        testing::columns<QString, QString, QString>({"content", "code", "row"});

        const QString list = QStringLiteral("4674,クレスコ,プライム（内国株式）\r\n"
                                            "4674,別の行,スタンダード（内国株式）\r\n"
                                            "46\r\n"
                                            "\r\n"
                                            "コード,銘柄名,市場区分\r\n"
                                            "9999,最後,グロース（内国株式）");
        QTest::newRow("first match wins")
            << list << "4674" << QStringLiteral("4674,クレスコ,プライム（内国株式）");
        QTest::newRow("short line matches its whole text") << list << "46"
                                                           << "46";
        QTest::newRow("a code is not matched by a short line") << list << "4600"
                                                               << "4600,????,????";
        QTest::newRow("last line without line end")
            << list << "9999" << QStringLiteral("9999,最後,グロース（内国株式）");
        QTest::newRow("LF only")
            << QStringLiteral(
                   "1301,極洋,プライム（内国株式）\n4674,クレスコ,プライム（内国株式）\n")
            << "4674" << QStringLiteral("4674,クレスコ,プライム（内国株式）");
        QTest::newRow("LF only, first line")
            << QStringLiteral(
                   "1301,極洋,プライム（内国株式）\n4674,クレスコ,プライム（内国株式）\n")
            << "1301" << QStringLiteral("1301,極洋,プライム（内国株式）");
        QTest::newRow("empty file") << QString() << "4674"
                                    << "4674,????,????";
    }

    void rows() {
        QFETCH(QString, content);
        QFETCH(QString, code);
        QFETCH(QString, row);

        const QString path = m_dir.filePath(QString::fromUtf8(CodeList::kFileName));
        QVERIFY(testing::writeBytes(path, toCodePage932(content)));

        QCOMPARE(CodeList::load(path).row(code), row);
    }

    void missingFile() {
        const CodeList list =
            CodeList::load(m_dir.filePath(QString::fromUtf8(CodeList::kFileName)));
        QCOMPARE(list.size(), 0);
        QCOMPARE(list.row(QStringLiteral("4674")), QStringLiteral("4674,????,????"));
    }

    // The data folder's list, which the portal's sync makes from the exchange's listing, comes
    // before the one beside the program; without a usable one there, the program's serves.
    void preferredList_data() {
        QTest::addColumn<QByteArray>("dataList"); // "-": no file
        QTest::addColumn<QString>("row");
        const QByteArray line =
            QStringEncoder(base::codePage932Name())(QStringLiteral("7203,新社名,プライム\r\n"));
        QTest::newRow("data folder's list") << line << QStringLiteral("7203,新社名,プライム");
        QTest::newRow("none in the data folder")
            << QByteArray("-") << QStringLiteral("7203,program,x");
        QTest::newRow("an empty one") << QByteArray() << QStringLiteral("7203,program,x");
    }
    void preferredList() {
        QFETCH(QByteArray, dataList);
        QFETCH(QString, row);
        const QString name = QLatin1Char('/') + QString::fromUtf8(CodeList::kFileName);
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("program"))));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("data"))));
        QVERIFY(testing::writeBytes(m_dir.filePath(QStringLiteral("program")) + name,
                                    "7203,program,x\r\n"));
        if (dataList != "-")
            QVERIFY(testing::writeBytes(m_dir.filePath(QStringLiteral("data")) + name, dataList));
        const CodeList list = CodeList::loadPreferred(m_dir.filePath(QStringLiteral("data")),
                                                      m_dir.filePath(QStringLiteral("program")));
        QCOMPARE(list.row(QStringLiteral("7203")), row);
    }

    // The shipped list is in code order and holds the exchange's alphanumeric codes.
    void shippedAlphanumericCodes() {
        const CodeList list = CodeList::load(kShippedList);
        const QStringList codes = list.alphanumericCodes();
        QCOMPARE(codes.size(), 117);
        QCOMPARE(codes.first(), QStringLiteral("130A"));
        QCOMPARE(codes.last(), QStringLiteral("258A"));
        QCOMPARE(list.size(), 4268 + 117);

        QFile file(kShippedList);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.last(), QByteArray()); // the last line ends like every other
        QStringList order;
        for (const QByteArray& line : lines.mid(0, lines.size() - 1)) {
            QVERIFY2(line.endsWith('\r'), line.constData());
            order << QString::fromLatin1(line.left(4));
        }
        const int at = order.indexOf(QStringLiteral("130A"));
        QVERIFY(at > 0);
        QCOMPARE(order.mid(at - 1, 3), (QStringList{"1309", "130A", "1311"}));
        QStringList sorted = order;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(order, sorted);
    }

    void alphanumericCodes() {
        const QString path = m_dir.filePath(QString::fromUtf8(CodeList::kFileName));
        // Out of order, with a duplicate, a lower-case and a forbidden-letter line that are none.
        QVERIFY(testing::writeBytes(
            path, toCodePage932(QStringLiteral("215A,タイミー,グロース（内国株式）\r\n"
                                               "4674,クレスコ,プライム（内国株式）\r\n"
                                               "130A,ヴェリタス,グロース（内国株式）\r\n"
                                               "215A,二行目,グロース（内国株式）\r\n"
                                               "131a,小文字,グロース（内国株式）\r\n"
                                               "1A3B,禁止文字,グロース（内国株式）\r\n"))));

        const CodeList list = CodeList::load(path);
        QCOMPARE(list.alphanumericCodes(), (QStringList{"130A", "215A"}));
        QCOMPARE(list.row(QStringLiteral("215A")),
                 QStringLiteral("215A,タイミー,グロース（内国株式）"));
    }

    // The mark list: one row per mark, in mark-string order.
    void markListRows_data() {
        testing::columns<QString, bool, QStringList>({"marks", "withList", "rows"});

        const QString kresco = QStringLiteral("4674,クレスコ,プライム（内国株式）");
        const QString kyokuyo = QStringLiteral("1301,極洋,プライム（内国株式）");

        QTest::newRow("mark order, not list order")
            << "4674,1000,1301," << true << QStringList{kresco, "1000,????,????", kyokuyo};
        QTest::newRow("alphanumeric marks")
            << "258A,4674,130C," << true
            << QStringList{
                   QStringLiteral("258A,ＳＭＴ　ＥＴＦ国内リート厳選投資アクティブ,ETF・ETN"),
                   kresco, "130C,????,????"};
        QTest::newRow("empty") << "" << true << QStringList{};
        QTest::newRow("no comma after the last mark")
            << "1000,4674" << true << QStringList{"1000,????,????", kresco};
        QTest::newRow("remainder of two characters")
            << "4674,13" << true << QStringList{kresco, "13,????,????"};
        QTest::newRow("no code list")
            << "4674,1000,1301," << false
            << QStringList{"4674,????,????", "1000,????,????", "1301,????,????"};
    }

    void markListRows() {
        QFETCH(QString, marks);
        QFETCH(bool, withList);
        QFETCH(QStringList, rows);

        const CodeList list = withList ? CodeList::load(kShippedList) : CodeList();
        QCOMPARE(marks::markListRows(marks::MarkString(marks), list), rows);
    }

private:
    testing::FreshFolder m_dir;
};

QTEST_GUILESS_MAIN(TestCodeList)
#include "tst_codelist.moc"
