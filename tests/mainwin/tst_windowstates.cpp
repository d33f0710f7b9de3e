// The window's states against what a user does in them: input given during a display is handled
// after it, on what the display left; closing ends whatever runs; a dialog opened between two
// candidates of a search pauses it until it closes. Against a slowed portal, with real mouse
// input where the user would click.
#include "../settings/viewerfixture.h"
#include "controls.h"
#include "operations.h"
#include "searchlog.h"
#include "table.h"
#include "testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWebEngineView>
#include <QtTest>

namespace {

bool panesFilled(const Form1& w) {
    for (QLabel* pane : testing::ui(w).Picture1) {
        if (pane->pixmap().isNull())
            return false;
    }
    return true;
}

void click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

} // namespace

class TestWindowStates : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }
    void init() {
        QVERIFY(m_portal.restart());
        m_folder = std::make_unique<testing::ProgramFolder>(m_portal.base());
        // The detail page on, four panes: a display ends with the pages set.
        m_folder->setSettings({{QStringLiteral("SETUP/TERMIF"), QStringLiteral("1")},
                               {QStringLiteral("SETUP/GRAF"), QStringLiteral("1")}});
        m_code = m_portal.codeUnder(QStringLiteral(".t"));
    }
    void cleanup() { m_folder.reset(); }

    void userInput_data() {
        testing::columns<QString>({"state"});
        for (const char* state :
             {"settings during a display", "mark set during a display", "close during a display",
              "close during a search", "close with a dialog open between candidates",
              "dialog between candidates", "mark-list row during a search"})
            QTest::newRow(state) << QString::fromLatin1(state);
    }
    void userInput() {
        QFETCH(QString, state);
        auto w = m_folder->openShownWindow();
        const testing::MainControls ui = testing::ui(*w);
        testing::MessageCatcher messages;
        m_portal.server().setFaults(testing::slowBy(150));

        if (state == QLatin1String("settings during a display")) {
            bool displayingWhenOpen = true, panesWhenOpen = false, detailWhenOpen = false;
            fixture::WhenDialogOpen user([&](Form2* d) {
                displayingWhenOpen = w->displaying();
                panesWhenOpen = panesFilled(*w);
                detailWhenOpen = ui.WebBrowser3->isVisible() &&
                                 ui.WebBrowser3->url().toString().endsWith(QLatin1String("#ZELK"));
                // Two panes chosen in the dialog: the detail page is where the display put it.
                d->close();
            });
            ui.Text1->setText(m_code);
            w->Text1_DblClick();
            QVERIFY(w->displaying());
            click(ui.Command1);
            QVERIFY(testing::idle(*w));
            QTRY_VERIFY(user.done());
            QVERIFY(!displayingWhenOpen);
            QVERIFY(panesWhenOpen);
            QVERIFY(detailWhenOpen);
        } else if (state == QLatin1String("mark set during a display")) {
            // On the first display マーク設定 is still disabled: clicked during it, it acts once
            // the display has enabled it, on the code the display showed.
            ui.Text1->setText(m_code);
            w->Text1_DblClick();
            QVERIFY(w->displaying());
            QVERIFY(!ui.Command4->isEnabled());
            click(ui.Command4);
            QVERIFY(testing::idle(*w));
            QTRY_COMPARE(w->markLine(), m_code + QLatin1Char(','));
            QUORVIX_COMPARE_ENABLED(*w, {{"Command4", false}, {"Command5", true}});
        } else if (state == QLatin1String("close during a display")) {
            ui.Text1->setText(m_code);
            w->Text1_DblClick();
            QVERIFY(w->displaying());
            w->close();
            QVERIFY(!w->displaying());
            QVERIFY(w->lastDisplay().cancelled);
        } else if (state == QLatin1String("close during a search")) {
            ui.Text1->setText(QStringLiteral("4674"));
            bool closed = false;
            testing::whenSearching(*w, [&] { closed = w->close(); });
            click(ui.Command6);
            QTRY_VERIFY(closed);
            QVERIFY(!w->searching());
            QVERIFY(!w->displaying());
        } else if (state == QLatin1String("close with a dialog open between candidates")) {
            ui.Text1->setText(QStringLiteral("4674"));
            bool searchingAfterClose = true;
            fixture::WhenDialogOpen user([&](Form2* d) {
                w->close();
                searchingAfterClose = w->searching();
                d->close();
            });
            testing::whenSearching(*w, [&] { click(ui.Command1); });
            click(ui.Command6);
            QTRY_VERIFY(user.done());
            QVERIFY(!searchingAfterClose);
            QVERIFY(!w->isVisible());
        } else if (state == QLatin1String("mark-list row during a search")) {
            m_folder->writeFile(QStringLiteral("MARK.csv"), m_code.toLatin1() + ",\r\n");
            w = m_folder->openShownWindow();
            const testing::MainControls marked = testing::ui(*w);
            m_portal.server().setFaults(testing::slowBy(20));
            marked.Text1->setText(QStringLiteral("9998"));
            bool displayingBefore = true, displayingAfter = false, searchingAfter = false;
            testing::whenSearching(
                *w,
                [&] {
                    // Between two candidates: no display runs, so the row is opened at once,
                    // inside the search's busy state.
                    displayingBefore = w->displaying();
                    const QRect row = marked.List1->visualItemRect(marked.List1->item(0));
                    QTest::mouseClick(marked.List1->viewport(), Qt::LeftButton, Qt::NoModifier,
                                      row.center());
                    QTest::mouseDClick(marked.List1->viewport(), Qt::LeftButton, Qt::NoModifier,
                                       row.center());
                    displayingAfter = w->displaying();
                    searchingAfter = w->searching();
                },
                [&] { return testing::candidatesIn(m_portal.targets()).size() > 2; });
            click(marked.Command6);
            QVERIFY(testing::idle(*w));
            QVERIFY(!displayingBefore);
            QVERIFY(displayingAfter);
            QVERIFY(searchingAfter);
            // The search went on to its own end after the row's display.
            QVERIFY(marked.Text1->text() != QLatin1String("9998"));
            QVERIFY(panesFilled(*w));
        } else {
            // Upward from 9998 the search walks some three hundred unlisted codes: a pause shows
            // as no new candidate asked for while the dialog is open.
            m_portal.server().setFaults(testing::slowBy(20));
            ui.Text1->setText(QStringLiteral("9998"));
            QStringList atOpen, atClose;
            fixture::WhenDialogOpen user([&](Form2* d) {
                atOpen = testing::candidatesIn(m_portal.targets());
                // Long enough for several candidates had the search gone on.
                QTest::qWait(400);
                atClose = testing::candidatesIn(m_portal.targets());
                d->close();
            });
            testing::whenSearching(
                *w, [&] { click(ui.Command1); },
                [&] { return testing::candidatesIn(m_portal.targets()).size() > 2; });
            click(ui.Command6);
            QVERIFY(testing::idle(*w));
            QVERIFY(user.done());
            QCOMPARE(atClose, atOpen);
            // Then it went on to its end: a code found past the wrap.
            QVERIFY(ui.Text1->text() != QLatin1String("9998"));
            QVERIFY(panesFilled(*w));
        }
        // Whatever the state, no message was shown on the way.
        QCOMPARE(messages.texts(), QStringList());
    }

private:
    testing::TestPortal m_portal;
    std::unique_ptr<testing::ProgramFolder> m_folder;
    QString m_code;
};

QUORVIX_WINDOW_TEST_MAIN(TestWindowStates)
#include "tst_windowstates.moc"
