#pragma once

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

// The desktop browser for an address: $BROWSER when set, else xdg-open; the address is one
// argument.
Command browserCommand(const QString& address);
bool openInBrowser(const QString& address);

// Desktop calculators, in the order they are looked for on PATH.
QStringList calculatorCandidates();
std::optional<Command> findCalculator();

// A spreadsheet program on PATH, with the arguments that open "./MAKEMARK.xls" in it.
std::optional<Command> findSpreadsheet(const QString& workbook = QStringLiteral("./MAKEMARK.xls"));
// The names looked for, for the message when none is found.
QStringList spreadsheetCandidates();

} // namespace launch
