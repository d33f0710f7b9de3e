#pragma once

#include "prices/marketdata.h"

#include <QImage>
#include <QString>
#include <QVector>

#include <optional>

namespace portal {

inline constexpr int kChartWidth = 521;
inline constexpr int kChartHeight = 296;

enum class Term { ThreeMonths, SixMonths, OneYear, TwoYears, FiveYears, TenYears };

// "3m", "6m", "1y", "2y", "5y", "ay"; anything else is no term.
std::optional<Term> termFromText(const QString& text);

// What the parameter string asks to draw. Tokens come in any order, repeats count once and
// unknown tokens are passed over.
struct Overlays {
    QVector<int> sma; // periods in trading days, in token order
    QVector<int> ema;
    bool bollinger = false;
    bool sar = false;
    bool volume = false;
};
Overlays parseOverlays(const QString& params);

// A technical chart of one code over a term: candles (daily, weekly or monthly by term), the
// requested overlays computed from daily closes, a price axis in yen and a date axis.
QImage renderTechnicalChart(const Listing& listing, const History& history, Term term,
                            const Overlays& overlays);

// The last session of the history in minutes, with the previous close as a line. Minute prices
// exist only for invented histories; for real daily prices the chart is renderLastSession.
QImage renderIntradayChart(const Listing& listing, const History& history);

// The last session of a daily history as it is known: one candle against the previous close,
// open, high, low, close and volume as figures, and a line saying there are no minute prices.
QImage renderLastSession(const Listing& listing, const History& history);

} // namespace portal
