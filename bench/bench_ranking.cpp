// A ranking over every listed code (the shipped code list, about 4,400 codes) x 250 trading days
// in a real store, each kind, against the floor of the store's bare read of the same rows: every
// code's stored days, read with nothing done to them. The goal is at most 0.5 s, and at most
// twice the floor.
#include "bench.h"
#include "timing.h"

#include "pages/router.h"
#include "prices/datastore.h"
#include "prices/marketdata.h"
#include "prices/ranking.h"
#include "store/pricestore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

using portal::store::DailyBar;
using portal::store::PriceStore;

constexpr int kDays = 250;
constexpr int kRuns = 5;

// A wandering price per code, so that every kind finds codes to rank.
DailyBar dayOf(const QDate& date, int code, int day) {
    const double level = 200.0 + (code * 7919 % 9000);
    // A drift of its own per code, so that some make new highs and some new lows.
    const double drift = 1.0 + 0.002 * day * (code % 5 - 2);
    const double p = std::round(
        level * drift *
        (1.0 + 0.15 * std::sin(day * 0.07 + code) + 0.05 * std::sin(day * 0.31 + code * 3)));
    DailyBar b;
    b.date = date;
    b.open = p;
    b.high = p + std::round(p * 0.02);
    b.low = p - std::round(p * 0.02);
    b.close = p + std::round(p * 0.01 * std::sin(day + code));
    b.volume = 1000 + (code * 31 + day * 17) % 500000;
    return b;
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The median wall time of a few runs after a warm one; cpuMs, when given, the median processor
// time of this thread, which a machine busy with other work inflates less.
double medianMs(const std::function<void()>& f, double* cpuMs = nullptr) {
    f(); // warm
    std::vector<double> ms, cpu;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        const double c0 = threadCpuMs();
        f();
        cpu.push_back(threadCpuMs() - c0);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    if (cpuMs)
        *cpuMs = median(cpu);
    return median(ms);
}

void run() {
    QTemporaryDir dir;
    const QString codeList = QStringLiteral("/銘柄コード一覧20060513.csv");
    QFile::copy(QCoreApplication::applicationDirPath() + codeList, dir.path() + codeList);
    const QVector<portal::Listing> listings = portal::readCodeList(dir.path() + codeList);
    if (listings.size() < 4000) {
        std::printf("no code list beside the program\n");
        return;
    }
    QVector<QDate> days;
    for (QDate d(2026, 12, 4); days.size() < kDays; d = d.addDays(-1)) {
        if (d.dayOfWeek() <= 5)
            days.prepend(d);
    }
    {
        auto store = portal::openDataStore(dir.path(), nullptr);
        for (int d = 0; d < days.size(); ++d) {
            PriceStore::Writer w(*store);
            for (int c = 0; c < listings.size(); ++c)
                w.put(listings[c].code, dayOf(days[d], c, d));
            w.commit();
        }
    }
    auto bare = PriceStore::open(PriceStore::pathIn(dir.path()), nullptr);
    qint64 rows = 0;
    double floorCpu = 0;
    const double floor = medianMs(
        [&] {
            rows = 0;
            for (const portal::Listing& l : listings)
                rows += bare->bars(l.code).size();
        },
        &floorCpu);
    report(QStringLiteral("bare read of every code's days (%1 codes, %2 bars)")
               .arg(listings.size())
               .arg(rows),
           floor, QStringLiteral("ms"));
    report(QStringLiteral("the same, processor time"), floorCpu, QStringLiteral("ms"));

    portal::MarketData data(dir.path(), days.last());
    for (const char* key : {"up", "down", "volume", "turnover", "high", "low", "golden"}) {
        const auto kind = portal::rankKindFromKey(QString::fromLatin1(key));
        int ranked = 0;
        double cpu = 0;
        const double ms = medianMs(
            [&] {
                ranked =
                    int(portal::rankCodes(data, *kind, QString(), 50, days.last()).rows.size());
            },
            &cpu);
        report(QStringLiteral("ranking %1 over every code (%2 listed)")
                   .arg(QString::fromLatin1(key))
                   .arg(ranked),
               ms, QStringLiteral("ms"), floor);
        report(QStringLiteral("ranking %1, processor time").arg(QString::fromLatin1(key)), cpu,
               QStringLiteral("ms"), floorCpu);
    }
    const portal::Faults none;
    const double route = medianMs([&] {
        portal::route(data, "GET", "/rank", "kind=golden&market=&n=4400&date=2026-12-04", none);
    });
    report(QStringLiteral("/rank answer, every code ranked and written as CSV"), route,
           QStringLiteral("ms"), floor);
}

} // namespace

static BenchRegistrar reg("ranking", run);
