#pragma once

#include "sync/serviceanswers.h"
#include "sync/serviceclient.h"
#include "sync/synclock.h"

namespace portal::store {
class PriceStore;
}

#include <QDate>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace portal::sync {

// The service's plans: how many requests a minute each allows, and which days of daily bars
// each serves.
enum class Plan { Free, Light, Standard, Premium };
std::optional<Plan> planFromText(const QString& text); // "free", "light", ...
QString planKey(Plan plan);                            // "free"
QString planTitle(Plan plan);                          // "Free"
int planRate(Plan plan);                               // 5, 60, 120, 500

struct DayRange {
    QDate from, to;
};
// The days a plan serves on a day (in Japan): Free from 12 weeks ago back two years, the others
// up to the day itself, back 5, 10 or 20 years.
DayRange planWindow(Plan plan, const QDate& today);

struct SyncOptions {
    QString dataDir;
    Plan plan = Plan::Free;
    int rate = 0;   // requests per minute; 0: the plan's
    QDate from, to; // null: the plan's window
    QString apiBase = QString::fromLatin1(kDefaultApiBase);
    QByteArray key;
    QDate today;                             // null: today in Japan
    SyncClock* clock = nullptr;              // null: the wall clock
    const std::atomic<bool>* stop = nullptr; // ends the run between two requests
};

// After each trading day tried.
struct DayReport {
    QDate day;
    int done = 0;  // days tried so far in this run
    int total = 0; // days this run set out to fetch
    bool stored = false;
    int codes = 0;     // codes stored for the day
    QString why;       // Japanese, when not stored
    int perMinute = 0; // requests within the last minute
    qint64 leftMs = 0; // at this rate, for the days left
};

struct SyncResult {
    enum Outcome {
        Done,       // every day there was to fetch is stored
        SomeFailed, // some days failed and are tried again next time
        Refused,    // the service refused the key or the plan's window (401, 403)
        Busy,       // another sync of the same data folder runs
        Stopped,    // asked to stop
        Failed,     // nothing could be done: no store, no calendar
    };
    Outcome outcome = Failed;
    QString message; // Japanese; what to do about a failure
    int daysStored = 0;
    int daysFailed = 0;
    int daysPending = 0; // trading days the service has no bars for yet
    int skippedRecords = 0;
    int requests = 0;
    int tooMany = 0;   // answers of 429
    int refetched = 0; // codes whose history came again after a split
    bool codeListWritten = false;
};

// Fetches daily bars of every listed code from the exchange's data service into the data folder's
// price store: the calendar's trading days of the plan's window that are not stored yet, newest
// first, one request per day and page; each day is committed in one transaction together with the
// record that it is done, so an interrupted run leaves the store consistent and the next one goes
// on from there. The code list of the data folder is made from the service's listing once a day.
// One run at a time per data folder. Blocking: the command runs it on its own thread, the portal
// on a thread of its own.
class PriceSync {
public:
    explicit PriceSync(SyncOptions options);
    std::function<void(const DayReport&)> onDay;
    std::function<void(const QString&)> onNote; // other things worth telling (Japanese)
    SyncResult run();

private:
    SyncOptions m_options;
};

// Stores bars from the service in one transaction, together with values of the store's state;
// empty on success, else why (Japanese), the store then unchanged. A code's source is recorded as
// the service at origin where it was not before; `sourced` remembers the codes known to be, so
// that a day of every code does not write every code's source again.
QString storeServiceBars(store::PriceStore& store, const QVector<BarsPage::CodeBar>& bars,
                         const QString& origin, const QList<QPair<QString, QString>>& state,
                         QSet<QString>* sourced = nullptr);

// True while a sync of the data folder runs, in this process or another.
bool syncRunning(const QString& dataDir);

// What the store says of the syncs: shown by `quote-portal status` and on the summary page.
struct SyncState {
    QString plan; // "free", ...; empty before the first sync
    bool running = false;
    QString progress;   // "123/490" while a sync runs, once its first day is stored
    QString lastRun;    // "2026/12/08 17:05"
    QString lastResult; // Japanese
    // "同期中 123/490 日" ("同期中" before the first day); empty when no sync runs.
    QString runningText() const;
};
// stateOf reads a value of the store's own state (store::PriceStore::state).
SyncState syncState(const QString& dataDir,
                    const std::function<QString(const QString& key)>& stateOf);

} // namespace portal::sync
