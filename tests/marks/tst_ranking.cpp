// From a ranking to a mark file: the portal's answers read, the addresses asked for, the file
// written, and the questions asked of a real portal on a loopback port, failures included.
#include "files.h"
#include "smallportal.h"
#include "table.h"
#include "testsupport.h"

#include "base/markline.h"
#include "marks/ranking.h"

#include <QSignalSpy>
#include <QtTest>

using marks::RankingRow;

namespace {

QStringList codesOf(const QVector<RankingRow>& rows) {
    QStringList codes;
    for (const RankingRow& row : rows)
        codes << row.code;
    return codes;
}

} // namespace

class TestRanking : public QObject {
    Q_OBJECT

    testing::FreshFolder m_folder;

private Q_SLOTS:
    void init() { QVERIFY(m_folder.renew()); }

    void answers_data() {
        testing::columns<QByteArray, bool, QStringList, QStringList>(
            {"answer", "read", "codes", "names"});
        QTest::newRow("two rows") << QByteArray("rank,code,name,value\r\n1,4674,クレスコ,5.25\r\n"
                                                "2,130A,ベリテ,-1.00\r\n")
                                  << true << QStringList{"4674", "130A"}
                                  << QStringList{"クレスコ", "ベリテ"};
        QTest::newRow("a name with a comma and a quote, LF only")
            << QByteArray("rank,code,name,value\n1,1301,\"極洋,\"\"新\"\"\",3\n") << true
            << QStringList{"1301"} << QStringList{"極洋,\"新\""};
        QTest::newRow("no code ranked")
            << QByteArray("rank,code,name,value\r\n") << true << QStringList{} << QStringList{};
        QTest::newRow("an error page")
            << QByteArray("<!DOCTYPE html><html>") << false << QStringList{} << QStringList{};
        QTest::newRow("empty") << QByteArray() << false << QStringList{} << QStringList{};
        QTest::newRow("ranks out of order") << QByteArray("rank,code,name,value\r\n2,4674,a,1\r\n")
                                            << false << QStringList{} << QStringList{};
        QTest::newRow("a code that is no mark")
            << QByteArray("rank,code,name,value\r\n1,46745,a,1\r\n") << false << QStringList{}
            << QStringList{};
        QTest::newRow("a quote left open") << QByteArray("rank,code,name,value\r\n1,4674,\"a,1\r\n")
                                           << false << QStringList{} << QStringList{};
        QTest::newRow("a field missing") << QByteArray("rank,code,name,value\r\n1,4674,a\r\n")
                                         << false << QStringList{} << QStringList{};
    }
    void answers() {
        QFETCH(QByteArray, answer);
        QFETCH(bool, read);
        QFETCH(QStringList, codes);
        QFETCH(QStringList, names);
        const auto rows = marks::parseRanking(answer);
        QCOMPARE(rows.has_value(), read);
        if (!rows)
            return;
        QCOMPARE(codesOf(*rows), codes);
        QStringList got;
        for (const RankingRow& row : *rows)
            got << row.name;
        QCOMPARE(got, names);
    }

    void newestDay_data() {
        testing::columns<QByteArray, bool, QDate, bool>({"answer", "read", "date", "sample"});
        QTest::newRow("stored") << QByteArray("date,sample\r\n2026-12-04,0\r\n") << true
                                << QDate(2026, 12, 4) << false;
        QTest::newRow("invented") << QByteArray("date,sample\r\n2026-12-04,1\r\n") << true
                                  << QDate(2026, 12, 4) << true;
        QTest::newRow("nothing at all")
            << QByteArray("date,sample\r\n,0\r\n") << true << QDate() << false;
        QTest::newRow("no date") << QByteArray("date,sample\r\n2026-13-04,0\r\n") << false
                                 << QDate() << false;
        QTest::newRow("a ranking instead")
            << QByteArray("rank,code,name,value\r\n") << false << QDate() << false;
    }
    void newestDay() {
        QFETCH(QByteArray, answer);
        QFETCH(bool, read);
        QFETCH(QDate, date);
        QFETCH(bool, sample);
        const auto day = marks::parseNewestDay(answer);
        QCOMPARE(day.has_value(), read);
        if (day) {
            QCOMPARE(day->date, date);
            QCOMPARE(day->sample, sample);
        }
    }

