// Real prices: importing a twelve-year daily file against reading it, and a chart drawn from
// imported prices against the same chart from invented prices.
#include "bench.h"
#include "timing.h"

#include "charts/chartrenderer.h"
#include "charts/gifencoder.h"
#include "prices/datastore.h"
#include "prices/marketdata.h"
#include "prices/pricecsv.h"
#include "prices/priceimport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>

namespace {

// Twelve years of a code's prices as a Japanese export writes them: quoted fields, thousands
// separators, turnover and adjusted close.
QByteArray japaneseExport(const portal::History& h) {
    const QLocale english(QLocale::English);
    QString s =
        QStringLiteral("\"日付\",\"始値\",\"高値\",\"安値\",\"終値\",\"出来高\",\"売買代金\","
                       "\"調整後終値\"\r\n");
    for (const portal::Bar& b : h) {
        s += QStringLiteral("\"%1\",\"%2\",\"%3\",\"%4\",\"%5\",\"%6\",\"%7\",\"%5\"\r\n")
                 .arg(b.date.toString(QStringLiteral("yyyy/MM/dd")), english.toString(b.open),
                      english.toString(b.high), english.toString(b.low), english.toString(b.close),
                      english.toString(b.volume), english.toString(qint64(b.volume * b.close)));
    }
    return s.toUtf8();
}

void run() {
    const QString bin = QCoreApplication::applicationDirPath();
    const QDate asOf(2026, 12, 4);
    QTemporaryDir dir;
    QFile::copy(bin + QStringLiteral("/銘柄コード一覧20060513.csv"),
                dir.filePath(QStringLiteral("銘柄コード一覧20060513.csv")));
    portal::MarketData synthetic(dir.path(), asOf);
    if (synthetic.listings().size() < 2) {
        std::printf("no code list beside the program in %s\n", qPrintable(bin));
        return;
    }
    const portal::Listing listing = synthetic.listings().at(1);
    const auto invented = synthetic.history(listing.code);

    const QString input = dir.filePath(listing.code + QStringLiteral("_daily.csv"));
    {
        QFile f(input);
        f.open(QIODevice::WriteOnly);
        f.write(japaneseExport(*invented));
    }
    const double readMs = msPerCall([&] {
        QFile f(input);
        f.open(QIODevice::ReadOnly);
        f.readAll();
    });
    QString sink;
    QTextStream out(&sink), err(&sink);
    const auto store = portal::openDataStore(dir.path(), nullptr);
    portal::ImportOptions options;
    options.store = store.get();
    // Every run after the first writes all ~3,100 days again in one transaction: parse, compare
    // with what is stored, commit.
    const double importMs = msPerCall([&] {
        sink.clear();
        portal::importFile(input, options, out, err);
    });
    report(QStringLiteral("import of a twelve-year daily file (%1 rows, %2 KiB)")
               .arg(invented->size())
               .arg(QFileInfo(input).size() / 1024),
           importMs, QStringLiteral("ms"), readMs);

    portal::MarketData real(dir.path(), asOf);
    const auto imported = real.history(listing.code);
    if (!imported || imported->sample || imported->size() != invented->size()) {
        std::printf("import did not give the same days: %s\n", qPrintable(sink));
        return;
    }
    const auto all =
        portal::parseOverlays(QStringLiteral("m25,m75,m65,m130,m260,e25,e75,e65,e130,e260,b,p,v"));
    // As the portal serves it: the history looked up (one question to the store), drawn, encoded.
    auto chartFrom = [&](const portal::MarketData& data) {
        return [&] {
            portal::encodeGif(portal::renderTechnicalChart(listing, *data.history(listing.code),
                                                           portal::Term::TenYears, all));
        };
    };
    QTemporaryDir empty;
    QFile::copy(bin + QStringLiteral("/銘柄コード一覧20060513.csv"),
                empty.filePath(QStringLiteral("銘柄コード一覧20060513.csv")));
    portal::MarketData inventedOnly(empty.path(), asOf);
    const double inventedMs = msPerCall(chartFrom(inventedOnly));
    const double importedMs = msPerCall(chartFrom(real));
    report(QStringLiteral("10y chart, 13 tokens, from an imported file"), importedMs,
           QStringLiteral("ms"), inventedMs);
}

static BenchRegistrar reg("import", run);

} // namespace
