// Real and invented prices in the portal: invented prices carry "サンプルデータ" on every chart
// and page without hiding the prices, real price files carry none and get no invented day; a
// running portal serves an import on the next request; stored histories are read once and kept
// until another writer commits, in a bounded cache.
#include "charts/chartrenderer.h"
#include "charts/gifencoder.h"
#include "portalclient.h"
#include "prices/datastore.h"
#include "prices/priceimport.h"
#include "table.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

using portal::PortalServer;

namespace {

const QString kSample = QStringLiteral("サンプルデータ");

QImage decode(const QByteArray& bytes) {
    QImage img;
    img.loadFromData(bytes, "GIF");
    return img.convertToFormat(QImage::Format_RGB32);
}

// The pixels of one colour, and the rows and columns they span.
struct Spread {
    int count = 0;
    QRect box;
};
Spread spreadOf(const QImage& img, const QColor& c, int fromRow = 0) {
    Spread s;
    int left = img.width(), right = -1, top = img.height(), bottom = -1;
    for (int y = fromRow; y < img.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if ((row[x] & 0xFFFFFF) == (c.rgb() & 0xFFFFFF)) {
                ++s.count;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (s.count)
        s.box = QRect(QPoint(left, top), QPoint(right, bottom));
    return s;
}

QByteArray intradayTarget(const QString& code) {
    return "/c/1d/" + code.left(1).toLatin1() + "/" + code.toLatin1() +
           portal::suffixForCode(code).toLatin1() + ".gif";
}
QByteArray chartTarget(const QString& code, const QByteArray& term) {
    return "/z?s=" + code.toLatin1() + portal::suffixForCode(code).toLatin1() +
           "&a=v&p=m25,m75,b,v&t=" + term + "&l=off&z=m&q=c";
}
QByteArray detailTarget(const QString& code) {
    return "/q?s=" + code.toLatin1() + "&d=t&k=c3&h=on&z=m";
}

// A real-looking file: a few weeks of prices ending on 2026/11/27 at 3,215 yen.
QByteArray realPrices() {
    QByteArray csv = "日付,始値,高値,安値,終値,出来高\n";
    double close = 3000;
    QDate d(2026, 10, 1);
    for (int i = 0; d <= QDate(2026, 11, 27); ++i, d = d.addDays(1)) {
        if (d.dayOfWeek() > 5)
            continue;
        const double open = close;
        close = d == QDate(2026, 11, 27) ? 3215 : close + ((i * 7) % 11) - 5;
        csv += d.toString(QStringLiteral("yyyy/MM/dd")).toLatin1() + ',' +
               QByteArray::number(open) + ',' + QByteArray::number(std::max(open, close) + 10) +
               ',' + QByteArray::number(std::min(open, close) - 10) + ',' +
               QByteArray::number(close) + ',' + QByteArray::number(100000 + i * 1000) + '\n';
    }
    return csv;
}

} // namespace

class TestPriceData : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_code;

    QString dataDir() const { return m_dir.path(); }

    bool importReal(const QString& code) {
        const QString input = m_dir.filePath(code + QStringLiteral("_daily.csv"));
        QFile f(input);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(realPrices());
        f.close();
        QString out, err;
        QTextStream o(&out), e(&err);
        return portal::runImport({QStringLiteral("--data"), dataDir(), input}, dataDir(), o, e) ==
               0;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QFile::copy(codeListPath(),
                            m_dir.filePath(QStringLiteral("銘柄コード一覧20060513.csv"))));
        m_code = firstCodeWithSuffix(QStringLiteral(".t"));
        QVERIFY(!m_code.isEmpty());
    }

