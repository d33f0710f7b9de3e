#pragma once

// What the price import, export and refresh tests share: a temporary folder for every test with
// the data folder in it, the prices its database holds, and what one run of a command printed.

#include "files.h"
#include "prices/datastore.h"
#include "prices/pricecsv.h"
#include "store/pricestore.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QtTest>

struct CommandRun {
    int status = -1;
    QString out;
    QString err;
};

class PriceFolder {
protected:
    // A new temporary folder with an empty data folder in it; run before every test.
    void renewFolder() {
        QVERIFY(m_dir.renew());
        QVERIFY(QDir().mkpath(dataDir()));
    }
    // A path in the temporary folder, beside the data folder.
    QString folderPath(const QString& name) const { return m_dir.filePath(name); }
    QString dataDir() const { return folderPath(QStringLiteral("data")); }
    std::unique_ptr<portal::store::PriceStore> openStore() const {
        return portal::store::PriceStore::open(portal::store::PriceStore::pathIn(dataDir()),
                                               nullptr);
    }
    // The prices the charts draw for a code; none when the store holds no day of it.
    portal::History storedBars(const QString& code) const {
        const auto store = openStore();
        return store ? portal::storedHistory(*store, code) : portal::History();
    }
    // The same, written in the portal's own layout: what a test compares before and after.
    QByteArray storedBytes(const QString& code) const {
        return portal::writePriceCsv(storedBars(code));
    }
    QStringList storedCodes() const {
        const auto store = openStore();
        return store ? store->codes() : QStringList();
    }
    // Puts a file's rows into the store, as an earlier import would have.
    void store(const QString& code, const QByteArray& bytes) {
        const auto store = openStore();
        QVERIFY(store);
        const portal::PriceFile file = portal::parsePriceCsv(bytes);
        QVERIFY(file.problems.isEmpty() && !file.bars.isEmpty());
        QVERIFY(portal::storeBars(*store, code, file.bars, QStringLiteral("import"),
                                  QStringLiteral("test"))
                    .ok);
    }
    // A price file of the layout before the database, DATA/prices/CODE.csv.
    QString oldPriceFile(const QString& code) const {
        return dataDir() + QStringLiteral("/prices/") + code + QStringLiteral(".csv");
    }
    void writeOldPriceFile(const QString& code, const QByteArray& bytes) {
        QVERIFY(QDir().mkpath(dataDir() + QStringLiteral("/prices")));
        QVERIFY(testing::writeBytes(oldPriceFile(code), bytes));
    }

private:
    testing::FreshFolder m_dir;
};
