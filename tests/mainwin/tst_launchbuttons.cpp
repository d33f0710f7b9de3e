#include "controls.h"
#include "launch/launcher.h"
#include "mainwin/form1.h"
#include "mainwin/rankingdialog.h"
#include "recorder.h"
#include "table.h"
#include "testsupport.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

using testing::readRecord;
using testing::Record;
using testing::writeRecorder;

// Every portal role on a server of its own, so that a page built on the wrong server shows.
const QByteArray kServers = "[servers]\n"
                            "technical-chart=http://127.0.0.1:9\n"
                            "chart-image=http://127.0.0.1:9\n"
                            "mobile-gateway=http://127.0.0.1:9\n"
                            "quote=http://quote.test:8001\n"
                            "company-profile=http://company.test:8002\n"
                            "news=http://news.test:8003\n"
                            "message-board=http://board.test:8004\n"
                            "report=http://report.test:8005\n"
                            "support-page=http://support.test:8006/help/index.html\n";

} // namespace

class TestLaunchButtons : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_environment.setUp());
        QVERIFY(writeRecorder(m_environment.bin().path(), QStringLiteral("browser")));

        m_folder = std::make_unique<testing::ProgramFolder>(QStringLiteral("http://127.0.0.1:9"));
        m_folder->writeFile(QStringLiteral("servers.ini"), kServers);
        m_folder->writeFile(QStringLiteral("MAKEMARK.xls"), "workbook");
        m_window = m_folder->openWindow();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void init() { m_record = m_environment.nextRecord(); }

    void cleanup() { m_environment.restore(); }

    void cleanupTestCase() {
        // By now every launch has long finished: still nothing ran the text after the blank.
        QVERIFY(m_environment.noFile(QStringLiteral("x")));
        m_window.reset();
    }

    void pageAddresses_data() {
        testing::columns<int, QString, QString>({"command", "codeBox", "address"});

        QTest::newRow("Command10 quote") << 10 << "4674"
                                         << "http://quote.test:8001/q?s=4674&d=t&k=c3&h=on&z=m";
        QTest::newRow("Command11 company") << 11 << "4674"
                                           << "http://company.test:8002/biz/fundamental/4674.html";
        QTest::newRow("Command12 news") << 12 << "4674"
                                        << "http://news.test:8003/news?s=4674";
        QTest::newRow("Command13 board") << 13 << "4674"
                                         << "http://board.test:8004/bbs?action=q&board=4674";
        QTest::newRow("Command14 report")
            << 14 << "4674"
            << "http://report.test:8005/report/sector33/brand_report/4674.html";
        QTest::newRow("Command15 support page") << 15 << "4674"
                                                << "http://support.test:8006/help/index.html";
        QTest::newRow("Command15 ignores the code box")
            << 15 << "46 74; touch x"
            << "http://support.test:8006/help/index.html";
        QTest::newRow("Command12 empty code box") << 12 << ""
                                                  << "http://news.test:8003/news?s=";

        QTest::newRow("Command10 shell text")
            << 10 << "46 74; touch x"
            << "http://quote.test:8001/q?s=46%2074%3B%20touch%20x&d=t&k=c3&h=on&z=m";
        QTest::newRow("Command11 shell text")
            << 11 << "46 74; touch x"
            << "http://company.test:8002/biz/fundamental/46%2074%3B%20touch%20x.html";
        QTest::newRow("Command12 shell text")
            << 12 << "46 74; touch x"
            << "http://news.test:8003/news?s=46%2074%3B%20touch%20x";
        QTest::newRow("Command13 shell text")
            << 13 << "46 74; touch x"
            << "http://board.test:8004/bbs?action=q&board=46%2074%3B%20touch%20x";
        QTest::newRow("Command14 shell text")
            << 14 << "46 74; touch x"
            << "http://report.test:8005/report/sector33/brand_report/46%2074%3B%20touch%20x.html";
    }

    void pageAddresses() {
        QFETCH(int, command);
        QFETCH(QString, codeBox);
        QFETCH(QString, address);

        qputenv("BROWSER", m_environment.bin().filePath(QStringLiteral("browser")).toLocal8Bit());
        testing::ui(*m_window).Text1->setText(codeBox);

        testing::MessageCatcher messages;
        button(command)->click();

        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_record).launches, 1, 10000);
        const Record r = readRecord(m_record);
        QCOMPARE(r.program, QStringLiteral("browser"));
        QCOMPARE(r.arguments, QStringList{address});
        QCOMPARE(r.cwd, QDir(m_environment.work().path()).canonicalPath());
        QVERIFY(!QFile::exists(QDir(r.cwd).filePath(QStringLiteral("x"))));
        QVERIFY(m_environment.noFile(QStringLiteral("x")));

        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(testing::ui(*m_window).Text1->text(), codeBox);
    }

    void browserWithoutVariable() {
        // Without $BROWSER the desktop's opener is asked.
        qunsetenv("BROWSER");
        QTemporaryDir opener;
        QVERIFY(opener.isValid());
        QVERIFY(writeRecorder(opener.path(), QStringLiteral("xdg-open")));
        setPath({opener.path()});
        testing::ui(*m_window).Text1->setText(QStringLiteral("4674"));

        testing::ui(*m_window).Command12->click();

        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_record).launches, 1, 10000);
        const Record r = readRecord(m_record);
        QCOMPARE(r.program, QStringLiteral("xdg-open"));
        QCOMPARE(r.arguments, QStringList{QStringLiteral("http://news.test:8003/news?s=4674")});
    }

    void calculatorOrder_data() {
        testing::columns<QString, QString, QString>({"firstOnPath", "laterOnPath", "started"});

        const QStringList names = launch::calculatorCandidates();
        QVERIFY(names.size() >= 3);
        // The order of the list decides, not the order of the folders on PATH.
        QTest::newRow("last and first of the list")
            << names.last() << names.first() << names.first();
        QTest::newRow("third and second of the list") << names.at(2) << names.at(1) << names.at(1);
        QTest::newRow("first before last") << names.first() << names.last() << names.first();
    }

    void calculatorOrder() {
        QFETCH(QString, firstOnPath);
        QFETCH(QString, laterOnPath);
        QFETCH(QString, started);

        QTemporaryDir early, late;
        QVERIFY(early.isValid() && late.isValid());
        QVERIFY(writeRecorder(early.path(), firstOnPath));
        QVERIFY(writeRecorder(late.path(), laterOnPath));
        setPath({early.path(), late.path(), m_environment.bin().path()});

        testing::MessageCatcher messages;
        testing::ui(*m_window).Command16->click();

        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_record).launches, 1, 10000);
        const Record r = readRecord(m_record);
        QCOMPARE(r.program, started);
        QCOMPARE(r.arguments, QStringList());
        QCOMPARE(messages.texts(), QStringList());
    }

    void noCalculator() {
        setPath({m_environment.bin().path()}); // the recorder only, under a name no calculator has

        testing::MessageCatcher messages;
        testing::ui(*m_window).Command16->click();
        testing::ui(*m_window).Command16->click();

        // Each click says so, naming the programs looked for.
        QCOMPARE(messages.texts().size(), 2);
        for (const QString& message : messages.texts()) {
            QVERIFY2(message.contains(QStringLiteral("電卓")), qPrintable(message));
            for (const QString& name : launch::calculatorCandidates())
                QVERIFY2(message.contains(name), qPrintable(message));
        }
        QCOMPARE(readRecord(m_record).launches, 0);
        QVERIFY(m_window->isVisible());
        QVERIFY(testing::ui(*m_window).Command16->isEnabled());
    }

    void spreadsheet_data() {
        testing::columns<QString, QStringList>({"program", "arguments"});

        QTest::newRow("libreoffice") << "libreoffice" << QStringList{"--calc", "./MAKEMARK.xls"};
        QTest::newRow("localc") << "localc" << QStringList{"./MAKEMARK.xls"};
        QTest::newRow("soffice") << "soffice" << QStringList{"--calc", "./MAKEMARK.xls"};
    }

    void spreadsheet() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);

        QTemporaryDir office;
        QVERIFY(office.isValid());
        QVERIFY(writeRecorder(office.path(), program));
        setPath({m_environment.bin().path(), office.path()});

        testing::MessageCatcher messages;
        testing::ui(*m_window).Command17->click();

        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_record).launches, 1, 10000);
        const Record r = readRecord(m_record);
        QCOMPARE(r.program, program);
        QCOMPARE(r.arguments, arguments);
        // The workbook is named relative to the folder it was found in.
        QCOMPARE(r.cwd, QDir(m_folder->path()).canonicalPath());
        QCOMPARE(messages.texts(), QStringList());
    }

    void noSpreadsheet() {
        setPath({m_environment.bin().path()});

        testing::MessageCatcher messages;
        testing::ui(*m_window).Command17->click();

        QCOMPARE(messages.texts().size(), 1);
        const QString message = messages.texts().first();
        for (const QString& name : launch::spreadsheetCandidates())
            QVERIFY2(message.contains(name), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("MAKEMARK.xls")), qPrintable(message));

        // The program goes on: the window stays and its buttons still work.
        QVERIFY(m_window->isVisible());
        testing::ui(*m_window).Text1->setText(QStringLiteral("4674"));
        qputenv("BROWSER", m_environment.bin().filePath(QStringLiteral("browser")).toLocal8Bit());
        testing::ui(*m_window).Command12->click();
        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_record).launches, 1, 10000);
        QCOMPARE(readRecord(m_record).arguments,
                 QStringList{QStringLiteral("http://news.test:8003/news?s=4674")});
    }

    void spreadsheetThatCannotStart() {
        // Found on PATH, but its interpreter does not exist: the start fails.
        QTemporaryDir office;
        QVERIFY(office.isValid());
        QVERIFY(testing::writeProgram(office.filePath(QStringLiteral("libreoffice")),
                                      "#!/nonexistent/interpreter\n"));
        setPath({m_environment.bin().path(), office.path()});

        testing::MessageCatcher messages;
        testing::ui(*m_window).Command17->click();

        QCOMPARE(messages.texts().size(), 1);
        // Names the program that was found, and does not claim it is missing.
        QVERIFY2(messages.texts().first().contains(QStringLiteral("libreoffice")),
                 qPrintable(messages.texts().first()));
        QVERIFY2(!messages.texts().first().contains(QStringLiteral("見つからない")),
                 qPrintable(messages.texts().first()));
        QVERIFY(m_window->isVisible());
    }

    void missingWorkbook() {
        QTemporaryDir office;
        QVERIFY(office.isValid());
        QVERIFY(writeRecorder(office.path(), QStringLiteral("libreoffice")));
        setPath({m_environment.bin().path(), office.path()});
        QVERIFY(QFile::remove(m_folder->file(QStringLiteral("MAKEMARK.xls"))));

        testing::MessageCatcher messages;
        testing::ui(*m_window).Command17->click();

        // The viewer's own ranking dialog instead, and no spreadsheet.
        auto* rankings = m_window->findChild<RankingDialog*>();
        QVERIFY(rankings);
        QVERIFY(rankings->isVisible());
        QCOMPARE(rankings->windowTitle(), QStringLiteral("Quorvix Chart Viewer ランキング"));
        rankings->close();
        QTRY_VERIFY(!m_window->findChild<RankingDialog*>());
        QCOMPARE(messages.texts(), QStringList());

        // With the workbook back, the next click starts the spreadsheet: the first one did not.
        m_folder->writeFile(QStringLiteral("MAKEMARK.xls"), "workbook");
        testing::ui(*m_window).Command17->click();
        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_record).launches, 1, 10000);
        QVERIFY(!m_window->findChild<RankingDialog*>());
        QCOMPARE(messages.texts(), QStringList());
    }

    void workbookInTheDataFolder() {
        // An installed program folder without the workbook: the user's data folder has it.
        QTemporaryDir data, office;
        QVERIFY(data.isValid() && office.isValid());
        QVERIFY(writeRecorder(office.path(), QStringLiteral("localc")));
        setPath({m_environment.bin().path(), office.path()});
        QFile book(data.filePath(QStringLiteral("MAKEMARK.xls")));
        QVERIFY(book.open(QIODevice::WriteOnly));
        book.close();

        testing::ProgramFolder program(QStringLiteral("http://127.0.0.1:9"));
        ViewerContext context = program.context();
        context.dataFolder = data.path();
        Form1 window(context);

        testing::MessageCatcher messages;
        testing::ui(window).Command17->click();
        QTRY_COMPARE_WITH_TIMEOUT(readRecord(m_record).launches, 1, 10000);
        const Record r = readRecord(m_record);
        QCOMPARE(r.arguments, QStringList{QStringLiteral("./MAKEMARK.xls")});
        QCOMPARE(r.cwd, QDir(data.path()).canonicalPath());
        QCOMPARE(messages.texts(), QStringList());
    }

private:
    QPushButton* button(int number) const {
        QPushButton* const buttons[] = {
            testing::ui(*m_window).Command10, testing::ui(*m_window).Command11,
            testing::ui(*m_window).Command12, testing::ui(*m_window).Command13,
            testing::ui(*m_window).Command14, testing::ui(*m_window).Command15,
            testing::ui(*m_window).Command16, testing::ui(*m_window).Command17};
        return buttons[number - 10];
    }

    void setPath(const QStringList& folders) {
        qputenv("PATH", folders.join(QLatin1Char(':')).toLocal8Bit());
    }

    std::unique_ptr<testing::ProgramFolder> m_folder;
    std::unique_ptr<Form1> m_window;
    QString m_record;
    testing::LaunchEnvironment m_environment;
};

QUORVIX_WINDOW_TEST_MAIN(TestLaunchButtons)
#include "tst_launchbuttons.moc"
