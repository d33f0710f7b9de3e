#include "charts/chartrenderer.h"

#include "charts/gifencoder.h"
#include "charts/indicators.h"

#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace portal {

namespace {

constexpr int kSmaPeriods[] = {25, 75, 65, 130, 260};

struct TermInfo {
    Term term;
    const char* token;
    const char* caption;
    enum Period { Daily, Weekly, Monthly } period;
    int months; // how far back the chart reaches
};

const TermInfo kTerms[] = {
    {Term::ThreeMonths, "3m", "3か月", TermInfo::Daily, 3},
    {Term::SixMonths, "6m", "6か月", TermInfo::Daily, 6},
    {Term::OneYear, "1y", "1年", TermInfo::Weekly, 12},
    {Term::TwoYears, "2y", "2年", TermInfo::Weekly, 24},
    {Term::FiveYears, "5y", "5年", TermInfo::Monthly, 60},
    {Term::TenYears, "ay", "10年", TermInfo::Monthly, 120},
};

const TermInfo& infoFor(Term term) {
    for (const TermInfo& t : kTerms) {
        if (t.term == term)
            return t;
    }
    return kTerms[0];
}

QFont chartFont(int pixelSize, bool bold = false) {
    QFont f(QStringLiteral("Noto Sans CJK JP"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

QString yen(double v) {
    static const QLocale c(QLocale::English);
    if (std::abs(v - std::round(v)) < 1e-6)
        return c.toString(qint64(std::llround(v)));
    return c.toString(v, 'f', 1);
}

// A round grid step giving about `wanted` lines over the span.
double niceStep(double span, int wanted) {
    const double raw = span / std::max(1, wanted);
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (raw <= m * mag)
            return m * mag;
    }
    return 10 * mag;
}

struct Scale {
    double lo, hi;
    int top, bottom;
    double y(double v) const { return bottom - (v - lo) / (hi - lo) * (bottom - top); }
};

void drawPolyline(QPainter& p, const QVector<QPointF>& pts) {
    if (pts.size() >= 2)
        p.drawPolyline(pts.constData(), int(pts.size()));
}

// One candle centred on x: the high-low line and the open-close body, in the colour of the day's
// move (unchanged in the text colour).
void drawCandle(QPainter& p, const Scale& s, const Bar& b, int x, int bodyWidth,
                const CandleColours& colours) {
    const QColor c = b.close > b.open   ? colours.rising
                     : b.close < b.open ? colours.falling
                                        : colors::text;
    p.setPen(c);
    p.drawLine(x, int(s.y(b.high)), x, int(s.y(b.low)));
    const int y1 = int(s.y(std::max(b.open, b.close)));
    const int y2 = int(s.y(std::min(b.open, b.close)));
    p.fillRect(x - bodyWidth / 2, y1, bodyWidth, std::max(1, y2 - y1 + 1), c);
}

// Candles or an index of one bar per period, with the last daily index each bar ends at.
struct Period {
    Bar bar;
    int lastDaily = 0;
};

QVector<Period> aggregate(const History& h, TermInfo::Period kind) {
    QVector<Period> out;
    out.reserve(kind == TermInfo::Daily ? h.size() : h.size() / 4 + 2);
    int lastKey = -1;
    for (int i = 0; i < h.size(); ++i) {
        const Bar& b = h[i];
        int key = i;
        if (kind == TermInfo::Weekly)
            key = int(b.date.addDays(1 - b.date.dayOfWeek()).toJulianDay());
        else if (kind == TermInfo::Monthly)
            key = b.date.year() * 12 + b.date.month();
        if (out.isEmpty() || key != lastKey) {
            out.append({b, i});
            lastKey = key;
            continue;
        }
        Bar& a = out.last().bar;
        a.high = std::max(a.high, b.high);
        a.low = std::min(a.low, b.low);
        a.close = b.close;
        a.volume += b.volume;
        a.date = b.date;
        out.last().lastDaily = i;
    }
    return out;
}

struct Line {
    QVector<double> values; // one per displayed bar
    QColor color;
    QString label;
    Qt::PenStyle style = Qt::SolidLine;
};

// With sample set, "サンプルデータ" also stands in a box between the two texts when they leave
// room for it, where it is read first and never covered by prices.
void drawTitle(QPainter& p, const QString& left, const QString& right, bool sample = false) {
    const QFont leftFont = chartFont(11, true), rightFont = chartFont(10);
    p.setFont(leftFont);
    p.setPen(colors::title);
    p.drawText(QRect(4, 0, kChartWidth - 8, 15), Qt::AlignLeft | Qt::AlignVCenter, left);
    p.setFont(rightFont);
    p.setPen(colors::text);
    p.drawText(QRect(4, 0, kChartWidth - 8, 15), Qt::AlignRight | Qt::AlignVCenter, right);
    if (!sample)
        return;
    const QString text = QStringLiteral("サンプルデータ");
    const QFont markFont = chartFont(10, true);
    const int from = 4 + QFontMetrics(leftFont).horizontalAdvance(left) + 8;
    const int to = kChartWidth - 4 - QFontMetrics(rightFont).horizontalAdvance(right) - 8;
    const int width = QFontMetrics(markFont).horizontalAdvance(text) + 8;
    if (to - from < width)
        return;
    const QRect box((from + to - width) / 2, 1, width, 13);
    p.fillRect(box, colors::sample);
    p.setFont(markFont);
    p.setPen(colors::text);
    p.drawText(box, Qt::AlignCenter, text);
}

void drawPriceAxis(QPainter& p, const Scale& s, int plotLeft, int plotRight) {
    const double step = niceStep(s.hi - s.lo, 5);
    p.setFont(chartFont(9));
    for (double v = std::ceil(s.lo / step) * step; v <= s.hi; v += step) {
        const int y = int(std::round(s.y(v)));
        p.setPen(colors::grid);
        p.drawLine(plotLeft, y, plotRight, y);
        p.setPen(colors::text);
        p.drawText(QRect(plotRight + 4, y - 6, kChartWidth - plotRight - 6, 12),
                   Qt::AlignLeft | Qt::AlignVCenter, yen(v));
    }
}

// "サンプルデータ" across the middle of the plot, drawn before the grid and the prices so that it
// never hides a candle or a line, and kept clear of the right end where the latest prices are.
// Drawn without smoothing so every pixel is the palette's sample colour.
void drawSampleMark(QPainter& p, const QRect& plot) {
    const QString text = QStringLiteral("サンプルデータ");
    QFont f = chartFont(std::clamp(plot.height() / 4, 14, 34), true);
    f.setStyleStrategy(QFont::NoAntialias);
    const QRect area(plot.left(), plot.top(), plot.width() * 3 / 4, plot.height());
    // Shrink the type until it fits the area, for small plots.
    while (f.pixelSize() > 12 && QFontMetrics(f).horizontalAdvance(text) > area.width() - 8)
        f.setPixelSize(f.pixelSize() - 1);
    p.save();
    p.setFont(f);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setPen(colors::sample);
    p.drawText(area, Qt::AlignCenter, text);
    p.restore();
}

// A chart picture in the background colour and the painter that draws it: lines and fills
// without smoothing, so they keep the palette's exact colours; text smoothed.
// At a pixel ratio above 1 the painter scales every coordinate, pen and font by it, so the
// layout below stays in the pixels of ratio 1.
class ChartCanvas {
public:
    explicit ChartCanvas(double pixelRatio)
        : m_image(chartPixelSize(pixelRatio), QImage::Format_RGB32) {
        m_image.setDevicePixelRatio(pixelRatio);
        m_image.fill(colors::background);
        m_painter.begin(&m_image);
        m_painter.setRenderHint(QPainter::Antialiasing, false);
        m_painter.setRenderHint(QPainter::TextAntialiasing, true);
    }
    QPainter& painter() { return m_painter; }
    // Ends the painting and gives the picture as drawn.
    QImage finish() {
        m_painter.end();
        return m_image;
    }

private:
    QImage m_image; // declared first: the painter is made on it and ended before it goes
    QPainter m_painter;
};

} // namespace

QSize chartPixelSize(double pixelRatio) {
    // The small allowance keeps ratios such as 1.1 from losing a pixel to rounding.
    return {int(std::floor(kChartWidth * pixelRatio + 1e-9)),
            int(std::floor(kChartHeight * pixelRatio + 1e-9))};
}

std::optional<Term> termFromText(const QString& text) {
    for (const TermInfo& t : kTerms) {
        if (text == QLatin1String(t.token))
            return t.term;
    }
    return std::nullopt;
}

Overlays parseOverlays(const QString& params) {
    Overlays o;
    const QStringList tokens = params.split(QLatin1Char(','), Qt::SkipEmptyParts);
    auto has = [&](const QString& t) {
        return tokens.contains(t);
    };
    for (int period : kSmaPeriods) {
        if (has(QStringLiteral("m%1").arg(period)))
            o.sma.append(period);
    }
    for (int period : kSmaPeriods) {
        if (has(QStringLiteral("e%1").arg(period)))
            o.ema.append(period);
    }
    o.bollinger = has(QStringLiteral("b"));
    o.sar = has(QStringLiteral("p"));
    o.volume = has(QStringLiteral("v"));
    return o;
}

QImage renderTechnicalChart(const Listing& listing, const History& history, Term term,
                            const Overlays& overlays, const ChartStyle& style) {
    ChartCanvas canvas(style.pixelRatio);
    QPainter& p = canvas.painter();

    const TermInfo& info = infoFor(term);
    static const char* periodNames[] = {"日足", "週足", "月足"};
    const QString periodName = QString::fromUtf8(periodNames[info.period]);
    QString right;
    if (!history.isEmpty()) {
        const Bar& last = history.last();
        right = QStringLiteral("終値 %1円  %2")
                    .arg(yen(last.close), last.date.toString(QStringLiteral("yyyy/MM/dd")));
    }
    drawTitle(p,
              QStringLiteral("%1 %2  %3 %4")
                  .arg(listing.code, listing.name, QString::fromUtf8(info.caption), periodName),
              right, history.sample);
    if (history.isEmpty()) {
        return canvas.finish();
    }

    // Indicators over the whole daily history, so they are warmed up at the chart's left edge.
    QVector<double> closes(history.size());
    for (int i = 0; i < history.size(); ++i)
        closes[i] = history[i].close;

    const QVector<Period> all = aggregate(history, info.period);
    const QDate from = history.last().date.addMonths(-info.months);
    int first = 0;
    while (first < all.size() - 1 && all[first].bar.date <= from)
        ++first;
    const int n = int(all.size()) - first;

    auto sample = [&](const QVector<double>& daily) {
        QVector<double> v(n);
        for (int i = 0; i < n; ++i)
            v[i] = daily[all[first + i].lastDaily];
        return v;
    };

    QVector<Line> lines;
    for (int k = 0; k < 5; ++k) {
        if (overlays.sma.contains(kSmaPeriods[k]))
            lines.append({sample(indicators::sma(closes, kSmaPeriods[k])), colors::averages[k],
                          QStringLiteral("MA%1").arg(kSmaPeriods[k])});
    }
    for (int k = 0; k < 5; ++k) {
        if (overlays.ema.contains(kSmaPeriods[k]))
            lines.append({sample(indicators::ema(closes, kSmaPeriods[k])), colors::averages[5 + k],
                          QStringLiteral("EMA%1").arg(kSmaPeriods[k]), Qt::DashLine});
    }
    indicators::Band band;
    QVector<double> upper, middle, lower, sar;
    if (overlays.bollinger) {
        band = indicators::bollinger(closes, 20, 2.0);
        upper = sample(band.upper);
        middle = sample(band.middle);
        lower = sample(band.lower);
    }
    if (overlays.sar) {
        // The stop follows the drawn candles, so it is worked out on the displayed period.
        QVector<double> highs(all.size()), lows(all.size());
        for (int i = 0; i < all.size(); ++i) {
            highs[i] = all[i].bar.high;
            lows[i] = all[i].bar.low;
        }
        sar = indicators::parabolicSar(highs, lows, 0.02, 0.2).mid(first);
    }

    // Legend of the drawn overlays, each in its colour; it wraps to a second row when long.
    QVector<std::pair<QString, QColor>> items;
    for (const Line& l : lines)
        items.append({l.label, l.color});
    if (overlays.bollinger)
        items.append({QStringLiteral("BB(20,±2σ)"), colors::band});
    if (overlays.sar)
        items.append({QStringLiteral("SAR"), colors::sar});
    if (overlays.volume)
        items.append({QStringLiteral("出来高"), colors::volume});
    p.setFont(chartFont(9));
    const QFontMetrics fm(p.font());
    int lx = 4, ly = 15;
    for (const auto& [label, color] : items) {
        const int w = fm.horizontalAdvance(label);
        if (lx + 13 + w > kChartWidth - 4) {
            lx = 4;
            ly += 12;
        }
        p.setPen(QPen(color, 2));
        p.drawLine(lx, ly + 6, lx + 10, ly + 6);
        p.setPen(colors::text);
        p.drawText(QRect(lx + 13, ly, w + 2, 12), Qt::AlignLeft | Qt::AlignVCenter, label);
        lx += 13 + w + 8;
    }

    const int plotLeft = 4;
    const int plotRight = kChartWidth - 50;
    const int priceTop = ly + 16;
    const int dateTop = kChartHeight - 14;
    const int priceBottom = overlays.volume ? dateTop - 58 : dateTop - 2;
    const int volumeTop = priceBottom + 6;
    const int volumeBottom = dateTop - 2;

    double lo = 1e300, hi = -1e300;
    auto widen = [&](double v) {
        if (!std::isnan(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    };
    for (int i = 0; i < n; ++i) {
        widen(all[first + i].bar.low);
        widen(all[first + i].bar.high);
    }
    for (const Line& l : lines) {
        for (double v : l.values)
            widen(v);
    }
    for (const QVector<double>* v : {&upper, &lower, &sar}) {
        for (double x : *v)
            widen(x);
    }
    const double pad = std::max((hi - lo) * 0.05, tickSize(hi));
    const Scale s{lo - pad, hi + pad, priceTop, priceBottom};

    if (history.sample)
        drawSampleMark(p, QRect(plotLeft, priceTop, plotRight - plotLeft, priceBottom - priceTop));

    // Frame, grid and axes.
    p.setPen(colors::grid);
    drawPriceAxis(p, s, plotLeft, plotRight);
    const double slot = double(plotRight - plotLeft - 4) / std::max(n, 1);
    auto xAt = [&](int i) {
        return plotLeft + 2 + slot * (i + 0.5);
    };

    // Date labels at period starts, spaced so they do not collide.
    {
        p.setFont(chartFont(9));
        const int monthsPerLabel = info.months <= 6    ? 1
                                   : info.months <= 12 ? 2
                                   : info.months <= 24 ? 3
                                   : info.months <= 60 ? 12
                                                       : 24;
        const bool yearsOnly = monthsPerLabel >= 12;
        int prevMonth = -1;
        for (int i = 0; i < n; ++i) {
            const QDate d = all[first + i].bar.date;
            const int m = d.year() * 12 + d.month() - 1;
            if (prevMonth >= 0 && m != prevMonth && m % monthsPerLabel == 0) {
                const int x = int(std::round(xAt(i) - slot / 2));
                p.setPen(colors::grid);
                p.drawLine(x, priceTop, x, volumeBottom);
                p.setPen(colors::text);
                const QString label =
                    yearsOnly ? QString::number(d.year()) : d.toString(QStringLiteral("yyyy/MM"));
                p.drawText(QRect(x - 30, dateTop, 60, 14), Qt::AlignCenter, label);
            }
            prevMonth = m;
        }
    }
    p.setPen(colors::axis);
    p.drawRect(plotLeft, priceTop, plotRight - plotLeft, priceBottom - priceTop);
    if (overlays.volume)
        p.drawRect(plotLeft, volumeTop, plotRight - plotLeft, volumeBottom - volumeTop);
    p.setFont(chartFont(9));
    p.setPen(colors::text);
    p.drawText(QRect(plotRight + 4, priceTop - 13, 44, 12), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("(円)"));

    // Bollinger band under the candles.
    auto drawSeries = [&](const QVector<double>& v, const QPen& pen) {
        p.setPen(pen);
        QVector<QPointF> pts;
        for (int i = 0; i < n; ++i) {
            if (std::isnan(v[i])) {
                drawPolyline(p, pts);
                pts.clear();
                continue;
            }
            pts.append(QPointF(xAt(i), s.y(v[i])));
        }
        drawPolyline(p, pts);
    };
    if (overlays.bollinger) {
        drawSeries(upper, QPen(colors::band, 1));
        drawSeries(lower, QPen(colors::band, 1));
        drawSeries(middle, QPen(colors::band, 1, Qt::DotLine));
    }

    // Candles in the style's colours, a level day as a dark bar.
    const int bodyW = std::max(1, int(slot * 0.7));
    const CandleColours colours = candleColours(style.candles);
    for (int i = 0; i < n; ++i) {
        const Bar& b = all[first + i].bar;
        drawCandle(p, s, b, int(xAt(i)), bodyW, colours);
    }

    for (const Line& l : lines)
        drawSeries(l.values, QPen(l.color, 1, l.style));

    if (overlays.sar) {
        for (int i = 0; i < n; ++i) {
            if (!std::isnan(sar[i]))
                p.fillRect(int(xAt(i)) - 1, int(s.y(sar[i])) - 1, 2, 2, colors::sar);
        }
    }

    if (overlays.volume) {
        qint64 maxVol = 1;
        for (int i = 0; i < n; ++i)
            maxVol = std::max(maxVol, all[first + i].bar.volume);
        const double vh = volumeBottom - volumeTop - 2;
        for (int i = 0; i < n; ++i) {
            const int h = int(all[first + i].bar.volume * vh / maxVol);
            p.fillRect(int(xAt(i)) - bodyW / 2, volumeBottom - h, bodyW, h, colors::volume);
        }
        p.setPen(colors::text);
        const QString unit = maxVol >= 100000
                                 ? QStringLiteral("%1万株").arg(yen(std::round(maxVol / 10000.0)))
                                 : QStringLiteral("%1株").arg(yen(double(maxVol)));
        p.drawText(QRect(plotRight + 4, volumeTop, kChartWidth - plotRight - 5, 12),
                   Qt::AlignLeft | Qt::AlignVCenter, unit);
    }
    return canvas.finish();
}

QImage renderLastSession(const Listing& listing, const History& history, const ChartStyle& style) {
    ChartCanvas canvas(style.pixelRatio);
    QPainter& p = canvas.painter();
    const Bar& day = history.last();
    const bool hasPrevious = history.size() >= 2;
    const double prevClose = hasPrevious ? history[history.size() - 2].close : day.open;
    const double change = day.close - prevClose;
    const QString sign = change > 0 ? QStringLiteral("+") : QString();
    const QString changeText =
        hasPrevious
            ? QStringLiteral("%1%2 (%1%3%)")
                  .arg(sign, yen(change), QString::number(change / prevClose * 100.0, 'f', 2))
            : QStringLiteral("-");
    drawTitle(
        p,
        QStringLiteral("%1 %2  1日 %3")
            .arg(listing.code, listing.name, day.date.toString(QStringLiteral("yyyy/MM/dd"))),
        QStringLiteral("終値 %1円  %2").arg(yen(day.close), hasPrevious ? changeText : QString()));

    // Said plainly, where the minute prices would be.
    p.setFont(chartFont(10));
    p.setPen(colors::text);
    p.drawText(QRect(4, 16, kChartWidth - 8, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral(
                   "日中の値動き（分足）のデータはありません。最終取引日の四本値と出来高です。"));

    // The day as one candle against the previous close.
    const int plotLeft = 4, plotRight = 250, priceTop = 44, dateTop = kChartHeight - 14;
    const int priceBottom = dateTop - 4;
    double lo = std::min(day.low, prevClose), hi = std::max(day.high, prevClose);
    const double pad = std::max((hi - lo) * 0.08, tickSize(hi) * 2);
    const Scale s{lo - pad, hi + pad, priceTop, priceBottom};
    drawPriceAxis(p, s, plotLeft, plotRight);
    p.setPen(colors::axis);
    p.drawRect(plotLeft, priceTop, plotRight - plotLeft, priceBottom - priceTop);
    p.setFont(chartFont(9));
    p.setPen(colors::text);
    p.drawText(QRect(plotRight + 4, priceTop - 13, 44, 12), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("(円)"));
    p.drawText(QRect(plotLeft, dateTop, plotRight - plotLeft, 14), Qt::AlignCenter,
               day.date.toString(QStringLiteral("yyyy/MM/dd")));
    if (hasPrevious) {
        const int yPrev = int(s.y(prevClose));
        p.setPen(QPen(colors::previousClose, 1, Qt::DashLine));
        p.drawLine(plotLeft + 1, yPrev, plotRight - 1, yPrev);
    }
    drawCandle(p, s, day, (plotLeft + plotRight) / 2, 41, candleColours(style.candles));

    // The known values, as a table beside the candle.
    static const QLocale english(QLocale::English);
    const std::pair<const char*, QString> rows[] = {
        {"始値", yen(day.open) + QStringLiteral("円")},
        {"高値", yen(day.high) + QStringLiteral("円")},
        {"安値", yen(day.low) + QStringLiteral("円")},
        {"終値", yen(day.close) + QStringLiteral("円")},
        {"前日終値", hasPrevious ? yen(prevClose) + QStringLiteral("円") : QStringLiteral("-")},
        {"前日比", changeText},
        {"出来高", english.toString(day.volume) + QStringLiteral("株")},
    };
    int y = priceTop;
    for (const auto& [label, value] : rows) {
        p.setFont(chartFont(12));
        p.setPen(colors::text);
        p.drawText(QRect(315, y, 80, 20), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromUtf8(label));
        p.setFont(chartFont(12, true));
        p.drawText(QRect(385, y, kChartWidth - 385 - 8, 20), Qt::AlignRight | Qt::AlignVCenter,
                   value);
        y += 24;
    }
    return canvas.finish();
}

QImage renderIntradayChart(const Listing& listing, const History& history,
                           const ChartStyle& style) {
    ChartCanvas canvas(style.pixelRatio);
    QPainter& p = canvas.painter();
    if (history.isEmpty()) {
        drawTitle(p, QStringLiteral("%1 %2  1日").arg(listing.code, listing.name), {});
        return canvas.finish();
    }
    if (!history.sample) {
        p.end();
        return renderLastSession(listing, history, style);
    }
    const Bar& day = history.last();
    const double prevClose = history.size() >= 2 ? history[history.size() - 2].close : day.open;
    const QVector<MinuteBar> minutes = intradaySession(listing.code, day);
    const double change = day.close - prevClose;
    drawTitle(p,
              QStringLiteral("%1 %2  1日 %3")
                  .arg(listing.code, listing.name, day.date.toString(QStringLiteral("yyyy/MM/dd"))),
              QStringLiteral("現在値 %1円  %2%3 (%4%5%)")
                  .arg(yen(day.close), change >= 0 ? QStringLiteral("+") : QString(), yen(change),
                       change >= 0 ? QStringLiteral("+") : QString())
                  .arg(QString::number(change / prevClose * 100.0, 'f', 2)),
              true);

    const int plotLeft = 4, plotRight = kChartWidth - 50;
    const int priceTop = 31, dateTop = kChartHeight - 14;
    const int priceBottom = dateTop - 58, volumeTop = priceBottom + 6, volumeBottom = dateTop - 2;
    const int lunchGap = 8;
    const int n = int(minutes.size());
    const double per = double(plotRight - plotLeft - 4 - lunchGap) / (n - 1);
    auto xAt = [&](int i) {
        return plotLeft + 2 + per * i + (minutes[i].minuteOfDay >= 12 * 60 ? lunchGap : 0);
    };

    double lo = std::min(day.low, prevClose), hi = std::max(day.high, prevClose);
    const double pad = std::max((hi - lo) * 0.08, tickSize(hi) * 2);
    const Scale s{lo - pad, hi + pad, priceTop, priceBottom};

    // Legend.
    p.setFont(chartFont(9));
    p.setPen(QPen(colors::intraday, 2));
    p.drawLine(4, 21, 14, 21);
    p.setPen(colors::text);
    p.drawText(QRect(17, 15, 60, 13), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("株価"));
    p.setPen(QPen(colors::previousClose, 1, Qt::DashLine));
    p.drawLine(60, 21, 70, 21);
    p.setPen(colors::text);
    p.drawText(QRect(73, 15, 160, 13), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("前日終値 %1円").arg(yen(prevClose)));

    drawSampleMark(p, QRect(plotLeft, priceTop, plotRight - plotLeft, priceBottom - priceTop));
    drawPriceAxis(p, s, plotLeft, plotRight);
    for (int i = 0; i < n; ++i) {
        const int m = minutes[i].minuteOfDay;
        if (m % 60 == 0 || m == 12 * 60 + 30 || m == 15 * 60 + 30) {
            const int x = int(xAt(i));
            p.setPen(colors::grid);
            p.drawLine(x, priceTop, x, volumeBottom);
            if (m == 12 * 60 + 30 || m == 11 * 60 + 30)
                continue;
            p.setPen(colors::text);
            p.drawText(QRect(std::max(0, x - 20), dateTop, 40, 14),
                       x - 20 < 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter,
                       QStringLiteral("%1:%2").arg(m / 60).arg(m % 60, 2, 10, QLatin1Char('0')));
        }
    }
    p.setPen(colors::axis);
    p.drawRect(plotLeft, priceTop, plotRight - plotLeft, priceBottom - priceTop);
    p.drawRect(plotLeft, volumeTop, plotRight - plotLeft, volumeBottom - volumeTop);
    p.setPen(colors::text);
    p.drawText(QRect(plotRight + 4, priceTop - 13, 44, 12), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("(円)"));

    const int yPrev = int(s.y(prevClose));
    p.setPen(QPen(colors::previousClose, 1, Qt::DashLine));
    p.drawLine(plotLeft + 1, yPrev, plotRight - 1, yPrev);

    p.setPen(QPen(colors::intraday, 1));
    QVector<QPointF> morning, afternoon;
    for (int i = 0; i < n; ++i) {
        (minutes[i].minuteOfDay < 12 * 60 ? morning : afternoon)
            .append(QPointF(xAt(i), s.y(minutes[i].price)));
    }
    drawPolyline(p, morning);
    drawPolyline(p, afternoon);

    qint64 maxVol = 1;
    for (const MinuteBar& m : minutes)
        maxVol = std::max(maxVol, m.volume);
    const double vh = volumeBottom - volumeTop - 2;
    for (int i = 0; i < n; ++i) {
        const int h = int(minutes[i].volume * vh / maxVol);
        p.fillRect(int(xAt(i)), volumeBottom - h, 1, h, colors::volume);
    }
    p.setPen(colors::text);
    p.drawText(QRect(plotRight + 4, volumeTop, kChartWidth - plotRight - 5, 12),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("出来高"));
    return canvas.finish();
}

} // namespace portal
