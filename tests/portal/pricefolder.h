#pragma once

// What the price import and refresh tests share: a temporary folder for every test with the
// data folder in it, the price files stored there, and what one run of a command printed.

#include "files.h"
#include "prices/pricecsv.h"

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
    QString stored(const QString& code) const {
        return dataDir() + QStringLiteral("/prices/") + code + QStringLiteral(".csv");
    }
    QByteArray storedBytes(const QString& code) const { return testing::fileBytes(stored(code)); }
    // The stored file's prices; none when it is missing or does not read cleanly.
    portal::History storedBars(const QString& code) const {
        if (!QFile::exists(stored(code)))
            return {};
        const portal::PriceFile p = portal::parsePriceCsv(storedBytes(code));
        return p.problems.isEmpty() && p.error.isEmpty() ? p.bars : portal::History();
    }
    void store(const QString& code, const QByteArray& bytes) {
        QVERIFY(QDir().mkpath(dataDir() + QStringLiteral("/prices")));
        QVERIFY(testing::writeBytes(stored(code), bytes));
    }

private:
    testing::FreshFolder m_dir;
};
