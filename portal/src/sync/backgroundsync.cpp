#include "sync/backgroundsync.h"

#include "base/japantime.h"
#include "sync/apikey.h"

#include <QTextStream>

#include <cstdio>

namespace portal::sync {

namespace {

constexpr int kCheckEveryMs = 60 * 1000;
const QTime kBarsPublished(17, 0);

QDateTime nowInJapan() {
    return base::inJapan(QDateTime::currentDateTimeUtc());
}

} // namespace

bool syncDue(const QDateTime& now, const QDateTime& lastRun) {
    if (!lastRun.isValid())
        return true;
    // The latest 17:00 that has passed; a run since then already had that day's bars.
    QDateTime published(now.date(), kBarsPublished, now.timeSpec());
    if (now < published)
        published = published.addDays(-1);
    return lastRun < published;
}

BackgroundSync::BackgroundSync(const QString& dataDir, QObject* parent)
    : QObject(parent)
    , m_dataDir(dataDir) {
    m_timer.setInterval(kCheckEveryMs);
    connect(&m_timer, &QTimer::timeout, this, &BackgroundSync::check);
}

BackgroundSync::~BackgroundSync() {
    m_stop.store(true);
    join();
}

bool BackgroundSync::start() {
    QTextStream err(stderr);
    if (!readSyncSettings(m_dataDir).enabled)
        return false;
    const KeyLookup key = findKey();
    if (key.key.isEmpty()) {
        err << QStringLiteral("J-Quants の自動同期: ")
            << (key.error.isEmpty() ? QStringLiteral("API キーがありません（quote-portal key set）")
                                    : key.error)
            << Qt::endl;
        return false;
    }
    m_timer.start();
    // At start: fetches only what is missing, so a portal started again soon after costs one
    // request for the calendar.
    QTimer::singleShot(0, this, &BackgroundSync::check);
    return true;
}

void BackgroundSync::check() {
    if (m_running.load())
        return;
    const QDateTime now = nowInJapan();
    if (m_lastRun.isValid() && !syncDue(now, m_lastRun))
        return;
    const SyncSettings settings = readSyncSettings(m_dataDir);
    const KeyLookup key = findKey();
    if (!settings.enabled || key.key.isEmpty())
        return;
    m_lastRun = now;
    launch(settings, key.key);
}

void BackgroundSync::join() {
    if (m_thread.joinable())
        m_thread.join();
}

void BackgroundSync::launch(const SyncSettings& settings, const QByteArray& key) {
    join();
    m_running.store(true);
    SyncOptions options;
    options.dataDir = m_dataDir;
    options.plan = settings.plan;
    options.apiBase = settings.apiBase;
    options.rate = settings.rate;
    options.key = key;
    options.stop = &m_stop;
    m_thread = std::thread([this, options] {
        PriceSync sync(options);
        sync.onNote = [](const QString& text) {
            QTextStream(stderr) << QStringLiteral("J-Quants の同期: ") << text << Qt::endl;
        };
        const SyncResult r = sync.run();
        QTextStream err(stderr);
        if (r.outcome != SyncResult::Busy)
            err << QStringLiteral("J-Quants の同期: 保存 %1 日、失敗 %2 日")
                       .arg(r.daysStored)
                       .arg(r.daysFailed)
                << (r.message.isEmpty() ? QString() : QStringLiteral("。") + r.message) << Qt::endl;
        m_finished.fetch_add(1);
        m_running.store(false);
    });
}

} // namespace portal::sync
