#pragma once

#include "pages/router.h"

#include <QMap>
#include <QString>

namespace portal {

// The ranking routes, with the query already decoded:
//   /rank?kind=KIND&market=MARKET&n=N&date=YYYY-MM-DD  UTF-8 CSV "rank,code,name,value", best
//     first; n defaults to 50, an empty market means every market, no date the newest day held.
//   /rank/latest  UTF-8 CSV "date,sample": the newest day held, and 1 when it is of invented
//     prices (nothing stored), else 0.
// A parameter that cannot be used answers 400 with a short Japanese text.
Response rankPage(const MarketData& data, const QByteArray& path,
                  const QMap<QString, QString>& params);

} // namespace portal
