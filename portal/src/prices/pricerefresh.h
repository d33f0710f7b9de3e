#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace portal {

// The address template of a price source: http or https, with "{code}" where the code goes.
// Empty when the template can be used, else why not (Japanese).
QString checkSourceTemplate(const QString& source);
// The address for one code, the code percent-encoded into the template.
QString sourceAddress(const QString& source, const QString& code);

// The codes of a mark file: its first line (base::readMarkLine), each code followed by a comma.
QStringList markFileCodes(const QString& path);

// The data folder's own configuration, DATA/quote-portal.ini: the price source and the day each
// code was last refreshed successfully.
QString configurationPath(const QString& dataDir);

struct RefreshOptions {
    QString dataDir;
    QString source; // the template; empty: the one kept in the configuration
    bool force = false;
    QStringList codes;       // empty: the codes of MARK.csv in the data folder
    QDate today;             // null: the current date
    int minIntervalMs = 500; // at most two requests a second
    long connectTimeoutMs = 3000;
    long totalTimeoutMs = 5000;
};

// Fetches each code's prices from the source and imports them, one progress line per code,
// then a summary of the codes that failed. A failed fetch leaves the stored prices as they were.
// Returns the exit status: 0 when every code is up to date, 1 when any failed, 2 when nothing
// could be tried (no source, a bad source, no codes).
int refreshPrices(const RefreshOptions& options, QTextStream& out, QTextStream& err);

// `quote-portal refresh [--data DIR] [--source TEMPLATE] [--force] [CODE...]`, args being the
// words after "refresh". A source given here is kept in the configuration for later runs.
int runRefresh(const QStringList& args, const QString& programDir, QTextStream& out,
               QTextStream& err);

} // namespace portal
