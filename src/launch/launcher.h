#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace launch {

struct Command {
    QString program; // absolute path, or a name found on PATH
    QStringList arguments;
};

// Starts a program detached, never through a shell, not waited for. false when it could not be
// started.
bool startDetached(const Command& command, const QString& workingDirectory = QString());

// The browser commands to try for an address, in order: each entry of $BROWSER, a list of
// commands separated by ':', then xdg-open. An entry is split into words as a command line is,
// but without any shell; "%s" in a word stands for the address and "%%" for "%", and an entry
// without "%s" gets the address as its last argument. The address is always one argument.
QList<Command> browserCommands(const QString& address);
// Starts the first of browserCommands() that starts; false when none does.
bool openInBrowser(const QString& address);

// Desktop calculators, in the order they are looked for on PATH.
QStringList calculatorCandidates();
std::optional<Command> findCalculator();

// A spreadsheet program on PATH, with the arguments that open "./MAKEMARK.xls" in it.
std::optional<Command> findSpreadsheet(const QString& workbook = QStringLiteral("./MAKEMARK.xls"));
// The names looked for, for the message when none is found.
QStringList spreadsheetCandidates();

// The ranking workbook, looked for in each folder in turn (the program folder, then the user's
// data folder); the folders are kept for the message when it is in none of them.
struct WorkbookSearch {
    std::optional<QString> path; // absolute path of the first one found
    QStringList folders;         // where it was looked for, in order, without repeats
};
WorkbookSearch findWorkbook(const QStringList& folders,
                            const QString& name = QStringLiteral("MAKEMARK.xls"));

// The messages for a workbook found nowhere and for no calculator on PATH.
QString missingWorkbookMessage(const WorkbookSearch& search,
                               const QString& name = QStringLiteral("MAKEMARK.xls"));
QString noCalculatorMessage();

} // namespace launch