    void addresses_data() {
        testing::columns<QString, QString, QString>({"key", "market", "address"});
        QTest::newRow("every market")
            << "up"
            << ""
            << "http://127.0.0.1:8470/rank?kind=up&market=&n=50&date=2026-12-04";
        QTest::newRow("a market in Japanese, encoded")
            << "golden"
            << "プライム（内国株式）"
            << "http://127.0.0.1:8470/rank?kind=golden&market=%E3%83%97%E3%83%A9%E3%82%A4%E3%83%A0"
               "%EF%BC%88%E5%86%85%E5%9B%BD%E6%A0%AA%E5%BC%8F%EF%BC%89&n=50&date=2026-12-04";
        // A market text can never add a parameter of its own.
        QTest::newRow("a market with & and =")
            << "low"
            << "A&n=1"
            << "http://127.0.0.1:8470/rank?kind=low&market=A%26n%3D1&n=50&"
               "date=2026-12-04";
    }
    void addresses() {
        QFETCH(QString, key);
        QFETCH(QString, market);
        QFETCH(QString, address);
        QCOMPARE(marks::rankingAddress(QStringLiteral("http://127.0.0.1:8470"), key, market, 50,
                                       QDate(2026, 12, 4)),
                 address);
    }

    void savedFile() {
        const QVector<RankingRow> rows{{1, QStringLiteral("4674"), QStringLiteral("a"), {}},
                                       {2, QStringLiteral("130A"), QStringLiteral("b"), {}},
                                       {3, QStringLiteral("1301"), QStringLiteral("c"), {}}};
        QString path, message;
        QVERIFY(marks::saveRanking(m_folder.path(), QStringLiteral("volume"), QDate(2026, 12, 4),
                                   rows, &path, &message));
        QCOMPARE(path, m_folder.filePath(QStringLiteral("RANK_volume_20261204.csv")));
        QCOMPARE(message, QString());
        QCOMPARE(testing::fileBytes(path), QByteArray("4674,130A,1301,\r\n"));
        // Saved again on the same day: still one line, the new ranking's.
        QVERIFY(marks::saveRanking(m_folder.path(), QStringLiteral("volume"), QDate(2026, 12, 4),
                                   rows.mid(1), &path, nullptr));
        QCOMPARE(testing::fileBytes(path), QByteArray("130A,1301,\r\n"));
        QCOMPARE(base::readMarkLine(path), std::optional<QString>(QStringLiteral("130A,1301,")));
    }

    void saveFailures_data() {
        testing::rowsOf<QString>(
            "obstacle", {{"a folder at the file's name", "folder"}, {"no data folder", "missing"}});
    }
    void saveFailures() {
        QFETCH(QString, obstacle);
        QString folder = m_folder.path();
        const QString name = marks::rankingFileName(QStringLiteral("up"), QDate(2026, 12, 4));
        if (obstacle == QLatin1String("folder"))
            QVERIFY(QDir(folder).mkdir(name));
        else
            folder += QStringLiteral("/gone");
        QString path, message;
        QVERIFY(!marks::saveRanking(folder, QStringLiteral("up"), QDate(2026, 12, 4),
                                    {{1, QStringLiteral("4674"), {}, {}}}, &path, &message));
        QVERIFY2(message.contains(QStringLiteral("保存できませんでした")), qPrintable(message));
        QVERIFY2(message.contains(name), qPrintable(message));
    }

    void codeListMarkets() {
        QStringList markets = marks::codeListMarkets(testing::binFolder() +
                                                     QStringLiteral("/銘柄コード一覧20060513.csv"));
        QVERIFY(markets.contains(QStringLiteral("プライム（内国株式）")));
        QVERIFY(markets.contains(QStringLiteral("ETF・ETN")));
        QCOMPARE(markets.removeDuplicates(), 0);
    }

