#pragma once

#include "prices/marketdata.h"
#include "store/pricestore.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVector>

#include <optional>

namespace portal::sync {

// What the exchange's data service answers, read from its JSON: {"data": [...],
// "pagination_key": "..."}. An answer that is no JSON object (an HTML page sent with status 200,
// a body cut short) or has no "data" array is not ok, with why in Japanese.

// The service's five-character code as the viewer writes it: "72030" is 7203, "130A0" is 130A.
// Another fifth character (preferred shares and the like) has no four-character form: nullopt.
std::optional<QString> shortCode(const QString& serviceCode);

struct BarsPage {
    bool ok = false;
    QString why;
    struct CodeBar {
        QString code;
        store::DailyBar bar;
    };
    QVector<CodeBar> bars; // unadjusted prices with the day's adjustment factor
    int skipped = 0;       // records of codes without a four-character form, or unreadable
    QString nextKey;       // pagination_key; empty on the last page
};
BarsPage readBarsPage(const QByteArray& body);

struct CalendarPage {
    bool ok = false;
    QString why;
    QVector<QDate> tradingDays; // HolDiv 1 (business day) and 2 (half day)
    QString nextKey;
};
CalendarPage readCalendarPage(const QByteArray& body);

struct MasterPage {
    bool ok = false;
    QString why;
    QVector<Listing> listings; // code, CoName, MktNm
    int skipped = 0;
    QString nextKey;
};
MasterPage readMasterPage(const QByteArray& body);

// The service's own explanation of a failed request ({"message": "..."}), empty when it gave
// none.
QString serviceMessage(const QByteArray& body);

} // namespace portal::sync
