#include "sync/pricesync.h"

#include "base/codelistfile.h"
#include "base/codepage932.h"
#include "base/filereplace.h"
#include "base/japantime.h"
#include "prices/datastore.h"
#include "prices/pricecsv.h"
#include "sync/ratelimiter.h"
#include "sync/serviceanswers.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringEncoder>

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace portal::sync {

namespace {

const QString kDayPrefix = QStringLiteral("jquants.day.");
const QString kDayDone = QStringLiteral("ok");
const QString kPlanKey = QStringLiteral("jquants.plan");
const QString kProgressKey = QStringLiteral("jquants.progress");
const QString kRequestsKey = QStringLiteral("jquants.requests");
const QString kLastRunKey = QStringLiteral("jquants.last");
const QString kLastResultKey = QStringLiteral("jquants.result");
const QString kMasterKey = QStringLiteral("jquants.master");
const QString kRefetchKey = QStringLiteral("jquants.refetch");
const QString kKind = QStringLiteral("jquants");

// A 429 without a wait of its own still keeps the next request a minute away.
constexpr qint64 kMinTooManyWaitMs = 60000;
constexpr int kMaxTooManyInARow = 5;

QString dayText(const QDate& d) {
    return d.toString(QStringLiteral("yyyyMMdd"));
}

QString shownDay(const QDate& d) {
    return d.toString(QStringLiteral("yyyy/MM/dd"));
}

// The lock of a data folder's sync: an flock on DATA/sync.lock, let go by the kernel however the
// process ends, so a killed sync never blocks the next one.
class FolderLock {
public:
    explicit FolderLock(const QString& dataDir, int how)
        : m_fd(::open(QFile::encodeName(dataDir + QStringLiteral("/sync.lock")).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        m_held = m_fd >= 0 && ::flock(m_fd, how | LOCK_NB) == 0;
    }
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return m_held; }
    bool busy() const { return m_fd >= 0 && !m_held; }

private:
    int m_fd;
    bool m_held = false;
};

// The key must never show, even inside something the service echoed back.
QString withoutKey(QString text, const QByteArray& key) {
    if (!key.isEmpty())
        text.replace(QString::fromUtf8(key), QStringLiteral("***"));
    return text;
}

// Writes the code list whole (base::replaceFile): a reader never sees half a list, and a link at
// the name (to the list shipped with the program) is replaced, not written through.
QString writeCodeList(const QString& dataDir, QVector<Listing> listings) {
    std::sort(listings.begin(), listings.end(),
              [](const Listing& a, const Listing& b) { return a.code < b.code; });
    QStringEncoder encode(base::codePage932Name());
    if (!encode.isValid())
        return QStringLiteral("code page 932 の変換がありません");
    QByteArray bytes;
    QString last;
    for (const Listing& l : std::as_const(listings)) {
        if (l.code == last)
            continue;
        last = l.code;
        QString name = l.name, market = l.market;
        name.replace(QLatin1Char(','), QChar(0xFF0C));
        market.replace(QLatin1Char(','), QChar(0xFF0C));
        bytes += encode(l.code + QLatin1Char(',') + name + QLatin1Char(',') + market);
        bytes += "\r\n";
    }
    const QString path = dataDir + QLatin1Char('/') + QString::fromUtf8(base::kCodeListFileName);
    if (!base::replaceFile(path, bytes, true))
        return QStringLiteral("%1 に書けません").arg(path);
    return {};
}

QVector<qint64> timesFrom(const QString& text) {
    QVector<qint64> times;
    for (const QString& t : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        times.append(t.toLongLong());
    return times;
}

QString timesText(const QVector<qint64>& times) {
    QStringList parts;
    for (qint64 t : times)
        parts.append(QString::number(t));
    return parts.join(QLatin1Char(','));
}

// One run: the requests, their pacing and what they brought.
class Run {
public:
    Run(const SyncOptions& options, store::PriceStore& store, SyncClock& clock)
        : m_options(options)
        , m_store(store)
        , m_limiter(options.rate > 0 ? options.rate : planRate(options.plan), clock)
        , m_client(options.apiBase, options.key, options.stop) {
        m_limiter.seed(timesFrom(store.state(kRequestsKey)));
    }

    enum class Got { Answer, Refused, Stopped, Failed };
    struct Reply {
        Got got = Got::Failed;
        QByteArray body;
        QString why;
    };

    // One request, paced; a 429 waits as long as the service says, at least a minute, and asks
    // again.
    Reply ask(const QString& path, const ServiceClient::Query& query) {
        for (int tooMany = 0;;) {
            if (!m_limiter.acquire())
                return {Got::Stopped, {}, {}};
            Answer a = m_client.get(path, query);
            ++m_result.requests;
            if (m_options.stop && m_options.stop->load())
                return {Got::Stopped, {}, {}};
            if (a.status == 429) {
                ++m_result.tooMany;
                m_limiter.holdOff(std::max(kMinTooManyWaitMs, a.retryAfterMs));
                if (++tooMany < kMaxTooManyInARow)
                    continue;
                return {
                    Got::Failed, {}, QStringLiteral("リクエストが多すぎると何度も断られました")};
            }
            if (a.status == 401 || a.status == 403) {
                const QString said = withoutKey(serviceMessage(a.body), m_options.key);
                return {Got::Refused,
                        {},
                        QStringLiteral("J-Quants がリクエストを断りました（HTTP %1%2）。API キーが"
                                       "正しく有効か（quote-portal key set で設定し直せます）、"
                                       "取得する期間が契約プランの範囲内か（--plan、--from、--to）"
                                       "を確かめてください")
                            .arg(a.status)
                            .arg(said.isEmpty() ? QString() : QStringLiteral("：") + said)};
            }
            if (a.status == 200)
                return {Got::Answer, std::move(a.body), {}};
            const QString why =
                a.status == 0 ? a.error : QStringLiteral("HTTP %1 が返されました").arg(a.status);
            return {Got::Failed, {}, withoutKey(why, m_options.key)};
        }
    }

    // Every page of a query, each page handed to read; stops at the first failure.
    template <typename Page, typename Read, typename Take>
    Reply askAll(const QString& path, ServiceClient::Query query, Read read, Take take) {
        QString next;
        for (;;) {
            ServiceClient::Query q = query;
            if (!next.isEmpty())
                q.append({QStringLiteral("pagination_key"), next});
            Reply r = ask(path, q);
            if (r.got != Got::Answer)
                return r;
            const Page page = read(r.body);
            if (!page.ok)
                return {Got::Failed, {}, page.why};
            take(page);
            // A key that does not change would ask for the same page for ever.
            if (page.nextKey.isEmpty() || page.nextKey == next)
                return r;
            next = page.nextKey;
        }
    }

    Reply tradingDays(const DayRange& range, QVector<QDate>& days) {
        return askAll<CalendarPage>(QStringLiteral("/markets/calendar"),
                                    {{QStringLiteral("from"), range.from.toString(Qt::ISODate)},
                                     {QStringLiteral("to"), range.to.toString(Qt::ISODate)}},
                                    readCalendarPage,
                                    [&days](const CalendarPage& p) { days += p.tradingDays; });
    }

    Reply bars(const ServiceClient::Query& query, QVector<BarsPage::CodeBar>& out) {
        return askAll<BarsPage>(QStringLiteral("/equities/bars/daily"), query, readBarsPage,
                                [this, &out](const BarsPage& p) {
                                    out += p.bars;
                                    m_result.skippedRecords += p.skipped;
                                });
    }

    Reply master(QVector<Listing>& out) {
        return askAll<MasterPage>(QStringLiteral("/equities/master"), {}, readMasterPage,
                                  [&out](const MasterPage& p) { out += p.listings; });
    }

    // Stores bars in one transaction, with the given state and the pacing so far.
    QString store(const QVector<BarsPage::CodeBar>& bars, QList<QPair<QString, QString>> state) {
        state.append({kRequestsKey, timesText(m_limiter.recent())});
        return storeServiceBars(m_store, bars, m_options.apiBase, state, &m_sourced);
    }

    int perMinute() { return int(m_limiter.recent().size()); }
    qint64 spacingMs() const { return m_limiter.spacingMs(); }
    SyncResult& result() { return m_result; }

private:
    const SyncOptions& m_options;
    store::PriceStore& m_store;
    RateLimiter m_limiter;
    ServiceClient m_client;
    SyncResult m_result;
    QSet<QString> m_sourced;
};

} // namespace

std::optional<Plan> planFromText(const QString& text) {
    for (Plan p : {Plan::Free, Plan::Light, Plan::Standard, Plan::Premium}) {
        if (text.trimmed().compare(planKey(p), Qt::CaseInsensitive) == 0)
            return p;
    }
    return std::nullopt;
}

QString planKey(Plan plan) {
    return planTitle(plan).toLower();
}

QString planTitle(Plan plan) {
    switch (plan) {
    case Plan::Free:
        return QStringLiteral("Free");
    case Plan::Light:
        return QStringLiteral("Light");
    case Plan::Standard:
        return QStringLiteral("Standard");
    case Plan::Premium:
        return QStringLiteral("Premium");
    }
    return {};
}

int planRate(Plan plan) {
    switch (plan) {
    case Plan::Free:
        return 5;
    case Plan::Light:
        return 60;
    case Plan::Standard:
        return 120;
    case Plan::Premium:
        return 500;
    }
    return 5;
}

DayRange planWindow(Plan plan, const QDate& today) {
    switch (plan) {
    case Plan::Free: {
        // A day inside each end: the service's own edge may be a day off from ours.
        const QDate to = today.addDays(-7 * 12 - 1);
        return {to.addYears(-2).addDays(2), to};
    }
    case Plan::Light:
        return {today.addYears(-5).addDays(1), today};
    case Plan::Standard:
        return {today.addYears(-10).addDays(1), today};
    case Plan::Premium:
        return {today.addYears(-20).addDays(1), today};
    }
    return {today, today};
}

PriceSync::PriceSync(SyncOptions options)
    : m_options(std::move(options)) {}

SyncResult PriceSync::run() {
    const auto note = [this](const QString& text) {
        if (onNote)
            onNote(text);
    };
    SyncResult failed;
    if (!QDir().mkpath(m_options.dataDir)) {
        failed.message = QStringLiteral("データフォルダ %1 を作れません").arg(m_options.dataDir);
        return failed;
    }
    FolderLock lock(m_options.dataDir, LOCK_EX);
    if (!lock.held()) {
        failed.outcome = lock.busy() ? SyncResult::Busy : SyncResult::Failed;
        failed.message =
            lock.busy()
                ? QStringLiteral("同じデータフォルダの同期が実行中です。"
                                 "終わってからもう一度実行してください")
                : QStringLiteral("データフォルダ %1 に同期の印を置けません").arg(m_options.dataDir);
        return failed;
    }
    QString storeError;
    const auto store = openDataStore(m_options.dataDir, &storeError);
    if (!store) {
        failed.message = storeError;
        return failed;
    }
    WallClock wall(m_options.stop);
    SyncClock& clock = m_options.clock ? *m_options.clock : wall;
    Run run(m_options, *store, clock);
    SyncResult& result = run.result();
    const QDate today = m_options.today.isValid() ? m_options.today : todayInJapan();
    DayRange range = planWindow(m_options.plan, today);
    if (m_options.from.isValid())
        range.from = m_options.from;
    if (m_options.to.isValid())
        range.to = m_options.to;

    const auto finish = [&](SyncResult::Outcome outcome, const QString& message) {
        result.outcome = outcome;
        result.message = message;
        store::PriceStore::Writer w(*store);
        w.setState(kProgressKey, QString());
        w.setState(kPlanKey, planKey(m_options.plan));
        w.setState(kLastRunKey, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        QString text;
        switch (outcome) {
        case SyncResult::Done:
            text = QStringLiteral("成功（%1 日を保存）").arg(result.daysStored);
            break;
        case SyncResult::SomeFailed:
            text = QStringLiteral("一部失敗（%1 日を保存、%2 日は次回に取り直し）")
                       .arg(result.daysStored)
                       .arg(result.daysFailed);
            break;
        case SyncResult::Stopped:
            text = QStringLiteral("中断（%1 日を保存）").arg(result.daysStored);
            break;
        default:
            text = QStringLiteral("失敗：") + message;
            break;
        }
        w.setState(kLastResultKey, text);
        w.commit();
        return result;
    };
    if (!range.from.isValid() || !range.to.isValid() || range.from > range.to)
        return finish(SyncResult::Failed, QStringLiteral("取得する期間がありません（%1 - %2）")
                                              .arg(shownDay(range.from), shownDay(range.to)));

    // Whatever the run is doing, a refusal ends it with what the service said, and a stop request
    // ends it quietly.
    const auto ends = [](const Run::Reply& r) {
        return r.got == Run::Got::Refused || r.got == Run::Got::Stopped;
    };
    const auto end = [&finish](const Run::Reply& r) {
        return r.got == Run::Got::Refused ? finish(SyncResult::Refused, r.why)
                                          : finish(SyncResult::Stopped, {});
    };

    QVector<QDate> calendar;
    if (const Run::Reply r = run.tradingDays(range, calendar); ends(r)) {
        return end(r);
    } else if (r.got != Run::Got::Answer) {
        return finish(SyncResult::Failed,
                      QStringLiteral("取引カレンダーを取得できません（%1）").arg(r.why));
    }

    // The code list, once a day.
    const QString todayText = today.toString(Qt::ISODate);
    if (store->state(kMasterKey) != todayText) {
        QVector<Listing> listings;
        const Run::Reply r = run.master(listings);
        if (ends(r))
            return end(r);
        QString why = r.got == Run::Got::Answer && listings.isEmpty()
                          ? QStringLiteral("銘柄がありません")
                          : r.why;
        if (why.isEmpty())
            why = writeCodeList(m_options.dataDir, listings);
        if (why.isEmpty()) {
            store::PriceStore::Writer w(*store);
            w.setState(kMasterKey, todayText);
            w.commit();
            result.codeListWritten = true;
            note(QStringLiteral("銘柄一覧を更新しました（%1 銘柄）").arg(listings.size()));
        } else {
            note(QStringLiteral("銘柄一覧を更新できません（%1）。前の一覧のままです").arg(why));
        }
    }

    // Days not stored yet, the newest first: a first sync shows recent charts soonest.
    QDate newestBefore;
    QVector<QDate> days;
    std::sort(calendar.begin(), calendar.end());
    calendar.erase(std::unique(calendar.begin(), calendar.end()), calendar.end());
    for (const QDate& d : std::as_const(calendar)) {
        if (d < range.from || d > range.to)
            continue;
        if (store->state(kDayPrefix + dayText(d)) == kDayDone)
            newestBefore = d;
        else
            days.prepend(d);
    }
    QSet<QString> refetch;
    for (const QString& c : store->state(kRefetchKey).split(QLatin1Char(','), Qt::SkipEmptyParts))
        refetch.insert(c);

    const int total = int(days.size());
    for (int i = 0; i < total; ++i) {
        if (m_options.stop && m_options.stop->load())
            return finish(SyncResult::Stopped, {});
        const QDate day = days[i];
        QVector<BarsPage::CodeBar> bars;
        const Run::Reply r = run.bars({{QStringLiteral("date"), dayText(day)}}, bars);
        DayReport report;
        report.day = day;
        report.done = i + 1;
        report.total = total;
        if (ends(r))
            return end(r);
        if (r.got == Run::Got::Failed) {
            ++result.daysFailed;
            report.why = r.why;
        } else if (bars.isEmpty()) {
            // A trading day whose bars the service does not have yet (before the evening).
            ++result.daysPending;
            report.why = QStringLiteral("まだ配信されていません");
        } else {
            QStringList splits;
            for (const auto& b : std::as_const(bars)) {
                if (b.bar.adjustment != 1.0 && newestBefore.isValid() && day > newestBefore &&
                    !refetch.contains(b.code)) {
                    refetch.insert(b.code);
                    splits.append(b.code);
                }
            }
            QStringList pending(refetch.begin(), refetch.end());
            pending.sort();
            const QString why =
                run.store(bars, {{kDayPrefix + dayText(day), kDayDone},
                                 {kProgressKey, QStringLiteral("%1/%2").arg(i + 1).arg(total)},
                                 {kRefetchKey, pending.join(QLatin1Char(','))}});
            if (!why.isEmpty())
                return finish(SyncResult::Failed, why);
            ++result.daysStored;
            report.stored = true;
            QSet<QString> codes;
            for (const auto& b : std::as_const(bars))
                codes.insert(b.code);
            report.codes = int(codes.size());
            if (!splits.isEmpty())
                note(QStringLiteral("%1: 分割・併合のあった銘柄 %2 の株価を取り直します")
                         .arg(shownDay(day), splits.join(QStringLiteral(", "))));
        }
        report.perMinute = run.perMinute();
        report.leftMs = qint64(total - i - 1) * run.spacingMs();
        if (onDay)
            onDay(report);
    }

    // Codes split or merged since they were stored: their whole history again, so that the
    // older days' adjusted prices agree with the new factor.
    QStringList codes(refetch.begin(), refetch.end());
    codes.sort();
    for (const QString& code : std::as_const(codes)) {
        QVector<BarsPage::CodeBar> bars;
        const Run::Reply r = run.bars({{QStringLiteral("code"), code},
                                       {QStringLiteral("from"), range.from.toString(Qt::ISODate)},
                                       {QStringLiteral("to"), range.to.toString(Qt::ISODate)}},
                                      bars);
        if (ends(r))
            return end(r);
        if (r.got == Run::Got::Failed) {
            note(QStringLiteral("%1 の株価を取り直せません（%2）。次回に取り直します")
                     .arg(code, r.why));
            continue;
        }
        refetch.remove(code);
        QStringList pending(refetch.begin(), refetch.end());
        pending.sort();
        // Only the code asked for: a service that answered more must not touch other codes.
        bars.erase(std::remove_if(bars.begin(), bars.end(),
                                  [&code](const auto& b) { return b.code != code; }),
                   bars.end());
        if (const QString why = run.store(bars, {{kRefetchKey, pending.join(QLatin1Char(','))}});
            !why.isEmpty())
            return finish(SyncResult::Failed, why);
        ++result.refetched;
    }

    if (result.daysFailed > 0)
        return finish(SyncResult::SomeFailed,
                      QStringLiteral("%1 日を取得できませんでした。次回の同期で取り直します")
                          .arg(result.daysFailed));
    return finish(SyncResult::Done, {});
}

QString storeServiceBars(store::PriceStore& store, const QVector<BarsPage::CodeBar>& bars,
                         const QString& origin, const QList<QPair<QString, QString>>& state,
                         QSet<QString>* sourced) {
    store::PriceStore::Writer w(store);
    bool ok = w.isOpen();
    QSet<QString> named;
    for (qsizetype i = 0; ok && i < bars.size(); ++i) {
        const QString& code = bars[i].code;
        ok = w.put(code, bars[i].bar);
        if (!ok || (sourced && sourced->contains(code)) || named.contains(code))
            continue;
        named.insert(code);
        const auto source = store.source(code);
        if (!source || source->kind != kKind || source->origin != origin)
            ok = w.setSource(code, kKind, origin);
    }
    for (qsizetype i = 0; ok && i < state.size(); ++i)
        ok = w.setState(state[i].first, state[i].second);
    ok = ok && w.commit();
    if (ok && sourced)
        sourced->unite(named);
    return ok ? QString() : QStringLiteral("価格データベースに書き込めません（%1）").arg(w.error());
}

bool syncRunning(const QString& dataDir) {
    return FolderLock(dataDir, LOCK_SH).busy();
}

QString SyncState::runningText() const {
    if (!running)
        return {};
    return progress.isEmpty() ? QStringLiteral("同期中")
                              : QStringLiteral("同期中 %1 日").arg(progress);
}

SyncState syncState(const QString& dataDir,
                    const std::function<QString(const QString& key)>& stateOf) {
    SyncState s;
    s.plan = stateOf(kPlanKey);
    s.running = syncRunning(dataDir);
    if (s.running)
        s.progress = stateOf(kProgressKey);
    const QDateTime last = QDateTime::fromString(stateOf(kLastRunKey), Qt::ISODate);
    if (last.isValid())
        s.lastRun = base::inJapan(last).toString(QStringLiteral("yyyy/MM/dd HH:mm"));
    s.lastResult = stateOf(kLastResultKey);
    return s;
}

} // namespace portal::sync