    void sampleMarkHidesNoPrice_data() {
        testing::columns<int, QString>({"term", "params"});
        QTest::newRow("3m") << int(portal::Term::ThreeMonths) << QStringLiteral("m25,m75");
        QTest::newRow("6m, volume") << int(portal::Term::SixMonths) << QStringLiteral("m25,b,v");
        QTest::newRow("1y") << int(portal::Term::OneYear) << QStringLiteral("m25,m75,p");
        QTest::newRow("ay, all") << int(portal::Term::TenYears)
                                 << QStringLiteral("m25,m75,m65,m130,m260,e25,e75,e65,e130,e260,"
                                                   "b,p,v");
    }
    void sampleMarkHidesNoPrice() {
        QFETCH(int, term);
        QFETCH(QString, params);
        const portal::Listing listing{m_code, QStringLiteral("テスト"), QString()};
        portal::History invented = portal::syntheticHistory(m_code, QDate(2026, 12, 4));
        QVERIFY(invented.sample);
        portal::History real = invented;
        real.sample = false;
        const auto overlays = portal::parseOverlays(params);
        const QImage marked = decode(portal::encodeGif(
            portal::renderTechnicalChart(listing, invented, portal::Term(term), overlays)));
        const QImage plain = decode(portal::encodeGif(
            portal::renderTechnicalChart(listing, real, portal::Term(term), overlays)));

        // Below the title row, which has a small mark of its own.
        const Spread mark = spreadOf(marked, portal::colors::sample, 16);
        QVERIFY(spreadOf(marked, portal::colors::sample).count > mark.count);
        QCOMPARE(spreadOf(plain, portal::colors::sample).count, 0);
        // Big enough to read in a pane the chart's size.
        QVERIFY2(mark.box.height() >= 14 && mark.box.width() >= 100,
                 qPrintable(QStringLiteral("%1x%2").arg(mark.box.width()).arg(mark.box.height())));
        // Clear of the right end of the plot, where the latest prices are.
        QVERIFY(mark.box.right() < portal::kChartWidth * 3 / 4);
        // Everything drawn on the real chart is drawn the same on the marked one.
        int hidden = 0;
        for (int y = 0; y < plain.height(); ++y) {
            for (int x = 0; x < plain.width(); ++x) {
                const QRgb p = plain.pixel(x, y);
                hidden += (p & 0xFFFFFF) != (portal::colors::background.rgb() & 0xFFFFFF) &&
                          p != marked.pixel(x, y);
            }
        }
        QCOMPARE(hidden, 0);
    }

    void syntheticAndRealAnswers() {
        const QString code = firstCodeWithSuffix(QStringLiteral(".j"));
        portal::PortalOptions o;
        o.dataDir = dataDir();
        o.asOf = QDate(2026, 12, 4);
        PortalServer server(o);
        QVERIFY(server.start());

        // Invented prices, before any import.
        const QImage chartBefore = decode(fetch(server.port(), chartTarget(code, "6m")).body);
        const QImage dayBefore = decode(fetch(server.port(), intradayTarget(code)).body);
        QVERIFY(spreadOf(chartBefore, portal::colors::sample).count > 200);
        QVERIFY(spreadOf(dayBefore, portal::colors::sample).count > 200);
        QVERIFY(spreadOf(dayBefore, portal::colors::intraday).count > 0);
        const QString summaryBefore =
            QString::fromUtf8(fetch(server.port(), summaryTarget(code)).body);
        const QString detailBefore =
            QString::fromUtf8(fetch(server.port(), detailTarget(code)).body);
        // On the summary page beside the price, on the detail page in the part the pane shows.
        QVERIFY(summaryBefore.indexOf(kSample) >
                summaryBefore.indexOf(QStringLiteral("円</span>")));
        QVERIFY(detailBefore.indexOf(kSample) >
                detailBefore.indexOf(QStringLiteral("<!-- AD END Location: CT")));
        QVERIFY(detailBefore.indexOf(QStringLiteral("<!-- AD END Location: CT")) > 0);

        // An import while the portal runs: the next requests draw from the file.
        QVERIFY(importReal(code));
        const QString summaryAfter =
            QString::fromUtf8(fetch(server.port(), summaryTarget(code)).body);
        QVERIFY2(summaryAfter.contains(QStringLiteral("3,215円")), qPrintable(summaryAfter));
        // Where the price came from, and the day of its close.
        QVERIFY(summaryAfter.contains(QStringLiteral("取込 2026/11/27")));
        QVERIFY(!summaryAfter.contains(kSample));
        const QString detailAfter =
            QString::fromUtf8(fetch(server.port(), detailTarget(code)).body);
        QVERIFY(detailAfter.contains(QStringLiteral("3,215円")));
        QVERIFY(!detailAfter.contains(kSample));
        const QImage chartAfter = decode(fetch(server.port(), chartTarget(code, "6m")).body);
        QCOMPARE(chartAfter.size(), QSize(portal::kChartWidth, portal::kChartHeight));
        QCOMPARE(spreadOf(chartAfter, portal::colors::sample).count, 0);
        QVERIFY(spreadOf(chartAfter, portal::colors::domesticRising).count > 0);

        // No invented day: the one-day chart draws no minute path, only the known session.
        const QImage dayAfter = decode(fetch(server.port(), intradayTarget(code)).body);
        QCOMPARE(dayAfter.size(), QSize(portal::kChartWidth, portal::kChartHeight));
        QCOMPARE(spreadOf(dayAfter, portal::colors::sample).count, 0);
        QCOMPARE(spreadOf(dayAfter, portal::colors::intraday).count, 0);
        // The session's candle: 11/27 closed above its open.
        QVERIFY(spreadOf(dayAfter, portal::colors::domesticRising).count > 100);

        // Other codes stay samples.
        QVERIFY(
            QString::fromUtf8(fetch(server.port(), summaryTarget(m_code)).body).contains(kSample));
    }

