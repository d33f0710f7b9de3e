// Syncing prices from the exchange's data service, against the stand-in written from its
// documentation: what is stored, what a failure leaves, the pacing, resuming and the code list.
#include "base/codelistfile.h"
#include "jquantsstandin.h"
#include "pricefolder.h"
#include "sync/apikey.h"
#include "sync/pricesync.h"
#include "sync/ratelimiter.h"

#include <QSemaphore>
#include <QtTest>

#include <sys/stat.h>
#include <thread>

using portal::sync::DayReport;
using portal::sync::PriceSync;
using portal::sync::SyncOptions;
using portal::sync::SyncResult;
using standin::Fault;

namespace {

const QDate kFirst(2026, 1, 5); // a Monday
const QDate kLast(2026, 1, 30);
const QDate kHoliday(2026, 1, 14); // the usual set's holiday
const QDate kNoTrade(2026, 1, 15); // 1301 does not trade
const QDate kSplit(2026, 1, 16);   // 1305 splits two for one
constexpr int kTradingDays = 19;   // weekdays of the range, less the holiday
constexpr int kCodes = 13;         // 1301-1312 and 130A; the preferred share is left out

// Waits pass at once, and are written down: a minute's wait is checked without a minute.
class InstantClock : public portal::sync::SyncClock {
public:
    qint64 now = 1790000000000;
    QVector<qint64> waits;
    qint64 nowMs() override { return now; }
    bool waitUntil(qint64 ms) override {
        if (ms > now) {
            waits.append(ms - now);
            now = ms;
        }
        return true;
    }
};

// Holds every wait until let go: a sync that is known to be under way.
class HeldClock : public InstantClock {
public:
    QSemaphore entered, release;
    bool waitUntil(qint64 ms) override {
        entered.release();
        release.acquire();
        return InstantClock::waitUntil(ms);
    }
};

standin::StandInOptions usual() {
    auto o = standin::usualOptions(12, kFirst, kLast);
    o.pageSize = 5; // three pages a day
    return o;
}

QStringList barRequests(const standin::JQuantsStandIn& s) {
    QStringList out;
    for (const auto& r : s.requests()) {
        if (r.target.startsWith(QLatin1String("/v2/equities/bars/daily")))
            out.append(r.target);
    }
    return out;
}

} // namespace

class TestPriceSync : public QObject, PriceFolder {
    Q_OBJECT

    std::unique_ptr<standin::JQuantsStandIn> m_service;
    InstantClock m_clock;

    void startService(standin::StandInOptions o = usual()) {
        m_service = std::make_unique<standin::JQuantsStandIn>(std::move(o));
        QVERIFY(m_service->start());
    }

    SyncOptions options(const QDate& to = kLast) {
        SyncOptions o;
        o.dataDir = dataDir();
        o.apiBase = m_service->apiBase();
        o.key = m_service->options().key.toUtf8();
        o.from = kFirst;
        o.to = to;
        o.today = QDate(2026, 4, 30);
        o.rate = 60;
        o.clock = &m_clock;
        return o;
    }

    SyncResult sync(const SyncOptions& o, QVector<DayReport>* days = nullptr) {
        PriceSync s(o);
        s.onDay = [days](const DayReport& d) {
            if (days)
                days->append(d);
        };
        return s.run();
    }

    std::optional<portal::store::DailyBar> rawBar(const QString& code, const QDate& day) {
        const auto store = openStore();
        for (const auto& b : store->bars(code)) {
            if (b.date == day)
                return b;
        }
        return std::nullopt;
    }

private Q_SLOTS:
    void init() {
        renewFolder();
        m_clock = InstantClock();
    }

