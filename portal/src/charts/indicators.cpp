#include "charts/indicators.h"

#include <algorithm>
#include <cmath>

namespace portal::indicators {

QVector<double> sma(const QVector<double>& values, int period) {
    QVector<double> out(values.size(), kNone);
    if (period <= 0)
        return out;
    double sum = 0.0;
    for (int i = 0; i < values.size(); ++i) {
        sum += values[i];
        if (i >= period)
            sum -= values[i - period];
        if (i >= period - 1)
            out[i] = sum / period;
    }
    return out;
}

QVector<double> ema(const QVector<double>& values, int period) {
    QVector<double> out(values.size(), kNone);
    if (period <= 0 || values.size() < period)
        return out;
    const double k = 2.0 / (period + 1);
    double seed = 0.0;
    for (int i = 0; i < period; ++i)
        seed += values[i];
    double prev = seed / period;
    out[period - 1] = prev;
    for (int i = period; i < values.size(); ++i) {
        prev += k * (values[i] - prev);
        out[i] = prev;
    }
    return out;
}

Band bollinger(const QVector<double>& closes, int period, double width) {
    Band band;
    band.middle = sma(closes, period);
    band.upper.fill(kNone, closes.size());
    band.lower.fill(kNone, closes.size());
    for (int i = period - 1; i < closes.size(); ++i) {
        const double mean = band.middle[i];
        double sq = 0.0;
        for (int j = i - period + 1; j <= i; ++j)
            sq += (closes[j] - mean) * (closes[j] - mean);
        const double sd = std::sqrt(sq / period);
        band.upper[i] = mean + width * sd;
        band.lower[i] = mean - width * sd;
    }
    return band;
}

QVector<double> parabolicSar(const QVector<double>& highs, const QVector<double>& lows, double step,
                             double maxStep) {
    const int n = std::min(highs.size(), lows.size());
    QVector<double> out(n, kNone);
    if (n < 2)
        return out;
    // The first move decides the starting trend: up when the bar's midpoint did not fall.
    bool rising = highs[1] + lows[1] >= highs[0] + lows[0];
    double sar = rising ? lows[0] : highs[0];
    double ep = rising ? std::max(highs[0], highs[1]) : std::min(lows[0], lows[1]);
    double af = step;
    out[1] = sar;
    for (int i = 2; i < n; ++i) {
        sar += af * (ep - sar);
        if (rising) {
            // The stop never rises into the two previous bars' range.
            sar = std::min({sar, lows[i - 1], lows[i - 2]});
            if (lows[i] < sar) {
                rising = false;
                sar = ep;
                ep = lows[i];
                af = step;
            } else if (highs[i] > ep) {
                ep = highs[i];
                af = std::min(af + step, maxStep);
            }
        } else {
            sar = std::max({sar, highs[i - 1], highs[i - 2]});
            if (highs[i] > sar) {
                rising = true;
                sar = ep;
                ep = highs[i];
                af = step;
            } else if (lows[i] < ep) {
                ep = lows[i];
                af = std::min(af + step, maxStep);
            }
        }
        out[i] = sar;
    }
    return out;
}

} // namespace portal::indicators
