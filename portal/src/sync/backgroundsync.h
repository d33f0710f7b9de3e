#pragma once

#include "sync/synccommand.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

namespace portal::sync {

// When the running portal syncs again: once a day, after the service has the day's bars (17:00 in
// Japan), unless it already synced since that time. nowInJapan is Japan's wall-clock time.
bool syncDue(const QDateTime& nowInJapan, const QDateTime& lastRunInJapan);

// Keeps the data folder's store current while the portal runs, when the folder's quote-portal.ini
// turns it on ([jquants] sync=true) and a key is set: a sync at start, which fetches only the
// trading days not stored yet, then one a day after 17:00 Japan time. The sync runs on a thread of
// its own, so charts keep answering meanwhile; its outcome goes to the standard error.
class BackgroundSync : public QObject {
public:
    explicit BackgroundSync(const QString& dataDir, QObject* parent = nullptr);
    ~BackgroundSync() override; // stops a run under way and waits for it

    // Starts watching; false, with why on the standard error, when the folder does not ask for
    // it or no key is set.
    bool start();
    bool running() const { return m_running.load(); }
    int finishedRuns() const { return m_finished.load(); }

private:
    void check();
    void launch(const SyncSettings& settings, const QByteArray& key);
    void join();

    QString m_dataDir;
    QTimer m_timer;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    std::atomic<int> m_finished{0};
    QDateTime m_lastRun; // in Japan
};

} // namespace portal::sync
