// The sync as a user meets it: `quote-portal key set`, `sync` and `status` as programs, the
// summary page telling where a price came from, and the running portal keeping itself current.
#include "base/codelistfile.h"
#include "jquantsstandin.h"
#include "portalclient.h"
#include "pricefolder.h"
#include "sync/backgroundsync.h"
#include "sync/pricesync.h"

#include <QSemaphore>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <thread>

namespace {

const QDate kFirst(2026, 1, 5);
const QDate kLast(2026, 1, 30);
constexpr int kTradingDays = 19;

// Holds the sync's first wait until let go: a sync known to be under way.
class HeldClock : public portal::sync::SyncClock {
public:
    QSemaphore entered, release;
    qint64 nowMs() override { return 1790000000000; }
    bool waitUntil(qint64) override {
        entered.release();
        release.acquire();
        return true;
    }
};

} // namespace

class TestSyncCommand : public QObject, PriceFolder {
    Q_OBJECT

    std::unique_ptr<standin::JQuantsStandIn> m_service;

    QByteArray key() const { return m_service->options().key.toUtf8(); }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("JQUANTS_API_KEY"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), folderPath(QStringLiteral("config")));
        return env;
    }

    CommandRun run(const QStringList& args, const QByteArray& input = {},
                   const QProcessEnvironment& env = {}) {
        QProcess p;
        p.setProcessEnvironment(env.isEmpty() ? environment() : env);
        p.start(programPath(), args);
        CommandRun r;
        if (!p.waitForStarted(10000))
            return r;
        // The key never reaches the arguments, where every user of the machine can read them.
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(p.processId()));
        if (cmdline.open(QIODevice::ReadOnly))
            m_cmdlines += cmdline.readAll();
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(120000))
            return r;
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    QStringList syncArgs() const {
        return {
            QStringLiteral("sync"),       QStringLiteral("--data"),  dataDir(),
            QStringLiteral("--api-base"), m_service->apiBase(),      QStringLiteral("--rate"),
            QStringLiteral("6000"),       QStringLiteral("--from"),  QStringLiteral("2026-01-05"),
            QStringLiteral("--to"),       QStringLiteral("20260130")};
    }

    QByteArray m_cmdlines;

