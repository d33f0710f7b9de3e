#include "launcher.h"

#include <QDir>
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

namespace {
// One word of a $BROWSER entry with "%s" replaced by the address and "%%" by "%"; the address
// itself is not scanned again.
QString substituteAddress(const QString& word, const QString& address, bool* used) {
    QString out;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (word.at(i) == QLatin1Char('%') && i + 1 < word.size()) {
            const QChar next = word.at(i + 1);
            if (next == QLatin1Char('s')) {
                out += address;
                *used = true;
                ++i;
                continue;
            }
            if (next == QLatin1Char('%')) {
                out += QLatin1Char('%');
                ++i;
                continue;
            }
        }
        out += word.at(i);
    }
    return out;
}
} // namespace

QList<Command> browserCommands(const QString& address) {
    QList<Command> commands;
    const QString list = qEnvironmentVariable("BROWSER");
    for (const QString& entry : list.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // Split like a command line (double quotes group words), then substitute: the address
        // never takes part in the splitting, so it stays one argument whatever it holds.
        const QStringList words = QProcess::splitCommand(entry);
        if (words.isEmpty())
            continue;
        bool used = false;
        Command command;
        command.program = substituteAddress(words.first(), address, &used);
        for (qsizetype i = 1; i < words.size(); ++i)
            command.arguments << substituteAddress(words.at(i), address, &used);
        if (!used)
            command.arguments << address;
        commands << command;
    }
    commands << Command{QStringLiteral("xdg-open"), {address}};
    return commands;
}

bool openInBrowser(const QString& address) {
    for (const Command& command : browserCommands(address)) {
        if (startDetached(command))
            return true;
    }
    return false;
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

WorkbookSearch findWorkbook(const QStringList& folders, const QString& name) {
    WorkbookSearch search;
    for (const QString& folder : folders) {
        const QString clean = QDir::cleanPath(folder);
        if (folder.isEmpty() || search.folders.contains(clean))
            continue;
        search.folders << clean;
        const QFileInfo file(QDir(clean).filePath(name));
        if (!search.path && file.isFile())
            search.path = file.absoluteFilePath();
    }
    return search;
}

QString missingWorkbookMessage(const WorkbookSearch& search, const QString& name) {
    QString text = QStringLiteral("ランキングMARKファイルを作るブック %1 が見つかりません。\n"
                                  "次のフォルダーを探しました：")
                       .arg(name);
    for (const QString& folder : search.folders)
        text += QStringLiteral("\n") + folder;
    return text;
}

QString noCalculatorMessage() {
    return QStringLiteral("電卓が見つかりません。次のプログラムを探しました：%1")
        .arg(calculatorCandidates().join(QStringLiteral("、")));
}

} // namespace launch
