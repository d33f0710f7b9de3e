#include "chart/lookahead.h"
#include "chart/searchrules.h"
#include "controls.h"
#include "mainwin/form1.h"
#include "messages.h"
#include "operations.h"
#include "searchlog.h"
#include "servers.h"
#include "table.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

using testing::candidatesIn;

using testing::kCheckCodeMessage;
using testing::kNoCodeFoundMessage;
using testing::kUnreachableMessage;

// The candidates a search tried, in order: every candidate starts with its one-day chart under
// the first exchange suffix, so each one leaves exactly one such request.
int oneDayTransfers(const QStringList& targets) {
    int n = 0;
    for (const QString& t : targets)
        n += t.startsWith(QLatin1String("/c/1d/")) ? 1 : 0;
    return n;
}

// Clicks 昇順検索 from 4674 and gives the messages the search showed; how long it took goes to
// the log, as a figure to read, never as a pass mark.
QStringList searchUpFrom4674(Form1& window, const char* against) {
    testing::ui(window).Text1->setText(QStringLiteral("4674"));
    testing::MessageCatcher messages;
    QElapsedTimer clock;
    clock.start();
    testing::ui(window).Command6->click();
    if (!testing::idle(window))
        return {QStringLiteral("(the search did not end)")};
    qInfo("search against %s: %lld ms", against, clock.elapsed());
    return messages.texts();
}

struct BusyView {
    bool codeBox = false;
    bool up = false, down = false, markUp = false, markDown = false;
    QList<QPushButton*> othersDisabled; // buttons outside the busy state found disabled
};

} // namespace

