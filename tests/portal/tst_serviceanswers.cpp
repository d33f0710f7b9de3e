// Reading the data service's answers: what a day's page holds, and answers that are no page at
// all. The reader works on the bytes directly, so every case a JSON document would catch is
// checked here too.
#include "sync/serviceanswers.h"

#include <QtTest>

class TestServiceAnswers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shortCodes_data() {
        QTest::addColumn<QString>("serviceCode");
        QTest::addColumn<QString>("code"); // empty: none
        QTest::newRow("common stock") << QStringLiteral("72030") << QStringLiteral("7203");
        QTest::newRow("alphanumeric") << QStringLiteral("130A0") << QStringLiteral("130A");
        QTest::newRow("four characters") << QStringLiteral("7203") << QStringLiteral("7203");
        QTest::newRow("preferred share") << QStringLiteral("25935") << QString();
        QTest::newRow("not a code") << QStringLiteral("12.40") << QString();
        QTest::newRow("six characters") << QStringLiteral("720300") << QString();
    }
    void shortCodes() {
        QFETCH(QString, serviceCode);
        QFETCH(QString, code);
        QCOMPARE(portal::sync::shortCode(serviceCode).value_or(QString()), code);
    }

    void barsPage_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("bars");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<QString>("why"); // empty: read
        const QByteArray day = R"({"Date":"2026-01-05","Code":"72030","O":2500.5,"H":"2550",)"
                               R"("L":2480,"C":2530,"UL":"0","LL":0,"Vo":1200300,"Va":3.03e9,)"
                               R"("AdjFactor":1.0})";
        QTest::newRow("one record") << "{\"data\":[" + day + "]}" << 1 << 0 << QString();
        QTest::newRow("fields of other plans, nested")
            << "{\"data\":[" + day.chopped(1) + R"(,"MO":{"x":[1,2,{"y":null}]},"e":true}]})" << 1
            << 0 << QString();
        QTest::newRow("preferred share and nonsense")
            << QByteArray(R"({"data":[{"Date":"2026-01-05","Code":"25935","C":1},)"
                          R"({"Date":"x","Code":"72030"},17]})")
            << 0 << 3 << QString();
        QTest::newRow("empty day") << QByteArray(R"( {"data": [] } )") << 0 << 0 << QString();
        QTest::newRow("byte order mark")
            << "\xEF\xBB\xBF{\"data\":[" + day + "]}" << 1 << 0 << QString();
        QTest::newRow("HTML with status 200")
            << QByteArray("<!DOCTYPE html><html><body>Please use a browser</body></html>") << 0 << 0
            << QStringLiteral("HTML");
        QTest::newRow("cut in a number") << QByteArray(R"({"data":[{"Date":"2026-01-05","O":25)")
                                         << 0 << 0 << QStringLiteral("JSON が読めません");
        QTest::newRow("cut in a string") << QByteArray("{\"data\":[{\"Date\":\"2026-01") << 0 << 0
                                         << QStringLiteral("JSON が読めません");
        QTest::newRow("cut after a comma")
            << "{\"data\":[" + day + "," << 0 << 0 << QStringLiteral("JSON が読めません");
        QTest::newRow("something after it")
            << "{\"data\":[" + day + "]} x" << 0 << 0 << QStringLiteral("JSON が読めません");
        QTest::newRow("a trailing comma")
            << "{\"data\":[" + day + ",]}" << 0 << 0 << QStringLiteral("JSON が読めません");
        QTest::newRow("number with a leading zero") << QByteArray(R"({"data":[{"O":01}]})") << 0
                                                    << 0 << QStringLiteral("JSON が読めません");
        QTest::newRow("control character in a string") << QByteArray("{\"data\":[{\"Code\":\"72\x01"
                                                                     "030\"}]}")
                                                       << 0 << 1 << QString();
        QTest::newRow("nested too deep")
            << QByteArray(5000, '[') << 0 << 0 << QStringLiteral("JSON が読めません");
        QTest::newRow("no data") << QByteArray(R"({"message":"maintenance"})") << 0 << 0
                                 << QStringLiteral("data がありません");
        QTest::newRow("data that is no list")
            << QByteArray(R"({"data":{}})") << 0 << 0 << QStringLiteral("data がありません");
    }
    void barsPage() {
        QFETCH(QByteArray, body);
        QFETCH(int, bars);
        QFETCH(int, skipped);
        QFETCH(QString, why);
        const portal::sync::BarsPage page = portal::sync::readBarsPage(body);
        QCOMPARE(page.ok, why.isEmpty());
        QVERIFY2(page.why.contains(why), qPrintable(page.why));
        QCOMPARE(page.bars.size(), bars);
        QCOMPARE(page.skipped, skipped);
    }

    void recordValues_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<double>("close");  // 0: no trade
        QTest::addColumn<qint64>("volume"); // -1: none
        QTest::addColumn<double>("factor");
        QTest::newRow("numbers")
            << QByteArray(R"({"Code":"72030","Date":"2026-01-05","O":1,"H":2,"L":0.5,"C":1.5,)"
                          R"("Vo":100,"Va":150,"AdjFactor":1})")
            << QStringLiteral("7203") << QDate(2026, 1, 5) << 1.5 << qint64(100) << 1.0;
        QTest::newRow("numbers as strings, another date form, a split")
            << QByteArray(R"({"AdjFactor":"0.5","C":"2613.5","L":"2600","H":"2650","O":"2610",)"
                          R"("Vo":"3.0e3","Date":"20260106","Code":"130A0"})")
            << QStringLiteral("130A") << QDate(2026, 1, 6) << 2613.5 << qint64(3000) << 0.5;
        QTest::newRow("a day without trades")
            << QByteArray(R"({"Code":"72030","Date":"2026-01-05","O":null,"H":null,"L":null,)"
                          R"("C":null,"Vo":null,"Va":null,"AdjFactor":1})")
            << QStringLiteral("7203") << QDate(2026, 1, 5) << 0.0 << qint64(-1) << 1.0;
        QTest::newRow("a price of zero is no trade")
            << QByteArray(R"({"Code":"72030","Date":"2026-01-05","O":0,"H":0,"L":0,"C":0,"Vo":0})")
            << QStringLiteral("7203") << QDate(2026, 1, 5) << 0.0 << qint64(-1) << 1.0;
        QTest::newRow("escapes in the code")
            << QByteArray(R"({"Code":"\u0037\u0032030","Date":"2026-01-05","C":1})")
            << QStringLiteral("7203") << QDate(2026, 1, 5) << 0.0 << qint64(-1) << 1.0;
        QTest::newRow("a date of another form")
            << QByteArray(R"({"Code":"72030","Date":"2026\/01\/05","C":1})") << QString() << QDate()
            << 0.0 << qint64(-1) << 1.0;
        QTest::newRow("out of range number is none")
            << QByteArray(R"({"Code":"72030","Date":"2026-01-05","O":1e999,"H":2,"L":1,"C":1,)"
                          R"("AdjFactor":-2})")
            << QStringLiteral("7203") << QDate(2026, 1, 5) << 0.0 << qint64(-1) << 1.0;
    }
    void recordValues() {
        QFETCH(QByteArray, record);
        QFETCH(QString, code);
        QFETCH(QDate, date);
        QFETCH(double, close);
        QFETCH(qint64, volume);
        QFETCH(double, factor);
        const auto page = portal::sync::readBarsPage("{\"data\":[" + record + "]}");
        QVERIFY(page.ok);
        if (code.isEmpty()) {
            QCOMPARE(page.skipped, 1);
            return;
        }
        QCOMPARE(page.bars.size(), 1);
        const auto& b = page.bars.first();
        QCOMPARE(b.code, code);
        QCOMPARE(b.bar.date, date);
        QCOMPARE(b.bar.close.value_or(0.0), close);
        QCOMPARE(b.bar.volume.value_or(-1), volume);
        QCOMPARE(b.bar.adjustment, factor);
    }

    void paginationKeys_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("key");
        QTest::newRow("none") << QByteArray(R"({"data":[]})") << QString();
        QTest::newRow("with characters to encode")
            << QByteArray(R"({"pagination_key":"a+b/c=","data":[]})") << QStringLiteral("a+b/c=");
        QTest::newRow("escaped, non-ASCII")
            << QByteArray("{\"data\":[],\"pagination_key\":\"\\u3042\\ud83d\\ude00\\\"\\\\\"}")
            << QStringLiteral("あ😀\"\\");
        QTest::newRow("not a text")
            << QByteArray(R"({"data":[],"pagination_key":12})") << QString();
    }
    void paginationKeys() {
        QFETCH(QByteArray, body);
        QFETCH(QString, key);
        const auto page = portal::sync::readBarsPage(body);
        QVERIFY(page.ok);
        QCOMPARE(page.nextKey, key);
    }

    void calendarAndListing() {
        const auto calendar = portal::sync::readCalendarPage(
            R"({"data":[{"Date":"2026-01-02","HolDiv":"0"},{"Date":"2026-01-05","HolDiv":"1"},)"
            R"({"Date":"2026-12-30","HolDiv":"2"},{"Date":"2026-01-12","HolDiv":"3"}]})");
        QVERIFY(calendar.ok);
        QCOMPARE(calendar.tradingDays, (QVector<QDate>{QDate(2026, 1, 5), QDate(2026, 12, 30)}));
        const auto master = portal::sync::readMasterPage(
            R"({"data":[{"Code":"72030","CoName":"トヨタ自動車","MktNm":"プライム"},)"
            R"({"Code":"25935","CoName":"優先株","MktNm":"プライム"},{"Code":"130A0"}]})");
        QVERIFY(master.ok);
        QCOMPARE(master.listings.size(), 1);
        QCOMPARE(master.listings.first().name, QStringLiteral("トヨタ自動車"));
        QCOMPARE(master.skipped, 2);
        QVERIFY(!portal::sync::readCalendarPage("<html>").ok);
        QCOMPARE(portal::sync::serviceMessage(R"({"message":"The incoming api key is invalid"})"),
                 QStringLiteral("The incoming api key is invalid"));
    }
};

QTEST_GUILESS_MAIN(TestServiceAnswers)
#include "tst_serviceanswers.moc"