    void storeIsReadOnceUntilAnotherWriterCommits() {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(codeListPath(),
                            dir.filePath(QStringLiteral("銘柄コード一覧20060513.csv"))));
        portal::MarketData data(dir.path(), QDate(2026, 12, 4));
        // Another connection to the same database, as an import in another process has.
        const auto importer =
            portal::store::PriceStore::open(portal::store::PriceStore::pathIn(dir.path()), nullptr);
        QVERIFY(importer);
        auto write = [&](double close) {
            portal::History bars;
            bars.append({QDate(2026, 12, 1), 100, 110, 90, close, 10});
            QVERIFY(portal::storeBars(*importer, m_code, bars, QStringLiteral("import"),
                                      QStringLiteral("test"))
                        .ok);
        };
        write(105);
        const auto first = data.history(m_code);
        QVERIFY(first && !first->sample);
        QCOMPARE(first->last().close, 105.0);
        QCOMPARE(data.history(m_code), first);
        QCOMPARE(data.history(m_code), first);
        QCOMPARE(data.storeReads(), 1);

        // The same day written again with another close: seen at the next request.
        write(106);
        const auto second = data.history(m_code);
        QCOMPARE(second->last().close, 106.0);
        QCOMPARE(data.storeReads(), 2);
        QCOMPARE(data.history(m_code), second);
        QCOMPARE(data.storeReads(), 2);
    }

    void cacheKeepsTheMostRecentlyUsed() {
        const auto& listings = portal::readCodeList(codeListPath());
        QVERIFY(listings.size() > 10);
        portal::MarketData data(QStringLiteral(QUORVIX_BIN_DIR), QDate(2026, 12, 4), 3);
        const QString a = listings[0].code, b = listings[1].code, c = listings[2].code,
                      d = listings[3].code;
        const auto ha = data.history(a);
        const auto hb = data.history(b);
        data.history(c);
        QCOMPARE(data.history(a), ha); // a is now the most recently used
        data.history(d);               // b, the least recently used, goes
        QCOMPARE(data.cachedHistories(), 3);
        QCOMPARE(data.history(a), ha);
        const auto hbAgain = data.history(b);
        QVERIFY(hbAgain != hb);
        QCOMPARE(hbAgain->last().close, hb->last().close); // made again, the same
        for (int i = 0; i < 10; ++i)
            data.history(listings[i].code);
        QCOMPARE(data.cachedHistories(), 3);
    }
};

QTEST_MAIN(TestPriceData)
#include "tst_pricedata.moc"
