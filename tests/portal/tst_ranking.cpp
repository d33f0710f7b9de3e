// The ranking routes against a real portal on a loopback port, over a price store built here
// with known answers: every kind, the market and count, another day, the newest day, invented
// prices, and parameters that cannot be used.
#include "portalclient.h"
#include "table.h"

#include "base/codepage932.h"
#include "dailybars.h"
#include "store/pricestore.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using portal::store::DailyBar;
using portal::store::PriceStore;

namespace {

const QDate kDay(2026, 12, 4); // a Friday, the newest stored day
const QString kPrime = QStringLiteral("プライム（内国株式）");
const QString kStandard = QStringLiteral("スタンダード（内国株式）");
const QString kGrowth = QStringLiteral("グロース（内国株式）");

// The weekdays from first to last.
QVector<QDate> weekdays(const QDate& first, const QDate& last) {
    QVector<QDate> days;
    for (QDate d = first; d <= last; d = d.addDays(1)) {
        if (d.dayOfWeek() <= 5)
            days << d;
    }
    return days;
}

// The count weekdays that end on last.
QVector<QDate> lastWeekdays(int count, const QDate& last) {
    QVector<QDate> days;
    for (QDate d = last; days.size() < count; d = d.addDays(-1)) {
        if (d.dayOfWeek() <= 5)
            days.prepend(d);
    }
    return days;
}

DailyBar flat(const QDate& date, double price, qint64 volume = 1000) {
    return tradedBar(date, price, price, price, price, volume);
}

struct Row {
    QString code;
    QString name;
    double value = 0;
};

// The rows of a ranking answer, after its header.
QVector<Row> rowsOf(const QByteArray& csv) {
    QVector<Row> rows;
    const QStringList lines = QString::fromUtf8(csv).split(QStringLiteral("\r\n"));
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(QLatin1Char(','));
        if (f.size() == 4 && f[0] == QString::number(i))
            rows.append({f[1], f[2], f[3].toDouble()});
    }
    return rows;
}

QByteArray rankTarget(const QString& kind, const QString& market = QString(), int n = 50,
                      const QDate& date = kDay) {
    return "/rank?kind=" + kind.toLatin1() + "&market=" + QUrl::toPercentEncoding(market) +
           "&n=" + QByteArray::number(n) + "&date=" + date.toString(Qt::ISODate).toLatin1();
}

} // namespace

class TestRanking : public QObject {
    Q_OBJECT

    QTemporaryDir m_stored;   // a data folder whose store holds the known answers
    QTemporaryDir m_invented; // one whose store holds nothing
    std::unique_ptr<portal::PortalServer> m_server;
    std::unique_ptr<portal::PortalServer> m_sampleServer;

    static bool writeCodeList(const QString& folder) {
        const QString text = QStringLiteral("1001,上昇,%1\r\n1002,下落,%1\r\n1003,出来高,%2\r\n"
                                            "1004,休み,%2\r\n1005,新顔,%3\r\n1006,急騰,%3\r\n"
                                            "1008,年越し,%1\r\n1009,分割,%2\r\n1010,未保存,%1\r\n")
                                 .arg(kPrime, kStandard, kGrowth);
        QStringEncoder encode(base::codePage932Name());
        QFile file(folder + QStringLiteral("/銘柄コード一覧20060513.csv"));
        return file.open(QIODevice::WriteOnly) && file.write(encode(text)) > 0;
    }

    // One code's days: flat at price, then the day's own bar on kDay (when given).
    static void putFlat(PriceStore::Writer& w, const QString& code, const QVector<QDate>& days,
                        double price, std::optional<DailyBar> last) {
        for (const QDate& d : days)
            QVERIFY(w.put(code, flat(d, price)));
        if (last)
            QVERIFY(w.put(code, *last));
    }

