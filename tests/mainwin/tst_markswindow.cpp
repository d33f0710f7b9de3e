#include "controls.h"
#include "mainwin/form1.h"
#include "messages.h"
#include "operations.h"
#include "searchlog.h"
#include "table.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QStringEncoder>
#include <QTimer>
#include <QtTest>

namespace {

using testing::kCaptionPrefix;

bool busy(const Form1& w) {
    return !testing::ui(w).Text1->isEnabled() && !testing::ui(w).Command6->isEnabled() &&
           !testing::ui(w).Command7->isEnabled() && !testing::ui(w).Command8->isEnabled() &&
           !testing::ui(w).Command9->isEnabled();
}

bool panesBlank(const Form1& w) {
    for (QLabel* pane : testing::ui(w).Picture1) {
        if (!pane->pixmap().isNull())
            return false;
    }
    return true;
}

bool panesFilled(const Form1& w) {
    for (QLabel* pane : testing::ui(w).Picture1) {
        if (pane->pixmap().isNull())
            return false;
    }
    return true;
}

} // namespace

// The watch list on the real window: setting and clearing marks, the mark list with the stock
// names, the mark file, and stepping through the marks against the portal.
class TestMarksWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_portal.started());

        // The code list's names are compared in its own code page.
        QVERIFY(QStringDecoder("Shift_JIS").isValid());
        QVERIFY(QStringEncoder("Shift_JIS").isValid());
        QFile list(testing::binFolder() + QStringLiteral("/銘柄コード一覧20060513.csv"));
        QVERIFY(list.open(QIODevice::ReadOnly));
        m_codeListLines = list.readAll().split('\n');
        for (QByteArray& line : m_codeListLines) {
            if (line.endsWith('\r'))
                line.chop(1);
        }

        // Served codes under ".t" (one transfer a term keeps the table quick), 4674 first when it
        // is one of them; codes the portal does not know.
        QStringList served, unknown;
        if (m_portal.server().suffixFor(QStringLiteral("4674")) == QLatin1String(".t"))
            served << QStringLiteral("4674");
        for (int c = 1000; c <= 9999 && (served.size() < 3 || unknown.size() < 2); ++c) {
            const QString code = QString::number(c);
            const QString suffix = m_portal.server().suffixFor(code);
            if (suffix == QLatin1String(".t") && served.size() < 3 && !served.contains(code))
                served << code;
            else if (suffix.isEmpty() && unknown.size() < 2)
                unknown << code;
        }
        QCOMPARE(served.size(), 3);
        QCOMPARE(unknown.size(), 2);
        m_codes = {{"A", served[0]},
                   {"B", served[1]},
                   {"C", served[2]},
                   {"X", unknown[0]},
                   {"Y", unknown[1]}};
    }

    void init() {
        QVERIFY(m_portal.restart());
        m_folder = std::make_unique<testing::ProgramFolder>(m_portal.base());
    }

    void cleanup() { m_folder.reset(); }

    void setThreeMarks() {
        const QStringList codes{"4674", "1000", "9999"};
        auto w = openWindow();
        QVERIFY(!testing::ui(*w).Command8->isEnabled());

        QStringList expectedRows;
        QString expectedFile;
        for (const QString& code : codes) {
            testing::ui(*w).Text1->setText(code);
            w->Command4_Click();
            expectedRows << expectedRow(code);
            expectedFile += code + QLatin1Char(',');
            QCOMPARE(rows(*w), expectedRows);
            QCOMPARE(markFile(), expectedFile.toLatin1() + "\r\n");
            // Marked: clearing is offered, and there is something to step through.
            QUORVIX_COMPARE_ENABLED(
                *w,
                {{"Command4", false}, {"Command5", true}, {"Command8", true}, {"Command9", true}});
        }
        QCOMPARE(markFile(), QByteArray("4674,1000,9999,\r\n"));

        // Setting a marked code again changes nothing.
        testing::ui(*w).Text1->setText(QStringLiteral("1000"));
        w->Command4_Click();
        QCOMPARE(rows(*w), expectedRows);
        QCOMPARE(markFile(), QByteArray("4674,1000,9999,\r\n"));

        // The next start lists the same marks.
        auto again = m_folder->openWindow();
        QCOMPARE(rows(*again), expectedRows);
        QVERIFY(testing::ui(*again).Command8->isEnabled());
    }

    void clearTheMiddleMark() {
        writeMarks(QStringLiteral("4674,1000,9999,"));
        auto w = openWindow();
        QCOMPARE(rows(*w).size(), 3);
        QListWidgetItem* first = testing::ui(*w).List1->item(0);
        QListWidgetItem* last = testing::ui(*w).List1->item(2);

        testing::ui(*w).Text1->setText(QStringLiteral("1000"));
        w->Command5_Click();

        QCOMPARE(rows(*w), QStringList({expectedRow("4674"), expectedRow("9999")}));
        QCOMPARE(testing::ui(*w).List1->item(0), first);
        QCOMPARE(testing::ui(*w).List1->item(1), last);
        QCOMPARE(markFile(), QByteArray("4674,9999,\r\n"));
        QUORVIX_COMPARE_ENABLED(*w, {{"Command4", true}, {"Command5", false}, {"Command8", true}});

        // Clearing a code that is not marked changes nothing.
        w->Command5_Click();
        QCOMPARE(rows(*w).size(), 2);
        QCOMPARE(markFile(), QByteArray("4674,9999,\r\n"));
    }

    void clearTheOnlyMark() {
        auto w = openWindow();
        testing::ui(*w).Text1->setText(QStringLiteral("4674"));
        w->Command4_Click();
        QVERIFY(testing::ui(*w).Command8->isEnabled());

        w->Command5_Click();
        QCOMPARE(testing::ui(*w).List1->count(), 0);
        QCOMPARE(markFile(), QByteArray("\r\n"));
        QUORVIX_COMPARE_ENABLED(
            *w,
            {{"Command8", false}, {"Command9", false}, {"Command4", true}, {"Command5", false}});
    }

    void codeNotInTheCodeList() {
        const QString code = m_codes.value(QStringLiteral("X"));
        auto w = openWindow();
        testing::ui(*w).Text1->setText(code);
        w->Command4_Click();
        QCOMPARE(rows(*w), QStringList{code + QStringLiteral(",????,????")});
        QCOMPARE(markFile(), code.toLatin1() + ",\r\n");
    }

    void rowsInMarkOrderWithNames() {
        // Not in code order: the list follows the order the marks were set in.
        const QStringList codes{m_codes.value("C"), m_codes.value("A"), m_codes.value("X"),
                                m_codes.value("B")};
        auto w = openWindow();
        for (const QString& code : codes) {
            testing::ui(*w).Text1->setText(code);
            w->Command4_Click();
        }
        const QStringList shown = rows(*w);
        QCOMPARE(shown.size(), codes.size());
        QStringEncoder toCodePage("Shift_JIS");
        for (int i = 0; i < codes.size(); ++i) {
            QVERIFY(shown[i].startsWith(codes[i] + QLatin1Char(',')));
            if (!listed(codes[i])) {
                QCOMPARE(shown[i], codes[i] + QStringLiteral(",????,????"));
                continue;
            }
            // The name is Japanese text, read from the code page the file is in: written back in
            // that code page it gives the file's own bytes.
            QVERIFY2(std::any_of(shown[i].begin(), shown[i].end(),
                                 [](QChar c) { return c.unicode() >= 0x3000; }),
                     qPrintable(shown[i]));
            QVERIFY(!shown[i].contains(QChar::ReplacementCharacter));
            const QByteArray bytes = toCodePage(shown[i]);
            QVERIFY(m_codeListLines.contains(bytes));
        }

        // Read back from the file at the next start: the same rows in the same order.
        auto again = m_folder->openWindow();
        QCOMPARE(rows(*again), shown);
    }

    void markFileThatCannotBeWritten() {
        // Even root cannot write a file where a folder stands.
        QVERIFY(QDir(m_folder->path()).mkdir(QStringLiteral("MARK.csv")));
        QStringList told;
        auto w = testing::shownWindowTelling(m_folder->context(), &told);
        QCOMPARE(told.size(), 1);
        QCOMPARE(testing::ui(*w).List1->count(), 0);

        testing::MessageCatcher messages;
        testing::ui(*w).Text1->setText(QStringLiteral("4674"));
        w->Command4_Click();
        // Not saved, but kept: listed, and offered for clearing and stepping.
        QVERIFY(QFileInfo(m_folder->file(QStringLiteral("MARK.csv"))).isDir());
        QCOMPARE(rows(*w), QStringList{expectedRow("4674")});
        QUORVIX_COMPARE_ENABLED(*w, {{"Command5", true}, {"Command8", true}});

        // Once the file can be written again, the next save holds the marks kept in memory.
        QVERIFY(QDir(m_folder->path()).rmdir(QStringLiteral("MARK.csv")));
        testing::ui(*w).Text1->setText(QStringLiteral("1000"));
        w->Command4_Click();
        QCOMPARE(markFile(), QByteArray("4674,1000,\r\n"));
    }

    void textThatIsNoCode_data() {
        testing::rowsOf<QString>("text", {{"three digits", "467"},
                                          {"five digits", "46745"},
                                          {"letters", "abcd"},
                                          {"across two marks", "4,46"},
                                          {"end of a mark and its comma", "674,"},
                                          {"empty", ""}});
    }

    void textThatIsNoCode() {
        QFETCH(QString, text);
        writeMarks(QStringLiteral("4674,4675,"));
        auto w = openWindow();
        const QStringList before = rows(*w);
        const QByteArray file = markFile();

        testing::ui(*w).Text1->setText(text);
        w->Command4_Click();
        QCOMPARE(rows(*w), before);
        QCOMPARE(markFile(), file);
        w->Command5_Click();
        QCOMPARE(rows(*w), before);
        QCOMPARE(markFile(), file);

        // The marks are whole still: stepping shows the first one.
        testing::MessageCatcher messages;
        w->Command8_Click();
        QVERIFY(testing::idle(*w));
        QCOMPARE(testing::ui(*w).Text1->text(), QStringLiteral("4674"));
    }

    void navigation_data() {
        // marks: symbols of the mark string (A, B, C served; X, Y not; other text as it is);
        // actions: "+" next mark, "-" previous mark, "rowN" double-click on row N, "clearS" clear
        // the mark S; expected, one per navigation: "S@k" the code of S shown as mark k, "!" the
        // search gave up with a message.
        testing::columns<QString, QStringList, QStringList>({"marks", "actions", "expected"});

        auto list = [](const char* words) {
            return QString::fromLatin1(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        };
        QTest::newRow("forward from 0") << "A,B,C," << list("+ + + +") << list("A@1 B@2 C@3 A@1");
        QTest::newRow("backward from 0") << "A,B,C," << list("- - - -") << list("A@1 C@3 B@2 A@1");
        QTest::newRow("forward and back")
            << "A,B,C," << list("+ + - - -") << list("A@1 B@2 A@1 C@3 B@2");
        QTest::newRow("one mark") << "A," << list("+ + - -") << list("A@1 A@1 A@1 A@1");
        QTest::newRow("skip a mark not served, forward")
            << "A,X,C," << list("+ + +") << list("A@1 C@3 A@1");
        QTest::newRow("skip a mark not served, backward")
            << "A,X,C," << list("- - -") << list("A@1 C@3 A@1");
        QTest::newRow("skip two marks not served") << "A,X,Y,C," << list("+ +") << list("A@1 C@4");
        QTest::newRow("past the end after clears, forward")
            << "A,B,C," << list("+ + + clearB clearC +") << list("A@1 B@2 C@3 A@1");
        QTest::newRow("past the end after clears, backward")
            << "A,B,C," << list("+ + + clearB clearC -") << list("A@1 B@2 C@3 A@1");
        QTest::newRow("past the end after one clear, backward")
            << "A,B,C," << list("+ + + clearC -") << list("A@1 B@2 C@3 B@2");
        QTest::newRow("row 2 then forward") << "A,B,C," << list("row2 +") << list("C@3 A@1");
        QTest::newRow("row 1 then backward") << "A,B,C," << list("row1 -") << list("B@2 A@1");
        QTest::newRow("row of a mark not served") << "A,X,C," << list("row1 +") << list("X@2 C@3");
        QTest::newRow("no comma after the last mark")
            << "A,B" << list("+ + +") << list("A@1 B@2 A@1");
        QTest::newRow("letters in the mark string")
            << "A,abcd,C," << list("+ + +") << list("A@1 C@3 A@1");
        QTest::newRow("every mark failing, forward") << "X,Y," << list("+") << list("!");
        QTest::newRow("every mark failing, backward") << "X,Y," << list("-") << list("!");
        QTest::newRow("one mark failing") << "X," << list("+ -") << list("! !");
    }

    void navigation() {
        QFETCH(QString, marks);
        QFETCH(QStringList, actions);
        QFETCH(QStringList, expected);

        auto codeOf = [this](const QString& symbol) {
            return m_codes.value(symbol, symbol);
        };
        QString markString = marks;
        for (auto it = m_codes.cbegin(); it != m_codes.cend(); ++it)
            markString.replace(it.key(), it.value());
        writeMarks(markString);

        auto w = openWindow();
        testing::MessageCatcher messages;
        const QString caption = kCaptionPrefix + m_folder->file(QStringLiteral("MARK.csv"));
        int step = 0;
        for (const QString& action : actions) {
            if (action.startsWith(QLatin1String("clear"))) {
                testing::ui(*w).Text1->setText(codeOf(action.mid(5)));
                w->Command5_Click();
                continue;
            }
            const int messagesBefore = int(messages.texts().size());
            const QString textBefore = testing::ui(*w).Text1->text();
            if (action == QLatin1String("+")) {
                w->Command8_Click();
                QVERIFY(testing::idle(*w));
            } else if (action == QLatin1String("-")) {
                w->Command9_Click();
            } else {
                testing::ui(*w).List1->setCurrentRow(action.mid(3).toInt());
                w->List1_DblClick();
            }
            QVERIFY(testing::idle(*w));
            const QString want = expected.value(step++);
            const QString where = action + QStringLiteral(" (step %1)").arg(step);

            QVERIFY2(!busy(*w), qPrintable(where));
            QVERIFY2(!w->searching(), qPrintable(where));
            if (want == QLatin1String("!")) {
                QVERIFY2(messages.texts().size() == messagesBefore + 1, qPrintable(where));
                QCOMPARE(messages.texts().last(), testing::kNoMarkShownMessage);
                QVERIFY2(panesBlank(*w), qPrintable(where));
                QCOMPARE(testing::ui(*w).Text1->text(), textBefore);
                QUORVIX_COMPARE_ENABLED(*w, {{"Command8", true}, {"Command9", true}});
                continue;
            }
            const QString code = codeOf(want.section(QLatin1Char('@'), 0, 0));
            const int position = want.section(QLatin1Char('@'), 1).toInt();
            QVERIFY2(messages.texts().size() == messagesBefore, qPrintable(where));
            QCOMPARE(testing::ui(*w).Text1->text(), code);
            QCOMPARE(w->windowTitle(), caption + QStringLiteral(" - MARK No. %1").arg(position));
            QCOMPARE(testing::ui(*w).List1->currentRow(), position - 1);
            QVERIFY2(listed(code) ? panesFilled(*w) : panesBlank(*w), qPrintable(where));
            // Shown and marked: clearing is offered.
            QUORVIX_COMPARE_ENABLED(*w, {{"Command4", false}, {"Command5", true}});
        }
        QCOMPARE(step, expected.size());
    }

    void closingDuringASearch() {
        // Three marks the portal does not serve before one it does: the search has candidates left
        // when the window closes.
        const QString x = m_codes.value("X"), y = m_codes.value("Y"), a = m_codes.value("A");
        const QString markString = x + ',' + y + ',' + x + ',' + a + ',';
        // No line end: closing with no mark changed leaves the file as it is.
        m_folder->writeFile(QStringLiteral("MARK.csv"), markString.toLatin1());

        auto w = openWindow();
        testing::MessageCatcher messages;
        w->move(40, 30);
        QTRY_COMPARE(w->pos(), QPoint(40, 30));
        testing::ui(*w).Text1->setText(QStringLiteral("8888"));

        testing::whenSearching(*w, [&] { w->close(); });
        m_portal.clearLog();
        w->Command8_Click();
        QVERIFY(testing::idle(*w));

        QVERIFY(!w->isVisible());
        QVERIFY(!w->searching());
        QCOMPARE(messages.texts(), QStringList());
        // The search stopped at the candidate it was on: the served mark, even if the look-ahead
        // asked for it, was never shown.
        for (const QString& code : chartCodes())
            QVERIFY2(code == x || code == y || code == a, qPrintable(code));
        QCOMPARE(testing::ui(*w).Text1->text(), QStringLiteral("8888"));
        for (QLabel* pane : testing::ui(*w).Picture1)
            QVERIFY(pane->pixmap().isNull());

        QSettings stored(m_folder->settingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("STARTUP/FORM_LEFT")).toString(),
                 QString::number(40 * 15));
        QCOMPARE(stored.value(QStringLiteral("STARTUP/FORM_TOP")).toString(),
                 QString::number(30 * 15));
        QCOMPARE(stored.value(QStringLiteral("SETUP/LASTCODE")).toString(), QStringLiteral("8888"));
        QCOMPARE(markFile(), markString.toLatin1());
    }

    void listOpenedDuringASearch() {
        // Marks the portal does not serve, then one it does: the search is still going when the
        // user opens a row of the list.
        const QString x = m_codes.value("X"), y = m_codes.value("Y"), a = m_codes.value("A");
        m_folder->writeFile(QStringLiteral("MARK.csv"), (x + ',' + y + ',' + a + ',').toLatin1());

        auto w = openWindow();
        testing::MessageCatcher messages;
        bool lockedAfterOpening = false;
        testing::whenSearching(*w, [&] {
            testing::ui(*w).List1->setCurrentRow(2);
            w->List1_DblClick();
            // The outer search still runs: a second search must not be startable from here.
            lockedAfterOpening =
                !testing::ui(*w).Text1->isEnabled() && !testing::ui(*w).Command6->isEnabled() &&
                !testing::ui(*w).Command7->isEnabled() && !testing::ui(*w).Command8->isEnabled() &&
                !testing::ui(*w).Command9->isEnabled();
        });
        w->Command8_Click();
        QVERIFY(testing::idle(*w));

        QVERIFY(lockedAfterOpening);
        QVERIFY(!w->searching());
        QCOMPARE(testing::ui(*w).Text1->text(), a);
        QUORVIX_COMPARE_ENABLED(*w, {{"Text1", true}, {"Command8", true}});
        QCOMPARE(messages.texts(), QStringList());
    }

    void listOpenedDuringADisplay() {
        // The display of one served code is still waiting for the portal when the user opens the
        // row of another: that row is opened once the display has ended, never inside it.
        const QString a = m_codes.value("A"), b = m_codes.value("B");
        m_folder->writeFile(QStringLiteral("MARK.csv"), (b + ',').toLatin1());
        auto w = openWindow();
        testing::MessageCatcher messages;
        m_portal.server().setFaults(testing::slowBy(100));

        QString codeBoxAfterOpening;
        QTimer opener;
        QObject::connect(&opener, &QTimer::timeout, w.get(), [&] {
            if (m_portal.targets().isEmpty())
                return;
            opener.stop();
            testing::ui(*w).List1->setCurrentRow(0);
            w->List1_DblClick();
            codeBoxAfterOpening = testing::ui(*w).Text1->text();
        });
        opener.start(5);
        testing::ui(*w).Text1->setText(a);
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));

        // The display ran to its end with its own code; then the row's code was displayed.
        QCOMPARE(codeBoxAfterOpening, a);
        QTRY_COMPARE(testing::ui(*w).Text1->text(), b);
        QTRY_VERIFY(!w->lastDisplay().failed && testing::ui(*w).Text1->isEnabled());
        QVERIFY2(w->windowTitle().endsWith(QStringLiteral(" - MARK No. 1")),
                 qPrintable(w->windowTitle()));
        QVERIFY(!testing::ui(*w).Picture1[0]->pixmap().isNull());
        QCOMPARE(messages.texts(), QStringList());
        m_portal.server().setFaults({});
    }

