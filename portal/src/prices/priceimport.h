#pragma once

#include "prices/marketdata.h"
#include "store/pricestore.h"

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

struct ImportOptions {
    store::PriceStore* store = nullptr;
    QString code; // empty: from each file's name
    bool skipBad = false;
};

// Imports one file into the store, in one transaction: rows merge by date, a new row replacing
// a stored row of the same date. Bad rows go to err with file and line; the result line (code,
// rows added and replaced, date range) goes to out. False when the file was refused; the store
// is then unchanged.
bool importFile(const QString& path, const ImportOptions& options, QTextStream& out,
                QTextStream& err);

// The --data option of every quote-portal command: the folder with the code list and the price
// database.
QCommandLineOption dataFolderOption();
// The folder --data names; without it the viewer's own rule: the program folder when the user can
// write to it, else $XDG_DATA_HOME/quorvix.
QString dataFolderFrom(const QCommandLineParser& parser, const QString& programDir);

// Parses a subcommand's words (args, those after its name); on words it cannot use, tells err
// why and how the command is used, and returns false.
bool parseCommand(QCommandLineParser& parser, const QString& command, const QStringList& args,
                  const QString& usage, QTextStream& err);

// `quote-portal import [--data DIR] [--code CODE] [--skip-bad] FILE...`, args being the words
// after "import". Returns the exit status: 0 when every
// file was imported, 1 when any was refused, 2 for a command line that cannot be used.
int runImport(const QStringList& args, const QString& programDir, QTextStream& out,
              QTextStream& err);

} // namespace portal
