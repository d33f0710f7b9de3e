// The price database: a trading day of every code stored against a bare prepared-statement loop;
// a ten-year chart with a cold cache against a warm one; the ranking read of one day across every
// code against the bare SQL of it; the bytes a daily bar takes on disk; the peak memory of
// importing a 50 MB file against the portal's idle size.
#include "bench.h"
#include "timing.h"

#include "charts/chartrenderer.h"
#include "charts/gifencoder.h"
#include "prices/datastore.h"
#include "prices/marketdata.h"
#include "store/pricestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cmath>
#include <cstdio>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using portal::store::DailyBar;
using portal::store::PriceStore;

constexpr int kCodes = 4400;

QStringList inventedCodes() {
    QStringList codes;
    for (int i = 0; i < kCodes; ++i)
        codes << QString::number(1300 + i * 2);
    return codes;
}

// A plausible day of one code: prices on whole yen, a volume, a turnover.
DailyBar inventedBar(const QDate& date, int codeIndex, int dayIndex) {
    const double level = 200.0 + (codeIndex * 7919 % 9000);
    const double p = std::round(level * (1.0 + 0.1 * std::sin(dayIndex * 0.05 + codeIndex)));
    DailyBar b;
    b.date = date;
    b.open = p;
    b.high = p + std::round(p * 0.02);
    b.low = p - std::round(p * 0.02);
    b.close = p + std::round(p * 0.01);
    b.volume = 1000 + (codeIndex * 31 + dayIndex * 17) % 500000;
    b.turnover = qint64(*b.volume * p);
    return b;
}

// The trading days (weekdays) of about `years` years up to 2026-12-04.
QVector<QDate> tradingDays(int count) {
    QVector<QDate> days;
    for (QDate d(2026, 12, 4); days.size() < count; d = d.addDays(-1)) {
        if (d.dayOfWeek() <= 5)
            days.prepend(d);
    }
    return days;
}

sqlite3* openBare(const QString& path) {
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
                 "CREATE TABLE IF NOT EXISTS bars (code TEXT NOT NULL, day INTEGER NOT NULL, "
                 "open INTEGER, high INTEGER, low INTEGER, close INTEGER, volume INTEGER, "
                 "turnover INTEGER, adjustment REAL, PRIMARY KEY (code, day)) WITHOUT ROWID",
                 nullptr, nullptr, nullptr);
    return db;
}

