#pragma once

// A traded day as the price store keeps it, for the tests that fill a store by hand.

#include "store/pricestore.h"

inline portal::store::DailyBar tradedBar(const QDate& date, double open, double high, double low,
                                         double close, qint64 volume = 1000,
                                         double adjustment = 1.0) {
    portal::store::DailyBar b;
    b.date = date;
    b.open = open;
    b.high = high;
    b.low = low;
    b.close = close;
    b.volume = volume;
    b.adjustment = adjustment;
    return b;
}
