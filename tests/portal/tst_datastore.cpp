// The data folder's price database as the commands and the portal use it: old price files move in
// once and stay where they are; export writes what the charts draw; a portal in one process reads
// while another writes, and a writer waits for another; an import killed while it commits leaves
// the database as it was.
#include "portalclient.h"
#include "pricefolder.h"
#include "prices/priceexport.h"
#include "prices/priceimport.h"
#include "table.h"

#include <QtTest>

#include <functional>

#include <sys/resource.h>

namespace {

const QByteArray kOldFile = "Date,Open,High,Low,Close,Volume\n"
                            "2025-03-03,1000,1050,990,1040,120000\n"
                            "2025-03-04,1040,1100,1030,1097,150000\n";

// A daily file of one code in the portal's own layout: `days` weekdays back from 2026-11-30.
QByteArray dailyFile(int days, double level) {
    QByteArray out = "Date,Open,High,Low,Close,Volume\n";
    QDate d(2026, 11, 30);
    QList<QByteArray> rows;
    while (rows.size() < days) {
        if (d.dayOfWeek() <= 5) {
            const double p = level + rows.size() % 50;
            rows.prepend(d.toString(Qt::ISODate).toLatin1() + ',' + QByteArray::number(p) + ',' +
                         QByteArray::number(p + 5) + ',' + QByteArray::number(p - 5) + ',' +
                         QByteArray::number(p + 1) + ",1000");
        }
        d = d.addDays(-1);
    }
    return out + rows.join('\n') + '\n';
}

} // namespace

class TestDataStore : public QObject, private PriceFolder {
    Q_OBJECT

    CommandRun command(int (*run)(const QStringList&, const QString&, QTextStream&, QTextStream&),
                       const QStringList& args) {
        CommandRun r;
        QTextStream out(&r.out), err(&r.err);
        r.status = run(QStringList{QStringLiteral("--data"), dataDir()} + args,
                       QStringLiteral("/nonexistent"), out, err);
        return r;
    }
    QString writeInput(const QString& name, const QByteArray& bytes) {
        const QString path = folderPath(name);
        return testing::writeBytes(path, bytes) ? path : QString();
    }
    // The quote-portal program on the data folder; its exit status, standard error in err.
    int runProgram(const QStringList& args, QString* err = nullptr,
                   std::function<void()> childSetup = {}) {
        QProcess p;
        if (childSetup)
            p.setChildProcessModifier(childSetup);
        p.start(programPath(), args);
        if (!p.waitForFinished(60000))
            return -1;
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }

private Q_SLOTS:
    void init() { renewFolder(); }

    void oldFilesMoveIn_data() {
        // files: name -> bytes; stored: the codes stored after the first opening; named: what
        // standard error names.
        testing::columns<QStringList, QList<QByteArray>, QStringList, QStringList>(
            {"names", "files", "stored", "named"});
        QTest::newRow("none") << QStringList() << QList<QByteArray>() << QStringList()
                              << QStringList();
        QTest::newRow("two codes")
            << QStringList{QStringLiteral("7203"), QStringLiteral("130A")}
            << QList<QByteArray>{kOldFile, kOldFile}
            << QStringList{QStringLiteral("130A"), QStringLiteral("7203")} << QStringList();
        QTest::newRow("a page that is no price file")
            << QStringList{QStringLiteral("7203"), QStringLiteral("6758")}
            << QList<QByteArray>{kOldFile, "<html><body>moved</body></html>"}
            << QStringList{QStringLiteral("7203")} << QStringList{QStringLiteral("6758.csv")};
        // The days the charts drew from before move in; the file is named with its rows.
        QTest::newRow("a file with a bad row")
            << QStringList{QStringLiteral("7203")}
            << QList<QByteArray>{kOldFile + "2025-03-05,not,a,row,at,all\n"}
            << QStringList{QStringLiteral("7203")} << QStringList{QStringLiteral("7203.csv")};
        QTest::newRow("a name that is no code")
            << QStringList{QStringLiteral("notes")} << QList<QByteArray>{kOldFile} << QStringList()
            << QStringList();
    }
    void oldFilesMoveIn() {
        QFETCH(QStringList, names);
        QFETCH(QList<QByteArray>, files);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, named);
        for (int i = 0; i < names.size(); ++i)
            writeOldPriceFile(names[i], files[i]);