    static void fillStore(const QString& folder) {
        auto store = PriceStore::open(PriceStore::pathIn(folder), nullptr);
        QVERIFY(store);
        PriceStore::Writer w(*store);
        QVERIFY(w.isOpen());
        const QVector<QDate> before = lastWeekdays(100, kDay.addDays(-1)); // all in 2026
        QCOMPARE(before.first().year(), 2026);
        // Up 10 %: a new high, and a 25-day average just over the flat 75-day one.
        putFlat(w, QStringLiteral("1001"), before, 100, tradedBar(kDay, 100, 110, 100, 110));
        // Down 5 %: a new low.
        putFlat(w, QStringLiteral("1002"), before, 200, tradedBar(kDay, 200, 200, 190, 190));
        // Up 5 % on three times the volume.
        putFlat(w, QStringLiteral("1003"), before, 100, tradedBar(kDay, 100, 105, 100, 105, 3000));
        // No prices on the day.
        putFlat(w, QStringLiteral("1004"), before, 100, std::nullopt);
        // Up 20 %, but only ten days of history.
        putFlat(w, QStringLiteral("1005"), lastWeekdays(9, kDay.addDays(-1)), 50,
                tradedBar(kDay, 50, 60, 50, 60));
        // 100 yen, then 25 days at 90, then 500: the 25-day average crosses the 75-day one.
        for (int i = 0; i < before.size(); ++i)
            QVERIFY(
                w.put(QStringLiteral("1006"), flat(before[i], i < before.size() - 25 ? 100 : 90)));
        QVERIFY(w.put(QStringLiteral("1006"), tradedBar(kDay, 90, 500, 90, 500)));
        // A high of 500 last December; 100 all this year, 102 on the day: a new high of the year.
        for (const QDate& d : weekdays(QDate(2025, 12, 1), QDate(2025, 12, 30)))
            QVERIFY(w.put(QStringLiteral("1008"), tradedBar(d, 450, 500, 400, 450)));
        putFlat(w, QStringLiteral("1008"), weekdays(QDate(2026, 1, 5), kDay.addDays(-1)), 100,
                tradedBar(kDay, 100, 102, 100, 102));
        // Two for one on the day: 200 before, 104 after, on double the volume. Adjusted, that is
        // up 4 %, a new high, no new low, and no surge of volume.
        putFlat(w, QStringLiteral("1009"), before, 200,
                tradedBar(kDay, 100, 104, 100, 104, 2000, 0.5));
        QVERIFY(w.commit());
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_stored.isValid() && m_invented.isValid());
        QVERIFY(writeCodeList(m_stored.path()));
        QVERIFY(writeCodeList(m_invented.path()));
        fillStore(m_stored.path());
        m_server = std::make_unique<portal::PortalServer>(
            portal::PortalOptions{m_stored.path(), kDay.addDays(3)});
        QVERIFY(m_server->start());
        m_sampleServer =
            std::make_unique<portal::PortalServer>(portal::PortalOptions{m_invented.path(), kDay});
        QVERIFY(m_sampleServer->start());
    }
    void cleanupTestCase() {
        m_server.reset();
        m_sampleServer.reset();
    }

    void kinds_data() {
        testing::columns<QByteArray, QStringList, QList<double>>({"target", "codes", "values"});
        QTest::newRow("up: a split is no fall, too short a history is no bar")
            << rankTarget(QStringLiteral("up"))
            << QStringList{"1006", "1005", "1001", "1003", "1009", "1008"}
            << QList<double>{455.56, 20, 10, 5, 4, 2};
        QTest::newRow("down: falling codes only")
            << rankTarget(QStringLiteral("down")) << QStringList{"1002"} << QList<double>{-5};
        QTest::newRow("volume: against 25 days, split-adjusted")
            << rankTarget(QStringLiteral("volume")) << QStringList{"1003"} << QList<double>{3};
        QTest::newRow("turnover: close times volume")
            << rankTarget(QStringLiteral("turnover"))
            << QStringList{"1006", "1003", "1009", "1002", "1001", "1008", "1005"}
            << QList<double>{500000, 315000, 208000, 190000, 110000, 102000, 60000};
        QTest::newRow("high: this year only, last December's high left out")
            << rankTarget(QStringLiteral("high"))
            << QStringList{"1006", "1005", "1001", "1003", "1009", "1008"}
            << QList<double>{400, 20, 10, 5, 4, 2};
        QTest::newRow("low: no new low from a split")
            << rankTarget(QStringLiteral("low")) << QStringList{"1002"} << QList<double>{-5};
        QTest::newRow("golden: crossed on the day, 75 days needed")
            << rankTarget(QStringLiteral("golden"))
            << QStringList{"1006", "1001", "1003", "1009", "1008"}
            << QList<double>{4.31, 0.27, 0.13, 0.11, 0.05};
        QTest::newRow("one market") << rankTarget(QStringLiteral("up"), kStandard)
                                    << QStringList{"1003", "1009"} << QList<double>{5, 4};
        QTest::newRow("the first two")
            << rankTarget(QStringLiteral("turnover"), QString(), 2) << QStringList{"1006", "1003"}
            << QList<double>{500000, 315000};
        QTest::newRow("the day before: nothing moved")
            << rankTarget(QStringLiteral("up"), QString(), 50, kDay.addDays(-1)) << QStringList{}
            << QList<double>{};
        QTest::newRow("a Saturday: no prices")
            << rankTarget(QStringLiteral("turnover"), QString(), 50, kDay.addDays(1))
            << QStringList{} << QList<double>{};
        QTest::newRow("no date, no market, no count: the newest day")
            << QByteArray("/rank?kind=down") << QStringList{"1002"} << QList<double>{-5};
    }
    void kinds() {
        QFETCH(QByteArray, target);
        QFETCH(QStringList, codes);
        QFETCH(QList<double>, values);
        const Answer a = fetch(m_server->port(), target);
        QCOMPARE(a.status, 200);
        QVERIFY(a.contentType.startsWith("text/csv; charset=UTF-8"));
        QVERIFY(a.body.startsWith("rank,code,name,value\r\n"));
        const QVector<Row> rows = rowsOf(a.body);
        QStringList got;
        for (const Row& r : rows)
            got << r.code;
        QCOMPARE(got, codes);
        for (int i = 0; i < rows.size(); ++i)
            QVERIFY2(std::abs(rows[i].value - values[i]) < 0.006,
                     qPrintable(QStringLiteral("%1: %2").arg(rows[i].code).arg(rows[i].value)));
    }

    void namesInUtf8() {
        const QVector<Row> rows =
            rowsOf(fetch(m_server->port(), rankTarget(QStringLiteral("down"))).body);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].name, QStringLiteral("下落"));
    }

    void newestDay_data() {
        testing::columns<bool, QByteArray>({"invented", "answer"});
        QTest::newRow("stored") << false << QByteArray("date,sample\r\n2026-12-04,0\r\n");
        // Nothing stored: the invented histories end on the portal's day.
        QTest::newRow("invented") << true << QByteArray("date,sample\r\n2026-12-04,1\r\n");
    }
    void newestDay() {
        QFETCH(bool, invented);
        QFETCH(QByteArray, answer);
        const Answer a = fetch((invented ? m_sampleServer : m_server)->port(), "/rank/latest");
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, answer);
    }

    void inventedPricesStillRank() {
        const Answer a =
            fetch(m_sampleServer->port(), rankTarget(QStringLiteral("turnover"), QString(), 5));
        QCOMPARE(a.status, 200);
        const QVector<Row> rows = rowsOf(a.body);
        QCOMPARE(rows.size(), 5);
        for (int i = 1; i < rows.size(); ++i)
            QVERIFY(rows[i - 1].value >= rows[i].value);
    }

    // Invented histories are kept between rankings: the second answer is the first one, and a
    // price stored meanwhile ends their use at once.
    void inventedThenStored() {
        QTemporaryDir dir;
        QVERIFY(writeCodeList(dir.path()));
        portal::PortalServer server(portal::PortalOptions{dir.path(), kDay});
        QVERIFY(server.start());
        const QByteArray target = rankTarget(QStringLiteral("golden"), QString(), 100);
        const Answer first = fetch(server.port(), target);
        QCOMPARE(first.status, 200);
        for (const char* kind : {"up", "down", "volume", "turnover", "high", "low"})
            QCOMPARE(fetch(server.port(), rankTarget(QString::fromLatin1(kind))).status, 200);
        QCOMPARE(fetch(server.port(), target).body, first.body);
        QVERIFY(fetch(server.port(), "/rank/latest").body.endsWith(",1\r\n"));

        {
            auto store = PriceStore::open(PriceStore::pathIn(dir.path()), nullptr);
            QVERIFY(store);
            PriceStore::Writer w(*store);
            QVERIFY(w.put(QStringLiteral("1002"), flat(kDay.addDays(-1), 100)));
            QVERIFY(w.put(QStringLiteral("1002"), flat(kDay, 120)));
            QVERIFY(w.commit());
        }
        QCOMPARE(fetch(server.port(), "/rank/latest").body,
                 QByteArray("date,sample\r\n2026-12-04,0\r\n"));
        const QVector<Row> rows =
            rowsOf(fetch(server.port(), rankTarget(QStringLiteral("up"))).body);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].code, QStringLiteral("1002"));
        QCOMPARE(rows[0].value, 20.0);
    }

    void badParameters_data() {
        testing::rowsOf<QByteArray>(
            "target", {{"no kind", "/rank?n=5"},
                       {"unknown kind", "/rank?kind=UP"},
                       {"count 0", "/rank?kind=up&n=0"},
                       {"count not a number", "/rank?kind=up&n=abc"},
                       {"count too large", "/rank?kind=up&n=10001"},
                       {"month 13", "/rank?kind=up&date=2026-13-01"},
                       {"date without dashes", "/rank?kind=up&date=20261204"},
                       {"unknown market", "/rank?kind=up&market=%E6%9D%B1%E8%A8%BC"}});
    }
    void badParameters() {
        QFETCH(QByteArray, target);
        const Answer a = fetch(m_server->port(), target);
        QCOMPARE(a.status, 400);
        QVERIFY(a.contentType.startsWith("text/plain"));
        // A short text in Japanese, not a page.
        const QString text = QString::fromUtf8(a.body);
        QVERIFY(text.size() < 200);
        QVERIFY(text.contains(QRegularExpression(QStringLiteral("[\\x{3040}-\\x{30ff}]"))));
    }
};

QTEST_GUILESS_MAIN(TestRanking)
#include "tst_ranking.moc"
