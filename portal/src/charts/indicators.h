#pragma once

#include <QVector>

#include <limits>

// Technical indicators as pure functions over a price series. Every result has the length of its
// input; positions where the indicator is not yet defined hold NaN.
namespace portal::indicators {

inline constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// Simple moving average over `period` values.
QVector<double> sma(const QVector<double>& values, int period);

// Exponential (smoothed) moving average with factor 2 / (period + 1), seeded with the simple
// average of the first `period` values.
QVector<double> ema(const QVector<double>& values, int period);

struct Band {
    QVector<double> middle;
    QVector<double> upper;
    QVector<double> lower;
};

// Bollinger band: simple average over `period` values, +- `width` population standard deviations.
Band bollinger(const QVector<double>& closes, int period = 20, double width = 2.0);

// Parabolic stop-and-reverse (acceleration step `step`, capped at `maxStep`). The first bar only
// seeds the trend; from the second bar on each position holds the stop for that bar.
QVector<double> parabolicSar(const QVector<double>& highs, const QVector<double>& lows,
                             double step = 0.02, double maxStep = 0.2);

} // namespace portal::indicators
