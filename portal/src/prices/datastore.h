#pragma once

#include "prices/marketdata.h"
#include "store/pricestore.h"

#include <QString>
#include <QTextStream>

#include <memory>

namespace portal {

// Opens the price database of a data folder, creating the folder and the database when missing.
// The first time, the folder's price files of old, prices/CODE.csv, move in: each one is
// imported in a transaction of its own and left where it is; a file that cannot be read is named
// on err and the rest go on. A run that is cut short goes on with the files not yet moved the next
// time. Null, with why in error (Japanese, naming the folder and how to choose another), when the
// database cannot be opened.
std::unique_ptr<store::PriceStore> openDataStore(const QString& dataDir, QString* error,
                                                 QTextStream* err = nullptr);

// Stored days as charts draw them: split-adjusted, days without trades left out.
History adjustedHistory(const QVector<store::DailyBar>& days);

// A code's history as charts draw it: split-adjusted, days without trades left out. Empty when
// the store holds no day of the code.
History storedHistory(const store::PriceStore& store, const QString& code);

// A traded day of a price file as the store keeps it.
store::DailyBar dailyBarOf(const Bar& bar);

// What writing a file's or an answer's bars did.
struct StoreResult {
    bool ok = false;
    store::WriteCount count;
    QString error; // Japanese, when !ok; the store is then unchanged
};

// What a write did, as the import and refresh report it: "追加 3 行、置換 1 行、2024/09/24 -
// 2024/09/30", with "同じ値 N 行" where stored days were written again unchanged.
QString describeWrite(const StoreResult& result, const History& bars);

// Writes the bars of one code in one transaction, recording where they came from (kind and
// origin, see store::Source). A stored day of the same date is replaced.
StoreResult storeBars(store::PriceStore& store, const QString& code, const History& bars,
                      const QString& kind, const QString& origin);

} // namespace portal
