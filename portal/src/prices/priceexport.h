#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace portal {

// `quote-portal export [--data DIR] [--out DIR] CODE... | --all`, args being the words after
// "export": writes OUT/CODE.csv for each code in the portal's own layout,
// "Date,Open,High,Low,Close,Volume", oldest first, dates as YYYY-MM-DD, with the prices the charts
// are drawn from (split-adjusted; days without trades left out). --out defaults to the current
// folder. Returns the exit status: 0 when every code was written, 1 when any was not (a code
// without stored prices, a file that cannot be written), 2 for a command line that cannot be
// used.
int runExport(const QStringList& args, const QString& programDir, QTextStream& out,
              QTextStream& err);

} // namespace portal
