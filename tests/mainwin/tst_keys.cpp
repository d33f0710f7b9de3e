#include "chart/lookahead.h"
#include "controls.h"
#include "mainwin/form1.h"
#include "messages.h"
#include "operations.h"
#include "searchlog.h"
#include "table.h"
#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

// The step keys and Escape in the main window, and the progress hint of a search.
namespace {

struct Outcome {
    QString codeBox;
    int markPosition = -1;
    QString caption;
    bool chartShown = false;
};

Outcome outcomeOf(const Form1& window) {
    return {testing::ui(window).Text1->text(), window.markPosition(), window.windowTitle(),
            !testing::ui(window).Picture1[0]->pixmap().isNull()};
}

bool panesBlank(const Form1& window) {
    for (const QLabel* pane : testing::ui(window).Picture1) {
        if (!pane->pixmap().isNull())
            return false;
    }
    return true;
}

// The key goes where the focus is, as the user's key would.
void press(Form1& window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target ? target : &window, Qt::Key(key), modifiers);
}

const QRegularExpression kCodeHint(QStringLiteral("^検索中 (\\w{4}) … Escで中止$"));
const QRegularExpression kMarkHint(QStringLiteral("^マーク検索中 (\\d+)/(\\d+) … Escで中止$"));

} // namespace

