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

// What a chart is drawn with beyond its prices: the data folder's candle colours.
struct ChartStyle {
    Candles candles = Candles::Domestic;
};

// The candle colours chosen in the data folder's quote-portal.ini, [charts] candles=domestic or
// western. Missing: domestic. A value it does not know is domestic too, and problem (when given)
// gets a message for the user saying so; otherwise it is left empty.
Candles candlesFromConfiguration(const QString& dataDir, QString* problem = nullptr);

} // namespace portal
