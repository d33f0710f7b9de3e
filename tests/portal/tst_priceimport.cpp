// quote-portal import: every accepted layout written by the test (code page 932 through Qt's
// encoder), the merge into the price database, each kind of bad row, --skip-bad, file names that
// tell the code and ones that do not, files that cannot be read.
#include "pricefolder.h"
#include "prices/pricecsv.h"
#include "prices/priceimport.h"
#include "table.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QtTest>

namespace {

QByteArray sjis(const QString& text) {
    QStringEncoder encode("Shift_JIS");
    return encode(text);
}

QByteArray utf8(const char* text) {
    return QByteArray(text);
}

} // namespace

class TestPriceImport : public QObject, private PriceFolder {
    Q_OBJECT

    QString writeInput(const QString& name, const QByteArray& bytes) {
        const QString path = folderPath(name);
        return testing::writeBytes(path, bytes) ? path : QString();
    }
    CommandRun import(QStringList args) {
        CommandRun r;
        QTextStream out(&r.out), err(&r.err);
        args.prepend(dataDir());
        args.prepend(QStringLiteral("--data"));
        r.status = portal::runImport(args, QStringLiteral("/nonexistent"), out, err);
        return r;
    }

private Q_SLOTS:
    void init() { renewFolder(); }

    void layouts_data() {
        testing::columns<QString, QByteArray, QString, int, QDate, double, double, qint64>(
            {"fileName", "bytes", "layout", "rows", "lastDate", "lastOpen", "lastClose",
             "lastVolume"});

        const QString portal = QStringLiteral("portal"), japanese = QStringLiteral("japanese"),
                      english = QStringLiteral("english");
        QTest::newRow("portal, header")
            << QStringLiteral("7203.csv")
            << utf8("Date,Open,High,Low,Close,Volume\n"
                    "2024-09-27,2700,2750,2690,2740,1000\n"
                    "2024-09-30,2740,2760,2600,2613.5,2000\n")
            << portal << 2 << QDate(2024, 9, 30) << 2740.0 << 2613.5 << qint64(2000);
        QTest::newRow("portal, no header, CR LF, unsorted")
            << QStringLiteral("7203.csv")
            << utf8(
                   "2024-09-30,2740,2760,2600,2613,2000\r\n2024-09-27,2700,2750,2690,2740,1000\r\n")
            << portal << 2 << QDate(2024, 9, 30) << 2740.0 << 2613.0 << qint64(2000);
        QTest::newRow("japanese, UTF-8, turnover and adjusted close")
            << QStringLiteral("7203.T.csv")
            << QString::fromUtf8("日付,始値,高値,安値,終値,出来高,売買代金,調整後終値\n"
                                 "2024/09/27,2700,2750,2690,2740,1000,2740000,2740\n"
                                 "2024/09/30,2740,2760,2600,2613,2000,5226000,2613\n")
                   .toUtf8()
            << japanese << 2 << QDate(2024, 9, 30) << 2740.0 << 2613.0 << qint64(2000);
        QTest::newRow("japanese, UTF-8 with byte-order mark, other order")
            << QStringLiteral("7203_daily.csv")
            << QByteArray("\xEF\xBB\xBF") +
                   QString::fromUtf8("終値,出来高,日付,高値,安値,始値\n"
                                     "2613,2000,2024/9/30,2760,2600,2740\n")
                       .toUtf8()
            << japanese << 1 << QDate(2024, 9, 30) << 2740.0 << 2613.0 << qint64(2000);
        QTest::newRow("japanese, code page 932, title line, quoted thousands")
            << QStringLiteral("7203.csv")
            << sjis(QStringLiteral("7203 トヨタ自動車（株）日足\r\n"
                                   "\"日付\",\"始値\",\"高値\",\"安値\",\"終値\",\"出来高\"\r\n"
                                   "\"2024/09/27\",\"2,700\",\"2,750\",\"2,690\",\"2,740\","
                                   "\"12,345,600\"\r\n"
                                   "\"2024/09/30\",\"2,740\",\"2,760\",\"2,600\",\"2,613\","
                                   "\"23,456,700\"\r\n"))
            << japanese << 2 << QDate(2024, 9, 30) << 2740.0 << 2613.0 << qint64(23456700);
        QTest::newRow("english, adjusted close, extra column, compact dates")
            << QStringLiteral("7203.csv")
            << utf8("Symbol,Date,Open,High,Low,Close,Adj Close,Volume\n"
                    "7203.T,20240927,2700,2750,2690,2740,2740,1000\n"
                    "7203.T,20240930,2740,2760,2600,2613,2613,2000\n")
            << english << 2 << QDate(2024, 9, 30) << 2740.0 << 2613.0 << qint64(2000);
        // The store keeps prices to a tenth of a yen, the exchange's finest step.
        QTest::newRow("english, quoted decimals, lower case, no adjusted close")
            << QStringLiteral("7203.csv")
            << utf8("\"date\",\"open\",\"high\",\"low\",\"close\",\"volume\"\n"
                    "\"2024-09-30\",\"2,740.5\",\"2,760.0\",\"2,600.25\",\"2,613.75\",\"2,000\"\n")
            << english << 1 << QDate(2024, 9, 30) << 2740.5 << 2613.8 << qint64(2000);
        QTest::newRow("english, adjusted close scales a split")
            << QStringLiteral("7203.csv")
            << utf8("Date,Open,High,Low,Close,Adj Close,Volume\n"
                    "2024-09-27,2000,2100,1900,2000,1000,100\n"
                    "2024-09-30,1000,1010,990,1005,1005,300\n")
            << english << 2 << QDate(2024, 9, 30) << 1000.0 << 1005.0 << qint64(300);
    }
    void layouts() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, layout);
        QFETCH(int, rows);
        QFETCH(QDate, lastDate);
        QFETCH(double, lastOpen);
        QFETCH(double, lastClose);
        QFETCH(qint64, lastVolume);

        QCOMPARE(portal::layoutName(portal::parsePriceCsv(bytes).layout), layout);
        const QString input = writeInput(fileName, bytes);
        const CommandRun r = import({input});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        QVERIFY2(r.out.startsWith(QStringLiteral("7203: 追加 %1 行、置換 0 行、").arg(rows)),
                 qPrintable(r.out));
        QVERIFY(r.out.contains(lastDate.toString(QStringLiteral("yyyy/MM/dd"))));
        const portal::History h = storedBars(QStringLiteral("7203"));
        QCOMPARE(h.size(), rows);
        QCOMPARE(h.last().date, lastDate);
        QCOMPARE(h.last().open, lastOpen);
        QCOMPARE(h.last().close, lastClose);
        QCOMPARE(h.last().volume, lastVolume);
        QVERIFY(h.first().date < h.last().date || rows == 1);
        QVERIFY(!h.sample);
        if (layout == QLatin1String("english") && bytes.contains("1000,100"))
            QCOMPARE(h.first().high, 1050.0); // 2100 halved by the split
    }

    void mergeByDate() {
        store(QStringLiteral("6758"), "Date,Open,High,Low,Close,Volume\n"
                                      "2024-09-25,100,110,90,105,10\n"
                                      "2024-09-26,105,120,100,118,20\n"
                                      "2024-09-27,118,119,110,111,30\n");
        const QString input =
            writeInput(QStringLiteral("6758.csv"), "Date,Open,High,Low,Close,Volume\n"
                                                   "2024-09-30,112,130,112,129,50\n"
                                                   "2024-09-27,118,125,110,124,35\n"
                                                   "2024-09-24,99,101,95,100,5\n");
        const CommandRun r = import({input});
        QCOMPARE(r.status, 0);
        QVERIFY2(
            r.out.startsWith(QStringLiteral("6758: 追加 2 行、置換 1 行、2024/09/24 - 2024/09/30")),
            qPrintable(r.out));
        const portal::History h = storedBars(QStringLiteral("6758"));
        QCOMPARE(h.size(), 5);
        const QDate expected[] = {QDate(2024, 9, 24), QDate(2024, 9, 25), QDate(2024, 9, 26),
                                  QDate(2024, 9, 27), QDate(2024, 9, 30)};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(h[i].date, expected[i]);
        QCOMPARE(h[3].close, 124.0); // the imported row replaced the stored one
        QCOMPARE(h[2].close, 118.0); // stored rows of other dates are kept
        // Importing the same file again adds nothing and replaces the same dates.
        const CommandRun again = import({input});
        QVERIFY2(again.out.startsWith(QStringLiteral("6758: 追加 0 行、置換 0 行、同じ値 3 行")),
                 qPrintable(again.out));
        QCOMPARE(storedBars(QStringLiteral("6758")).size(), 5);
    }

    void badRows_data() {
        testing::columns<QByteArray, QString>({"row", "reason"});
        QTest::newRow("date") << QByteArray("2024-13-01,100,110,90,105,10")
                              << QStringLiteral("日付");
        QTest::newRow("date text")
            << QByteArray("yesterday,100,110,90,105,10") << QStringLiteral("日付");
        QTest::newRow("number") << QByteArray("2024-10-01,100,1l0,90,105,10")
                                << QStringLiteral("高値を数値として読めません");
        QTest::newRow("separator out of place") << QByteArray("2024-10-01,\"1,00\",110,90,105,10")
                                                << QStringLiteral("始値を数値として読めません");
        QTest::newRow("exponent") << QByteArray("2024-10-01,100,110,90,105,1e3")
                                  << QStringLiteral("出来高を数値として読めません");
        QTest::newRow("date with a time")
            << QByteArray("2024-10-01 09:00,100,110,90,105,10") << QStringLiteral("日付");
        QTest::newRow("number nan") << QByteArray("2024-10-01,100,110,90,nan,10")
                                    << QStringLiteral("終値を数値として読めません");
        QTest::newRow("missing field")
            << QByteArray("2024-10-01,100,110,90,105") << QStringLiteral("列が足りません");
        QTest::newRow("high below low")
            << QByteArray("2024-10-01,100,80,90,85,10") << QStringLiteral("高値");
        QTest::newRow("high below open")
            << QByteArray("2024-10-01,120,110,90,105,10") << QStringLiteral("高値");
        QTest::newRow("high below close")
            << QByteArray("2024-10-01,100,110,90,115,10") << QStringLiteral("高値");
        QTest::newRow("negative volume")
            << QByteArray("2024-10-01,100,110,90,105,-10") << QStringLiteral("出来高が負の値");
        QTest::newRow("volume beyond any count")
            << QByteArray("2024-10-01,100,110,90,105,2501111111111111111111111111")
            << QStringLiteral("出来高が大きすぎます");
        QTest::newRow("price beyond any price")
            << QByteArray("2024-10-01,100,99999999999999999,90,105,10")
            << QStringLiteral("高値が大きすぎます");
        QTest::newRow("negative price")
            << QByteArray("2024-10-01,-100,110,-190,105,10") << QStringLiteral("始値が負の値");
        QTest::newRow("same date, other values")
            << QByteArray("2024-09-30,112,130,112,128,50") << QStringLiteral("2 行目にもあり");
    }
    void badRows() {
        QFETCH(QByteArray, row);
        QFETCH(QString, reason);
        const QByteArray before = "Date,Open,High,Low,Close,Volume\n2024-09-27,1,2,1,2,3\n";
        store(QStringLiteral("6758"), before);
        const QString input =
            writeInput(QStringLiteral("6758.csv"), "Date,Open,High,Low,Close,Volume\n"
                                                   "2024-09-30,112,130,112,129,50\n" +
                                                       row + "\n2024-10-02,129,131,120,121,60\n");
        const CommandRun r = import({input});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(input + QStringLiteral(":3: ")), qPrintable(r.err));
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("取り込みませんでした")));
        QVERIFY(r.out.isEmpty());
        QCOMPARE(storedBytes(QStringLiteral("6758")), before);
    }

    void repeatedIdenticalRowIsNoBadRow() {
        const QString input =
            writeInput(QStringLiteral("6758.csv"), "Date,Open,High,Low,Close,Volume\n"
                                                   "2024-09-30,112,130,112,129,50\n"
                                                   "2024-09-30,112,130,112,129,50\n");
        const CommandRun r = import({input});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(storedBars(QStringLiteral("6758")).size(), 1);
    }

    void skipBadImportsTheGoodRows() {
        const QByteArray before = "Date,Open,High,Low,Close,Volume\n2024-09-27,1,2,1,2,3\n";
        store(QStringLiteral("6758"), before);
        const QString input =
            writeInput(QStringLiteral("6758.csv"), "Date,Open,High,Low,Close,Volume\n"
                                                   "2024-09-30,112,130,112,129,50\n"
                                                   "2024-10-01,129,-1,120,121,60\n"
                                                   "2024-10-02,129,131,120,121,60\n"
                                                   "2024-10-03,121,125,119,124,70\n"
                                                   "2024-10-03,121,125,119,122,70\n");
        const CommandRun r = import({QStringLiteral("--skip-bad"), input});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY(r.err.contains(input + QStringLiteral(":3: ")));
        QVERIFY(r.err.contains(input + QStringLiteral(":6: ")));
        QVERIFY2(r.out.contains(QStringLiteral("追加 2 行、置換 0 行")), qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("不正な行 2 行を除外")));
        const portal::History h = storedBars(QStringLiteral("6758"));
        // The stored day stays; of the file, both rows of the disputed 10/03 are left out.
        QCOMPARE(h.size(), 3);
        QCOMPARE(h[0].date, QDate(2024, 9, 27));
        QCOMPARE(h[2].date, QDate(2024, 10, 2));
    }

    void codeFromFileName_data() {
        testing::columns<QString, QString>({"name", "code"});
        QTest::newRow("plain") << QStringLiteral("7203.csv") << QStringLiteral("7203");
        QTest::newRow("with suffix") << QStringLiteral("7203.T.csv") << QStringLiteral("7203");
        QTest::newRow("folder and prefix")
            << QStringLiteral("/tmp/x/daily-6758.csv") << QStringLiteral("6758");
        QTest::newRow("upper-case extension")
            << QStringLiteral("9984.CSV") << QStringLiteral("9984");
        QTest::newRow("no code") << QStringLiteral("prices.csv") << QString();
        QTest::newRow("five digits") << QStringLiteral("72030.csv") << QString();
        QTest::newRow("two codes") << QStringLiteral("7203_6758.csv") << QString();
        QTest::newRow("the same code twice")
            << QStringLiteral("7203_7203.T.csv") << QStringLiteral("7203");
        if (portal::isCode(QStringLiteral("130A"))) {
            QTest::newRow("alphanumeric")
                << QStringLiteral("130A_daily.csv") << QStringLiteral("130A");
            QTest::newRow("alphanumeric, lower case")
                << QStringLiteral("130a.t.csv") << QStringLiteral("130A");
        }
    }
    void codeFromFileName() {
        QFETCH(QString, name);
        QFETCH(QString, code);
        QCOMPARE(portal::codeFromFileName(name), code);
    }

    void codeThatCannotBeTold() {
        const QByteArray rows = "Date,Open,High,Low,Close,Volume\n2024-09-30,112,130,112,129,50\n";
        const QString input = writeInput(QStringLiteral("prices.csv"), rows);
        const CommandRun r = import({input});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("銘柄コードが分かりません")), qPrintable(r.err));
        QVERIFY(storedCodes().isEmpty());
        // --code tells it.
        const CommandRun withCode =
            import({QStringLiteral("--code"), QStringLiteral("8035"), input});
        QCOMPARE(withCode.status, 0);
        QCOMPARE(storedBars(QStringLiteral("8035")).size(), 1);
    }

    void codeOption_data() {
        // code: what --code gives the stored prices; empty: refused before any file is read.
        testing::columns<QString, QString>({"given", "code"});
        QTest::newRow("full width") << QStringLiteral("７２０３") << QStringLiteral("7203");
        QTest::newRow("lower case") << QStringLiteral("130a") << QStringLiteral("130A");
        QTest::newRow("full width, lower case")
            << QStringLiteral("１３０ａ") << QStringLiteral("130A");
        QTest::newRow("blanks around") << QStringLiteral(" 7203　") << QStringLiteral("7203");
        QTest::newRow("the lowest code") << QStringLiteral("1000") << QStringLiteral("1000");
        QTest::newRow("four zeros") << QStringLiteral("0000") << QString();
        QTest::newRow("below the range") << QStringLiteral("0999") << QString();
        QTest::newRow("five digits") << QStringLiteral("12345") << QString();
        QTest::newRow("negative") << QStringLiteral("-123") << QString();
        QTest::newRow("a decimal") << QStringLiteral("4674.4") << QString();
        QTest::newRow("a letter out of place") << QStringLiteral("A130") << QString();
        QTest::newRow("a path") << QStringLiteral("../x") << QString();
    }
    void codeOption() {
        QFETCH(QString, given);
        QFETCH(QString, code);
        const QString input =
            writeInput(QStringLiteral("daily.csv"),
                       "Date,Open,High,Low,Close,Volume\n2024-09-30,112,130,112,129,50\n");
        const CommandRun r = import({QStringLiteral("--code"), given, input});
        if (code.isEmpty()) {
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains(QStringLiteral("銘柄コードではありません")), qPrintable(r.err));
            QVERIFY(storedCodes().isEmpty());
            return;
        }
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(storedCodes(), QStringList{code});
    }

    void filesThatCannotBeRead_data() {
        // bytes: empty: no file at all
        testing::columns<QString, QByteArray, QString>({"name", "bytes", "message"});
        QTest::newRow("missing") << QStringLiteral("1301.csv") << QByteArray()
                                 << QStringLiteral("読めません");
        QTest::newRow("an HTML page")
            << QStringLiteral("1301.csv")
            << QByteArray("<!DOCTYPE html><html><body>Not found</body></html>")
            << QStringLiteral("HTML");
        QTest::newRow("no header")
            << QStringLiteral("1301.csv") << QByteArray("just,some\nwords,here\n")
            << QStringLiteral("見出し行");
        QTest::newRow("header without volume")
            << QStringLiteral("1301.csv")
            << QByteArray("Date,Open,High,Low,Close\n2024-09-30,1,1,1,1\n")
            << QStringLiteral("出来高 の列がありません");
        QTest::newRow("binary") << QStringLiteral("1301.csv")
                                << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                                << QStringLiteral("見出し行");
        QTest::newRow("empty") << QStringLiteral("1301.csv") << QByteArray("\n\n")
                               << QStringLiteral("中身がありません");
    }
    void filesThatCannotBeRead() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QByteArray before = "Date,Open,High,Low,Close,Volume\n2024-09-27,1,2,1,2,3\n";
        store(QStringLiteral("1301"), before);
        const QString input = bytes.isEmpty() ? folderPath(name) : writeInput(name, bytes);
        const CommandRun r = import({input});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(r.err.contains(input));
        QCOMPARE(storedBytes(QStringLiteral("1301")), before);
    }

    void aFolderIsNoFile() {
        const CommandRun r = import({dataDir()});
        QCOMPARE(r.status, 1);
        QVERIFY(!r.err.isEmpty());
    }

    void oneRefusedFileAmongSeveral() {
        const QString good =
            writeInput(QStringLiteral("7203.csv"), "Date,Open,High,Low,Close,Volume\n"
                                                   "2024-09-30,112,130,112,129,50\n");
        const QString bad =
            writeInput(QStringLiteral("6758.csv"), "Date,Open,High,Low,Close,Volume\n"
                                                   "2024-09-30,112,1,112,129,50\n");
        const CommandRun r = import({bad, good});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.out.count(QLatin1Char('\n')), 1); // one line for the imported file
        QVERIFY(r.out.startsWith(QStringLiteral("7203: ")));
        QCOMPARE(storedBars(QStringLiteral("7203")).size(), 1);
        QCOMPARE(storedCodes(), QStringList{QStringLiteral("7203")});
    }

    void noFilesIsAUsageError() {
        const CommandRun r = import({});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains(QStringLiteral("使い方")));
    }

    void writtenFileReadsBackTheSame() {
        portal::History h;
        h.append({QDate(2024, 9, 30), 1234.5, 1300, 1200.25, 1299.0625, 123456789012});
        h.append({QDate(2024, 10, 1), 0.5, 0.75, 0.25, 0.5, 0});
        const portal::PriceFile back = portal::parsePriceCsv(portal::writePriceCsv(h));
        QVERIFY(back.problems.isEmpty());
        QCOMPARE(back.layout, portal::PriceLayout::Portal);
        QCOMPARE(back.bars.size(), 2);
        QCOMPARE(back.bars[0].close, 1299.0625);
        QCOMPARE(back.bars[0].volume, qint64(123456789012));
        QCOMPARE(back.bars[1].low, 0.25);
    }
};

QTEST_GUILESS_MAIN(TestPriceImport)
#include "tst_priceimport.moc"