class TestKeys : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }

    void init() { QVERIFY(m_portal.restart()); }

    void tooltipsNameTheKeys() {
        testing::ProgramFolder folder(m_portal.base());
        auto window = folder.openWindow();
        const testing::MainControls ui = testing::ui(*window);
        QVERIFY(ui.Command6->toolTip().contains(QLatin1String("PageDown")));
        QVERIFY(ui.Command7->toolTip().contains(QLatin1String("PageUp")));
        QVERIFY(ui.Command8->toolTip().contains(QLatin1String("Ctrl+PageDown")));
        QVERIFY(ui.Command9->toolTip().contains(QLatin1String("Ctrl+PageUp")));
    }

    void keyClicksItsButton_data() {
        testing::columns<int, int, QString, QString, bool>(
            {"key", "modifiers", "button", "focus", "enabled"});
        const struct {
            const char* name;
            int key;
            Qt::KeyboardModifiers modifiers;
            const char* button;
            const char* focus;
        } keys[] = {
            {"PageDown", Qt::Key_PageDown, Qt::NoModifier, "Command6", "Text1"},
            {"PageUp", Qt::Key_PageUp, Qt::NoModifier, "Command7", "List1"},
            {"Ctrl+PageDown", Qt::Key_PageDown, Qt::ControlModifier, "Command8", "Command1"},
            {"Ctrl+PageUp", Qt::Key_PageUp, Qt::ControlModifier, "Command9", "WebBrowser1"},
            {"PageDown in the summary", Qt::Key_PageDown, Qt::NoModifier, "Command6",
             "WebBrowser1"},
            {"Ctrl+PageDown in the list", Qt::Key_PageDown, Qt::ControlModifier, "Command8",
             "List1"},
        };
        for (const auto& k : keys) {
            for (bool enabled : {true, false}) {
                QTest::addRow("%s, focus %s, button %s", k.name, k.focus,
                              enabled ? "enabled" : "disabled")
                    << k.key << int(k.modifiers) << QString::fromLatin1(k.button)
                    << QString::fromLatin1(k.focus) << enabled;
            }
        }
    }

    void keyClicksItsButton() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, button);
        QFETCH(QString, focus);
        QFETCH(bool, enabled);

        testing::ProgramFolder folder(m_portal.base());
        folder.writeFile(QStringLiteral("MARK.csv"), "1301,7203,\r\n");
        folder.setSetting(QStringLiteral("SETUP"), QStringLiteral("LASTCODE"),
                          QStringLiteral("4674"));
        auto window = folder.openShownWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        auto* pushButton = window->findChild<QPushButton*>(button);
        QVERIFY(pushButton);
        QVERIFY(pushButton->isEnabled());
        pushButton->setEnabled(enabled);
        auto* focusWidget = window->findChild<QWidget*>(focus);
        QVERIFY(focusWidget);
        focusWidget->setFocus();
        QTRY_VERIFY(focusWidget->hasFocus() ||
                    (focusWidget->focusProxy() && focusWidget->focusProxy()->hasFocus()));

        press(*window, key, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(window->searching(), enabled);
        QVERIFY(testing::idle(*window));
        const Outcome byKey = outcomeOf(*window);
        if (!enabled) {
            QCOMPARE(byKey.codeBox, QStringLiteral("4674"));
            QCOMPARE(byKey.markPosition, 0);
            QVERIFY(testing::candidatesIn(m_portal.targets()).isEmpty());
            return;
        }

        // The same as a click on the button in a window like it.
        auto clicked = folder.openShownWindow();
        clicked->findChild<QPushButton*>(button)->click();
        QVERIFY(testing::idle(*clicked));
        const Outcome byClick = outcomeOf(*clicked);
        QVERIFY(byClick.chartShown);
        QCOMPARE(byKey.codeBox, byClick.codeBox);
        QCOMPARE(byKey.markPosition, byClick.markPosition);
        QCOMPARE(byKey.caption, byClick.caption);
        QCOMPARE(byKey.chartShown, byClick.chartShown);
    }

    void escapeStopsCodeSearch() {
        QVERIFY(m_portal.server().suffixFor(QStringLiteral("9999")).isEmpty());
        testing::ProgramFolder folder(m_portal.base());
        folder.writeFile(QStringLiteral("MARK.csv"), "1301,\r\n");
        auto window = folder.openShownWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        // From 9998 upwards the first served code lies hundreds of candidates away.
        testing::ui(*window).Text1->setText(QStringLiteral("9998"));
        m_portal.server().setFaults(testing::slowBy(30));

        QString hint;
        int candidatesAtEscape = -1;
        testing::whenSearching(
            *window,
            [&] {
                hint = window->searchHint();
                candidatesAtEscape = testing::candidatesIn(m_portal.targets()).size();
                press(*window, Qt::Key_Escape);
            },
            [&] { return !window->searchHint().isEmpty(); });
        testing::MessageCatcher messages;
        press(*window, Qt::Key_PageDown);
        QVERIFY(window->searching());
        QVERIFY(testing::idle(*window));

        // The hint named a candidate the search tried.
        const QRegularExpressionMatch match = kCodeHint.match(hint);
        QVERIFY2(match.hasMatch(), qPrintable(hint));
        QVERIFY2(testing::candidatesIn(m_portal.targets()).contains(match.captured(1)),
                 qPrintable(hint));

        // Stopped where it was: the code box as it was, the panes blank, no hint, no message,
        // the busy state left.
        auto stoppedAsItWas = [&] {
            QCOMPARE(testing::ui(*window).Text1->text(), QStringLiteral("9998"));
            QVERIFY(panesBlank(*window));
            QCOMPARE(window->searchHint(), QString());
            QCOMPARE(messages.texts(), QStringList());
            QVERIFY(!window->searching());
            QUORVIX_COMPARE_ENABLED(*window, {{"Text1", true},
                                              {"Command6", true},
                                              {"Command7", true},
                                              {"Command8", true},
                                              {"Command9", true}});
        };
        stoppedAsItWas();
        // Nothing goes on behind it: no candidate beyond the probes under way, nothing shown
        // later.
        QTest::qWait(300);
        stoppedAsItWas();
        QVERIFY(testing::candidatesIn(m_portal.targets()).size() <=
                candidatesAtEscape + chart::LookAhead::kDepth);
    }

    void escapeStopsMarkStep() {
        // A shown mark, then marks no portal serves, so that the step tries them one by one.
        QStringList unserved;
        for (int c = 1000; c <= 9999 && unserved.size() < 30; ++c) {
            if (m_portal.server().suffixFor(QString::number(c)).isEmpty())
                unserved << QString::number(c);
        }
        QByteArray marks = "1301,";
        for (const QString& code : unserved)
            marks += code.toLatin1() + ',';
        testing::ProgramFolder folder(m_portal.base());
        folder.writeFile(QStringLiteral("MARK.csv"), marks + "\r\n");
        auto window = folder.openShownWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QListWidget* list = testing::ui(*window).List1;
        list->setCurrentRow(0);
        window->List1_DblClick();
        QVERIFY(testing::idle(*window));
        QCOMPARE(window->markPosition(), 1);
        const QString caption = window->windowTitle();
        QVERIFY(caption.endsWith(QLatin1String("MARK No. 1")));
        m_portal.server().setFaults(testing::slowBy(30));

        QString hint;
        testing::whenSearching(
            *window,
            [&] {
                hint = window->searchHint();
                press(*window, Qt::Key_Escape);
            },
            [&] { return !window->searchHint().isEmpty(); });
        testing::MessageCatcher messages;
        press(*window, Qt::Key_PageDown, Qt::ControlModifier);
        QVERIFY(window->searching());
        QVERIFY(testing::idle(*window));

        const QRegularExpressionMatch match = kMarkHint.match(hint);
        QVERIFY2(match.hasMatch(), qPrintable(hint));
        QVERIFY(match.captured(1).toInt() >= 2);
        QCOMPARE(match.captured(2).toInt(), 1 + int(unserved.size()));
        // The mark position of the last mark shown, its caption and row; the code box as it was.
        QCOMPARE(window->markPosition(), 1);
        QCOMPARE(window->windowTitle(), caption);
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(testing::ui(*window).Text1->text(), QStringLiteral("1301"));
        QVERIFY(panesBlank(*window));
        QCOMPARE(window->searchHint(), QString());
        QCOMPARE(messages.texts(), QStringList());
        QUORVIX_COMPARE_ENABLED(*window, {{"Text1", true},
                                          {"Command6", true},
                                          {"Command7", true},
                                          {"Command8", true},
                                          {"Command9", true}});

        // Run to its end, the step passes every mark that fails and comes back to the first; the
        // hint goes with the search.
        m_portal.server().setFaults({});
        press(*window, Qt::Key_PageDown, Qt::ControlModifier);
        QVERIFY(testing::idle(*window));
        QCOMPARE(window->markPosition(), 1);
        QVERIFY(!testing::ui(*window).Picture1[0]->pixmap().isNull());
        QCOMPARE(window->searchHint(), QString());
    }

    void hintWhileSearchingGoneAfter() {
        testing::ProgramFolder folder(m_portal.base());
        auto window = folder.openShownWindow();
        testing::ui(*window).Text1->setText(QStringLiteral("9998"));
        QStringList hints;
        auto* watch = new QTimer(window.get());
        connect(watch, &QTimer::timeout, window.get(), [&] {
            const QString hint = window->searchHint();
            if (!hint.isEmpty() && (hints.isEmpty() || hints.last() != hint))
                hints << hint;
        });
        watch->start(0);
        testing::ui(*window).Command6->click();
        QVERIFY(testing::idle(*window));
        watch->stop();

        QVERIFY(!hints.isEmpty());
        for (const QString& hint : hints)
            QVERIFY2(kCodeHint.match(hint).hasMatch(), qPrintable(hint));
        QCOMPARE(window->searchHint(), QString());
        QVERIFY(!testing::ui(*window).Picture1[0]->pixmap().isNull());
    }

    void escapeWithoutSearchDoesNothing() {
        testing::ProgramFolder folder(m_portal.base());
        auto window = folder.openShownWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        testing::ui(*window).Text1->setText(QStringLiteral("4674"));
        testing::ui(*window).Text1->setFocus();
        press(*window, Qt::Key_Escape);
        QCOMPARE(testing::ui(*window).Text1->text(), QStringLiteral("4674"));
        QVERIFY(window->isVisible());
        QVERIFY(!window->searching());
    }

private:
    testing::TestPortal m_portal;
};

QUORVIX_WINDOW_TEST_MAIN(TestKeys)
#include "tst_keys.moc"
