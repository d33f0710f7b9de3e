#pragma once

#include <QColor>
#include <QString>

namespace portal {

// How candles are coloured. Domestic is what Japanese chart sites show (rising red, falling
// blue); western is rising green, falling red.
enum class Candles { Domestic, Western };

struct CandleColours {
    QColor rising;
    QColor falling;
};
CandleColours candleColours(Candles candles);

// What a chart is drawn with beyond its prices: the data folder's candle colours and the pixel
// ratio of the screen that shows it.
struct ChartStyle {
    Candles candles = Candles::Domestic;
    double pixelRatio = 1.0;
};

inline constexpr double kMinPixelRatio = 1.0;
inline constexpr double kMaxPixelRatio = 4.0;

// The ratio a request asks for ("2", "1.5", "1.25"), held between kMinPixelRatio and
// kMaxPixelRatio. A text that is no finite number is 1: a chart is always drawn.
double pixelRatioFromText(const QString& text);

// The candle colours chosen in the data folder's quote-portal.ini, [charts] candles=domestic or
// western. Missing: domestic. A value it does not know is domestic too, and problem (when given)
// gets a message for the user saying so; otherwise it is left empty.
Candles candlesFromConfiguration(const QString& dataDir, QString* problem = nullptr);

} // namespace portal
