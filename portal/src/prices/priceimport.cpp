#include "prices/priceimport.h"

#include "prices/pricecsv.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>

namespace portal {

namespace {

QString day(const QDate& d) {
    return d.toString(QStringLiteral("yyyy/MM/dd"));
}

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

StoreResult mergeIntoStore(const QString& dataDir, const QString& code, const History& bars) {
    StoreResult r;
    if (!isCode(code)) {
        r.error = QStringLiteral("銘柄コード “%1” は使えません").arg(code);
        return r;
    }
    const QString folder = dataDir + QStringLiteral("/prices");
    const QString path = folder + QLatin1Char('/') + code + QStringLiteral(".csv");
    QMap<QDate, Bar> merged;
    QFile stored(path);
    if (stored.exists()) {
        if (!stored.open(QIODevice::ReadOnly)) {
            r.error =
                QStringLiteral("保存済みの %1 を読めません: %2").arg(path, stored.errorString());
            return r;
        }
        const PriceFile old = parsePriceCsv(stored.readAll());
        stored.close();
        if (!old.error.isEmpty() || !old.problems.isEmpty()) {
            const QString why = !old.error.isEmpty() ? old.error
                                                     : QStringLiteral("%1 行目: %2")
                                                           .arg(old.problems[0].line)
                                                           .arg(old.problems[0].reason);
            r.error = QStringLiteral("保存済みの %1 に読めない部分があるため、上書きしません（%2）")
                          .arg(path, why);
            return r;
        }
        for (const Bar& b : old.bars)
            merged.insert(b.date, b);
    }
    for (const Bar& b : bars) {
        if (merged.contains(b.date))
            ++r.replaced;
        else
            ++r.added;
        merged.insert(b.date, b);
    }
    History all;
    all.reserve(int(merged.size()));
    for (const Bar& b : std::as_const(merged))
        all.append(b);

    if (!QDir().mkpath(folder)) {
        r.error = QStringLiteral("フォルダ %1 を作れません").arg(folder);
        return r;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        r.error = QStringLiteral("%1 に書き込めません: %2").arg(path, out.errorString());
        return r;
    }
    out.write(writePriceCsv(all));
    if (!out.commit()) {
        r.error = QStringLiteral("%1 に書き込めません: %2").arg(path, out.errorString());
        return r;
    }
    r.ok = true;
    return r;
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
    const PriceFile csv = parsePriceCsv(file.readAll());
    if (!csv.error.isEmpty()) {
        err << shown << QStringLiteral(": ") << csv.error
            << QStringLiteral("（取り込みませんでした）") << Qt::endl;
        return false;
    }
    for (const RowProblem& p : csv.problems)
        err << shown << QLatin1Char(':') << p.line << QStringLiteral(": ") << p.reason << Qt::endl;
    if (!csv.problems.isEmpty() && !options.skipBad) {
        err << shown
            << QStringLiteral(": 不正な行が %1 行あるため取り込みませんでした"
                              "（--skip-bad で不正な行を除いて取り込めます）")
                   .arg(csv.problems.size())
            << Qt::endl;
        return false;
    }
    if (csv.bars.isEmpty()) {
        err << shown << QStringLiteral(": 取り込める行がありません（取り込みませんでした）")
            << Qt::endl;
        return false;
    }
    const StoreResult stored = mergeIntoStore(options.dataDir, code, csv.bars);
    if (!stored.ok) {
        err << shown << QStringLiteral(": ") << stored.error << Qt::endl;
        return false;
    }
    out << code
        << QStringLiteral(": 追加 %1 行、置換 %2 行、%3 - %4")
               .arg(count(stored.added), count(stored.replaced), day(csv.bars.first().date),
                    day(csv.bars.last().date));
    if (!csv.problems.isEmpty())
        out << QStringLiteral("、不正な行 %1 行を除外").arg(count(int(csv.problems.size())));
    out << QStringLiteral("（") << shown << QStringLiteral("）") << Qt::endl;
    return true;
}

QCommandLineOption dataFolderOption() {
    return QCommandLineOption(QStringLiteral("data"),
                              QStringLiteral("Folder with the code list and prices/."),
                              QStringLiteral("dir"));
}

QString dataFolderFrom(const QCommandLineParser& parser, const QString& programDir) {
    const QCommandLineOption data = dataFolderOption();
    return parser.isSet(data) ? parser.value(data) : programDir;
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
    options.dataDir = dataFolderFrom(parser, programDir);
    options.skipBad = parser.isSet(skipBad);
    if (parser.isSet(codeOption)) {
        options.code = parser.value(codeOption).trimmed().toUpper();
        if (!isCode(options.code)) {
            err << QStringLiteral("--code “%1” は銘柄コードではありません")
                       .arg(parser.value(codeOption))
                << Qt::endl;
            return 2;
        }
    }
    bool allImported = true;
    for (const QString& f : files)
        allImported = importFile(f, options, out, err) && allImported;
    return allImported ? 0 : 1;
}

} // namespace portal
