// Charts and the price data behind them: served charts decode as GIF at the pane size, overlays
// change the picture, the price files and synthetic histories are what a trader expects.
#include "charts/chartrenderer.h"
#include "charts/gifencoder.h"
#include "portalclient.h"
#include "table.h"

#include <QtTest>

using portal::PortalServer;

namespace {

QImage decode(const QByteArray& bytes) {
    QImage img;
    img.loadFromData(bytes, "GIF");
    return img;
}

bool hasColour(const QImage& img, const QColor& c) {
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if ((row[x] & 0xFFFFFF) == (c.rgb() & 0xFFFFFF))
                return true;
        }
    }
    return false;
}

// The smallest rectangle holding every pixel of a colour; null when there is none.
QRect boxOf(const QImage& img, const QColor& c) {
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    QRect box;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if ((row[x] & 0xFFFFFF) == (c.rgb() & 0xFFFFFF))
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

QByteArray intradayTarget(const QString& code) {
    return "/c/1d/" + code.left(1).toLatin1() + "/" + code.toLatin1() +
           portal::suffixForCode(code).toLatin1() + ".gif";
}

QByteArray chartTarget(const QString& code, const QByteArray& params, const QByteArray& term) {
    return "/z?s=" + code.toLatin1() + portal::suffixForCode(code).toLatin1() + "&a=v&p=" + params +
           "&t=" + term + "&l=off&z=m&q=c";
}

} // namespace

class TestCharts : public QObject {
    Q_OBJECT

    std::unique_ptr<PortalServer> m_server;
    QString m_code;

    QByteArray chart(const QByteArray& params, const QByteArray& term) {
        return fetch(m_server->port(), chartTarget(m_code, params, term)).body;
    }

private Q_SLOTS:
    void initTestCase() {
        m_code = firstCodeWithSuffix(QStringLiteral(".t"));
        QVERIFY(!m_code.isEmpty());
        m_server = std::make_unique<PortalServer>(testOptions());
        QVERIFY(m_server->start());
    }
    void cleanupTestCase() { m_server.reset(); }

