// The rules the settings dialog applies while it is open: two or four panes, the number of
// terms, the number of averages and overlays, and the standard-parameter toggle.

#include "controls.h"
#include "table.h"
#include "viewerfixture.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QWebEngineView>
#include <QtTest>

using fixture::Values;
using fixture::Viewer;

namespace {

Values start(bool fourPanes, const QString& terms) {
    Values v = fixture::flags(fixture::termKeys(), terms);
    v.insert(QStringLiteral("GRAF"), fourPanes ? QStringLiteral("True") : QStringLiteral("False"));
    return v;
}

// Both detail browsers on screen, as after a display with the detail page.
void showBrowsers(Form1& w) {
    testing::ui(w).WebBrowser2->show();
    testing::ui(w).WebBrowser3->show();
}

} // namespace

class TestForm2Rules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void paneRule_data() {
        // fourPanes: arrangement at opening
        // terms: term boxes at opening
        // select: the option the user selects
        // after: term boxes left checked
        testing::columns<bool, QString, int, QString, bool, bool>(
            {"fourPanes", "terms", "select", "after", "browser2Hidden", "browser3Hidden"});

        QTest::newRow("four terms, to two panes: 1y then 6m go")
            << true << "11110000" << 0 << "11000000" << false << true;
        QTest::newRow("1d 6m 1y 10y, to two panes: 10y and 1y go")
            << true << "10110010" << 0 << "10100000" << false << true;
        QTest::newRow("1d 3m detail, to two panes: detail goes, both browsers hidden")
            << true << "11000001" << 0 << "11000000" << true << true;
        QTest::newRow("two terms, to two panes: nothing unchecked")
            << true << "10000010" << 0 << "10000010" << false << true;
        QTest::newRow("to four panes: nothing unchecked")
            << false << "11000000" << 1 << "11000000" << true << false;
        QTest::newRow("to four panes with the detail page")
            << false << "10000001" << 1 << "10000001" << true << false;
        // Selecting the option that is already selected is no change: the rule does not run.
        QTest::newRow("two panes selected again")
            << false << "11000000" << 0 << "11000000" << false << false;
        QTest::newRow("four panes selected again")
            << true << "11110000" << 1 << "11110000" << false << false;
    }

    void paneRule() {
        QFETCH(bool, fourPanes);
        QFETCH(QString, terms);
        QFETCH(int, select);
        QFETCH(QString, after);
        QFETCH(bool, browser2Hidden);
        QFETCH(bool, browser3Hidden);

        Viewer v(start(fourPanes, terms));
        Form2 d(*v.w);
        d.show();
        QCOMPARE(fixture::marks(testing::ui(d).Check1), terms);
        showBrowsers(*v.w);

        testing::ui(d).Option1[select]->click();

        const bool nowFour = select == 1;
        QCOMPARE(testing::ui(d).Option1[1]->isChecked(), nowFour);
        QCOMPARE(fixture::marks(testing::ui(d).Check1), after);
        QCOMPARE(v.w->width(), nowFour ? 1272 : 751);
        QCOMPARE(v.w->height(), 578);
        QCOMPARE(testing::ui(*v.w).Picture1[2]->isHidden(), !nowFour);
        QCOMPARE(testing::ui(*v.w).Picture1[3]->isHidden(), !nowFour);
        QVERIFY(!testing::ui(*v.w).Picture1[0]->isHidden());
        QVERIFY(!testing::ui(*v.w).Picture1[1]->isHidden());
        QCOMPARE(testing::ui(*v.w).WebBrowser2->isHidden(), browser2Hidden);
        QCOMPARE(testing::ui(*v.w).WebBrowser3->isHidden(), browser3Hidden);
        d.close();
        QCOMPARE(v.storedSetup().value(QStringLiteral("GRAF")),
                 nowFour ? QStringLiteral("True") : QStringLiteral("False"));
    }

    void termRule_data() {
        // box: the term box the user clicks
        // after: term boxes afterwards
        testing::columns<bool, QString, int, QString, bool>(
            {"fourPanes", "terms", "box", "after", "browsersHidden"});

        QTest::newRow("two panes, 1d 5y, check 1y: 5y goes")
            << false << "10000100" << 3 << "10010000" << false;
        QTest::newRow("two panes, 1d 3m, check detail: 3m goes")
            << false << "11000000" << 7 << "10000001" << false;
        QTest::newRow("two panes, 3m 6m, check 1d: 6m goes")
            << false << "01100000" << 0 << "11000000" << false;
        QTest::newRow("four panes, four terms, check 2y: 1y goes")
            << true << "11110000" << 4 << "11101000" << false;
        QTest::newRow("four panes, 3m 6m 1y 2y, check 1d: 2y goes")
            << true << "01111000" << 0 << "11110000" << false;
        QTest::newRow("two panes, 1d detail, check 3m: detail goes and hides the browsers")
            << false << "10000001" << 1 << "11000000" << true;
        QTest::newRow("two panes, 1d 10y, check 1d off and on is never trimmed")
            << false << "00000010" << 0 << "10000010" << false;
        QTest::newRow("four panes, within capacity: nothing goes")
            << true << "11000000" << 6 << "11000010" << false;
        QTest::newRow("uncheck detail, four panes: browsers hidden, nothing else")
            << true << "11100001" << 7 << "11100000" << true;
        QTest::newRow("uncheck detail, two panes: browsers hidden, nothing else")
            << false << "10000001" << 7 << "10000000" << true;
        QTest::newRow("uncheck 1d: nothing else changes")
            << true << "11110000" << 0 << "01110000" << false;
        QTest::newRow("uncheck 3m on two panes: nothing else changes")
            << false << "11000000" << 1 << "10000000" << false;
    }

    void termRule() {
        QFETCH(bool, fourPanes);
        QFETCH(QString, terms);
        QFETCH(int, box);
        QFETCH(QString, after);
        QFETCH(bool, browsersHidden);

        Viewer v(start(fourPanes, terms));
        Form2 d(*v.w);
        d.show();
        QCOMPARE(fixture::marks(testing::ui(d).Check1), terms);
        showBrowsers(*v.w);
        const int widthBefore = v.w->width();

        testing::ui(d).Check1[box]->click();

        QCOMPARE(fixture::marks(testing::ui(d).Check1), after);
        QCOMPARE(testing::ui(*v.w).WebBrowser2->isHidden(), browsersHidden);
        QCOMPARE(testing::ui(*v.w).WebBrowser3->isHidden(), browsersHidden);
        // Terms never change the arrangement.
        QCOMPARE(v.w->width(), widthBefore);
        QCOMPARE(testing::ui(d).Option1[1]->isChecked(), fourPanes);
        d.close();
        QCOMPARE(v.storedSetup(),
                 fixture::written(fourPanes, after, QStringLiteral("1100011000000"), true));
    }

    void averageRule_data() {
        testing::columns<QString, int, QString>({"averages", "box", "after"});

        QTest::newRow("check Bollinger: smoothed 75 days goes")
            << "1100011000000" << 10 << "1100010000100";
        QTest::newRow("check 13 weeks: smoothed 75 days goes")
            << "1100011000000" << 2 << "1110010000000";
        QTest::newRow("check volume with three overlays: the last other overlay goes")
            << "1100000000110" << 12 << "1100000000101";
        QTest::newRow("check 25 days with three overlays: volume goes")
            << "0100000000111" << 0 << "1100000000110";
        QTest::newRow("within capacity: nothing goes") << "1100000000000" << 12 << "1100000000001";
        QTest::newRow("uncheck: nothing else changes") << "1100011000000" << 5 << "1100001000000";
    }

    void averageRule() {
        QFETCH(QString, averages);
        QFETCH(int, box);
        QFETCH(QString, after);

        Values store = fixture::flags(fixture::averageKeys(), averages);
        store.insert(QStringLiteral("NORMAL"), QStringLiteral("False")); // boxes usable
        Viewer v(store);
        Form2 d(*v.w);
        d.show();
        QCOMPARE(fixture::marks(testing::ui(d).Check2), averages);

        testing::ui(d).Check2[box]->click();

        QCOMPARE(fixture::marks(testing::ui(d).Check2), after);
        QCOMPARE(fixture::marks(testing::ui(d).Check1), QStringLiteral("11110000"));
        d.close();
        QCOMPARE(v.storedSetup(), fixture::written(true, QStringLiteral("11110000"), after, false));
    }

    void toggleRule_data() {
        // normal: stored NORMAL
        // clicks: times the user operates the toggle
        testing::columns<QString, QString, int>({"normal", "averages", "clicks"});

        QTest::newRow("pressed, released") << "True"
                                           << "1100011000000" << 1;
        QTest::newRow("up, pressed") << "False"
                                     << "0010000001100" << 1;
        QTest::newRow("pressed, released, pressed") << "True"
                                                    << "1100011000000" << 2;
        QTest::newRow("up, pressed, released") << "False"
                                               << "0000000000111" << 2;
    }

    void toggleRule() {
        QFETCH(QString, normal);
        QFETCH(QString, averages);
        QFETCH(int, clicks);

        Values store = fixture::flags(fixture::averageKeys(), averages);
        store.insert(QStringLiteral("NORMAL"), normal);
        Viewer v(store);
        Form2 d(*v.w);
        d.show();
        bool pressed = normal == QLatin1String("True");
        QCOMPARE(testing::ui(d).ToggleButton1->isChecked(), pressed);
        QCOMPARE(fixture::enabledCount(testing::ui(d).Check2), pressed ? 0 : 13);

        for (int i = 0; i < clicks; ++i) {
            testing::ui(d).ToggleButton1->click();
            pressed = !pressed;
            QCOMPARE(testing::ui(d).ToggleButton1->isChecked(), pressed);
            QCOMPARE(fixture::enabledCount(testing::ui(d).Check2), pressed ? 0 : 13);
            // The marks stay as they were.
            QCOMPARE(fixture::marks(testing::ui(d).Check2), averages);
        }
        // A disabled box cannot be clicked; an enabled one can.
        testing::ui(d).Check2[3]->click();
        QCOMPARE(testing::ui(d).Check2[3]->isChecked(),
                 (averages.at(3) == QLatin1Char('1')) == pressed);
        d.close();
        QCOMPARE(v.storedSetup().value(QStringLiteral("NORMAL")),
                 pressed ? QStringLiteral("True") : QStringLiteral("False"));
    }
};

QUORVIX_WINDOW_TEST_MAIN(TestForm2Rules)
#include "tst_form2rules.moc"
