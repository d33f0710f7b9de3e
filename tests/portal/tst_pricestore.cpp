// The price database on its own: what is written reads back the same through another connection,
// days without trades and split factors included; split-adjusted prices; what a write counts; a
// write that is not committed leaves nothing; files that are no database of ours are refused.
#include "dailybars.h"
#include "files.h"
#include "store/pricestore.h"
#include "table.h"

#include <QtTest>

#include <sqlite3.h>

using portal::store::AdjustedBar;
using portal::store::DailyBar;
using portal::store::PriceStore;

Q_DECLARE_METATYPE(DailyBar)
Q_DECLARE_METATYPE(QVector<DailyBar>)

namespace {

DailyBar noTrades(const QDate& date) {
    DailyBar b;
    b.date = date;
    return b;
}

QString describe(const DailyBar& b) {
    auto price = [](const std::optional<double>& p) {
        return p ? QString::number(*p, 'f', 1) : QStringLiteral("null");
    };
    auto count = [](const std::optional<qint64>& n) {
        return n ? QString::number(*n) : QStringLiteral("null");
    };
    return QStringLiteral("%1 %2/%3/%4/%5 v%6 t%7 a%8")
        .arg(b.date.toString(Qt::ISODate), price(b.open), price(b.high), price(b.low),
             price(b.close), count(b.volume), count(b.turnover))
        .arg(b.adjustment);
}

} // namespace

class TestPriceStore : public QObject {
    Q_OBJECT

    testing::FreshFolder m_dir;
    QString dbPath() const { return PriceStore::pathIn(m_dir.path()); }
    std::unique_ptr<PriceStore> open() const {
        QString error;
        auto store = PriceStore::open(dbPath(), &error);
        if (!store)
            qWarning().noquote() << error;
        return store;
    }

private Q_SLOTS:
    void init() { QVERIFY(m_dir.renew()); }

    void roundTrip_data() {
        testing::columns<DailyBar>({"bar"});
        const QDate d(2024, 9, 30);
        QTest::newRow("a day of trades") << tradedBar(d, 2740, 2760, 2600, 2613.5, 2000);
        QTest::newRow("a day without trades") << noTrades(d);
        DailyBar withTurnover = tradedBar(d, 100, 110, 90, 105, 5000);
        withTurnover.turnover = Q_INT64_C(524999999999);
        QTest::newRow("turnover of hundreds of billions") << withTurnover;
        QTest::newRow("a split's factor") << tradedBar(d, 1000, 1000, 1000, 1000, 1, 0.5);
        QTest::newRow("a factor of a reverse split") << tradedBar(d, 50, 50, 50, 50, 1, 10.0);
        QTest::newRow("prices in the millions")
            << tradedBar(d, 5000000, 5200000, 4900000, 5100000, 1);
        QTest::newRow("a tenth of a yen") << tradedBar(d, 0.1, 0.2, 0.1, 0.2, 7);
        QTest::newRow("the earliest day") << tradedBar(QDate(1949, 5, 16), 1, 1, 1, 1, 0);
        DailyBar volumeOnly = noTrades(d);
        volumeOnly.volume = 0;
        QTest::newRow("no price, volume zero") << volumeOnly;
    }
    void roundTrip() {
        QFETCH(DailyBar, bar);
        {
            auto store = open();
            QVERIFY(store);
            PriceStore::Writer w(*store);
            QVERIFY(w.isOpen());
            QVERIFY(w.put(QStringLiteral("130A"), bar));
            QVERIFY(w.setSource(QStringLiteral("130A"), QStringLiteral("import"),
                                QStringLiteral("/home/u/130A.csv")));
            QVERIFY(w.commit());
            QCOMPARE(w.count().added, 1);
        }
        // Another connection, as another process has, reads what was committed.
        const auto again = open();
        QVERIFY(again);
        const QVector<DailyBar> back = again->bars(QStringLiteral("130A"));
        QCOMPARE(back.size(), 1);
        QCOMPARE(describe(back[0]), describe(bar));
        QCOMPARE(back[0].traded(), bar.traded());
        QCOMPARE(again->codes(), QStringList{QStringLiteral("130A")});
        QCOMPARE(again->day(bar.date).size(), 1);
        QCOMPARE(again->day(bar.date.addDays(1)).size(), 0);
        const auto source = again->source(QStringLiteral("130A"));
        QVERIFY(source);
        QCOMPARE(source->kind, QStringLiteral("import"));
        QCOMPARE(source->origin, QStringLiteral("/home/u/130A.csv"));
        QVERIFY(source->updated.isValid());
    }