private Q_SLOTS:
    void init() {
        renewFolder();
        m_cmdlines.clear();
        m_service =
            std::make_unique<standin::JQuantsStandIn>(standin::usualOptions(12, kFirst, kLast));
        QVERIFY(m_service->start());
    }

    void keySetSyncAndStatus() {
        const CommandRun set =
            run({QStringLiteral("key"), QStringLiteral("set"), QStringLiteral("--data"), dataDir()},
                key() + "\n");
        QCOMPARE(set.status, 0);
        const QString keyFile = folderPath(QStringLiteral("config/quorvix/jquants.key"));
        QVERIFY(set.out.contains(keyFile));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(keyFile).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        const QSettings ini(dataDir() + QStringLiteral("/quote-portal.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("jquants/sync")).toString(), QStringLiteral("true"));
        QCOMPARE(ini.value(QStringLiteral("jquants/plan")).toString(), QStringLiteral("free"));

        const CommandRun sync = run(syncArgs());
        QCOMPARE(sync.status, 0);
        // Off a terminal, one line a day, newest first, and a summary.
        const QStringList lines = sync.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= kTradingDays + 1, qPrintable(sync.out));
        QCOMPARE(lines.filter(QStringLiteral("/19 13 銘柄")).size(), kTradingDays);
        QVERIFY(lines.filter(QStringLiteral("/19 13 銘柄"))
                    .first()
                    .startsWith(QStringLiteral("2026/01/30 1/19")));
        QVERIFY(lines.last().contains(QStringLiteral("保存 19 日")));

        const CommandRun status =
            run({QStringLiteral("status"), QStringLiteral("--data"), dataDir()});
        QCOMPARE(status.status, 0);
        QVERIFY2(status.out.contains(QStringLiteral("実際の株価のある銘柄: 13（J-Quants 13）")),
                 qPrintable(status.out));
        QVERIFY(status.out.contains(QStringLiteral("最新の日: 2026/01/30")));
        QVERIFY(
            status.out.contains(QStringLiteral("J-Quants（Free：12週遅れ） 成功（19 日を保存）")));
        QVERIFY(status.out.contains(QStringLiteral("ポータルの自動同期: する（Free）")));

        for (const CommandRun& r : {set, sync, status})
            QVERIFY(!(r.out + r.err).contains(QString::fromUtf8(key())));
        QVERIFY(!m_cmdlines.contains(key()));
    }

    // Killed outright in the middle, the next sync goes on: no day missing, none twice.
    void killedSyncResumes() {
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("JQUANTS_API_KEY"), QString::fromUtf8(key()));
        QStringList args = syncArgs();
        args[args.indexOf(QStringLiteral("6000"))] = QStringLiteral("600");
        QProcess first;
        first.setProcessEnvironment(env);
        first.start(programPath(), args);
        QVERIFY(first.waitForStarted(10000));
        int days = 0;
        while (days < 3) {
            QVERIFY(first.waitForReadyRead(30000));
            while (first.canReadLine())
                days += first.readLine().contains("/19 13 ") ? 1 : 0;
        }
        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(10000));

        const CommandRun rest = run(syncArgs(), {}, env);
        QCOMPARE(rest.status, 0);
        const int stored = int(rest.out.split(QLatin1Char('\n'))
                                   .filter(QStringLiteral(" 13 銘柄"))
                                   .filter(QStringLiteral("/"))
                                   .size());
        QVERIFY2(stored >= 1 && stored <= kTradingDays - 3, qPrintable(rest.out));
        const auto store = openStore();
        QCOMPARE(store->barCount(), qint64(kTradingDays * 13));
        QCOMPARE(store->bars(QStringLiteral("1312")).size(), kTradingDays);
    }

    void refusedBeforeAnyRequest_data() {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<bool>("withKey");
        QTest::addColumn<QString>("message");
        QTest::newRow("no key") << QStringList() << false << QStringLiteral("key set");
        QTest::newRow("unknown plan")
            << QStringList{QStringLiteral("--plan"), QStringLiteral("gold")} << true
            << QStringLiteral("--plan");
        QTest::newRow("rate of nothing")
            << QStringList{QStringLiteral("--rate"), QStringLiteral("0")} << true
            << QStringLiteral("--rate");
        QTest::newRow("no date") << QStringList{QStringLiteral("--from"),
                                                QStringLiteral("2026-13-01")}
                                 << true << QStringLiteral("--from");
        QTest::newRow("no address")
            << QStringList{QStringLiteral("--api-base"), QStringLiteral("ftp://x")} << true
            << QStringLiteral("--api-base");
    }
    void refusedBeforeAnyRequest() {
        QFETCH(QStringList, extra);
        QFETCH(bool, withKey);
        QFETCH(QString, message);
        QProcessEnvironment env = environment();
        if (withKey)
            env.insert(QStringLiteral("JQUANTS_API_KEY"), QString::fromUtf8(key()));
        const CommandRun r = run(syncArgs() + extra, {}, env);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(m_service->requests().isEmpty());
    }

    void keyTheServiceRefuses() {
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("JQUANTS_API_KEY"), QStringLiteral("secret-but-wrong-key"));
        const CommandRun r = run(syncArgs(), {}, env);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("API キー")), qPrintable(r.err));
        QVERIFY(!(r.out + r.err).contains(QStringLiteral("secret-but-wrong-key")));
        QCOMPARE(m_service->requests().size(), 1);
    }

    void summaryTellsWhereThePriceComesFrom() {
        portal::sync::SyncOptions o;
        o.dataDir = dataDir();
        o.apiBase = m_service->apiBase();
        o.key = key();
        o.from = kFirst;
        o.to = kLast;
        o.rate = 100000;
        QCOMPARE(portal::sync::PriceSync(o).run().outcome, portal::sync::SyncResult::Done);
        store(QStringLiteral("1302"), "Date,Open,High,Low,Close,Volume\n"
                                      "2026-02-02,100,110,90,105,1000\n");

        portal::PortalServer server({dataDir(), QDate(2026, 12, 4)});
        QVERIFY(server.start());
        const auto summary = [&](const char* code) {
            return QString::fromUtf8(
                fetch(server.port(), summaryTarget(QString::fromLatin1(code))).body);
        };
        QVERIFY(
            summary("1301").contains(QStringLiteral("J-Quants（Free：12週遅れ）2026/01/30 終値")));
        QVERIFY(summary("1302").contains(QStringLiteral("取込 2026/02/02")));
        QVERIFY(summary("1312").contains(QStringLiteral("J-Quants")));
        QVERIFY(!summary("1301").contains(QStringLiteral("同期中")));

        // While a sync runs, the page says how far it has come.
        HeldClock held;
        o.clock = &held;
        o.from = QDate(2026, 1, 5);
        o.to = QDate(2026, 1, 5);
        std::thread running([&] { portal::sync::PriceSync(o).run(); });
        held.entered.acquire();
        QVERIFY(summary("1301").contains(QStringLiteral("同期中")));
        held.release.release(100);
        running.join();
        QVERIFY(!summary("1301").contains(QStringLiteral("同期中")));
    }

    void runningPortalKeepsItselfCurrent() {
        QSettings ini(dataDir() + QStringLiteral("/quote-portal.ini"), QSettings::IniFormat);
        ini.setValue(QStringLiteral("jquants/sync"), QStringLiteral("true"));
        ini.setValue(QStringLiteral("jquants/plan"), QStringLiteral("light"));
        ini.setValue(QStringLiteral("jquants/api"), m_service->apiBase());
        ini.setValue(QStringLiteral("jquants/rate"), 100000);
        ini.sync();
        qputenv("JQUANTS_API_KEY", key());
        QVERIFY(QFile::copy(codeListPath(), dataDir() + QLatin1Char('/') +
                                                QString::fromUtf8(base::kCodeListFileName)));
        portal::PortalServer server({dataDir(), QDate(2026, 12, 4)});
        QVERIFY(server.start());
        {
            portal::sync::BackgroundSync background(dataDir());
            QVERIFY(background.start());
            // Charts keep answering while it runs.
            QCOMPARE(fetch(server.port(), summaryTarget(QStringLiteral("1301"))).status, 200);
            QTRY_COMPARE_WITH_TIMEOUT(background.finishedRuns(), 1, 60000);
        }
        QCOMPARE(openStore()->bars(QStringLiteral("1301")).size(), kTradingDays);
        QVERIFY(fetch(server.port(), summaryTarget(QStringLiteral("130A")))
                    .body.contains("J-Quants（Light）2026/01/30 終値"));

        // Started again with every day stored: the calendar, and no day asked again.
        m_service->clearRequests();
        {
            portal::sync::BackgroundSync again(dataDir());
            QVERIFY(again.start());
            QTRY_COMPARE_WITH_TIMEOUT(again.finishedRuns(), 1, 60000);
        }
        qunsetenv("JQUANTS_API_KEY");
        for (const auto& r : m_service->requests())
            QVERIFY2(!r.target.contains(QLatin1String("bars")), qPrintable(r.target));

        // Without the group in the folder's settings, nothing starts.
        ini.remove(QStringLiteral("jquants"));
        ini.sync();
        QVERIFY(!portal::sync::BackgroundSync(dataDir()).start());
    }

    void syncDue_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("last");
        QTest::addColumn<bool>("due");
        const QDate d(2026, 12, 8);
        QTest::newRow("never synced") << QDateTime(d, QTime(9, 0)) << QDateTime() << true;
        QTest::newRow("this morning, before 17:00")
            << QDateTime(d, QTime(16, 59)) << QDateTime(d, QTime(8, 0)) << false;
        QTest::newRow("this morning, after 17:00")
            << QDateTime(d, QTime(17, 0)) << QDateTime(d, QTime(8, 0)) << true;
        QTest::newRow("after 17:00 already")
            << QDateTime(d, QTime(23, 0)) << QDateTime(d, QTime(17, 5)) << false;
        QTest::newRow("yesterday evening, now the morning")
            << QDateTime(d, QTime(7, 0)) << QDateTime(d.addDays(-1), QTime(18, 0)) << false;
        QTest::newRow("two days ago")
            << QDateTime(d, QTime(7, 0)) << QDateTime(d.addDays(-2), QTime(18, 0)) << true;
    }
    void syncDue() {
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, last);
        QFETCH(bool, due);
        QCOMPARE(portal::sync::syncDue(now, last), due);
    }
};

QTEST_GUILESS_MAIN(TestSyncCommand)
#include "tst_synccommand.moc"
