#include "prices/priceimport.h"

#include "base/datafolder.h"
#include "prices/datastore.h"
#include "prices/pricecsv.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

namespace portal {

namespace {

QString count(int n) {
    static const QLocale english(QLocale::English);
    return english.toString(n);
}

} // namespace

QString codeFromFileName(const QString& path) {
    static const QRegularExpression split(QStringLiteral("[^0-9A-Za-z]+"));
    QString name = QFileInfo(path).fileName();
    if (name.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        name.chop(4);
    QString found;
    for (const QString& part : name.split(split, Qt::SkipEmptyParts)) {
        const QString candidate = part.toUpper();
        if (!isCode(candidate))
            continue;
        if (!found.isEmpty() && found != candidate)
            return {};
        found = candidate;
    }
    return found;
}

bool importFile(const QString& path, const ImportOptions& options, QTextStream& out,
                QTextStream& err) {
    const QString shown = QDir::toNativeSeparators(path);
    const QString code = options.code.isEmpty() ? codeFromFileName(path) : options.code;
    if (code.isEmpty()) {
        err << shown
            << QStringLiteral(": 銘柄コードが分かりません。ファイル名にコードを入れるか"
                              " --code で指定してください（取り込みませんでした）")
            << Qt::endl;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        err << shown << QStringLiteral(": 読めません: ") << file.errorString()
            << QStringLiteral("（取り込みませんでした）") << Qt::endl;
        return false;
    }
    // Read as a stream: memory stays bounded whatever the file's size.
    const PriceFile csv = readPriceCsv(file);
    if (!csv.error.isEmpty()) {
        err << shown << QStringLiteral(": ") << csv.error
            << QStringLiteral("（取り込みませんでした）") << Qt::endl;
        return false;
    }
    for (const RowProblem& p : csv.problems)
        err << shown << QLatin1Char(':') << p.line << QStringLiteral(": ") << p.reason << Qt::endl;
    if (csv.problemCount > csv.problems.size())
        err << shown
            << QStringLiteral(": ほかにも不正な行が %1 行あります")
                   .arg(count(csv.problemCount - int(csv.problems.size())))
            << Qt::endl;
    if (csv.problemCount > 0 && !options.skipBad) {
        err << shown
            << QStringLiteral(": 不正な行が %1 行あるため取り込みませんでした"
                              "（--skip-bad で不正な行を除いて取り込めます）")
                   .arg(csv.problemCount)
            << Qt::endl;
        return false;
    }
    if (csv.bars.isEmpty()) {
        err << shown << QStringLiteral(": 取り込める行がありません（取り込みませんでした）")
            << Qt::endl;
        return false;
    }
    const StoreResult stored = storeBars(*options.store, code, csv.bars, QStringLiteral("import"),
                                         QFileInfo(path).absoluteFilePath());
    if (!stored.ok) {
        err << shown << QStringLiteral(": ") << stored.error << Qt::endl;
        return false;
    }
    out << code << QStringLiteral(": ") << describeWrite(stored, csv.bars);
    if (csv.problemCount > 0)
        out << QStringLiteral("、不正な行 %1 行を除外").arg(count(csv.problemCount));
    out << QStringLiteral("（") << shown << QStringLiteral("）") << Qt::endl;
    return true;
}

QCommandLineOption dataFolderOption() {
    return QCommandLineOption(
        QStringLiteral("data"),
        QStringLiteral("Data folder: the price database, the code list, MARK.csv."),
        QStringLiteral("dir"));
}

QString dataFolderFrom(const QCommandLineParser& parser, const QString& programDir) {
    const QCommandLineOption data = dataFolderOption();
    return parser.isSet(data) ? parser.value(data) : base::userDataFolder(programDir);
}

bool parseCommand(QCommandLineParser& parser, const QString& command, const QStringList& args,
                  const QString& usage, QTextStream& err) {
    if (parser.parse(QStringList{command} + args))
        return true;
    err << parser.errorText() << Qt::endl << usage << Qt::endl;
    return false;
}

int runImport(const QStringList& args, const QString& programDir, QTextStream& out,
              QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption codeOption(QStringLiteral("code"),
                                        QStringLiteral("The code of every file named."),
                                        QStringLiteral("code"));
    const QCommandLineOption skipBad(
        QStringLiteral("skip-bad"), QStringLiteral("Import the good rows of files with bad rows."));
    parser.addOptions({dataFolderOption(), codeOption, skipBad});
    const QString usage = QStringLiteral(
        "使い方: quote-portal import [--data DIR] [--code CODE] [--skip-bad] FILE...");
    if (!parseCommand(parser, QStringLiteral("quote-portal import"), args, usage, err))
        return 2;
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        err << usage << Qt::endl;
        return 2;
    }
    ImportOptions options;
    options.skipBad = parser.isSet(skipBad);
    if (parser.isSet(codeOption)) {
        const auto code = codeFromUser(parser.value(codeOption));
        if (!code) {
            err << QStringLiteral("--code “%1” は銘柄コードではありません")
                       .arg(parser.value(codeOption))
                << Qt::endl;
            return 2;
        }
        options.code = *code;
    }
    QString error;
    const auto store = openDataStore(dataFolderFrom(parser, programDir), &error, &err);
    if (!store) {
        err << error << Qt::endl;
        return 1;
    }
    options.store = store.get();
    bool allImported = true;
    for (const QString& f : files)
        allImported = importFile(f, options, out, err) && allImported;
    return allImported ? 0 : 1;
}

} // namespace portal