private:
    std::unique_ptr<Form1> openWindow() { return m_folder->openShownWindow(); }

    void writeMarks(const QString& markString) {
        m_folder->writeFile(QStringLiteral("MARK.csv"), markString.toLatin1() + "\r\n");
    }

    QByteArray markFile() const { return m_folder->readFile(QStringLiteral("MARK.csv")); }

    QStringList rows(const Form1& w) const {
        QStringList out;
        for (int i = 0; i < testing::ui(w).List1->count(); ++i)
            out << testing::ui(w).List1->item(i)->text();
        return out;
    }

    // The row the code list gives a code: its line, or the placeholder.
    QString expectedRow(const QString& code) const {
        for (const QByteArray& line : m_codeListLines) {
            if (line.startsWith(code.toLatin1() + ',')) {
                // Compared as the bytes the file holds: the row must be their code page 932 text.
                QStringDecoder decode("Shift_JIS");
                return decode(line);
            }
        }
        return code + QStringLiteral(",????,????");
    }

    bool listed(const QString& code) const { return !m_portal.server().suffixFor(code).isEmpty(); }

    QStringList chartCodes() const {
        QStringList out;
        for (const QString& t : m_portal.targets()) {
            if (!testing::isChartTarget(t))
                continue;
            const QString code = testing::codeAndSuffixOf(t).section(QLatin1Char('.'), 0, 0);
            if (out.isEmpty() || out.last() != code)
                out << code;
        }
        return out;
    }

    testing::TestPortal m_portal;
    std::unique_ptr<testing::ProgramFolder> m_folder;
    QList<QByteArray> m_codeListLines; // the code list's lines, raw code page 932 bytes
    // Codes by the symbols the navigation table uses: A, B, C served; X, Y not.
    QHash<QString, QString> m_codes;
};

QUORVIX_WINDOW_TEST_MAIN(TestMarksWindow)

#include "tst_markswindow.moc"