    // Against a real portal: the newest day it holds, whether its prices are invented, and a
    // ranking of one market.
    void fetchFromThePortal_data() {
        testing::columns<int, bool>({"stored", "sample"});
        QTest::newRow("stored prices") << 60 << false;
        QTest::newRow("invented prices") << 0 << true;
    }
    void fetchFromThePortal() {
        QFETCH(int, stored);
        QFETCH(bool, sample);
        testing::SmallPortal portal(60, stored);
        QVERIFY(portal.started());
        marks::RankingFetch fetch(portal.base());
        QSignalSpy days(&fetch, &marks::RankingFetch::newestDayFetched);
        QSignalSpy rankings(&fetch, &marks::RankingFetch::rankingFetched);
        QSignalSpy failures(&fetch, &marks::RankingFetch::failed);

        fetch.fetchNewestDay();
        QVERIFY(fetch.busy());
        QVERIFY(days.wait(20000));
        const auto day = days.first().first().value<marks::NewestDay>();
        QCOMPARE(day.date, testing::SmallPortal::kLastDay);
        QCOMPARE(day.sample, sample);

        // Eight of the codes are of this market.
        fetch.fetchRanking(QStringLiteral("turnover"), QStringLiteral("プライム（内国株式）"), 50,
                           day.date);
        QVERIFY(rankings.wait(20000));
        const auto rows = rankings.first().first().value<QVector<RankingRow>>();
        QCOMPARE(rows.size(), 8);
        QCOMPARE(rows.first().rank, 1);
        QVERIFY(portal.codes().contains(rows.first().code));
        QCOMPARE(failures.count(), 0);
        QVERIFY(!fetch.busy());
    }

    void fetchFailures_data() {
        testing::columns<QString, QString>({"where", "told"});
        QTest::newRow("no portal") << "dead"
                                   << "接続できません";
        QTest::newRow("refused parameters") << "badmarket"
                                            << "受け付けませんでした";
        QTest::newRow("no ranking there") << "elsewhere"
                                          << "HTTP 404";
    }
    void fetchFailures() {
        QFETCH(QString, where);
        QFETCH(QString, told);
        testing::SmallPortal portal(60, 60);
        QVERIFY(portal.started());
        const QString base = where == QLatin1String("dead") ? testing::deadBase()
                             : where == QLatin1String("elsewhere")
                                 ? portal.base() + QStringLiteral("/q")
                                 : portal.base();
        marks::RankingFetch fetch(base);
        QSignalSpy failures(&fetch, &marks::RankingFetch::failed);
        QSignalSpy rankings(&fetch, &marks::RankingFetch::rankingFetched);
        fetch.fetchRanking(QStringLiteral("up"), QStringLiteral("ナスダック"), 5,
                           QDate(2026, 12, 4));
        QVERIFY(failures.wait(20000));
        QCOMPARE(rankings.count(), 0);
        const QString message = failures.first().first().toString();
        QVERIFY2(message.contains(told), qPrintable(message));
    }

    // Asking again drops the question still on the way: only the newest is answered.
    void newerQuestionWins() {
        testing::SmallPortal portal(60, 60);
        QVERIFY(portal.started());
        marks::RankingFetch fetch(portal.base());
        QSignalSpy rankings(&fetch, &marks::RankingFetch::rankingFetched);
        fetch.fetchRanking(QStringLiteral("up"), QString(), 3, QDate(2026, 12, 4));
        fetch.fetchRanking(QStringLiteral("turnover"), QString(), 4, QDate(2026, 12, 4));
        QVERIFY(rankings.wait(20000));
        QCOMPARE(rankings.count(), 1);
        QCOMPARE(rankings.first().first().value<QVector<RankingRow>>().size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestRanking)
#include "tst_ranking.moc"