// The floor: the same rows through one prepared INSERT in one transaction, nothing else.
void bareInsertDay(sqlite3* db, const QStringList& codes, const QDate& date, int dayIndex) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO bars VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, NULL)", -1, &s,
                       nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    const int day = date.year() * 10000 + date.month() * 100 + date.day();
    for (int i = 0; i < codes.size(); ++i) {
        const DailyBar b = inventedBar(date, i, dayIndex);
        const QByteArray code = codes[i].toLatin1();
        sqlite3_bind_text(s, 1, code.constData(), int(code.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(s, 2, day);
        sqlite3_bind_int64(s, 3, std::llround(*b.open * 10));
        sqlite3_bind_int64(s, 4, std::llround(*b.high * 10));
        sqlite3_bind_int64(s, 5, std::llround(*b.low * 10));
        sqlite3_bind_int64(s, 6, std::llround(*b.close * 10));
        sqlite3_bind_int64(s, 7, *b.volume);
        sqlite3_bind_int64(s, 8, *b.turnover);
        sqlite3_step(s);
        sqlite3_reset(s);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(s);
}

void storeDay(PriceStore& store, const QStringList& codes, const QDate& date, int dayIndex) {
    PriceStore::Writer w(store);
    for (int i = 0; i < codes.size(); ++i)
        w.put(codes[i], inventedBar(date, i, dayIndex));
    w.commit();
}

double msOf(const std::function<void()>& f) {
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e6;
}

void oneDayOfEveryCode(const QString& folder) {
    const QStringList codes = inventedCodes();
    const QVector<QDate> days = tradingDays(40);
    auto store = PriceStore::open(folder + QStringLiteral("/ours.sqlite"), nullptr);
    sqlite3* bare = openBare(folder + QStringLiteral("/bare.sqlite"));
    // Twenty days stored first, so that a day is added to a table that already has rows of every
    // code, as a daily sync adds it.
    for (int d = 0; d < 20; ++d) {
        storeDay(*store, codes, days[d], d);
        bareInsertDay(bare, codes, days[d], d);
    }
    std::vector<double> ours, floor;
    for (int d = 20; d < days.size(); ++d) {
        ours.push_back(msOf([&] { storeDay(*store, codes, days[d], d); }));
        floor.push_back(msOf([&] { bareInsertDay(bare, codes, days[d], d); }));
    }
    report(QStringLiteral("one trading day of %1 codes stored in one transaction").arg(kCodes),
           median(ours), QStringLiteral("ms"), median(floor));

    // The ranking read: every code's bar of one day.
    const QDate day = days[30];
    const QByteArray sql = "WITH RECURSIVE c(code) AS (SELECT min(code) FROM bars UNION ALL "
                           "SELECT (SELECT min(code) FROM bars WHERE code > c.code) FROM c WHERE "
                           "c.code IS NOT NULL) SELECT b.code, b.open, b.high, b.low, b.close, "
                           "b.volume, b.turnover, b.adjustment FROM c JOIN bars b ON b.code = "
                           "c.code AND b.day = ?1 ORDER BY b.code";
    sqlite3_stmt* scan = nullptr;
    sqlite3_prepare_v2(bare, sql.constData(), -1, &scan, nullptr);
    const int dayNumber = day.year() * 10000 + day.month() * 100 + day.day();
    qint64 rows = 0;
    const double bareMs = msPerCall([&] {
        sqlite3_bind_int(scan, 1, dayNumber);
        rows = 0;
        while (sqlite3_step(scan) == SQLITE_ROW) {
            for (int c = 0; c < 8; ++c)
                rows += sqlite3_column_type(scan, c) != SQLITE_NULL;
        }
        sqlite3_reset(scan);
    });
    sqlite3_finalize(scan);
    int read = 0;
    const double oursMs = msPerCall([&] { read = int(store->day(day).size()); });
    report(QStringLiteral("one day across every code read (%1 bars, the ranking read)").arg(read),
           oursMs, QStringLiteral("ms"), bareMs);
    sqlite3_close(bare);
}

void tenYearChart(const QString& folder) {
    QDir().mkpath(folder);
    const QString bin = QCoreApplication::applicationDirPath();
    QFile::copy(bin + QStringLiteral("/銘柄コード一覧20060513.csv"),
                folder + QStringLiteral("/銘柄コード一覧20060513.csv"));
    const QVector<portal::Listing> listings =
        portal::readCodeList(folder + QStringLiteral("/銘柄コード一覧20060513.csv"));
    if (listings.size() < 60) {
        std::printf("no code list beside the program in %s\n", qPrintable(bin));
        return;
    }
    const QVector<QDate> days = tradingDays(2450);
    {
        auto store = portal::openDataStore(folder, nullptr);
        for (int c = 0; c < 60; ++c) {
            PriceStore::Writer w(*store);
            for (int d = 0; d < days.size(); ++d)
                w.put(listings[c].code, inventedBar(days[d], c, d));
            w.commit();
        }
    }
    const auto all =
        portal::parseOverlays(QStringLiteral("m25,m75,m65,m130,m260,e25,e75,e65,e130,e260,b,p,v"));
    portal::MarketData data(folder, QDate(2026, 12, 4), 16);
    auto chart = [&](int c) {
        portal::encodeGif(portal::renderTechnicalChart(listings[c], *data.history(listings[c].code),
                                                       portal::Term::TenYears, all));
    };
    // Sixty codes through a cache of sixteen: every first request of a round reads the store.
    std::vector<double> cold, warm;
    for (int round = 0; round < 3; ++round) {
        for (int c = 0; c < 60; ++c) {
            cold.push_back(msOf([&] { chart(c); }));
            warm.push_back(msOf([&] { chart(c); }));
        }
    }
    report(QStringLiteral("10y chart, 13 tokens, cold cache (read from the store)"), median(cold),
           QStringLiteral("ms"), median(warm));
}

void bytesPerBar(const QString& folder) {
    const QStringList codes = inventedCodes();
    const QVector<QDate> days = tradingDays(2450);
    const QString path = folder + QStringLiteral("/ten-years.sqlite");
    {
        auto store = PriceStore::open(path, nullptr);
        // Code by code, as an import or the move-in of old files writes.
        for (int c = 0; c < codes.size(); ++c) {
            PriceStore::Writer w(*store);
            for (int d = 0; d < days.size(); ++d)
                w.put(codes[c], inventedBar(days[d], c, d));
            w.commit();
        }
    }
    const qint64 bars = qint64(codes.size()) * days.size();
    report(QStringLiteral("bytes on disk per daily bar, %1 codes x %2 days, written code by code")
               .arg(kCodes)
               .arg(days.size()),
           double(QFileInfo(path).size()) / double(bars), QStringLiteral("bytes"));

    // Day by day, as a sync writes: each code's pages are split as they fill, so they are
    // fuller or emptier than when written in key order. A tenth of the codes gives the same
    // proportion in a tenth of the time.
    const QString byDay = folder + QStringLiteral("/by-day.sqlite");
    const QStringList some = codes.mid(0, kCodes / 10);
    {
        auto store = PriceStore::open(byDay, nullptr);
        for (int d = 0; d < days.size(); ++d) {
            PriceStore::Writer w(*store);
            for (int c = 0; c < some.size(); ++c)
                w.put(some[c], inventedBar(days[d], c, d));
            w.commit();
        }
    }
    report(QStringLiteral("bytes on disk per daily bar, %1 codes x %2 days, written day by day")
               .arg(some.size())
               .arg(days.size()),
           double(QFileInfo(byDay).size()) / double(qint64(some.size()) * days.size()),
           QStringLiteral("bytes"));
}

// The resident size of a process in KiB, from /proc.
qint64 residentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

void importMemory(const QString& folder) {
    const QString program =
        QCoreApplication::applicationDirPath() + QStringLiteral("/quote-portal");
    QDir().mkpath(folder);
    // Fifty megabytes of a daily file: seventy years of days, every row written over and over,
    // as a file appended to by a script that ran too often.
    const QString input = folder + QStringLiteral("/7203.csv");
    {
        QFile f(input);
        f.open(QIODevice::WriteOnly);
        f.write("Date,Open,High,Low,Close,Volume\n");
        QByteArray block;
        const QVector<QDate> days = tradingDays(18000);
        for (int d = 0; d < days.size(); ++d) {
            const DailyBar b = inventedBar(days[d], 7, d);
            block += days[d].toString(Qt::ISODate).toLatin1() + ',' + QByteArray::number(*b.open) +
                     ',' + QByteArray::number(*b.high) + ',' + QByteArray::number(*b.low) + ',' +
                     QByteArray::number(*b.close) + ',' + QByteArray::number(*b.volume) + '\n';
        }
        while (f.size() < 50 * 1024 * 1024)
            f.write(block);
    }
    const QString data = folder + QStringLiteral("/data");
    QDir().mkpath(data);
    QFile::copy(QCoreApplication::applicationDirPath() +
                    QStringLiteral("/銘柄コード一覧20060513.csv"),
                data + QStringLiteral("/銘柄コード一覧20060513.csv"));

    QProcess idle;
    idle.start(program, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                         QStringLiteral("--data"), data});
    idle.waitForReadyRead(30000);
    const qint64 idleKiB = residentKiB(idle.processId());
    idle.terminate();
    idle.waitForFinished(10000);

    // The import's peak, from the kernel's count for a child that has ended.
    const pid_t child = ::fork();
    if (child == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        const QByteArray p = QFile::encodeName(program), d = QFile::encodeName(data),
                         i = QFile::encodeName(input);
        ::execl(p.constData(), p.constData(), "import", "--data", d.constData(), i.constData(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double peakMiB = double(usage.ru_maxrss) / 1024.0;
    report(QStringLiteral("import of a %1 MB daily file: peak memory above the idle portal "
                          "(%2 MiB), exit %3")
               .arg(QFileInfo(input).size() / 1000000)
               .arg(double(idleKiB) / 1024.0, 0, 'f', 1)
               .arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1),
           peakMiB - double(idleKiB) / 1024.0, QStringLiteral("MiB"));
}

void run() {
    QTemporaryDir dir;
    oneDayOfEveryCode(dir.path());
    tenYearChart(dir.filePath(QStringLiteral("chart")));
    importMemory(dir.filePath(QStringLiteral("import")));
    bytesPerBar(dir.path());
}

static BenchRegistrar reg("store", run);

} // namespace
