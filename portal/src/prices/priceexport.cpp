#include "prices/priceexport.h"

#include "prices/datastore.h"
#include "prices/pricecsv.h"
#include "prices/priceimport.h"

#include <QCommandLineParser>
#include <QDir>
#include <QSaveFile>

namespace portal {

int runExport(const QStringList& args, const QString& programDir, QTextStream& out,
              QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption outOption(QStringLiteral("out"),
                                       QStringLiteral("Folder for the CODE.csv files."),
                                       QStringLiteral("dir"), QStringLiteral("."));
    const QCommandLineOption all(QStringLiteral("all"),
                                 QStringLiteral("Every code with stored prices."));
    parser.addOptions({dataFolderOption(), outOption, all});
    const QString usage =
        QStringLiteral("使い方: quote-portal export [--data DIR] [--out DIR] (CODE... | --all)");
    if (!parseCommand(parser, QStringLiteral("quote-portal export"), args, usage, err))
        return 2;
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty() == !parser.isSet(all)) {
        err << usage << Qt::endl;
        return 2;
    }
    QStringList codes;
    for (const QString& word : words) {
        const auto code = codeFromUser(word);
        if (!code) {
            err << QStringLiteral("“%1” は銘柄コードではありません").arg(word) << Qt::endl;
            return 2;
        }
        codes.append(*code);
    }
    const QString folder = parser.value(outOption);
    if (!QDir().mkpath(folder)) {
        err << QStringLiteral(
                   "フォルダ %1 を作れません。--out で書き込めるフォルダを指定してください")
                   .arg(QDir::toNativeSeparators(folder))
            << Qt::endl;
        return 1;
    }
    QString error;
    const auto store = openDataStore(dataFolderFrom(parser, programDir), &error, &err);
    if (!store) {
        err << error << Qt::endl;
        return 1;
    }
    if (parser.isSet(all))
        codes = store->codes();

    bool allWritten = true;
    for (const QString& code : std::as_const(codes)) {
        const History bars = storedHistory(*store, code);
        if (bars.isEmpty()) {
            err << code << QStringLiteral(": 保存された株価がありません") << Qt::endl;
            allWritten = false;
            continue;
        }
        const QString path = QDir(folder).filePath(code + QStringLiteral(".csv"));
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(writePriceCsv(bars)) < 0 ||
            !file.commit()) {
            err << QDir::toNativeSeparators(path) << QStringLiteral(": 書き込めません（")
                << file.errorString()
                << QStringLiteral("）。--out で書き込めるフォルダを指定してください") << Qt::endl;
            allWritten = false;
            continue;
        }
        out << code
            << QStringLiteral(": %1 日分、%2 - %3（%4）")
                   .arg(bars.size())
                   .arg(bars.first().date.toString(QStringLiteral("yyyy/MM/dd")),
                        bars.last().date.toString(QStringLiteral("yyyy/MM/dd")),
                        QDir::toNativeSeparators(path))
            << Qt::endl;
    }
    return allWritten ? 0 : 1;
}

} // namespace portal
