#pragma once

#include "prices/marketdata.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace portal {

// The code a price file's name tells: the parts of the base name split at anything but letters
// and digits are looked at, and the one part that is a code is it ("7203.csv", "7203.T.csv",
// "130A_daily.csv", "daily-7203.csv"). Empty when no part is a code or two parts are different
// codes.
QString codeFromFileName(const QString& path);

// What merging bars into DATA/prices/CODE.csv did.
struct StoreResult {
    bool ok = false;
    int added = 0;    // dates that were not stored before
    int replaced = 0; // stored dates whose row the new one replaced
    QString error;    // Japanese, when !ok; the stored file is then unchanged
};

// Rows merge by date into what the price file holds, a new row replacing a stored row of the
// same date; the result is sorted and written atomically (a new file renamed over the old), so a
// running portal never reads half a file. A stored file with rows that cannot be read is left
// alone and the merge refused, so nothing stored is lost.
StoreResult mergeIntoStore(const QString& dataDir, const QString& code, const History& bars);

struct ImportOptions {
    QString dataDir;
    QString code; // empty: from each file's name
    bool skipBad = false;
};

// Imports one file. Bad rows go to err with file and line; the result line (code, rows added and
// replaced, date range) goes to out. False when the file was refused.
bool importFile(const QString& path, const ImportOptions& options, QTextStream& out,
                QTextStream& err);

// The --data option of every quote-portal command: the folder with the code list and prices/.
QCommandLineOption dataFolderOption();
// The folder --data names, or the program's folder without it.
QString dataFolderFrom(const QCommandLineParser& parser, const QString& programDir);

// Parses a subcommand's words (args, those after its name); on words it cannot use, tells err
// why and how the command is used, and returns false.
bool parseCommand(QCommandLineParser& parser, const QString& command, const QStringList& args,
                  const QString& usage, QTextStream& err);

// `quote-portal import [--data DIR] [--code CODE] [--skip-bad] FILE...`, args being the words
// after "import". The data folder defaults to programDir. Returns the exit status: 0 when every
// file was imported, 1 when any was refused, 2 for a command line that cannot be used.
int runImport(const QStringList& args, const QString& programDir, QTextStream& out,
              QTextStream& err);

} // namespace portal
