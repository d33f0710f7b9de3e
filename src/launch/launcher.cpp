#include "launcher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace launch {

namespace {
// A name is looked up on PATH; a path is taken as it is when it names an executable file.
QString resolveProgram(const QString& program) {
    if (program.isEmpty())
        return QString();
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(program);
}
} // namespace

bool startDetached(const Command& command, const QString& workingDirectory) {
    // Resolved first, so a missing program fails here instead of in a forked child.
    const QString program = resolveProgram(command.program);
    if (program.isEmpty())
        return false;
    // QProcess execs the program with the argument list as it is: no shell ever parses it.
    return QProcess::startDetached(program, command.arguments, workingDirectory);
}

Command browserCommand(const QString& address) {
    // $BROWSER may list several programs separated by ':'; the first one is used, as one program
    // path (no arguments, no "%s" substitution), so the address can only ever be one argument.
    const QString fromEnvironment = qEnvironmentVariable("BROWSER");
    QString program = fromEnvironment.section(QLatin1Char(':'), 0, 0).trimmed();
    if (program.isEmpty())
        program = QStringLiteral("xdg-open");
    return Command{program, {address}};
}

bool openInBrowser(const QString& address) {
    return startDetached(browserCommand(address));
}

QStringList calculatorCandidates() {
    // One fixed search order over PATH, the first found wins: the desktops' own calculators first
    // (GNOME, KDE, MATE), then the stand-alone ones.
    return {QStringLiteral("gnome-calculator"), QStringLiteral("kcalc"),
            QStringLiteral("mate-calc"),        QStringLiteral("galculator"),
            QStringLiteral("qalculate-gtk"),    QStringLiteral("xcalc")};
}

std::optional<Command> findCalculator() {
    for (const QString& name : calculatorCandidates()) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return Command{path, {}};
    }
    return std::nullopt;
}

QStringList spreadsheetCandidates() {
    return {QStringLiteral("libreoffice"), QStringLiteral("localc"), QStringLiteral("soffice")};
}

std::optional<Command> findSpreadsheet(const QString& workbook) {
    for (const QString& name : spreadsheetCandidates()) {
        const QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty())
            continue;
        // localc opens the spreadsheet module by itself; the others are told to.
        if (name == QLatin1String("localc"))
            return Command{path, {workbook}};
        return Command{path, {QStringLiteral("--calc"), workbook}};
    }
    return std::nullopt;
}

} // namespace launch