        QString error, messages;
        QTextStream err(&messages);
        auto store = portal::openDataStore(dataDir(), &error, &err);
        QVERIFY2(store, qPrintable(error));
        QCOMPARE(store->codes(), stored);
        for (const QString& code : stored) {
            QCOMPARE(storedBars(code).size(), 2);
            QCOMPARE(store->source(code)->kind, QStringLiteral("migration"));
        }
        for (const QString& name : named)
            QVERIFY2(messages.contains(name), qPrintable(messages));
        if (named.isEmpty())
            QCOMPARE(messages, QString());
        // Every file stays where it was, as it was.
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(testing::fileBytes(oldPriceFile(names[i])), files[i]);
    }

    void oldFilesMoveInOnce() {
        writeOldPriceFile(QStringLiteral("7203"), kOldFile);
        QVERIFY(portal::openDataStore(dataDir(), nullptr));
        // A later change to the old file, or a new one, is not the store's business any more.
        writeOldPriceFile(QStringLiteral("7203"),
                          kOldFile + "2025-03-05,1097,1100,1090,1095,1000\n");
        writeOldPriceFile(QStringLiteral("6758"), kOldFile);
        QVERIFY(portal::openDataStore(dataDir(), nullptr));
        QCOMPARE(storedBars(QStringLiteral("7203")).size(), 2);
        QCOMPARE(storedCodes(), QStringList{QStringLiteral("7203")});
    }

    void exportWrites_data() {
        testing::columns<QStringList, int, QStringList, QString>(
            {"args", "status", "files", "message"});
        QTest::newRow("one code") << QStringList{QStringLiteral("7203")} << 0
                                  << QStringList{QStringLiteral("7203.csv")} << QString();
        QTest::newRow("full width") << QStringList{QStringLiteral("７２０３")} << 0
                                    << QStringList{QStringLiteral("7203.csv")} << QString();
        QTest::newRow("all") << QStringList{QStringLiteral("--all")} << 0
                             << QStringList{QStringLiteral("130A.csv"), QStringLiteral("7203.csv")}
                             << QString();
        QTest::newRow("a code without prices")
            << QStringList{QStringLiteral("6758"), QStringLiteral("7203")} << 1
            << QStringList{QStringLiteral("7203.csv")} << QStringLiteral("6758");
        QTest::newRow("no code") << QStringList() << 2 << QStringList() << QStringLiteral("使い方");
        QTest::newRow("codes and --all")
            << QStringList{QStringLiteral("7203"), QStringLiteral("--all")} << 2 << QStringList()
            << QStringLiteral("使い方");
        QTest::newRow("no code but a path")
            << QStringList{QStringLiteral("../7203")} << 2 << QStringList()
            << QStringLiteral("銘柄コードではありません");
    }
    void exportWrites() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QStringList, files);
        QFETCH(QString, message);
        // 7203 split two-for-one on 2025-03-04; 130A had a day without trades.
        {
            const auto db = openStore();
            QVERIFY(db);
            portal::store::PriceStore::Writer w(*db);
            portal::store::DailyBar b;
            b.date = QDate(2025, 3, 3);
            b.open = b.high = b.low = b.close = 1000;
            b.volume = 100;
            QVERIFY(w.put(QStringLiteral("7203"), b));
            QVERIFY(w.put(QStringLiteral("130A"), b));
            b.date = QDate(2025, 3, 4);
            b.open = b.high = b.low = b.close = 510;
            b.volume = 300;
            b.adjustment = 0.5;
            QVERIFY(w.put(QStringLiteral("7203"), b));
            portal::store::DailyBar noTrades;
            noTrades.date = b.date;
            QVERIFY(w.put(QStringLiteral("130A"), noTrades));
            QVERIFY(w.commit());
        }
        const QString out = folderPath(QStringLiteral("out"));
        const CommandRun r =
            command(portal::runExport, QStringList{QStringLiteral("--out"), out} + args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), files);
        if (files.contains(QStringLiteral("7203.csv")))
            QCOMPARE(testing::fileBytes(out + QStringLiteral("/7203.csv")),
                     QByteArray("Date,Open,High,Low,Close,Volume\n"
                                "2025-03-03,500,500,500,500,200\n"
                                "2025-03-04,510,510,510,510,300\n"));
        if (files.contains(QStringLiteral("130A.csv")))
            QCOMPARE(testing::fileBytes(out + QStringLiteral("/130A.csv")),
                     QByteArray("Date,Open,High,Low,Close,Volume\n"
                                "2025-03-03,1000,1000,1000,1000,100\n"));
    }

    void exportedFileImportsAsTheSame() {
        const QString input = writeInput(QStringLiteral("7203.csv"), dailyFile(300, 2500));
        QCOMPARE(command(portal::runImport, {input}).status, 0);
        const QString out = folderPath(QStringLiteral("out"));
        QCOMPARE(command(portal::runExport, {QStringLiteral("--out"), out, QStringLiteral("7203")})
                     .status,
                 0);
        QCOMPARE(testing::fileBytes(out + QStringLiteral("/7203.csv")), testing::fileBytes(input));
    }

    void unusableDataFolders_data() {
        testing::columns<QString>({"what"});
        QTest::newRow("a folder inside a file") << QStringLiteral("file");
        QTest::newRow("a folder where the database goes") << QStringLiteral("folder");
    }
    void unusableDataFolders() {
        QFETCH(QString, what);
        QString folder = dataDir();
        if (what == QLatin1String("file")) {
            QVERIFY(testing::writeBytes(folderPath(QStringLiteral("notes.txt")), "mine\n"));
            folder = folderPath(QStringLiteral("notes.txt/data"));
        } else {
            QVERIFY(QDir().mkpath(portal::store::PriceStore::pathIn(folder)));
        }
        const QString input = writeInput(QStringLiteral("7203.csv"), kOldFile);
        CommandRun r;
        QTextStream out(&r.out), err(&r.err);
        r.status = portal::runImport({QStringLiteral("--data"), folder, input},
                                     QStringLiteral("/nonexistent"), out, err);
        QCOMPARE(r.status, 1);
        // The message names the folder and how to choose another.
        QVERIFY2(r.err.contains(folder) && r.err.contains(QStringLiteral("--data")),
                 qPrintable(r.err));
        QCOMPARE(testing::fileBytes(folderPath(QStringLiteral("notes.txt"))),
                 what == QLatin1String("file") ? QByteArray("mine\n")
                                               : QByteArray("(cannot open)"));
    }

    void oneProcessReadsWhileAnotherWrites() {
        QVERIFY(
            QFile::copy(codeListPath(), dataDir() + QStringLiteral("/銘柄コード一覧20060513.csv")));
        store(QStringLiteral("7203"), kOldFile);
        Program portal;
        QVERIFY(portal.start({}, dataDir()));

        // A write under way in this process: begun, days put, not yet committed.
        const auto db = openStore();
        QVERIFY(db);
        auto writer = std::make_unique<portal::store::PriceStore::Writer>(*db);
        QVERIFY(writer->isOpen());
        for (const portal::Bar& b : portal::parsePriceCsv(dailyFile(500, 700)).bars)
            QVERIFY(writer->put(QStringLiteral("6758"), portal::dailyBarOf(b)));
        // The portal answers from what was committed, neither waiting nor falling back to
        // invented prices.
        const QString during =
            QString::fromUtf8(fetch(portal.port, summaryTarget(QStringLiteral("7203"))).body);
        QVERIFY2(during.contains(QStringLiteral("1,097円")), qPrintable(during));
        QVERIFY(!during.contains(QStringLiteral("サンプルデータ")));
        QVERIFY(QString::fromUtf8(fetch(portal.port, summaryTarget(QStringLiteral("6758"))).body)
                    .contains(QStringLiteral("サンプルデータ")));

        // An import started now waits for this write instead of failing.
        QProcess import;
        import.start(programPath(), {QStringLiteral("import"), QStringLiteral("--data"), dataDir(),
                                     writeInput(QStringLiteral("9984.csv"), dailyFile(200, 9000))});
        QVERIFY(import.waitForStarted(10000));
        QVERIFY(!import.waitForFinished(300));
        QVERIFY(writer->commit());
        writer.reset();
        QVERIFY(import.waitForFinished(30000));
        QCOMPARE(import.exitCode(), 0);

        // Both writes show at the next request.
        for (const QString& code : {QStringLiteral("6758"), QStringLiteral("9984")}) {
            const QString after = QString::fromUtf8(fetch(portal.port, summaryTarget(code)).body);
            QVERIFY2(!after.contains(QStringLiteral("サンプルデータ")), qPrintable(code + after));
        }
    }

    void aFolderWithoutCodeListUsesTheShippedOne() {
        // A portal started by hand on a user's data folder, which has no code list of its own.
        Program portal;
        QVERIFY(portal.start({}, dataDir()));
        const Answer a = fetch(portal.port, summaryTarget(QStringLiteral("7203")));
        QCOMPARE(a.status, 200);
        QVERIFY(QString::fromUtf8(a.body).contains(QStringLiteral("(7203)")));
    }

    void importKilledWhileCommittingLeavesTheStoreAsBefore() {
        store(QStringLiteral("7203"), kOldFile);
        const QByteArray before = storedBytes(QStringLiteral("7203"));
        const QString input = writeInput(QStringLiteral("6758.csv"), dailyFile(3000, 1500));
        // The write-ahead log may not grow past 64 KiB: the import's commit, some 150 KiB, is
        // cut off part way and the kernel ends the process, as a crash or a full disk would.
        QString err;
        const int killed = runProgram(
            {QStringLiteral("import"), QStringLiteral("--data"), dataDir(), input}, &err, [] {
                const rlimit limit{64 * 1024, 64 * 1024};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            });
        QCOMPARE(killed, -2);
        QCOMPARE(storedCodes(), QStringList{QStringLiteral("7203")});
        QCOMPARE(storedBytes(QStringLiteral("7203")), before);
        // The same import, run again, goes through.
        QCOMPARE(runProgram({QStringLiteral("import"), QStringLiteral("--data"), dataDir(), input},
                            &err),
                 0);
        QCOMPARE(storedBars(QStringLiteral("6758")).size(), 3000);
        QCOMPARE(storedBytes(QStringLiteral("7203")), before);
    }
};

QTEST_MAIN(TestDataStore)
#include "tst_datastore.moc"