    void adjusted_data() {
        testing::columns<QVector<DailyBar>, QString>({"bars", "expected"});
        const QDate d1(2024, 9, 26), d2(2024, 9, 27), d3(2024, 9, 30), d4(2024, 10, 1);
        QTest::newRow("no factor: as stored")
            << QVector<DailyBar>{tradedBar(d1, 100, 110, 90, 105, 10),
                                 tradedBar(d2, 105, 106, 100, 101, 20)}
            << QStringLiteral("100/110/90/105 v10; 105/106/100/101 v20");
        // Two-for-one from d3 on: the days before it halve, their volumes double.
        QTest::newRow("a split")
            << QVector<DailyBar>{tradedBar(d1, 1000, 1100, 900, 1050, 10),
                                 tradedBar(d2, 1050, 1060, 1000, 1010, 20),
                                 tradedBar(d3, 505, 510, 500, 507, 40, 0.5)}
            << QStringLiteral("500/550/450/525 v20; 525/530/500/505 v40; 505/510/500/507 v40");
        QTest::newRow("two splits multiply")
            << QVector<DailyBar>{tradedBar(d1, 1200, 1200, 1200, 1200, 1),
                                 tradedBar(d2, 600, 600, 600, 600, 2, 0.5),
                                 tradedBar(d3, 200, 200, 200, 200, 6, 1.0 / 3)}
            << QStringLiteral("200/200/200/200 v6; 200/200/200/200 v6; 200/200/200/200 v6");
        // A day without trades is no candle, and its factor still applies to the days before.
        QTest::newRow("a day without trades carries a split")
            << QVector<DailyBar>{tradedBar(d1, 800, 800, 800, 800, 5), noTrades(d2),
                                 tradedBar(d3, 400, 400, 400, 400, 10)}
            << QStringLiteral("800/800/800/800 v5; 400/400/400/400 v10");
        DailyBar split = noTrades(d2);
        split.adjustment = 0.5;
        QTest::newRow("a split on a day without trades")
            << QVector<DailyBar>{tradedBar(d1, 800, 800, 800, 800, 5), split,
                                 tradedBar(d4, 400, 400, 400, 400, 10)}
            << QStringLiteral("400/400/400/400 v10; 400/400/400/400 v10");
    }
    void adjusted() {
        QFETCH(QVector<DailyBar>, bars);
        QFETCH(QString, expected);
        QStringList got;
        for (const AdjustedBar& a : portal::store::adjusted(bars))
            got << QStringLiteral("%1/%2/%3/%4 v%5")
                       .arg(a.open)
                       .arg(a.high)
                       .arg(a.low)
                       .arg(a.close)
                       .arg(a.volume);
        QCOMPARE(got.join(QStringLiteral("; ")), expected);
    }

    void writeCounts() {
        auto store = open();
        QVERIFY(store);
        const QDate d1(2024, 9, 26), d2(2024, 9, 27);
        {
            PriceStore::Writer w(*store);
            QVERIFY(w.put(QStringLiteral("7203"), tradedBar(d1, 1, 1, 1, 1, 1)));
            QVERIFY(w.put(QStringLiteral("7203"), tradedBar(d2, 2, 2, 2, 2, 2)));
            QVERIFY(w.commit());
        }
        PriceStore::Writer w(*store);
        QVERIFY(w.put(QStringLiteral("7203"), tradedBar(d1, 1, 1, 1, 1, 1)));
        QVERIFY(w.put(QStringLiteral("7203"), tradedBar(d2, 2, 2, 2, 3, 2)));
        QVERIFY(w.put(QStringLiteral("7203"), tradedBar(d2.addDays(3), 3, 3, 3, 3, 3)));
        // A price that rounds to the stored tenth is the same day again.
        QVERIFY(w.put(QStringLiteral("7203"), tradedBar(d1, 1.04, 1, 1, 1, 1)));
        QVERIFY(w.commit());
        QCOMPARE(w.count().added, 1);
        QCOMPARE(w.count().replaced, 1);
        QCOMPARE(w.count().unchanged, 2);
        QCOMPARE(*store->bars(QStringLiteral("7203"))[1].close, 3.0);
    }

    void uncommittedWriteLeavesNothing() {
        auto store = open();
        QVERIFY(store);
        {
            PriceStore::Writer w(*store);
            QVERIFY(w.put(QStringLiteral("7203"), tradedBar(QDate(2024, 9, 26), 1, 1, 1, 1, 1)));
            QVERIFY(w.setState(QStringLiteral("sync"), QStringLiteral("2024-09-26")));
        }
        QCOMPARE(store->barCount(), 0);
        QCOMPARE(store->state(QStringLiteral("sync")), QString());
        // The store takes the next write as if nothing had happened.
        PriceStore::Writer w(*store);
        QVERIFY(w.put(QStringLiteral("7203"), tradedBar(QDate(2024, 9, 26), 1, 1, 1, 1, 1)));
        QVERIFY(w.commit());
        QCOMPARE(open()->barCount(), 1);
    }

    void refusedFiles_data() {
        testing::columns<QByteArray>({"bytes"});
        QTest::newRow("a text file") << QByteArray("Date,Open,High,Low,Close,Volume\n");
        QTest::newRow("a truncated database") << QByteArray("SQLite format 3\0\x10\0", 19);
        // An empty database of a later version of the program.
        QTest::newRow("a newer schema") << QByteArray();
    }
    void refusedFiles() {
        QFETCH(QByteArray, bytes);
        if (bytes.isEmpty()) {
            auto store = open();
            QVERIFY(store);
            store.reset();
            sqlite3* db = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(dbPath()).constData(), &db), SQLITE_OK);
            QCOMPARE(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr),
                     SQLITE_OK);
            sqlite3_close(db);
        } else {
            QVERIFY(testing::writeBytes(dbPath(), bytes));
        }
        const QByteArray before = testing::fileBytes(dbPath());
        QString error;
        QVERIFY(!PriceStore::open(dbPath(), &error));
        QVERIFY2(error.contains(dbPath()), qPrintable(error));
        // Nothing of ours was written into the user's file.
        QCOMPARE(testing::fileBytes(dbPath()), before);
    }
};

QTEST_GUILESS_MAIN(TestPriceStore)
#include "tst_pricestore.moc"
