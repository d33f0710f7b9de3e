#pragma once

#include <QDate>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVector>

#include <memory>
#include <optional>

namespace standin {

// One listed issue, under the service's five-character code ("72030", "130A0"; a fifth
// character other than "0" is a preferred share or the like).
struct Issue {
    QString code;
    QString name;
    QString market;
};

// What the stand-in answers instead of the real thing, the next `times` requests it applies to.
struct Fault {
    enum Kind {
        Html,         // status 200 with an HTML page
        Truncated,    // status 200 with JSON cut short
        NoData,       // status 200, a JSON object without "data"
        TooMany,      // 429, with Retry-After when retryAfterSeconds >= 0
        Unauthorized, // 401
        Forbidden,    // 403, as for a day outside the plan's window
        ServerError,  // 500
    };
    Kind kind = Html;
    int times = 1;
    int retryAfterSeconds = -1;
};

// One unadjusted daily record as the stand-in serves it; no prices on a day without trades.
struct Record {
    std::optional<double> open, high, low, close, turnover;
    std::optional<qint64> volume;
    double adjFactor = 1.0;
};

struct StandInOptions {
    QString key = QStringLiteral("standin-key-0123456789");
    QDate first, last;            // the days the calendar knows
    QSet<QDate> holidays;         // weekdays without trading (HolDiv 0)
    QVector<Issue> issues;        // in code order
    int pageSize = 1000;          // records per page; more follow under a pagination_key
    QHash<QString, QDate> splits; // code -> the first day after a two-for-one split
    QSet<QString> noTrade;        // "CODE yyyyMMdd": a day without trades
    int limitPerMinute = 0;       // answer 429 beyond this many requests in 60 s; 0: no limit
};

// A usual set: `count` issues from 1301 on, with 130A0 (an alphanumeric code), 25935 (a preferred
// share), a holiday, a day without trades of 1301 and a split of 1305 within [first, last].
StandInOptions usualOptions(int count, const QDate& first, const QDate& last);

// The stand-in: /v2/markets/calendar, /v2/equities/master and /v2/equities/bars/daily (by date,
// by code with from/to), every one checking the x-api-key header, on a loopback port of its own
// thread.
class JQuantsStandIn {
public:
    explicit JQuantsStandIn(StandInOptions options);
    ~JQuantsStandIn();
    JQuantsStandIn(const JQuantsStandIn&) = delete;
    JQuantsStandIn& operator=(const JQuantsStandIn&) = delete;

    bool start();
    QString apiBase() const; // "http://127.0.0.1:PORT/v2"
    const StandInOptions& options() const;

    // The next requests for bars of that day (by date) answer with the fault.
    void failDay(const QDate& day, const Fault& fault);
    // The next requests of a path ("/v2/markets/calendar") answer with the fault.
    void failPath(const QString& path, const Fault& fault);

    struct Request {
        QString target; // path and query
        int status = 0;
        bool keyGiven = false;
        qint64 atMs = 0; // since the stand-in started
    };
    QList<Request> requests() const;
    void clearRequests();

    bool tradingDay(const QDate& day) const;
    // The record served for an issue on a trading day.
    Record record(const QString& code, const QDate& day) const;

    struct Private; // shared with the server's thread

private:
    std::unique_ptr<Private> d;
};

} // namespace standin
