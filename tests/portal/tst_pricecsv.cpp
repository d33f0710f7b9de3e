// quote-portal price files read on their own: every date form and the day it gives, the days
// refused (after today, before the exchange reopened, no such day), and inputs too large to hold,
// made as they are read: the reasons kept stop at their cap, and an endless line is one bad row.
#include "prices/pricecsv.h"
#include "table.h"

#include <QIODevice>
#include <QStringEncoder>
#include <QtTest>

#include <cstring>

namespace {

const QDate kToday(2026, 12, 8);
const QByteArray kHeader = "Date,Open,High,Low,Close,Volume\n";

QByteArray sjis(const QString& text) {
    QStringEncoder encode("Shift_JIS");
    return encode(text);
}

// Bytes made as they are read and never held whole: each part repeated, in order, at most
// `piece` bytes a read.
class Generated : public QIODevice {
public:
    struct Part {
        QByteArray bytes;
        qint64 times = 1;
    };
    explicit Generated(QVector<Part> parts, qint64 piece = 1 << 16)
        : m_parts(std::move(parts))
        , m_piece(piece) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 max) override {
        for (; m_part < m_parts.size(); ++m_part, m_done = 0) {
            const Part& p = m_parts[m_part];
            if (p.bytes.isEmpty() || m_done == p.times)
                continue;
            const qint64 n = std::min({max, m_piece, p.bytes.size() - m_offset});
            std::memcpy(data, p.bytes.constData() + m_offset, size_t(n));
            if ((m_offset += n) == p.bytes.size()) {
                m_offset = 0;
                ++m_done;
            }
            return n;
        }
        return 0;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QVector<Part> m_parts;
    qint64 m_piece;
    qsizetype m_part = 0;
    qint64 m_offset = 0, m_done = 0;
};

} // namespace

