#pragma once

#include "prices/marketdata.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVector>

class QIODevice;

namespace portal {

// The daily price files people have, read into bars:
//  - the portal's own layout, "Date,Open,High,Low,Close,Volume" (the header may be missing);
//  - Japanese headers 日付,始値,高値,安値,終値,出来高 (optionally 売買代金, 調整後終値), in UTF-8
//    or code page 932;
//  - English headers Date,Open,High,Low,Close,Volume (optionally Adj Close).
// Columns come in any order and extra columns are passed over; a header may follow a few title
// lines. Dates are 2024/09/30, 2024-09-30, 2024/9/30, 2024-9-30, 20240930 or 2024年9月30日
// (also 2024年09月30日), from 1949/05/16, when the exchange reopened, up to today; numbers may
// carry thousands separators and decimals; fields may be quoted.
enum class PriceLayout { Unknown, Portal, Japanese, English };

struct RowProblem {
    int line = 0;   // 1-based line number in the file
    QString reason; // Japanese, for the user
};

struct PriceFile {
    PriceLayout layout = PriceLayout::Unknown;
    // Set when nothing of the file can be read as prices (no header, an HTML page, ...).
    QString error;
    // The good rows, sorted by date, one per date. With an adjusted close column, prices are
    // scaled by adjusted close / close, so splits do not show as falls.
    History bars;
    // Rows that are not prices of a day, in file order: a date or number that does not parse, a
    // date after today or before 1949/05/16, a high below the low, open or close (or a low above
    // open or close), a negative value or a zero price, a line longer than kMaxLineBytes, and one
    // date twice with different values (every row of that date is left out). At most
    // kMaxRowProblems are kept, the first ones; problemCount counts them all.
    QVector<RowProblem> problems;
    int problemCount = 0;
};

// A file of nothing but bad rows still takes bounded memory: no one reads past the first
// thousand reasons.
constexpr int kMaxRowProblems = 1000;
// A longer line is a bad row and is read past without being held; real rows are under 200 bytes.
constexpr qsizetype kMaxLineBytes = 64 * 1024;

// Today's date in Japan (UTC+9, no summer time), whatever the machine's time zone.
QDate todayInJapan();

// Reads the device line by line to its end, so memory stays bounded whatever the file's size.
// A null today means todayInJapan(); rows dated after it are bad rows.
PriceFile readPriceCsv(QIODevice& in, const QDate& today = {});
// The same, of a file already in memory.
PriceFile parsePriceCsv(const QByteArray& bytes, const QDate& today = {});

// The portal's own layout: header and one "yyyy-MM-dd,open,high,low,close,volume" line per bar.
QByteArray writePriceCsv(const History& bars);

QString layoutName(PriceLayout layout);

} // namespace portal
