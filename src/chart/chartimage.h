#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QImage>
#include <QString>

#include <optional>

namespace chart {

// A chart as saved or copied from its pane: the image as received, at its full resolution.

// The term as a saved chart's name gives it, in the order of terms(): "1d", "3m", "6m", "1y",
// "2y", "5y", "10y"; empty for an index out of range.
QString termName(int term);
// The term whose temporary file path is ("/data/temp3.gif" -> 2), or -1.
int termOfFile(const QString& path);
// The default name of a saved chart: CODE_TERM_YYYYMMDD.png, the date that of its last price.
QString chartImageFileName(const QString& code, int term, const QDate& lastPrice);
// The date of the last price a quote page tells: the first "yyyy/MM/dd" in its text that is a
// date (the summary page reads "2026/12/04 15:30 終値").
std::optional<QDate> lastPriceDate(const QString& pageText);
// The date in Japan (UTC+9, no summer time) at the instant now.
QDate dateInJapan(const QDateTime& now);
// The image as PNG bytes; empty when it cannot be encoded.
QByteArray pngBytes(const QImage& image);

} // namespace chart
