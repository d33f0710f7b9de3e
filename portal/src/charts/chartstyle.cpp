#include "charts/chartstyle.h"

#include "charts/gifencoder.h"
#include "prices/pricerefresh.h"

#include <QSettings>

#include <algorithm>
#include <cmath>

namespace portal {

CandleColours candleColours(Candles candles) {
    if (candles == Candles::Western)
        return {colors::westernRising, colors::westernFalling};
    return {colors::domesticRising, colors::domesticFalling};
}

double pixelRatioFromText(const QString& text) {
    bool ok = false;
    const double ratio = text.toDouble(&ok);
    if (!ok || !std::isfinite(ratio))
        return 1.0;
    return std::clamp(ratio, kMinPixelRatio, kMaxPixelRatio);
}

Candles candlesFromConfiguration(const QString& dataDir, QString* problem) {
    if (problem)
        problem->clear();
    const QSettings config(configurationPath(dataDir), QSettings::IniFormat);
    const QVariant value = config.value(QStringLiteral("charts/candles"));
    if (!value.isValid())
        return Candles::Domestic;
    // A list ("a, b") comes back as one; what the user wrote is shown as it stands.
    const QString text = value.toStringList().join(QStringLiteral(", ")).trimmed();
    if (text.isEmpty() || text.compare(QLatin1String("domestic"), Qt::CaseInsensitive) == 0)
        return Candles::Domestic;
    if (text.compare(QLatin1String("western"), Qt::CaseInsensitive) == 0)
        return Candles::Western;
    if (problem)
        *problem = QStringLiteral("%1 の [charts] candles=%2 は使えません（domestic か western）。"
                                  "ローソク足は陽線を赤、陰線を青で描きます")
                       .arg(configurationPath(dataDir), text);
    return Candles::Domestic;
}

} // namespace portal