    void firstSyncStoresEveryTradingDay() {
        startService();
        QVector<DayReport> days;
        const SyncResult r = sync(options(), &days);
        QCOMPARE(r.outcome, SyncResult::Done);
        QCOMPARE(r.daysStored, kTradingDays);
        QCOMPARE(r.tooMany, 0);
        // Newest first, so the charts of recent days show soonest.
        QCOMPARE(days.first().day, kLast);
        QCOMPARE(days.last().done, kTradingDays);
        // Every page of every day, each carrying the key.
        QCOMPARE(barRequests(*m_service).size(), kTradingDays * 3);
        for (const auto& req : m_service->requests())
            QVERIFY2(req.keyGiven && req.status == 200, qPrintable(req.target));

        // The preferred share is counted and left out; 130A0 is 130A.
        QStringList codes = storedCodes();
        QCOMPARE(codes.size(), kCodes);
        QVERIFY(codes.contains(QStringLiteral("130A")));
        QVERIFY(!codes.contains(QStringLiteral("2593")));
        QCOMPARE(r.skippedRecords, kTradingDays);
        QVERIFY(!rawBar(QStringLiteral("1302"), kHoliday));

        // A day without trades is kept as such, and charts leave it out: never a price of zero.
        const auto quiet = rawBar(QStringLiteral("1301"), kNoTrade);
        QVERIFY(quiet && !quiet->traded() && !quiet->volume);
        const portal::History h = storedBars(QStringLiteral("1301"));
        QCOMPARE(h.size(), kTradingDays - 1);
        for (const auto& b : h)
            QVERIFY(b.low > 0);
        QCOMPARE(h.sourceKind, QStringLiteral("jquants"));

        // Unadjusted prices are stored; the charts draw adjusted ones, so a split is no fall.
        const auto before = rawBar(QStringLiteral("1305"), kSplit.addDays(-1));
        const auto after = rawBar(QStringLiteral("1305"), kSplit);
        QVERIFY(before && after);
        QCOMPARE(after->adjustment, 0.5);
        QVERIFY(*after->close < *before->close * 0.7);
        const portal::History split = storedBars(QStringLiteral("1305"));
        for (qsizetype i = 1; i < split.size(); ++i)
            QVERIFY2(split[i].close / split[i - 1].close > 0.7,
                     qPrintable(split[i].date.toString()));
    }

    void codeListFromTheListing() {
        startService();
        // A link to the list shipped beside the program, as the viewer's first start makes.
        const QString shipped = folderPath(QStringLiteral("shipped.csv"));
        QVERIFY(testing::writeBytes(shipped, "1301,old,old\r\n"));
        const QString list =
            dataDir() + QLatin1Char('/') + QString::fromUtf8(base::kCodeListFileName);
        QVERIFY(QFile::link(shipped, list));

        const SyncResult r = sync(options());
        QVERIFY(r.codeListWritten);
        QVERIFY(!QFileInfo(list).isSymLink());
        QCOMPARE(testing::fileBytes(shipped), QByteArray("1301,old,old\r\n"));
        const QByteArray bytes = testing::fileBytes(list);
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count("\r\n"), bytes.count('\n'));
        const QStringList lines = base::readCodeListLines(list);
        QCOMPARE(lines.size(), kCodes);
        QCOMPARE(lines.first(), QStringLiteral("1301,銘柄1301,プライム"));
        // In code order, the alphanumeric code between its neighbours; commas in names made safe.
        QCOMPARE(lines.indexOf(QStringLiteral("130A,ｉシェアーズ，テスト,その他")), 9);
        QCOMPARE(lines[8].left(4), QStringLiteral("1309"));
        QCOMPARE(lines[10].left(4), QStringLiteral("1310"));

