#pragma once

#include "prices/marketdata.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace portal {

// What a ranking orders codes by.
enum class RankKind {
    Up,       // change from the day before, in percent, rising codes only
    Down,     // the same, falling codes only, the largest fall first
    Volume,   // the day's volume over the average of the 25 days before it, above 1 only
    Turnover, // close x volume, in yen
    High,     // a new high of the year: percent above the highest high of its earlier days
    Low,      // a new low of the year: percent below the lowest low of its earlier days (< 0)
    Golden,   // the 25-day average crossed above the 75-day one: percent it now lies above
};

// The kind of a query's text ("up", "down", "volume", "turnover", "high", "low", "golden").
std::optional<RankKind> rankKindFromKey(const QString& key);
QString rankKey(RankKind kind);

// What a code is ranked by on date, from its split-adjusted history (oldest first); nullopt when
// it has no prices that day, too little history before it for the kind, or does not qualify (no
// rise, no new high, no cross ...).
std::optional<double> rankValue(RankKind kind, const History& history, const QDate& date);

struct RankedCode {
    QString code;
    QString name;
    double value = 0;
};

struct Ranking {
    QDate date;               // the day ranked
    bool sample = false;      // ranked from invented prices: nothing is stored for the codes asked
    QVector<RankedCode> rows; // best first (ties in code order), at most the count asked
};

// Ranks the listed codes of a market (empty: every market) on date; an invalid date means the
// newest day held. Codes with stored prices only; only where none of them has any, the invented
// histories are ranked, and the ranking says so.
Ranking rankCodes(const MarketData& data, RankKind kind, const QString& market, int count,
                  const QDate& date = QDate());

// The newest day the stored prices hold, or the invented ones where nothing is stored.
struct RankDay {
    QDate newest;
    bool sample = false;
};
RankDay newestRankDay(const MarketData& data);

// The markets of the code list, in the order they first occur.
QStringList listedMarkets(const MarketData& data);

} // namespace portal
