#include "sync/ratelimiter.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <thread>

namespace portal::sync {

qint64 WallClock::nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

bool WallClock::waitUntil(qint64 ms) {
    // Short slices, so that a stop request (Ctrl+C, the portal ending) is heard at once.
    for (;;) {
        if (m_stop && m_stop->load())
            return false;
        const qint64 left = ms - nowMs();
        if (left <= 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<qint64>(left, 100)));
    }
}

RateLimiter::RateLimiter(int perMinute, SyncClock& clock)
    : m_perMinute(std::max(1, perMinute))
    , m_clock(clock) {}

qint64 RateLimiter::spacingMs() const {
    // 2 % above the exact gap: a request that leaves here on time may still reach the service a
    // little early after a slower one.
    return (kWindowMs * 102 / 100 + m_perMinute - 1) / m_perMinute;
}

void RateLimiter::forgetOld(qint64 now) {
    const auto firstInWindow =
        std::find_if(m_sent.begin(), m_sent.end(), [now](qint64 t) { return t > now - kWindowMs; });
    m_sent.erase(m_sent.begin(), firstInWindow);
}

bool RateLimiter::acquire() {
    qint64 at = std::max(m_notBefore, m_clock.nowMs());
    if (!m_sent.isEmpty())
        at = std::max(at, m_sent.last() + spacingMs());
    if (m_sent.size() >= m_perMinute)
        at = std::max(at, m_sent[m_sent.size() - m_perMinute] + kWindowMs + 1);
    if (!m_clock.waitUntil(at))
        return false;
    const qint64 now = std::max(at, m_clock.nowMs());
    forgetOld(now);
    m_sent.append(now);
    return true;
}

void RateLimiter::holdOff(qint64 ms) {
    m_notBefore = std::max(m_notBefore, m_clock.nowMs() + ms);
}

QVector<qint64> RateLimiter::recent() {
    forgetOld(m_clock.nowMs());
    return m_sent;
}

void RateLimiter::seed(const QVector<qint64>& times) {
    m_sent = times;
    std::sort(m_sent.begin(), m_sent.end());
    // A clock set back leaves times in the future; they would hold the next request off.
    const qint64 now = m_clock.nowMs();
    m_sent.erase(std::remove_if(m_sent.begin(), m_sent.end(), [now](qint64 t) { return t > now; }),
                 m_sent.end());
    forgetOld(now);
}

} // namespace portal::sync