    void servedChartDecodes_data() {
        QTest::addColumn<QByteArray>("target");
        const QString c = m_code;
        for (const char* term : {"3m", "6m", "1y", "2y", "5y", "ay"}) {
            QTest::addRow("%s standard pair", term) << chartTarget(c, "m25,m75", term);
            QTest::addRow("%s all tokens", term)
                << chartTarget(c, "m25,m75,m65,m130,m260,e25,e75,e65,e130,e260,b,p,v", term);
        }
        QTest::newRow("intraday") << "/c/1d/" + c.left(1).toLatin1() + "/" + c.toLatin1() +
                                         portal::suffixForCode(c).toLatin1() + ".gif";
    }
    void servedChartDecodes() {
        QFETCH(QByteArray, target);
        const Answer a = fetch(m_server->port(), target);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.contentType, QByteArray("image/gif"));
        QVERIFY(a.body.startsWith("GIF89a"));
        const QImage img = decode(a.body);
        QVERIFY(!img.isNull());
        QCOMPARE(img.size(), QSize(portal::kChartWidth, portal::kChartHeight));
        // Rising and falling days are told apart by colour: red and blue unless chosen otherwise.
        if (!target.startsWith("/c/")) {
            QVERIFY(hasColour(img, portal::colors::domesticRising));
            QVERIFY(hasColour(img, portal::colors::domesticFalling));
        }
    }

    void overlaysChangeThePicture_data() {
        // colour: drawn only by this overlay
        testing::columns<QByteArray, QColor>({"params", "colour"});
        const char* tokens[] = {"m25", "m75", "m65", "m130", "m260",
                                "e25", "e75", "e65", "e130", "e260"};
        for (int i = 0; i < 10; ++i)
            QTest::newRow(tokens[i]) << QByteArray(tokens[i]) << portal::colors::averages[i];
        QTest::newRow("b") << QByteArray("b") << portal::colors::band;
        QTest::newRow("p") << QByteArray("p") << portal::colors::sar;
        QTest::newRow("v") << QByteArray("v") << portal::colors::volume;
    }
    void overlaysChangeThePicture() {
        QFETCH(QByteArray, params);
        QFETCH(QColor, colour);
        const QImage plain = decode(chart("", "2y"));
        const QImage with = decode(chart(params, "2y"));
        QVERIFY(!plain.isNull() && !with.isNull());
        QVERIFY(!hasColour(plain, colour));
        QVERIFY(hasColour(with, colour));
    }

    // dpr=R draws the same chart at R times the pixels; no number, or none, is ratio 1.
    void pixelRatio_data() {
        testing::columns<QByteArray, double>({"dpr", "ratio"});
        QTest::newRow("2") << QByteArray("2") << 2.0;
        QTest::newRow("1.5") << QByteArray("1.5") << 1.5;
        QTest::newRow("1.25") << QByteArray("1.25") << 1.25;
        QTest::newRow("1.1, no pixel lost") << QByteArray("1.1") << 1.1;
        QTest::newRow("above 4") << QByteArray("8") << 4.0;
        QTest::newRow("1") << QByteArray("1") << 1.0;
        QTest::newRow("below 1") << QByteArray("0.5") << 1.0;
        QTest::newRow("negative") << QByteArray("-2") << 1.0;
        QTest::newRow("word") << QByteArray("abc") << 1.0;
        QTest::newRow("nan") << QByteArray("nan") << 1.0;
        QTest::newRow("overflow") << QByteArray("1e999") << 1.0;
        QTest::newRow("percent-encoded 2") << QByteArray("%32") << 2.0;
    }
    void pixelRatio() {
        QFETCH(QByteArray, dpr);
        QFETCH(double, ratio);
        const QSize expected(int(std::floor(portal::kChartWidth * ratio + 1e-9)),
                             int(std::floor(portal::kChartHeight * ratio + 1e-9)));
        for (const QByteArray& plain :
             {chartTarget(m_code, "m25,m75,v", "6m"), intradayTarget(m_code)}) {
            const QByteArray target = plain + (plain.contains('?') ? "&dpr=" : "?dpr=") + dpr;
            const Answer one = fetch(m_server->port(), plain);
            const Answer a = fetch(m_server->port(), target);
            QCOMPARE(a.status, 200);
            QCOMPARE(a.contentType, QByteArray("image/gif"));
            const QImage img = decode(a.body);
            QCOMPARE(img.size(), expected);
            if (ratio == 1.0) {
                QVERIFY2(a.body == one.body, target.constData());
                continue;
            }
            // The same chart, larger: the volume bars stand where they stand at ratio 1, in
            // pixels of ratio 1 (a pixel either way for the rounding of fractional ratios).
            const QRect base = boxOf(decode(one.body), portal::colors::volume);
            const QRect scaled = boxOf(img, portal::colors::volume);
            QVERIFY(!base.isNull() && !scaled.isNull());
            const auto near = [ratio](int at, int at1) {
                return std::abs(at / ratio - at1) <= 1.5;
            };
            QVERIFY2(near(scaled.left(), base.left()) && near(scaled.top(), base.top()) &&
                         near(scaled.right() + 1, base.right() + 1) &&
                         near(scaled.bottom() + 1, base.bottom() + 1),
                     target.constData());
        }
    }

    // The data folder's quote-portal.ini chooses the candle colours; a value the portal does not
    // know keeps the domestic ones and says so when the portal starts.
    void candleColours_data() {
        // ini: the file's content, null for no file
        testing::columns<QByteArray, bool, bool>({"ini", "western", "told"});
        QTest::newRow("no file") << QByteArray() << false << false;
        QTest::newRow("domestic") << QByteArray("[charts]\ncandles=domestic\n") << false << false;
        QTest::newRow("western") << QByteArray("[charts]\ncandles=western\n") << true << false;
        QTest::newRow("Western, spaced")
            << QByteArray("[charts]\ncandles = Western \n") << true << false;
        QTest::newRow("empty") << QByteArray("[charts]\ncandles=\n") << false << false;
        QTest::newRow("unknown") << QByteArray("[charts]\ncandles=green\n") << false << true;
        QTest::newRow("a picture, no ini") << QByteArray("\x89PNG\r\n\x1a\n", 8) << false << false;
    }
    void candleColours() {
        QFETCH(QByteArray, ini);
        QFETCH(bool, western);
        QFETCH(bool, told);
        if (!QFile::exists(programPath()))
            QSKIP("quote-portal is not built");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (!ini.isNull()) {
            QFile f(dir.filePath(QStringLiteral("quote-portal.ini")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(ini);
        }
        Program p;
        QVERIFY2(p.start({}, dir.path()), qPrintable(p.firstLine));
        const Answer a = fetch(p.port, chartTarget(m_code, "", "1y"));
        QCOMPARE(a.status, 200);
        const QImage img = decode(a.body);
        const portal::CandleColours shown =
            portal::candleColours(western ? portal::Candles::Western : portal::Candles::Domestic);
        const portal::CandleColours other =
            portal::candleColours(western ? portal::Candles::Domestic : portal::Candles::Western);
        QVERIFY(hasColour(img, shown.rising));
        QVERIFY(hasColour(img, shown.falling));
        QVERIFY(!hasColour(img, other.rising));
        QVERIFY(!hasColour(img, other.falling));

        const QString err = QString::fromUtf8(p.process.readAllStandardError());
        QCOMPARE(err.contains(QStringLiteral("[charts] candles=")), told);
        if (told)
            QVERIFY2(err.contains(QStringLiteral("domestic か western")), qPrintable(err));
    }

    void tokenOrderRepeatsAndUnknownTokensDoNotMatter() {
        const QByteArray reference = chart("m25,m75", "6m");
        QCOMPARE(chart("m75,m25", "6m"), reference);
        QCOMPARE(chart("m25,zz,m75,m25,x9,", "6m"), reference);
        QVERIFY(chart("m25", "6m") != reference);
    }

    void chartsAreDeterministic() { QCOMPARE(chart("b,p,v", "1y"), chart("b,p,v", "1y")); }

    void encodedColoursSurvive() {
        // Every drawing colour reaches the GIF unchanged.
        const QColor colours[] = {portal::colors::domesticRising, portal::colors::domesticFalling,
                                  portal::colors::westernRising,  portal::colors::westernFalling,
                                  portal::colors::band,           portal::colors::averages[3]};
        const int n = int(std::size(colours));
        QImage img(n * 10, 10, QImage::Format_RGB32);
        for (int i = 0; i < n; ++i)
            for (int y = 0; y < 10; ++y)
                for (int x = i * 10; x < i * 10 + 10; ++x)
                    img.setPixelColor(x, y, colours[i]);
        const QImage back = decode(portal::encodeGif(img)).convertToFormat(QImage::Format_RGB32);
        for (int i = 0; i < n; ++i)
            QCOMPARE(back.pixelColor(i * 10 + 5, 5), colours[i]);
    }

    void tickSizes_data() {
        testing::columns<double, double>({"price", "tick"});
        QTest::newRow("3000") << 3000.0 << 1.0;
        QTest::newRow("3001") << 3001.0 << 5.0;
        QTest::newRow("5000") << 5000.0 << 5.0;
        QTest::newRow("5001") << 5001.0 << 10.0;
        QTest::newRow("30000") << 30000.0 << 10.0;
        QTest::newRow("30001") << 30001.0 << 50.0;
        QTest::newRow("50001") << 50001.0 << 100.0;
        QTest::newRow("300001") << 300001.0 << 500.0;
    }
    void tickSizes() {
        QFETCH(double, price);
        QFETCH(double, tick);
        QCOMPARE(portal::tickSize(price), tick);
    }

    void syntheticHistory_data() {
        testing::columns<QDate, QDate>({"asOf", "lastDay"});
        QTest::newRow("friday") << QDate(2026, 12, 4) << QDate(2026, 12, 4);
        QTest::newRow("sunday") << QDate(2026, 12, 6) << QDate(2026, 12, 4);
        QTest::newRow("new year") << QDate(2027, 1, 2) << QDate(2026, 12, 30);
    }
    void syntheticHistory() {
        QFETCH(QDate, asOf);
        QFETCH(QDate, lastDay);
        const auto listings = portal::readCodeList(codeListPath());
        for (const auto& l : {listings.first(), listings.last()}) {
            const portal::History h = portal::syntheticHistory(l.code, asOf);
            QCOMPARE(h.last().date, lastDay);
            QVERIFY(h.first().date <= lastDay.addYears(-10));
            QVERIFY(h.size() >= 10 * 245);
            for (int i = 0; i < h.size(); ++i) {
                const portal::Bar& b = h[i];
                QVERIFY(b.date.dayOfWeek() <= 5);
                QVERIFY(i == 0 || h[i - 1].date < b.date);
                QVERIFY(b.low <= std::min(b.open, b.close) && b.high >= std::max(b.open, b.close));
                QVERIFY(b.volume > 0 && b.volume % 100 == 0);
                for (double p : {b.open, b.high, b.low, b.close}) {
                    const double steps = p / portal::tickSize(p);
                    QVERIFY2(std::abs(steps - std::round(steps)) < 1e-9,
                             qPrintable(QStringLiteral("%1 on %2").arg(p).arg(b.date.toString())));
                }
            }
            QVERIFY(h.last().close >= 10 && h.last().close < 1e6);
            // Another run gives the same history.
            QCOMPARE(portal::syntheticHistory(l.code, asOf).last().close, h.last().close);
        }
    }

    void priceFileIsUsed() {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(codeListPath(),
                            dir.filePath(QStringLiteral("銘柄コード一覧20060513.csv"))));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("prices")));
        QFile prices(dir.filePath(QStringLiteral("prices/%1.csv").arg(m_code)));
        QVERIFY(prices.open(QIODevice::WriteOnly));
        prices.write("Date,Open,High,Low,Close,Volume\n"
                     "2025-03-03,1000,1050,990,1040,120000\n"
                     "2025-03-04,1040,1100,1030,1097,150000\n"
                     "2025-03-05,not,a,row,at,all\n"
                     "2025-03-06,1090,1095,1001,1003,99000\n"
                     "2025-03-07,1000,900,1100,1000,1000\n"); // high under low: skipped
        prices.close();

        portal::MarketData data(dir.path(), QDate(2026, 12, 4));
        const auto h = data.history(m_code);
        QVERIFY(h);
        QCOMPARE(h->size(), 3);
        QCOMPARE(h->last().date, QDate(2025, 3, 6));
        QCOMPARE(h->last().close, 1003.0);

        portal::PortalOptions o;
        o.dataDir = dir.path();
        PortalServer server(o);
        QVERIFY(server.start());
        const QString page = QString::fromUtf8(
            fetch(server.port(), "/q?s=" + m_code.toLatin1() + "&d=t&k=c3&h=on&z=m").body);
        QVERIFY(page.contains(QStringLiteral("1,003円")));
        QVERIFY(page.contains(QStringLiteral("2025/03/04")));
        QVERIFY(!page.contains(QStringLiteral("2025/03/05")));
        const Answer a = fetch(server.port(), chartTarget(m_code, "m25,b,p,v", "3m"));
        QCOMPARE(decode(a.body).size(), QSize(portal::kChartWidth, portal::kChartHeight));
    }

    void codesAreCheckedBeforeFilesAreOpened_data() {
        testing::rowsOf<QString>("code", {{"parent folder", QStringLiteral("../1")},
                                          {"three digits", QStringLiteral("130")},
                                          {"full-width", QStringLiteral("１３０１")},
                                          {"letters", QStringLiteral("13a1")},
                                          {"lower-case alphanumeric", QStringLiteral("130a")},
                                          {"forbidden letter", QStringLiteral("1A3B")},
                                          {"letter third", QStringLiteral("13A0")},
                                          {"letter first", QStringLiteral("A130")}});
    }
    void codesAreCheckedBeforeFilesAreOpened() {
        QFETCH(QString, code);
        QVERIFY(!portal::isCode(code));
        portal::MarketData data(QStringLiteral(QUORVIX_BIN_DIR), QDate(2026, 12, 4));
        QVERIFY(!data.history(code));
        QVERIFY(portal::syntheticHistory(code, QDate(2026, 12, 4)).isEmpty());
    }

    // Every alphanumeric code gets a history of its own, as every four-digit code does.
    void alphanumericCodesHaveTheirOwnHistories() {
        const QDate asOf(2026, 12, 4);
        QSet<double> lastCloses;
        int alphanumeric = 0;
        for (const auto& l : portal::readCodeList(codeListPath())) {
            if (l.code.at(1).isDigit() && l.code.at(3).isDigit())
                continue;
            ++alphanumeric;
            QVERIFY(portal::isCode(l.code));
            const portal::History h = portal::syntheticHistory(l.code, asOf);
            QVERIFY2(h.size() > 2500, qPrintable(l.code));
            lastCloses.insert(h.last().close + h.last().volume * 1e-12);
        }
        QCOMPARE(alphanumeric, 117);
        QVERIFY(lastCloses.size() > 100);
    }

    void codeListNamesAreDecoded() {
        const auto listings = portal::readCodeList(codeListPath());
        QVERIFY(listings.size() > 1000);
        // Names are Japanese text, not bytes taken as Latin-1.
        int japanese = 0;
        for (const auto& l : listings)
            japanese += std::any_of(l.name.begin(), l.name.end(),
                                    [](QChar c) { return c.unicode() >= 0x3000; });
        QVERIFY(japanese > listings.size() / 2);
    }
};

QTEST_MAIN(TestCharts)
#include "tst_charts.moc"
