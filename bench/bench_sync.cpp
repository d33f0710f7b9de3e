// Syncing from the exchange's data service, against its stand-in on loopback: a sync of 60 trading
// days of 4,400 codes at 600 requests a minute against the time that rate allows when the requests
// are spread evenly; storing one day's JSON answer against storing the same bars from memory; chart
// answers while a sync writes against answers without one.
#include "bench.h"
#include "timing.h"

#include "jquantsstandin.h"
#include "prices/marketdata.h"
#include "server/portalserver.h"
#include "store/pricestore.h"
#include "sync/pricesync.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

constexpr int kCodes = 4400;
constexpr int kRate = 600;

// The first day after `from` on which `count` trading days of the stand-in have passed.
QDate afterTradingDays(const standin::JQuantsStandIn& s, QDate from, int count) {
    QDate d = from;
    for (int n = 0;; d = d.addDays(1)) {
        if (s.tradingDay(d) && ++n == count)
            return d;
    }
}

standin::StandInOptions options(const QDate& first, const QDate& last) {
    standin::StandInOptions o = standin::usualOptions(kCodes, first, last);
    o.pageSize = 2500; // two pages a day
    o.limitPerMinute = kRate;
    return o;
}

portal::sync::SyncOptions syncOptions(const QString& dataDir, const standin::JQuantsStandIn& s) {
    portal::sync::SyncOptions o;
    o.dataDir = dataDir;
    o.apiBase = s.apiBase();
    o.key = s.options().key.toUtf8();
    o.from = s.options().first;
    o.to = s.options().last;
    o.today = QDate(2026, 12, 8);
    o.rate = kRate;
    return o;
}

size_t discard(char*, size_t size, size_t n, void*) {
    return size * n;
}

// Milliseconds of each chart answer, one code after the other over one connection.
std::vector<double> chartAnswers(quint16 port, int firstCode, int count) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const QString code = QString::number(firstCode + i);
        const QByteArray url = "http://127.0.0.1:" + QByteArray::number(port) +
                               "/z?s=" + code.toLatin1() + portal::suffixForCode(code).toLatin1() +
                               "&a=v&p=m25,m75,b,v&t=6m&l=off&z=m&q=c";
        curl_easy_setopt(curl, CURLOPT_URL, url.constData());
        QElapsedTimer t;
        t.start();
        curl_easy_perform(curl);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    curl_easy_cleanup(curl);
    return ms;
}

void run() {
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    const QDate first(2026, 1, 5);

    // The sync at the limit's pace.
    // Knows the calendar of a whole year: where a span of trading days ends.
    standin::JQuantsStandIn probe(options(first, first.addYears(1)));
    standin::JQuantsStandIn service(options(first, afterTradingDays(probe, first, 60)));
    if (!service.start())
        return;
    QElapsedTimer t;
    t.start();
    const portal::sync::SyncResult r = portal::sync::PriceSync(syncOptions(data, service)).run();
    const double seconds = double(t.elapsed()) / 1000.0;
    const auto log = service.requests();
    const auto tooMany =
        std::count_if(log.begin(), log.end(), [](const auto& q) { return q.status == 429; });
    std::printf("sync: %d days stored, %d requests, %d answers of 429\n", r.daysStored,
                int(log.size()), int(tooMany));
    report(QStringLiteral("sync of 60 days x 4,400 codes at %1 a minute").arg(kRate), seconds,
           QStringLiteral("s"), double(log.size()) * 60.0 / kRate);
    report(QStringLiteral("sync answers of 429"), double(tooMany), QString());

    // A day's answer as it comes, parsed and stored, against the same bars from memory.
    constexpr int kDays = 20;
    standin::StandInOptions big = options(first, afterTradingDays(probe, first, kDays));
    big.pageSize = kCodes + 10;
    big.limitPerMinute = 0;
    standin::JQuantsStandIn days(big);
    days.start();
    QList<QByteArray> bodies;
    {
        portal::sync::ServiceClient client(days.apiBase(), big.key.toUtf8());
        for (QDate d = big.first; d <= big.last; d = d.addDays(1)) {
            if (days.tradingDay(d))
                bodies.append(client
                                  .get(QStringLiteral("/equities/bars/daily"),
                                       {{QStringLiteral("date"), d.toString(Qt::ISODate)}})
                                  .body);
        }
    }
    QVector<QVector<portal::sync::BarsPage::CodeBar>> parsed;
    for (const QByteArray& b : bodies)
        parsed.append(portal::sync::readBarsPage(b).bars);
    // As a sync stores them: each code's source written the first day only.
    const auto storeAll = [&](const QString& folder, bool fromJson) {
        QSet<QString> sourced;
        QDir().mkpath(folder);
        const auto store =
            portal::store::PriceStore::open(portal::store::PriceStore::pathIn(folder), nullptr);
        QElapsedTimer timer;
        timer.start();
        for (qsizetype i = 0; i < bodies.size(); ++i) {
            if (fromJson)
                portal::sync::storeServiceBars(*store, portal::sync::readBarsPage(bodies[i]).bars,
                                               QStringLiteral("bench"), {}, &sourced);
            else
                portal::sync::storeServiceBars(*store, parsed[i], QStringLiteral("bench"), {},
                                               &sourced);
        }
        return double(timer.nsecsElapsed()) / 1e6 / double(bodies.size());
    };
    const double fromMemory = storeAll(dir.filePath(QStringLiteral("memory")), false);
    const double fromJson = storeAll(dir.filePath(QStringLiteral("json")), true);
    report(QStringLiteral("storing a day's answer of %1 codes, JSON parsed").arg(kCodes), fromJson,
           QStringLiteral("ms"), fromMemory);

    // Chart answers of codes not read before, without a sync and while one writes.
    portal::PortalServer portal({data, QDate(2026, 12, 4)});
    portal.start();
    const double quiet = median(chartAnswers(portal.port(), 1301, 200));
    const QDate next = service.options().last.addDays(1);
    standin::JQuantsStandIn later(options(next, afterTradingDays(probe, next, 60)));
    later.start();
    std::atomic<bool> stop{false};
    portal::sync::SyncOptions o = syncOptions(data, later);
    o.stop = &stop;
    std::thread writing([&o] { portal::sync::PriceSync(o).run(); });
    while (later.requests().size() < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double busy = median(chartAnswers(portal.port(), 2301, 200));
    const int commits = int(later.requests().size());
    stop = true;
    writing.join();
    std::printf("chart answers during a sync: %d requests of the sync meanwhile\n", commits);
    report(QStringLiteral("chart answer during a sync, median"), busy, QStringLiteral("ms"), quiet);
}

const BenchRegistrar registrar("sync", run);

} // namespace
