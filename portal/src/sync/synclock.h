#pragma once

#include <QtGlobal>

#include <atomic>

namespace portal::sync {

// Time as the sync sees it: wall-clock milliseconds (request times are kept in the store across
// runs and processes) and a wait that a stop request cuts short. Tests hand in a clock whose
// waits pass at once, so a minute's wait is checked without waiting a minute.
class SyncClock {
public:
    virtual ~SyncClock() = default;
    virtual qint64 nowMs() = 0;
    // Waits until the time given; false when stopped first.
    virtual bool waitUntil(qint64 ms) = 0;
};

// The real clock; its waits end early when stop becomes true.
class WallClock : public SyncClock {
public:
    explicit WallClock(const std::atomic<bool>* stop = nullptr)
        : m_stop(stop) {}
    qint64 nowMs() override;
    bool waitUntil(qint64 ms) override;

private:
    const std::atomic<bool>* m_stop;
};

} // namespace portal::sync