class TestStepping : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }

    void init() { QVERIFY(m_portal.restart()); }

    void stepsToTheNextServedCode_data() {
        // failingFirst: candidates the portal does not serve, tried before the scan.
        // scanFrom: where the scan over the range starts; it goes on in the search's direction to
        // the first code the portal serves.
        // delayMs: the portal holds every answer back this long, so the candidates probed ahead
        // are still under way when an earlier one is judged.
        testing::columns<QString, int, QStringList, int, bool, int>(
            {"codeBox", "step", "failingFirst", "scanFrom", "foundIsMarked", "delayMs"});

        QTest::newRow("4674 up") << "4674" << 1 << QStringList() << 4675 << false << 0;
        QTest::newRow("9998 up, 9999 failing")
            << "9998" << 1 << QStringList{"9999"} << 1000 << false << 0;
        QTest::newRow("9999 up") << "9999" << 1 << QStringList() << 1000 << false << 0;
        QTest::newRow("1001 down, 1000 failing")
            << "1001" << -1 << QStringList{"1000"} << 9999 << false << 0;
        QTest::newRow("1000 down") << "1000" << -1 << QStringList() << 9999 << false << 0;
        QTest::newRow("0999 up") << "0999" << 1 << QStringList() << 1000 << false << 0;
        QTest::newRow("4674.4 up") << "4674.4" << 1 << QStringList() << 4675 << false << 0;
        QTest::newRow("4674 down, found code marked")
            << "4674" << -1 << QStringList() << 4673 << true << 0;
        // Far outside the range: only the candidates with four characters are tried (upwards the
        // negative ones, which no server knows), and the search still reaches the range.
        QStringList negativeCodes;
        for (int c = -999; c <= -100; ++c)
            negativeCodes << QString::number(c);
        QTest::newRow("-1e20 up") << "-1e20" << 1 << negativeCodes << 1000 << false << 0;
        QTest::newRow("1e20 down") << "1e20" << -1 << QStringList() << 9999 << false << 0;
        QTest::newRow("4674 up, slow portal")
            << "4674" << 1 << QStringList() << 4675 << false << 30;
        QTest::newRow("9998 up, slow portal")
            << "9998" << 1 << QStringList{"9999"} << 1000 << false << 30;
        QTest::newRow("1000 down, slow portal")
            << "1000" << -1 << QStringList() << 9999 << false << 30;
        QTest::newRow("4674 down, slow portal")
            << "4674" << -1 << QStringList() << 4673 << true << 30;
    }

    void stepsToTheNextServedCode() {
        QFETCH(QString, codeBox);
        QFETCH(int, step);
        QFETCH(QStringList, failingFirst);
        QFETCH(int, scanFrom);
        QFETCH(bool, foundIsMarked);
        QFETCH(int, delayMs);

        portal::PortalServer& server = m_portal.server();
        for (const QString& code : failingFirst)
            QVERIFY2(server.suffixFor(code).isEmpty(), qPrintable(code + " must not be served"));
        QStringList expected = failingFirst;
        QString found;
        for (int c = scanFrom; c >= 1000 && c <= 9999 && found.isEmpty(); c += step) {
            const QString code = QString::number(c);
            expected << code;
            if (!server.suffixFor(code).isEmpty())
                found = code;
        }
        QVERIFY2(!found.isEmpty(), "the portal serves no code in the scanned stretch");

        testing::ProgramFolder folder(m_portal.base());
        if (foundIsMarked)
            folder.writeFile(QStringLiteral("MARK.csv"),
                             (found + QStringLiteral(",\r\n")).toLatin1());
        auto window = folder.openWindow();
        testing::ui(*window).Text1->setText(codeBox);

        server.setFaults(testing::slowBy(delayMs));
        testing::MessageCatcher messages;
        (step > 0 ? testing::ui(*window).Command6 : testing::ui(*window).Command7)->click();
        QVERIFY(testing::idle(*window));
        server.setFaults({});

        // However many candidates were under way at once, never more than eight transfers.
        for (const portal::LogEntry& entry : server.requestLog()) {
            QVERIFY2(entry.inFlight <= 8, qPrintable(entry.target));
            QVERIFY2(entry.connections <= 8, qPrintable(entry.target));
        }
        // Every candidate up to the one found was tried; beyond it only the few probed ahead,
        // which are never shown.
        const QString wrong = testing::searchAskedWrong(candidatesIn(m_portal.targets()), expected,
                                                        step > 0 ? chart::StepDirection::Up
                                                                 : chart::StepDirection::Down);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QCOMPARE(testing::ui(*window).Text1->text(), found);
        QVERIFY(!testing::ui(*window).Picture1[0]->pixmap().isNull());
        QCOMPARE(messages.texts(), QStringList());

        // The mark buttons follow the found code; the search buttons are free again, the mark
        // searches only when there are marks.
        QUORVIX_COMPARE_ENABLED(*window, {{"Command4", !foundIsMarked},
                                          {"Command5", foundIsMarked},
                                          {"Text1", true},
                                          {"Command6", true},
                                          {"Command7", true},
                                          {"Command8", foundIsMarked},
                                          {"Command9", foundIsMarked}});
        QVERIFY(!window->searching());
    }

    void textThatIsNoNumber_data() {
        testing::columns<QString, int>({"codeBox", "step"});

        QTest::newRow("letters, up") << "abcd" << 1;
        QTest::newRow("letters, down") << "abcd" << -1;
        QTest::newRow("empty, up") << "" << 1;
        QTest::newRow("digits then letters, down") << "4674x" << -1;
        QTest::newRow("two numbers, up") << "46 74" << 1;
    }

    void textThatIsNoNumber() {
        QFETCH(QString, codeBox);
        QFETCH(int, step);

        testing::ProgramFolder folder(m_portal.base());
        auto window = folder.openWindow();
        testing::ui(*window).Text1->setText(codeBox);

        testing::MessageCatcher messages;
        (step > 0 ? testing::ui(*window).Command6 : testing::ui(*window).Command7)->click();
        QVERIFY(testing::idle(*window));

        QCOMPARE(messages.texts(), QStringList{kCheckCodeMessage});
        QCOMPARE(oneDayTransfers(m_portal.targets()), 0);
        QCOMPARE(testing::ui(*window).Text1->text(), codeBox);
        QUORVIX_COMPARE_ENABLED(*window, {{"Text1", true}, {"Command6", true}, {"Command7", true}});
        QVERIFY(!window->searching());
    }

    void busyStateBetweenCandidates() {
        QVERIFY(m_portal.server().suffixFor(QStringLiteral("9999")).isEmpty());
        testing::ProgramFolder folder(m_portal.base());
        // With marks, the mark searches would be enabled if the busy state did not hold them.
        folder.writeFile(QStringLiteral("MARK.csv"), "1301,\r\n");
        auto window = folder.openWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(testing::ui(*window).Command8->isEnabled());
        testing::ui(*window).Text1->setText(QStringLiteral("9998"));

        bool ran = false;
        int candidatesBefore = 0;
        BusyView seen;
        testing::whenSearching(
            *window,
            [&] {
                ran = true;
                candidatesBefore = candidatesIn(m_portal.targets()).size();
                seen.codeBox = testing::ui(*window).Text1->isEnabled();
                seen.up = testing::ui(*window).Command6->isEnabled();
                seen.down = testing::ui(*window).Command7->isEnabled();
                seen.markUp = testing::ui(*window).Command8->isEnabled();
                seen.markDown = testing::ui(*window).Command9->isEnabled();
                for (QPushButton* b :
                     {testing::ui(*window).Command1, testing::ui(*window).Command2,
                      testing::ui(*window).Command3, testing::ui(*window).Command10,
                      testing::ui(*window).Command11, testing::ui(*window).Command12,
                      testing::ui(*window).Command13, testing::ui(*window).Command14,
                      testing::ui(*window).Command15, testing::ui(*window).Command16,
                      testing::ui(*window).Command17}) {
                    if (!b->isEnabled())
                        seen.othersDisabled << b;
                }
            },
            [&] { return !candidatesIn(m_portal.targets()).isEmpty(); });
        testing::ui(*window).Command6->click();
        QVERIFY(testing::idle(*window));

        QVERIFY(ran);
        // The handler ran after a candidate had been asked for and before the search was over.
        QVERIFY(candidatesBefore >= 1);
        QVERIFY(candidatesBefore < candidatesIn(m_portal.targets()).size());
        QVERIFY(!seen.codeBox);
        QVERIFY(!seen.up);
        QVERIFY(!seen.down);
        QVERIFY(!seen.markUp);
        QVERIFY(!seen.markDown);
        QCOMPARE(seen.othersDisabled.size(), 0);
        QVERIFY(testing::ui(*window).List1->isEnabled());

        QUORVIX_COMPARE_ENABLED(*window, {{"Text1", true},
                                          {"Command6", true},
                                          {"Command7", true},
                                          {"Command8", true},
                                          {"Command9", true}});
    }

    void passWithNoCodeServed() {
        // A portal whose code list is empty knows no code at all.
        QTemporaryDir data;
        QVERIFY(data.isValid());
        {
            QFile list(data.filePath(QStringLiteral("銘柄コード一覧20060513.csv")));
            QVERIFY(list.open(QIODevice::WriteOnly));
        }
        portal::PortalServer empty(portal::PortalOptions{data.path(), QDate(2026, 12, 4)});
        QVERIFY(empty.start());
        QVERIFY(empty.suffixFor(QStringLiteral("4674")).isEmpty());

        testing::ProgramFolder folder(empty.baseUrl());
        auto window = folder.openWindow();
        testing::ui(*window).Text1->setText(QStringLiteral("9998"));

        // The portal keeps only its latest requests, fewer than a pass makes: move them out between
        // two candidates, when the search lets events through and no transfer is under way.
        QStringList targets;
        auto drain = [&] {
            for (const portal::LogEntry& e : empty.takeLog())
                targets << e.target;
        };
        QTimer drainer;
        QObject::connect(&drainer, &QTimer::timeout, drain);
        drainer.start(0);

        testing::MessageCatcher messages;
        QElapsedTimer clock;
        clock.start();
        testing::ui(*window).Command6->click();
        QVERIFY(testing::idle(*window));
        qInfo("one pass with no code served: %lld ms", clock.elapsed());
        drainer.stop();
        drain();

        const QStringList tried = candidatesIn(targets);
        // One full pass: from 9998 upwards every code of the range exactly once (9999 first, then
        // 1000 to 9998) and every alphanumeric code of the viewer's code list, each under all five
        // exchange suffixes. The candidates are probed side by side, so the portal sees the first
        // few in any order.
        const QStringList alphanumeric = window->codeList().alphanumericCodes();
        QCOMPARE(alphanumeric.size(), 117);
        const int pass = 9000 + int(alphanumeric.size());
        QCOMPARE(tried.size(), pass);
        QVERIFY(tried.mid(0, chart::LookAhead::kDepth).contains(QStringLiteral("9999")));
        const QSet<QString> distinct(tried.begin(), tried.end());
        QCOMPARE(distinct.size(), pass);
        for (const QString& code : alphanumeric)
            QVERIFY2(distinct.contains(code), qPrintable(code));
        QCOMPARE(oneDayTransfers(targets), 5 * pass);

        QCOMPARE(messages.texts(), QStringList{kNoCodeFoundMessage});
        QCOMPARE(testing::ui(*window).Text1->text(), QStringLiteral("9998"));
        QUORVIX_COMPARE_ENABLED(*window, {{"Text1", true}, {"Command6", true}});
        QVERIFY(!window->searching());
    }

    void portalStopped() {
        portal::PortalServer stopped(
            portal::PortalOptions{testing::binFolder(), QDate(2026, 12, 4)});
        QVERIFY(stopped.start());
        const QString base = stopped.baseUrl();
        stopped.stop();

        testing::ProgramFolder folder(base);
        auto window = folder.openWindow();
        QCOMPARE(searchUpFrom4674(*window, "a stopped portal"), QStringList{kUnreachableMessage});
        // The last candidate got no answer to any of its transfers.
        QVERIFY(window->lastDisplay().transfers > 0);
        QVERIFY(window->lastDisplay().serverUnreachable());
        QCOMPARE(testing::ui(*window).Text1->text(), QStringLiteral("4674"));
        QUORVIX_COMPARE_ENABLED(*window, {{"Text1", true}, {"Command6", true}});
        QVERIFY(!window->searching());
    }

    void serverThatNeverAnswers_data() {
        testing::columns<bool, int>({"shippedTimeouts", "fewestCandidates"});

        // Short time-outs: several candidates in a row without an answer end the search.
        QTest::newRow("test time-outs") << false << 2;
        // The shipped time-outs make one candidate cost several seconds per exchange suffix; the
        // search still ends within its bound.
        QTest::newRow("shipped time-outs") << true << 1;
    }

    void serverThatNeverAnswers() {
        QFETCH(bool, shippedTimeouts);
        QFETCH(int, fewestCandidates);

        testing::SilentServer silent;
        QVERIFY(silent.port() != 0);
        testing::ProgramFolder folder(silent.base());
        ViewerContext context = folder.context();
        if (shippedTimeouts)
            context.transfer = platform::Transfer::Options{};
        auto window = std::make_unique<Form1>(context);
        QCOMPARE(searchUpFrom4674(*window, "a silent server"), QStringList{kUnreachableMessage});
        const QStringList targets = silent.targets();
        const QStringList tried = candidatesIn(targets);
        QVERIFY2(tried.size() >= fewestCandidates, qPrintable(tried.join(',')));
        for (int i = 0; i < tried.size(); ++i)
            QCOMPARE(tried.at(i), QString::number(4675 + i));
        // Candidates are probed side by side, so their time-outs overlap; the probes never run far
        // past the candidate where the search stopped.
        QVERIFY2(tried.size() <=
                     chart::CodeSearch::kUnreachableCandidates + chart::LookAhead::kDepth,
                 qPrintable(tried.join(',')));

        QCOMPARE(testing::ui(*window).Text1->text(), QStringLiteral("4674"));
        QVERIFY(testing::ui(*window).Text1->isEnabled());
        QVERIFY(!window->searching());
    }

    void closingDuringSearch() {
        QVERIFY(m_portal.server().suffixFor(QStringLiteral("9999")).isEmpty());
        testing::ProgramFolder folder(m_portal.base());
        folder.setSetting(QStringLiteral("SETUP"), QStringLiteral("LASTCODE"),
                          QStringLiteral("4674"));
        folder.setSetting(QStringLiteral("STARTUP"), QStringLiteral("FORM_LEFT"),
                          QStringLiteral("0"));
        folder.writeFile(QStringLiteral("MARK.csv"), "1301,\r\n");
        auto window = folder.openWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->move(40, 30);
        QTRY_COMPARE(window->x(), 40);
        // Only the window's own save can bring the mark file back.
        QVERIFY(QFile::remove(folder.file(QStringLiteral("MARK.csv"))));
        // From 9998 upwards the first served code lies hundreds of candidates away.
        testing::ui(*window).Text1->setText(QStringLiteral("9998"));

        int candidatesAtClose = -1;
        testing::whenSearching(
            *window,
            [&] {
                candidatesAtClose = candidatesIn(m_portal.targets()).size();
                window->close();
            },
            [&] { return !candidatesIn(m_portal.targets()).isEmpty(); });
        testing::MessageCatcher messages;
        testing::ui(*window).Command6->click();
        QVERIFY(testing::idle(*window));

        // No further candidate after the close (the log may trail the probes already under way),
        // and nothing found: the code box still holds where the search started.
        QVERIFY(candidatesAtClose >= 1);
        QVERIFY(candidatesIn(m_portal.targets()).size() <=
                candidatesAtClose + chart::LookAhead::kDepth);
        QCOMPARE(testing::ui(*window).Text1->text(), QStringLiteral("9998"));
        QVERIFY(!window->searching());
        QVERIFY(!window->isVisible());
        QCOMPARE(messages.texts(), QStringList());

        QSettings saved(folder.settingsFile(), QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("SETUP/LASTCODE")).toString(), QStringLiteral("9998"));
        QCOMPARE(saved.value(QStringLiteral("STARTUP/FORM_LEFT")).toString(),
                 QStringLiteral("600"));
        QCOMPARE(folder.readFile(QStringLiteral("MARK.csv")), QByteArray("1301,\r\n"));
    }

private:
    testing::TestPortal m_portal;
};

QUORVIX_WINDOW_TEST_MAIN(TestStepping)
#include "tst_stepping.moc"
