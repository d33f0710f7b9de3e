#pragma once

#include "charts/chartstyle.h"
#include "prices/marketdata.h"
#include "server/portalserver.h"

#include <QByteArray>

namespace portal {

struct Response {
    int status = 404;
    QByteArray contentType;
    QByteArray body;
};

// Turns one request target (path and query, still percent-encoded) into an answer. Knows every
// route of the portal; faults that change content (non-image charts, detail marker) are applied
// here, faults of the transport (delay, drop, status 500) by the server. Charts are drawn in the
// portal's style, at the pixel ratio the request asks for with dpr=R.
Response route(const MarketData& data, const QByteArray& method, const QByteArray& path,
               const QByteArray& query, const Faults& faults, const ChartStyle& style = {});

// The HTML page of an answer that has no content of its own (404, 500).
Response errorPage(int status);

// Pages, exposed for tests and the benchmark.
QByteArray detailPage(const MarketData& data, const Listing& listing, const Faults& faults);

} // namespace portal
