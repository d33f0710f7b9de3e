#include "chart/chartimage.h"
#include "table.h"

#include <QtTest>

// What a saved chart is called, and the date in its name.
class TestChartImage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fileName_data() {
        testing::columns<QString, int, QDate, QString>({"code", "term", "date", "name"});
        QTest::newRow("one day") << "4674" << 0 << QDate(2026, 12, 4) << "4674_1d_20261204.png";
        QTest::newRow("three months") << "7203" << 1 << QDate(2026, 1, 9) << "7203_3m_20260109.png";
        QTest::newRow("six months") << "130A" << 2 << QDate(2025, 3, 31) << "130A_6m_20250331.png";
        QTest::newRow("one year") << "1301" << 3 << QDate(2026, 12, 4) << "1301_1y_20261204.png";
        QTest::newRow("two years") << "1301" << 4 << QDate(2026, 12, 4) << "1301_2y_20261204.png";
        QTest::newRow("five years") << "1301" << 5 << QDate(2026, 12, 4) << "1301_5y_20261204.png";
        QTest::newRow("ten years") << "1301" << 6 << QDate(2026, 12, 4) << "1301_10y_20261204.png";
    }

    void fileName() {
        QFETCH(QString, code);
        QFETCH(int, term);
        QFETCH(QDate, date);
        QFETCH(QString, name);
        QCOMPARE(chart::chartImageFileName(code, term, date), name);
    }

    void termOfItsFile() {
        for (int term = 0; term < 7; ++term)
            QCOMPARE(chart::termOfFile(QStringLiteral("/data/temp%1.gif").arg(term + 1)), term);
        QCOMPARE(chart::termOfFile(QStringLiteral("/data/temp8.gif")), -1);
        QCOMPARE(chart::termName(7), QString());
        QCOMPARE(chart::termName(-1), QString());
    }

    void lastPriceDate_data() {
        testing::columns<QString, QDate>({"text", "date"});
        QTest::newRow("summary page")
            << "ファイナンス モバイル\n市況 | ランキング\nクオルビクス (4674)\n1,234円\n"
               "前日比 +12 (+0.98%)\n出来高 1,000株\n2026/12/04 15:30 終値"
            << QDate(2026, 12, 4);
        QTest::newRow("no date") << "about:blank" << QDate();
        QTest::newRow("empty") << "" << QDate();
        QTest::newRow("not a date first") << "2026/13/40 then 2025/02/28" << QDate(2025, 2, 28);
    }

    void lastPriceDate() {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        QCOMPARE(chart::lastPriceDate(text).value_or(QDate()), date);
    }

    void dateInJapan_data() {
        testing::columns<QDateTime, QDate>({"now", "date"});
        QTest::newRow("UTC 14:59, 23:59 in Tokyo")
            << QDateTime(QDate(2026, 12, 7), QTime(14, 59), Qt::UTC) << QDate(2026, 12, 7);
        QTest::newRow("UTC 15:00, the next day in Tokyo")
            << QDateTime(QDate(2026, 12, 7), QTime(15, 0), Qt::UTC) << QDate(2026, 12, 8);
        QTest::newRow("new year") << QDateTime(QDate(2026, 12, 31), QTime(20, 0), Qt::UTC)
                                  << QDate(2027, 1, 1);
        QTest::newRow("from another zone")
            << QDateTime(QDate(2026, 7, 1), QTime(10, 0), Qt::OffsetFromUTC, -5 * 3600)
            << QDate(2026, 7, 2);
    }

    void dateInJapan() {
        QFETCH(QDateTime, now);
        QFETCH(QDate, date);
        QCOMPARE(chart::dateInJapan(now), date);
    }

    void pngAtFullResolution() {
        QImage image(1042, 592, QImage::Format_RGB32);
        image.fill(Qt::white);
        image.setPixel(1041, 591, qRgb(255, 0, 0));
        image.setDevicePixelRatio(2);
        const QByteArray png = chart::pngBytes(image);
        QVERIFY(png.startsWith("\x89PNG"));
        const QImage back = QImage::fromData(png, "PNG");
        QCOMPARE(back.size(), QSize(1042, 592));
        QCOMPARE(back.pixel(1041, 591), qRgb(255, 0, 0));
        QVERIFY(chart::pngBytes(QImage()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestChartImage)
#include "tst_chartimage.moc"
