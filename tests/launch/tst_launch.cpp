#include "launch/launcher.h"
#include "launch/portalpages.h"
#include "platform/serverconfig.h"
#include "recorder.h"
#include "table.h"

#include <QtTest>

using launch::PortalPage;

namespace {

using testing::kRecorder;
using testing::readRecord;
using testing::Record;
using testing::writeProgram;

// Fake programs in a folder of their own; a name ending in "!" is written without the
// executable bit.
bool populate(const QString& dir, const QStringList& names) {
    for (QString name : names) {
        const bool executable = !name.endsWith(QLatin1Char('!'));
        if (!executable)
            name.chop(1);
        if (!writeProgram(dir + QLatin1Char('/') + name, kRecorder, executable))
            return false;
    }
    return true;
}

// PATH holds only the folder, with the named fake programs in it.
bool onlyOnPath(const QTemporaryDir& bin, const QStringList& names) {
    if (!bin.isValid() || !populate(bin.path(), names))
        return false;
    qputenv("PATH", bin.path().toLocal8Bit());
    return true;
}

} // namespace

class TestLaunch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_environment.setUp());
        QVERIFY(m_emptyBin.isValid());
        QVERIFY(populate(m_environment.bin().path(), {"browser", "other", "xdg-open", "noexec!"}));
        // A program that is there but cannot start: its interpreter is missing.
        QVERIFY(writeProgram(m_environment.bin().filePath(QStringLiteral("broken")),
                             "#!/nonexistent/interpreter\n"));
    }

    void init() {
        // A record file of its own for every test row, outside the working folder.
        m_recordFile = m_environment.nextRecord();
    }

    void cleanup() { m_environment.restore(); }

    void pageAddresses_data() {
        // page: a PortalPage, or -1 for the support page
        testing::columns<int, QString, QString>({"page", "codeText", "address"});

        const int quote = int(PortalPage::Quote);
        const int company = int(PortalPage::Company);
        const int news = int(PortalPage::News);
        const int board = int(PortalPage::Board);
        const int report = int(PortalPage::Report);

        QTest::newRow("quote") << quote << "4674"
                               << "http://quote.test:8001/q?s=4674&d=t&k=c3&h=on&z=m";
        QTest::newRow("company") << company << "4674"
                                 << "http://company.test:8002/biz/fundamental/4674.html";
        QTest::newRow("news") << news << "4674"
                              << "http://news.test:8003/news?s=4674";
        QTest::newRow("board") << board << "4674"
                               << "http://board.test:8004/bbs?action=q&board=4674";
        QTest::newRow("report") << report << "4674"
                                << "http://report.test:8005/report/sector33/brand_report/4674.html";
        QTest::newRow("quote, alphanumeric code")
            << quote << "130A"
            << "http://quote.test:8001/q?s=130A&d=t&k=c3&h=on&z=m";
        QTest::newRow("company, full-width lower case code")
            << company << QStringLiteral("１３０ａ")
            << "http://company.test:8002/biz/fundamental/130A.html";
        QTest::newRow("board, alphanumeric code with blanks")
            << board << " 215a "
            << "http://board.test:8004/bbs?action=q&board=215A";
        QTest::newRow("news, number keeps its text") << news << " 4674.0"
                                                     << "http://news.test:8003/news?s=%204674.0";
        QTest::newRow("support page") << -1 << "4674"
                                      << "http://support.test:8006/help/";
        QTest::newRow("news, empty code box") << news << ""
                                              << "http://news.test:8003/news?s=";
        QTest::newRow("quote, shell text")
            << quote << "46 74; touch x"
            << "http://quote.test:8001/q?s=46%2074%3B%20touch%20x&d=t&k=c3&h=on&z=m";
        QTest::newRow("company, shell text")
            << company << "46 74; touch x"
            << "http://company.test:8002/biz/fundamental/46%2074%3B%20touch%20x.html";
        QTest::newRow("board, query characters")
            << board << "4674&action=x#top"
            << "http://board.test:8004/bbs?action=q&board=4674%26action%3Dx%23top";
        QTest::newRow("report, path characters")
            << report << "../4674"
            << "http://report.test:8005/report/sector33/brand_report/..%2F4674.html";
        QTest::newRow("news, Japanese text")
            << news << QStringLiteral("クレスコ")
            << "http://news.test:8003/news?s=%E3%82%AF%E3%83%AC%E3%82%B9%E3%82%B3";
    }

    void pageAddresses() {
        QFETCH(int, page);
        QFETCH(QString, codeText);
        QFETCH(QString, address);

        QTemporaryDir configDir;
        QVERIFY(configDir.isValid());
        const QString ini = configDir.filePath(QStringLiteral("servers.ini"));
        QVERIFY(writeProgram(ini,
                             "[servers]\n"
                             "quote=http://quote.test:8001\n"
                             "company-profile=http://company.test:8002\n"
                             "news=http://news.test:8003\n"
                             "message-board=http://board.test:8004\n"
                             "report=http://report.test:8005\n"
                             "support-page=http://support.test:8006/help/\n",
                             false));
        const platform::ServerConfig servers = platform::ServerConfig::load(ini);

        const QString composed =
            page < 0 ? servers.supportPage()
                     : launch::portalPageAddress(static_cast<PortalPage>(page), servers, codeText);
        QCOMPARE(composed, address);

        qputenv("BROWSER", m_environment.bin().filePath(QStringLiteral("browser")).toLocal8Bit());
        QVERIFY(launch::openInBrowser(composed));
        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_recordFile).launches, 1, 10000);
        const Record r = readRecord(m_recordFile);
        QCOMPARE(r.program, QStringLiteral("browser"));
        QCOMPARE(r.arguments, QStringList{address});

        // Nothing in the code box ever ran as a command.
        QVERIFY(m_environment.noFile(QStringLiteral("x")));
    }

    void browserChoice_data() {
        // browser: "$BIN/" stands for the fake programs' folder
        // started: empty: nothing can be started
        // arguments: "$URL" stands for the address
        testing::columns<bool, QString, bool, QString, QStringList>(
            {"browserSet", "browser", "xdgOpenOnPath", "started", "arguments"});

        const QStringList url{"$URL"};
        QTest::newRow("BROWSER path") << true << "$BIN/browser" << true << "browser" << url;
        QTest::newRow("BROWSER name on PATH") << true << "other" << true << "other" << url;
        QTest::newRow("BROWSER list, first entry")
            << true << "$BIN/browser:$BIN/other" << true << "browser" << url;
        QTest::newRow("BROWSER unset") << false << "" << true << "xdg-open" << url;
        QTest::newRow("BROWSER empty") << true << "" << true << "xdg-open" << url;
        QTest::newRow("BROWSER names no program, xdg-open next")
            << true << "/nonexistent/browser" << true << "xdg-open" << url;
        QTest::newRow("BROWSER names no program, no xdg-open")
            << true << "/nonexistent/browser" << false << "" << QStringList{};
        QTest::newRow("no browser at all") << false << "" << false << "" << QStringList{};
        QTest::newRow("list, first missing")
            << true << "/nonexistent/browser:$BIN/other" << true << "other" << url;
        QTest::newRow("list, first not executable")
            << true << "$BIN/noexec:$BIN/other" << true << "other" << url;
        QTest::newRow("list, first cannot start")
            << true << "$BIN/broken:$BIN/other" << true << "other" << url;
        QTest::newRow("list, empty entries skipped")
            << true << "::$BIN/other:" << true << "other" << url;
        QTest::newRow("list, none starts: xdg-open")
            << true << "$BIN/broken:/nonexistent/browser" << true << "xdg-open" << url;
        QTest::newRow("%s as an argument") << true << "$BIN/browser --new-window %s" << true
                                           << "browser" << QStringList{"--new-window", "$URL"};
        QTest::newRow("%s inside a word") << true << "$BIN/browser --url=%s --x" << true
                                          << "browser" << QStringList{"--url=$URL", "--x"};
        QTest::newRow("no %s: the address comes last")
            << true << "$BIN/browser --new-tab" << true << "browser"
            << QStringList{"--new-tab", "$URL"};
        QTest::newRow("%% is a percent sign") << true << "$BIN/browser --zoom=100%% %s" << true
                                              << "browser" << QStringList{"--zoom=100%", "$URL"};
        QTest::newRow("quoted words") << true << "\"$BIN/browser\" \"two words\" %s" << true
                                      << "browser" << QStringList{"two words", "$URL"};
        QTest::newRow("second entry with its own arguments")
            << true << "/nonexistent/browser %s:other -a %s" << true << "other"
            << QStringList{"-a", "$URL"};
        QTest::newRow("shell text is never run")
            << true << "$BIN/browser;touch x %s" << true << "xdg-open" << url;
        QTest::newRow("shell text in a word stays a word")
            << true << "$BIN/browser $(touch x) `touch x` %s" << true << "browser"
            << QStringList{"$(touch", "x)", "`touch", "x`", "$URL"};
    }

    void browserChoice() {
        QFETCH(bool, browserSet);
        QFETCH(QString, browser);
        QFETCH(bool, xdgOpenOnPath);
        QFETCH(QString, started);
        QFETCH(QStringList, arguments);

        browser.replace(QLatin1String("$BIN"), m_environment.bin().path());
        if (browserSet)
            qputenv("BROWSER", browser.toLocal8Bit());
        else
            qunsetenv("BROWSER");
        qputenv("PATH",
                (xdgOpenOnPath ? m_environment.bin().path() : m_emptyBin.path()).toLocal8Bit());

        // An address with "%s" and blanks of its own: it is neither substituted nor split.
        const QString address = QStringLiteral("http://127.0.0.1:8470/news?s=%s%25 46 74");
        arguments.replaceInStrings(QLatin1String("$URL"), address);
        const bool ok = launch::openInBrowser(address);
        QCOMPARE(ok, !started.isEmpty());
        if (ok) {
            QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_recordFile).launches, 1, 10000);
            const Record r = readRecord(m_recordFile);
            QCOMPARE(r.program, started);
            QCOMPARE(r.arguments, arguments);
        }
        QVERIFY(m_environment.noFile(QStringLiteral("x")));
    }

    void calculator_data() {
        // started: empty: none found
        testing::columns<QStringList, QString>({"onPath", "started"});

        QTest::newRow("all of them")
            << QStringList{"xcalc",     "qalculate-gtk", "galculator",
                           "mate-calc", "kcalc",         "gnome-calculator"}
            << "gnome-calculator";
        QTest::newRow("kcalc before xcalc") << QStringList{"xcalc", "kcalc"} << "kcalc";
        QTest::newRow("mate-calc before galculator")
            << QStringList{"galculator", "mate-calc"} << "mate-calc";
        QTest::newRow("galculator before qalculate-gtk")
            << QStringList{"qalculate-gtk", "galculator"} << "galculator";
        QTest::newRow("only the last one") << QStringList{"xcalc"} << "xcalc";
        QTest::newRow("not executable is skipped") << QStringList{"kcalc!", "xcalc"} << "xcalc";
        QTest::newRow("none") << QStringList{} << "";
        QTest::newRow("only unknown names") << QStringList{"calc", "calc.exe"} << "";
    }

    void calculator() {
        QFETCH(QStringList, onPath);
        QFETCH(QString, started);

        QTemporaryDir bin;
        QVERIFY(onlyOnPath(bin, onPath));

        const std::optional<launch::Command> calc = launch::findCalculator();
        QCOMPARE(calc.has_value(), !started.isEmpty());
        if (!calc)
            return;
        QVERIFY(launch::startDetached(*calc));
        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_recordFile).launches, 1, 10000);
        const Record r = readRecord(m_recordFile);
        QCOMPARE(r.program, started);
        QCOMPARE(r.arguments, QStringList());
    }

    void calculatorThatCannotStart() {
        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        QVERIFY(writeProgram(bin.filePath(QStringLiteral("gnome-calculator")),
                             "#!/nonexistent/interpreter\n"));
        qputenv("PATH", bin.path().toLocal8Bit());

        const std::optional<launch::Command> calc = launch::findCalculator();
        QVERIFY(calc.has_value());
        QVERIFY(!launch::startDetached(*calc));
    }

    void spreadsheet_data() {
        // started: empty: none found
        testing::columns<QStringList, QString, QStringList>({"onPath", "started", "arguments"});

        const QStringList calc{"--calc", "./MAKEMARK.xls"};
        QTest::newRow("libreoffice first")
            << QStringList{"soffice", "localc", "libreoffice"} << "libreoffice" << calc;
        QTest::newRow("localc before soffice")
            << QStringList{"soffice", "localc"} << "localc" << QStringList{"./MAKEMARK.xls"};
        QTest::newRow("soffice") << QStringList{"soffice"} << "soffice" << calc;
        QTest::newRow("none") << QStringList{} << "" << QStringList{};
        QTest::newRow("not executable") << QStringList{"libreoffice!"} << "" << QStringList{};
    }

    void spreadsheet() {
        QFETCH(QStringList, onPath);
        QFETCH(QString, started);
        QFETCH(QStringList, arguments);

        QTemporaryDir bin;
        QVERIFY(onlyOnPath(bin, onPath));

        const std::optional<launch::Command> sheet = launch::findSpreadsheet();
        QCOMPARE(sheet.has_value(), !started.isEmpty());
        if (!sheet) {
            // The names the missing-program message can give.
            QVERIFY(launch::spreadsheetCandidates().contains(QStringLiteral("libreoffice")));
            return;
        }
        // Started in the working folder it inherits, where "./MAKEMARK.xls" is resolved.
        QVERIFY(launch::startDetached(*sheet));
        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_recordFile).launches, 1, 10000);
        const Record r = readRecord(m_recordFile);
        QCOMPARE(r.program, started);
        QCOMPARE(r.arguments, arguments);
        QCOMPARE(r.cwd, QFileInfo(m_environment.work().path()).canonicalFilePath());
    }

    void workbook_data() {
        // holding: which of "program" and "data" have the workbook
        // sameFolder: a portable program folder is its data folder
        // found: "program", "data", or empty
        testing::columns<QStringList, bool, QString>({"holding", "sameFolder", "found"});

        QTest::newRow("in the program folder") << QStringList{"program"} << false << "program";
        QTest::newRow("in the data folder") << QStringList{"data"} << false << "data";
        QTest::newRow("program folder first")
            << QStringList{"data", "program"} << false << "program";
        QTest::newRow("in neither") << QStringList{} << false << "";
        QTest::newRow("portable, present") << QStringList{"program"} << true << "program";
        QTest::newRow("portable, missing") << QStringList{} << true << "";
    }

    void workbook() {
        QFETCH(QStringList, holding);
        QFETCH(bool, sameFolder);
        QFETCH(QString, found);

        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString program = root.filePath(QStringLiteral("program"));
        const QString data = sameFolder ? program : root.filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(data));
        for (const QString& where : holding) {
            QFile book((where == QLatin1String("program") ? program : data) +
                       QStringLiteral("/MAKEMARK.xls"));
            QVERIFY(book.open(QIODevice::WriteOnly));
        }
        // A folder named like the workbook is no workbook.
        if (holding.isEmpty())
            QVERIFY(QDir().mkpath(program + QStringLiteral("/MAKEMARK.xls")));

        const launch::WorkbookSearch search = launch::findWorkbook({program, data});
        const QStringList expectedFolders =
            sameFolder ? QStringList{program} : QStringList{program, data};
        QCOMPARE(search.folders, expectedFolders);
        if (found.isEmpty()) {
            QVERIFY(!search.path);
            // The message names the workbook and every folder it was looked for in.
            const QString message = launch::missingWorkbookMessage(search);
            QVERIFY2(message.contains(QStringLiteral("MAKEMARK.xls")), qPrintable(message));
            for (const QString& folder : expectedFolders)
                QVERIFY2(message.contains(folder), qPrintable(message));
            return;
        }
        QVERIFY(search.path);
        QCOMPARE(*search.path, (found == QLatin1String("program") ? program : data) +
                                   QStringLiteral("/MAKEMARK.xls"));
    }

    void noCalculatorMessage() {
        const QString message = launch::noCalculatorMessage();
        QVERIFY2(message.contains(QStringLiteral("電卓")), qPrintable(message));
        for (const QString& name : launch::calculatorCandidates())
            QVERIFY2(message.contains(name), qPrintable(message));
    }

private:
    QString m_recordFile;
    QTemporaryDir m_emptyBin;
    testing::LaunchEnvironment m_environment;
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
