#pragma once

#include "charts/chartstyle.h"
#include "prices/marketdata.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QVector>

#include <optional>

namespace portal {

// A chart fits what shows of a viewer's pane. A pane is 521 x 296 with a one-pixel sunken frame
// around the picture; the lower row covers the upper one's lowest 16 rows, and in two panes the
// window cuts off the right two columns. The portal cannot tell the arrangement from a request,
// so every chart fits the smaller one: 518 x 279 inside the frame, in both rows.
inline constexpr int kChartWidth = 518;
inline constexpr int kChartHeight = 279;

// The pixel size of a chart drawn at a pixel ratio: the size above times the ratio, rounded
// down, so that it never outgrows the pane on the screen either.
QSize chartPixelSize(double pixelRatio);

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

// Each chart below is drawn in the style's candle colours at chartPixelSize(style.pixelRatio),
// laid out as at ratio 1; the image carries the ratio.

// A technical chart of one code over a term: candles (daily, weekly or monthly by term), the
// requested overlays computed from daily closes, a price axis in yen and a date axis.
QImage renderTechnicalChart(const Listing& listing, const History& history, Term term,
                            const Overlays& overlays, const ChartStyle& style = {});

// The last session of the history in minutes, with the previous close as a line. Minute prices
// exist only for invented histories; for real daily prices the chart is renderLastSession.
QImage renderIntradayChart(const Listing& listing, const History& history,
                           const ChartStyle& style = {});

// The last session of a daily history as it is known: one candle against the previous close,
// open, high, low, close and volume as figures, and a line saying there are no minute prices.
QImage renderLastSession(const Listing& listing, const History& history,
                         const ChartStyle& style = {});

} // namespace portal