class TestPriceCsv : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void acceptedDates_data() {
        testing::columns<QString, QDate>({"date", "day"});
        QTest::newRow("slashes") << QStringLiteral("2024/09/03") << QDate(2024, 9, 3);
        QTest::newRow("hyphens") << QStringLiteral("2024-09-03") << QDate(2024, 9, 3);
        QTest::newRow("slashes, one digit") << QStringLiteral("2024/9/3") << QDate(2024, 9, 3);
        QTest::newRow("hyphens, one digit") << QStringLiteral("2024-9-3") << QDate(2024, 9, 3);
        QTest::newRow("eight digits") << QStringLiteral("20240903") << QDate(2024, 9, 3);
        QTest::newRow("kanji") << QStringLiteral("2024年9月3日") << QDate(2024, 9, 3);
        QTest::newRow("kanji, two digits") << QStringLiteral("2024年09月03日") << QDate(2024, 9, 3);
        QTest::newRow("once refused: 2024/1/4") << QStringLiteral("2024/1/4") << QDate(2024, 1, 4);
        QTest::newRow("once refused: 2026/9/9") << QStringLiteral("2026/9/9") << QDate(2026, 9, 9);
        QTest::newRow("once refused: 2024年1月4日")
            << QStringLiteral("2024年1月4日") << QDate(2024, 1, 4);
        QTest::newRow("the day the exchange reopened")
            << QStringLiteral("1949-05-16") << QDate(1949, 5, 16);
        QTest::newRow("today") << QStringLiteral("2026/12/08") << kToday;
    }
    void acceptedDates() {
        QFETCH(QString, date);
        QFETCH(QDate, day);
        const QString row = date + QStringLiteral(",100,110,90,105,10");
        const QString japanese = QStringLiteral("日付,始値,高値,安値,終値,出来高\r\n") + row;
        // No header (the first row tells the layout), Japanese headers in UTF-8 and code page 932.
        for (const QByteArray& bytes : {row.toUtf8(), japanese.toUtf8(), sjis(japanese)}) {
            const portal::PriceFile f = portal::parsePriceCsv(bytes, kToday);
            QVERIFY2(f.problemCount == 0 && f.error.isEmpty(),
                     qPrintable(f.error + f.problems.value(0).reason));
            QCOMPARE(f.bars.size(), 1);
            QCOMPARE(f.bars[0].date, day);
        }
    }

    void refusedDates_data() {
        testing::columns<QString, QString>({"date", "reason"});
        QTest::newRow("last day of the calendar")
            << QStringLiteral("9999-12-31")
            << QStringLiteral("日付 9999/12/31 は未来の日付です（今日は 2026/12/08）");
        QTest::newRow("tomorrow") << QStringLiteral("2026-12-09")
                                  << QStringLiteral("日付 2026/12/09 は未来の日付です");
        QTest::newRow("tomorrow, eight digits")
            << QStringLiteral("20261209") << QStringLiteral("日付 2026/12/09 は未来の日付です");
        QTest::newRow("before the exchange reopened")
            << QStringLiteral("1949-05-15")
            << QStringLiteral("日付 1949/05/15 は取引所が再開した 1949/05/16 より前です");
        QTest::newRow("year one") << QStringLiteral("0001/01/01")
                                  << QStringLiteral("日付 0001/01/01 は取引所が再開した");
        // No such day, or no form that is read.
        for (const char* date : {"2024/13/01", "2024/1/", "202401", "2024/02/30", "2023/02/29",
                                 "2024014", "202401041", "2024/1/4/", "24/1/4", "2024/001/4",
                                 "2024年1月4", "2024年1/4日", "２０２４/1/4", "2024/1/4 9:00"}) {
            QTest::newRow(date)
                << QString::fromUtf8(date)
                << QStringLiteral("日付を読めません: “%1”").arg(QString::fromUtf8(date));
        }
    }
    void refusedDates() {
        QFETCH(QString, date);
        QFETCH(QString, reason);
        const QByteArray bytes = kHeader + "2024-09-30,1,2,1,2,3\n" + date.toUtf8() +
                                 ",100,110,90,105,10\n2024-10-01,1,2,1,2,3\n";
        const portal::PriceFile f = portal::parsePriceCsv(bytes, kToday);
        QCOMPARE(f.problemCount, 1);
        QCOMPARE(f.problems[0].line, 3);
        QVERIFY2(f.problems[0].reason.startsWith(reason), qPrintable(f.problems[0].reason));
        QCOMPARE(f.bars.size(), 2); // the rows around it are read
    }

    // Without a day given, "today" is Japan's; two days on is the future in any zone and hour.
    void defaultTodayIsJapans_data() { testing::rowsOf<int>("daysOn", {{"today", 0}, {"+2", 2}}); }
    void defaultTodayIsJapans() {
        QFETCH(int, daysOn);
        QVERIFY(qAbs(portal::todayInJapan().daysTo(QDate::currentDate())) <= 1);
        const QDate day = portal::todayInJapan().addDays(daysOn);
        const portal::PriceFile f =
            portal::parsePriceCsv(kHeader + day.toString(Qt::ISODate).toLatin1() + ",1,2,1,2,3\n");
        QCOMPARE(f.bars.size(), daysOn == 0 ? 1 : 0);
        QCOMPARE(f.problemCount, daysOn == 0 ? 0 : 1);
    }

    void reasonsStopAtTheCap_data() {
        testing::columns<QByteArray, int>({"line", "times"});
        QTest::newRow("dates that do not parse") << QByteArray("x,1,2,1,2,3\n") << 300000;
        QTest::newRow("future dates") << QByteArray("9999-12-31,1,2,1,2,3\n") << 300000;
        QTest::newRow("one over the cap") << QByteArray("2024-09-30,1\n") << 1001;
    }
    void reasonsStopAtTheCap() {
        QFETCH(QByteArray, line);
        QFETCH(int, times);
        Generated in({{kHeader}, {line, times}, {"2024-10-01,1,2,1,2,3\n"}});
        const portal::PriceFile f = portal::readPriceCsv(in, kToday);
        QCOMPARE(f.problemCount, times);
        QCOMPARE(f.problems.size(), portal::kMaxRowProblems);
        QCOMPARE(f.problems.last().line, portal::kMaxRowProblems + 1);
        QCOMPARE(f.bars.size(), 1);
        QCOMPARE(f.bars[0].date, QDate(2024, 10, 1));
    }

    // A good row padded with blanks to `length` bytes, in a file read in pieces of `piece` bytes.
    void longLines_data() {
        testing::columns<qint64, QByteArray, qint64>({"length", "lineEnd", "piece"});
        const qint64 limit = portal::kMaxLineBytes, big = 30'000'000;
        QTest::newRow("at the limit") << limit << QByteArray("\n") << qint64(1 << 16);
        QTest::newRow("at the limit, CR LF") << limit << QByteArray("\r\n") << qint64(1 << 16);
        QTest::newRow("one byte over") << limit + 1 << QByteArray("\n") << qint64(1 << 16);
        QTest::newRow("30 MB") << big << QByteArray("\n") << qint64(1 << 16);
        QTest::newRow("30 MB, CR LF, odd pieces") << big << QByteArray("\r\n") << qint64(4099);
        QTest::newRow("30 MB, last, no line end") << big << QByteArray() << qint64(1 << 16);
        QTest::newRow("small file, one byte a read") << qint64(40) << QByteArray("\r\n") << 1LL;
    }
    void longLines() {
        QFETCH(qint64, length);
        QFETCH(QByteArray, lineEnd);
        QFETCH(qint64, piece);
        const QByteArray row = "2024-09-30,100,110,90,105,10";
        const QByteArray block(4096, ' ');
        const qint64 blanks = length - row.size();
        Generated in({{"\xEF\xBB\xBF" + kHeader + "2024-09-27,1,2,1,2,3\n"},
                      {row},
                      {block, blanks / block.size()},
                      {QByteArray(blanks % block.size(), ' ') + lineEnd},
                      {lineEnd.isEmpty() ? QByteArray() : "2024-10-01,1,2,1,2,3\n"}},
                     piece);
        const portal::PriceFile f = portal::readPriceCsv(in, kToday);
        const bool tooLong = length > portal::kMaxLineBytes;
        QCOMPARE(f.layout, portal::PriceLayout::Portal);
        QCOMPARE(f.problemCount, tooLong ? 1 : 0);
        if (tooLong) {
            QCOMPARE(f.problems[0].line, 3);
            QCOMPARE(f.problems[0].reason,
                     QStringLiteral("行が長すぎます（64 KiB を超えています）"));
        }
        QList<QDate> days;
        for (const portal::Bar& b : f.bars)
            days.append(b.date);
        QList<QDate> expected{QDate(2024, 9, 27)};
        if (!tooLong)
            expected.append(QDate(2024, 9, 30));
        if (!lineEnd.isEmpty())
            expected.append(QDate(2024, 10, 1));
        QCOMPARE(days, expected);
    }
};

QTEST_GUILESS_MAIN(TestPriceCsv)
#include "tst_pricecsv.moc"
