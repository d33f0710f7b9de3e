#include "prices/datastore.h"

#include "prices/pricecsv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

namespace portal {

namespace {

const QString kMigratedKey = QStringLiteral("migration");
const QString kMigratedDone = QStringLiteral("done");
const QString kMigrationKind = QStringLiteral("migration");

QString cannotUse(const QString& dataDir, const QString& why) {
    return QStringLiteral("データフォルダ %1 に価格データベースを置けません（%2）。"
                          "--data で書き込めるフォルダを指定してください")
        .arg(QDir::toNativeSeparators(dataDir), why);
}

// Moves the folder's old price files in, one transaction each; false when a write failed, so
// that the next opening tries again.
bool migrate(store::PriceStore& store, const QString& dataDir, QTextStream* err) {
    const QDir folder(dataDir + QStringLiteral("/prices"));
    bool allWritten = true;
    const QStringList files =
        folder.entryList({QStringLiteral("*.csv")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& name : files) {
        const QString code = QFileInfo(name).completeBaseName();
        if (!isCode(code))
            continue;
        // Moved in by an earlier run that did not finish.
        if (const auto source = store.source(code); source && source->kind == kMigrationKind)
            continue;
        const QString path = folder.filePath(name);
        QFile file(path);
        PriceFile csv;
        if (file.open(QIODevice::ReadOnly))
            csv = readPriceCsv(file);
        else
            csv.error = file.errorString();
        if (!csv.error.isEmpty() || csv.bars.isEmpty()) {
            if (err)
                *err << QDir::toNativeSeparators(path)
                     << QStringLiteral(": 読めないため移せません（")
                     << (csv.error.isEmpty() ? QStringLiteral("株価の行がありません") : csv.error)
                     << QStringLiteral("）") << Qt::endl;
            continue;
        }
        // The rows that could be read are what the charts drew from this file until now.
        if (csv.problemCount > 0 && err)
            *err << QDir::toNativeSeparators(path)
                 << QStringLiteral(": 読めない %1 行を除いて移しました（最初は %2 行目: %3）")
                        .arg(csv.problemCount)
                        .arg(csv.problems[0].line)
                        .arg(csv.problems[0].reason)
                 << Qt::endl;
        const StoreResult stored =
            storeBars(store, code, csv.bars, kMigrationKind, QFileInfo(path).absoluteFilePath());
        if (!stored.ok) {
            if (err)
                *err << QDir::toNativeSeparators(path) << QStringLiteral(": ") << stored.error
                     << Qt::endl;
            allWritten = false;
        }
    }
    return allWritten;
}

} // namespace

std::unique_ptr<store::PriceStore> openDataStore(const QString& dataDir, QString* error,
                                                 QTextStream* err) {
    if (!QDir().mkpath(dataDir)) {
        if (error)
            *error = cannotUse(dataDir, QStringLiteral("フォルダを作れません"));
        return nullptr;
    }
    QString why;
    auto store = store::PriceStore::open(store::PriceStore::pathIn(dataDir), &why);
    if (!store) {
        if (error)
            *error = cannotUse(dataDir, why);
        return nullptr;
    }
    if (store->state(kMigratedKey) != kMigratedDone && migrate(*store, dataDir, err)) {
        store::PriceStore::Writer done(*store);
        done.setState(kMigratedKey, kMigratedDone);
        done.commit();
    }
    return store;
}

History adjustedHistory(const QVector<store::DailyBar>& days) {
    History out;
    const QVector<store::AdjustedBar> bars = store::adjusted(days);
    out.reserve(bars.size());
    for (const store::AdjustedBar& a : bars)
        out.append({a.date, a.open, a.high, a.low, a.close, a.volume});
    return out;
}

History storedHistory(const store::PriceStore& store, const QString& code) {
    History out = adjustedHistory(store.bars(code));
    if (!out.isEmpty()) {
        if (const auto source = store.source(code))
            out.sourceKind = source->kind;
    }
    return out;
}

QString describeWrite(const StoreResult& result, const History& bars) {
    static const QLocale english(QLocale::English);
    const store::WriteCount& n = result.count;
    QString text = QStringLiteral("追加 %1 行、置換 %2 行")
                       .arg(english.toString(n.added), english.toString(n.replaced));
    if (n.unchanged > 0)
        text += QStringLiteral("、同じ値 %1 行").arg(english.toString(n.unchanged));
    if (!bars.isEmpty())
        text += QStringLiteral("、%1 - %2")
                    .arg(bars.first().date.toString(QStringLiteral("yyyy/MM/dd")),
                         bars.last().date.toString(QStringLiteral("yyyy/MM/dd")));
    return text;
}

store::DailyBar dailyBarOf(const Bar& bar) {
    store::DailyBar d;
    d.date = bar.date;
    d.open = bar.open;
    d.high = bar.high;
    d.low = bar.low;
    d.close = bar.close;
    d.volume = bar.volume;
    return d;
}

StoreResult storeBars(store::PriceStore& store, const QString& code, const History& bars,
                      const QString& kind, const QString& origin) {
    StoreResult r;
    store::PriceStore::Writer writer(store);
    bool ok = writer.isOpen();
    for (qsizetype i = 0; ok && i < bars.size(); ++i)
        ok = writer.put(code, dailyBarOf(bars[i]));
    ok = ok && writer.setSource(code, kind, origin) && writer.commit();
    if (!ok) {
        r.error = QStringLiteral("価格データベース %1 に書き込めません（%2）")
                      .arg(QDir::toNativeSeparators(store.path()), writer.error());
        return r;
    }
    r.ok = true;
    r.count = writer.count();
    return r;
}

} // namespace portal