        // Once a day is enough.
        m_service->clearRequests();
        sync(options());
        for (const auto& req : m_service->requests())
            QVERIFY(!req.target.startsWith(QLatin1String("/v2/equities/master")));
    }

    void failedDayIsFetchedAgain_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("HTML with status 200") << int(Fault::Html);
        QTest::newRow("JSON cut short") << int(Fault::Truncated);
        QTest::newRow("no data") << int(Fault::NoData);
        QTest::newRow("status 500") << int(Fault::ServerError);
    }
    void failedDayIsFetchedAgain() {
        QFETCH(int, kind);
        startService();
        const QDate bad(2026, 1, 21);
        // A price stored before: a failed day must leave it as it is.
        store(QStringLiteral("1301"), "Date,Open,High,Low,Close,Volume\n"
                                      "2026-01-21,999,999,999,999,100\n");
        m_service->failDay(bad, {Fault::Kind(kind), 1, -1});
        const SyncResult first = sync(options());
        QCOMPARE(first.outcome, SyncResult::SomeFailed);
        QCOMPARE(first.daysFailed, 1);
        QCOMPARE(first.daysStored, kTradingDays - 1);
        QCOMPARE(*rawBar(QStringLiteral("1301"), bad)->close, 999.0);
        QVERIFY(!rawBar(QStringLiteral("1302"), bad));
        QVERIFY(rawBar(QStringLiteral("1302"), bad.addDays(1)));

        m_service->clearRequests();
        const SyncResult second = sync(options());
        QCOMPARE(second.outcome, SyncResult::Done);
        QCOMPARE(second.daysStored, 1);
        const QStringList asked = barRequests(*m_service);
        QCOMPARE(asked.size(), 3);
        for (const QString& t : asked)
            QVERIFY2(t.contains(QLatin1String("date=20260121")), qPrintable(t));
        QVERIFY(*rawBar(QStringLiteral("1301"), bad)->close != 999.0);
    }

    void refusalStopsTheSync_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("wrongKey");
        QTest::newRow("401") << int(Fault::Unauthorized) << false;
        QTest::newRow("403 outside the plan") << int(Fault::Forbidden) << false;
        QTest::newRow("a key the service does not know") << -1 << true;
    }
    void refusalStopsTheSync() {
        QFETCH(int, kind);
        QFETCH(bool, wrongKey);
        startService();
        if (kind >= 0)
            m_service->failDay(QDate(2026, 1, 28), {Fault::Kind(kind), 100, -1});
        SyncOptions o = options();
        if (wrongKey)
            o.key = "not-the-key";
        const SyncResult r = sync(o);
        QCOMPARE(r.outcome, SyncResult::Refused);
        QVERIFY2(r.message.contains(QStringLiteral("API キー")) &&
                     r.message.contains(QStringLiteral("プラン")),
                 qPrintable(r.message));
        QVERIFY(!r.message.contains(QString::fromUtf8(o.key)));
        // Nothing more is asked once refused.
        const auto log = m_service->requests();
        QVERIFY(log.last().status == 401 || log.last().status == 403);
        QCOMPARE(r.daysStored, wrongKey ? 0 : 2);
        const auto store = openStore();
        QVERIFY(store->state(QStringLiteral("jquants.result")).startsWith(QStringLiteral("失敗")));
    }

    void tooManyRequestsWaits_data() {
        QTest::addColumn<int>("retryAfter");
        QTest::addColumn<qint64>("atLeastMs");
        QTest::newRow("no Retry-After") << -1 << qint64(60000);
        QTest::newRow("a shorter one") << 5 << qint64(60000);
        QTest::newRow("a longer one") << 90 << qint64(90000);
    }
    void tooManyRequestsWaits() {
        QFETCH(int, retryAfter);
        QFETCH(qint64, atLeastMs);
        startService();
        m_service->failDay(QDate(2026, 1, 29), {Fault::TooMany, 1, retryAfter});
        const SyncResult r = sync(options());
        QCOMPARE(r.outcome, SyncResult::Done);
        QCOMPARE(r.tooMany, 1);
        QCOMPARE(r.daysStored, kTradingDays);
        QVERIFY(*std::max_element(m_clock.waits.begin(), m_clock.waits.end()) >= atLeastMs);
    }

    void paceStaysWithinTheLimit_data() {
        QTest::addColumn<int>("perMinute");
        QTest::newRow("free") << 5;
        QTest::newRow("light") << 60;
        QTest::newRow("premium") << 500;
        QTest::newRow("odd") << 7;
    }
    void paceStaysWithinTheLimit() {
        QFETCH(int, perMinute);
        InstantClock clock;
        // The requests of an earlier run in the last minute count too.
        portal::sync::RateLimiter earlier(perMinute, clock);
        for (int i = 0; i < perMinute; ++i)
            QVERIFY(earlier.acquire());
        portal::sync::RateLimiter limiter(perMinute, clock);
        limiter.seed(earlier.recent());
        QVector<qint64> sent = earlier.recent();
        for (int i = 0; i < 3 * perMinute; ++i) {
            QVERIFY(limiter.acquire());
            sent.append(clock.now);
        }
        for (qsizetype i = 0; i < sent.size(); ++i) {
            const auto inWindow = std::count_if(sent.begin() + i, sent.end(), [&](qint64 t) {
                return t < sent[i] + portal::sync::RateLimiter::kWindowMs;
            });
            QVERIFY2(inWindow <= perMinute, qPrintable(QString::number(i)));
            // Spread evenly, no bursts.
            if (i > 0)
                QVERIFY(sent[i] - sent[i - 1] >= 60000 / perMinute);
        }
        // Yet not much slower than the limit allows.
        QVERIFY(sent.last() - sent.first() <= qint64(sent.size()) * 60000 / perMinute * 11 / 10);
    }

    void interruptedSyncResumes() {
        startService();
        std::atomic<bool> stop{false};
        SyncOptions o = options();
        o.stop = &stop;
        PriceSync first(o);
        first.onDay = [&stop](const DayReport& d) {
            if (d.done == 5)
                stop = true;
        };
        const SyncResult r = first.run();
        QCOMPARE(r.outcome, SyncResult::Stopped);
        QCOMPARE(r.daysStored, 5);
        QVERIFY(!portal::sync::syncRunning(dataDir()));

        m_service->clearRequests();
        const SyncResult rest = sync(options());
        QCOMPARE(rest.outcome, SyncResult::Done);
        QCOMPARE(rest.daysStored, kTradingDays - 5);
        // No day asked twice, none missing.
        for (const QString& t : barRequests(*m_service)) {
            for (const QDate& d : {QDate(2026, 1, 30), QDate(2026, 1, 26)})
                QVERIFY(!t.contains(d.toString(QStringLiteral("yyyyMMdd"))));
        }
        const auto store = openStore();
        QCOMPARE(store->bars(QStringLiteral("1302")).size(), kTradingDays);
        QCOMPARE(store->barCount(), qint64(kTradingDays * kCodes));
    }

    void splitFetchesTheHistoryAgain() {
        startService();
        QCOMPARE(sync(options(kSplit.addDays(-1))).outcome, SyncResult::Done);
        m_service->clearRequests();
        const SyncResult r = sync(options());
        QCOMPARE(r.refetched, 1);
        // Its history comes by code, every page of it (19 days, five a page).
        QCOMPARE(barRequests(*m_service).filter(QStringLiteral("code=1305")).size(), 4);
        QCOMPARE(openStore()->state(QStringLiteral("jquants.refetch")), QString());
        QCOMPARE(storedBars(QStringLiteral("1305")).size(), kTradingDays);
    }

    void oneSyncAtATime() {
        startService();
        HeldClock held;
        SyncOptions o = options();
        o.clock = &held;
        SyncResult firstResult;
        std::thread first([&] { firstResult = sync(o); });
        held.entered.acquire();
        QVERIFY(portal::sync::syncRunning(dataDir()));
        const SyncResult second = sync(options());
        QCOMPARE(second.outcome, SyncResult::Busy);
        QVERIFY(second.message.contains(QStringLiteral("実行中")));
        QCOMPARE(second.requests, 0);
        held.release.release(1000);
        first.join();
        QCOMPARE(firstResult.outcome, SyncResult::Done);
        QVERIFY(!portal::sync::syncRunning(dataDir()));
    }

    void keyFile_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("error");
        QTest::newRow("owner only") << 0600 << QByteArray() << QByteArray("file-key") << QString();
        QTest::newRow("group can read")
            << 0640 << QByteArray() << QByteArray() << QStringLiteral("chmod 600");
        QTest::newRow("anyone can read")
            << 0644 << QByteArray() << QByteArray() << QStringLiteral("chmod 600");
        QTest::newRow("environment first")
            << 0644 << QByteArray(" env-key\n") << QByteArray("env-key") << QString();
    }
    void keyFile() {
        QFETCH(int, mode);
        QFETCH(QByteArray, environment);
        QFETCH(QByteArray, key);
        QFETCH(QString, error);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(folderPath(QStringLiteral("config"))));
        qputenv("JQUANTS_API_KEY", environment);
        const QString path = portal::sync::keyFilePath();
        QCOMPARE(path, folderPath(QStringLiteral("config/quorvix/jquants.key")));
        QCOMPARE(portal::sync::writeKeyFile("file-key"), QString());
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
        const auto found = portal::sync::findKey();
        qunsetenv("JQUANTS_API_KEY");
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(found.key, key);
        QVERIFY2(error.isEmpty() ? found.error.isEmpty() : found.error.contains(error),
                 qPrintable(found.error));
    }

    void keyFileReplacesALink() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(folderPath(QStringLiteral("config"))));
        const QString path = portal::sync::keyFilePath();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        const QString elsewhere = folderPath(QStringLiteral("elsewhere"));
        QVERIFY(testing::writeBytes(elsewhere, "untouched"));
        QVERIFY(QFile::link(elsewhere, path));
        QCOMPARE(portal::sync::writeKeyFile("new-key"), QString());
        qunsetenv("XDG_CONFIG_HOME");
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(testing::fileBytes(elsewhere), QByteArray("untouched"));
        QCOMPARE(testing::fileBytes(path), QByteArray("new-key\n"));
    }
};

QTEST_GUILESS_MAIN(TestPriceSync)
#include "tst_pricesync.moc"
