#pragma once

#include "sync/synclock.h"

#include <QVector>

namespace portal::sync {

// Keeps requests within a number per minute: never more than that many in any 60 s, counted over
// a sliding window, and spread evenly (one every 60 s / N, with a margin for the network's
// jitter) rather than sent in bursts. After a 429 it holds every request off for as long as told.
class RateLimiter {
public:
    static constexpr qint64 kWindowMs = 60000;
    RateLimiter(int perMinute, SyncClock& clock);

    int perMinute() const { return m_perMinute; }
    // The gap kept between two requests.
    qint64 spacingMs() const;
    // Waits until one more request keeps within the limit and counts it as sent; false when the
    // clock was stopped first.
    bool acquire();
    // No request before now + ms.
    void holdOff(qint64 ms);
    // The times of the requests within the last window, oldest first: kept between runs, so
    // that a new run does not start with a burst.
    QVector<qint64> recent();
    void seed(const QVector<qint64>& times);

private:
    void forgetOld(qint64 now);
    int m_perMinute;
    SyncClock& m_clock;
    QVector<qint64> m_sent;
    qint64 m_notBefore = 0;
};

} // namespace portal::sync
