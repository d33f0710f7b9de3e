// Indicator maths against values worked out by hand on short series.
#include "charts/indicators.h"
#include "table.h"

#include <QtTest>

#include <cmath>

using namespace portal::indicators;

namespace {
const QVector<double> kCloses = {10, 11, 12, 13, 14, 13, 12};

void compareSeries(const QVector<double>& actual, const QVector<double>& expected) {
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        if (std::isnan(expected[i])) {
            QVERIFY2(std::isnan(actual[i]), qPrintable(QStringLiteral("position %1").arg(i)));
        } else {
            QVERIFY2(std::abs(actual[i] - expected[i]) < 1e-9,
                     qPrintable(QStringLiteral("position %1: %2, expected %3")
                                    .arg(i)
                                    .arg(actual[i])
                                    .arg(expected[i])));
        }
    }
}
} // namespace

class TestIndicators : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void averages_data() {
        testing::columns<bool, int, QVector<double>>({"exponential", "period", "expected"});
        const double n = kNone;
        // (10+11+12)/3, (11+12+13)/3, (12+13+14)/3, (13+14+13)/3, (14+13+12)/3
        QTest::newRow("sma 3") << false << 3 << QVector<double>{n, n, 11, 12, 13, 40.0 / 3, 13};
        QTest::newRow("sma 1 is the series") << false << 1 << kCloses;
        QTest::newRow("sma longer than series")
            << false << 8 << QVector<double>{n, n, n, n, n, n, n};
        // k = 2/(3+1) = 0.5, seeded with the first simple average 11:
        // 11 + .5(13-11) = 12; 12 + .5(14-12) = 13; 13 + .5(13-13) = 13; 13 + .5(12-13) = 12.5
        QTest::newRow("ema 3") << true << 3 << QVector<double>{n, n, 11, 12, 13, 13, 12.5};
        // k = 2/6: seed (10+11+12+13+14)/5 = 12; 12 + (13-12)/3; then + (12 - that)/3
        QTest::newRow("ema 5")
            << true << 5
            << QVector<double>{
                   n, n, n, n, 12, 12 + 1.0 / 3, 12 + 1.0 / 3 + (12 - (12 + 1.0 / 3)) / 3};
    }
    void averages() {
        QFETCH(bool, exponential);
        QFETCH(int, period);
        QFETCH(QVector<double>, expected);
        compareSeries(exponential ? ema(kCloses, period) : sma(kCloses, period), expected);
    }

    void bollingerBand() {
        const Band b = bollinger(kCloses, 3, 2.0);
        const double n = kNone;
        // Window 10,11,12: mean 11, squares 1+0+1 over 3 -> sd sqrt(2/3).
        // Window 13,14,13: mean 40/3, squares 1/9+4/9+1/9 over 3 -> sd sqrt(2/9).
        const double sd1 = std::sqrt(2.0 / 3), sd2 = std::sqrt(2.0 / 9);
        compareSeries(b.middle, {n, n, 11, 12, 13, 40.0 / 3, 13});
        compareSeries(b.upper, {n, n, 11 + 2 * sd1, 12 + 2 * sd1, 13 + 2 * sd1, 40.0 / 3 + 2 * sd2,
                                13 + 2 * sd1});
        compareSeries(b.lower, {n, n, 11 - 2 * sd1, 12 - 2 * sd1, 13 - 2 * sd1, 40.0 / 3 - 2 * sd2,
                                13 - 2 * sd1});
    }

    void bollingerFlatSeriesCollapses() {
        const QVector<double> flat(25, 500.0);
        const Band b = bollinger(flat);
        QVERIFY(std::isnan(b.upper[18]));
        QCOMPARE(b.upper[19], 500.0);
        QCOMPARE(b.lower[24], 500.0);
    }

    void sar_data() {
        testing::columns<QVector<double>, QVector<double>, double, double, QVector<double>>(
            {"highs", "lows", "step", "maxStep", "expected"});
        const double n = kNone;
        // Rising from bar 1: stop 8 (low of bar 0), extreme 11.
        // 2: 8 + .02*3 = 8.06, held under the two previous lows -> 8; new high 12, af .04
        // 3: 8 + .04*4 = 8.16; new high 13, af .06
        // 4: 8.16 + .06*(13-8.16) = 8.4504; low 7 breaks it -> falling, stop 13, extreme 7
        // 5: 13 + .02*(7-13) = 12.88, held over the two previous highs -> 13; new low 6
        // 6: 13 + .04*(6-13) = 12.72; high 14 breaks it -> rising, stop 6
        QTest::newRow("reversals")
            << QVector<double>{10, 11, 12, 13, 12, 9, 14} << QVector<double>{8, 9, 10, 11, 7, 6, 10}
            << 0.02 << 0.2 << QVector<double>{n, 8, 8, 8.16, 13, 13, 6};
        // Step .1 capped at .2: 9; 9 + .1*2 = 9.2 -> 9 (low of bar 0); 9 + .2*3 = 9.6;
        // 9.6 + .2*(13-9.6) = 10.28 (uncapped .3 would give 10.62)
        QTest::newRow("acceleration capped")
            << QVector<double>{10, 11, 12, 13, 14} << QVector<double>{9, 10, 11, 12, 13} << 0.1
            << 0.2 << QVector<double>{n, 9, 9, 9.6, 10.28};
        // Falling start: stop 12 (high of bar 0), extreme 9.
        // 2: 12 + .02*(9-12) = 11.94, held over highs 11 and 12 -> 12; new low 8, af .04
        // 3: 12 + .04*(8-12) = 11.84; max with highs 10, 11 -> 11.84
        QTest::newRow("falling") << QVector<double>{12, 11, 10, 9} << QVector<double>{10, 9, 8, 7}
                                 << 0.02 << 0.2 << QVector<double>{n, 12, 12, 11.84};
    }
    void sar() {
        QFETCH(QVector<double>, highs);
        QFETCH(QVector<double>, lows);
        QFETCH(double, step);
        QFETCH(double, maxStep);
        QFETCH(QVector<double>, expected);
        compareSeries(parabolicSar(highs, lows, step, maxStep), expected);
    }
};

QTEST_GUILESS_MAIN(TestIndicators)
#include "tst_indicators.moc"
