#include "controls.h"
#include "mainwin/form1.h"
#include "messages.h"
#include "operations.h"
#include "searchlog.h"
#include "table.h"
#include "testsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringDecoder>
#include <QtTest>

#include <memory>

namespace {

using testing::kCaptionPrefix;
using testing::kCheckCodeMessage;

// The line the shipped code list holds for a code, decoded from code page 932.
QString codeListRow(const QString& code) {
    QFile file(testing::binFolder() + QStringLiteral("/銘柄コード一覧20060513.csv"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QStringDecoder decode("Shift_JIS");
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.startsWith(code.toLatin1() + ',')) {
            line.chop(line.endsWith('\r') ? 1 : 0);
            return decode(line);
        }
    }
    return QString();
}

} // namespace

// The exchange's alphanumeric codes on the real window against the portal: the display request,
// the clipboard, setting and clearing marks, the mark list with names, mark navigation and the
// code search around them.
class TestAlphanumeric : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_portal.started());
        const portal::PortalServer& server = m_portal.server();
        // The cases below rely on these suffixes and on what the portal does not list.
        QCOMPARE(server.suffixFor(QStringLiteral("130A")), QStringLiteral(".t"));
        QCOMPARE(server.suffixFor(QStringLiteral("134A")), QStringLiteral(".j"));
        QCOMPARE(server.suffixFor(QStringLiteral("1309")), QStringLiteral(".t"));
        QCOMPARE(server.suffixFor(QStringLiteral("1311")), QStringLiteral(".t"));
        QCOMPARE(server.suffixFor(QStringLiteral("4674")), QStringLiteral(".t"));
        QVERIFY(server.suffixFor(QStringLiteral("1310")).isEmpty());
        QVERIFY(server.suffixFor(QStringLiteral("130C")).isEmpty());
        QVERIFY(!server.suffixFor(QStringLiteral("215A")).isEmpty());
    }

    void init() {
        QVERIFY(m_portal.restart());
        m_folder = std::make_unique<testing::ProgramFolder>(m_portal.base());
    }

    void display_data() {
        // shown: null: refused with the message
        testing::columns<QString, QString, QString>({"codeBox", "shown", "oneDayChart"});

        const QString none;
        QTest::newRow("130A") << "130A"
                              << "130A"
                              << "/c/1d/1/130A.t.gif";
        QTest::newRow("lower case") << "130a"
                                    << "130A"
                                    << "/c/1d/1/130A.t.gif";
        QTest::newRow("full-width") << QStringLiteral("１３０Ａ") << "130A"
                                    << "/c/1d/1/130A.t.gif";
        QTest::newRow("under another suffix, blanks around") << " 134a "
                                                             << "134A"
                                                             << "/c/1d/1/134A.j.gif";
        QTest::newRow("forbidden letter") << "1A3B" << none << none;
        QTest::newRow("letter third") << "13A0" << none << none;
        QTest::newRow("letter first") << "A130" << none << none;
        // The form of a code, but not listed: the display fails as for an unlisted number.
        QTest::newRow("not listed") << "130C" << none << "/c/1d/1/130C.t.gif";
    }

    void display() {
        QFETCH(QString, codeBox);
        QFETCH(QString, shown);
        QFETCH(QString, oneDayChart);

        auto w = m_folder->openWindow();
        const testing::MainControls ui = testing::ui(*w);
        ui.Text1->setText(codeBox);
        testing::MessageCatcher messages;
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));

        const QStringList targets = m_portal.targets();
        if (oneDayChart.isNull())
            QCOMPARE(testing::candidatesIn(targets), QStringList());
        else
            QVERIFY2(targets.contains(oneDayChart), qPrintable(targets.join(QLatin1Char(' '))));
        if (shown.isNull()) {
            QCOMPARE(messages.texts(), QStringList{kCheckCodeMessage});
            QVERIFY(ui.Picture1[0]->pixmap().isNull());
            return;
        }
        QCOMPARE(messages.texts(), QStringList());
        QVERIFY(!ui.Picture1[0]->pixmap().isNull());
        // The code box keeps what was typed; the code is offered for marking.
        QCOMPARE(ui.Text1->text(), codeBox);
        QVERIFY(ui.Command4->isEnabled());
        QVERIFY(!ui.Command5->isEnabled());
    }

    void clipboard_data() {
        // codeBox: "4674" beforehand
        testing::columns<QString, QString>({"clipboard", "codeBox"});

        QTest::newRow("130A") << "130A"
                              << "130A";
        QTest::newRow("full-width lower case") << QStringLiteral("１３０ａ") << "130A";
        QTest::newRow("with a line end") << "215a\r\n"
                                         << "215A";
        QTest::newRow("forbidden letter") << "1A3B"
                                          << "4674";
        QTest::newRow("letter third") << "13A0"
                                      << "4674";
    }

    void clipboard() {
        QFETCH(QString, clipboard);
        QFETCH(QString, codeBox);

        auto w = m_folder->openWindow();
        const testing::MainControls ui = testing::ui(*w);
        ui.Text1->setText(QStringLiteral("4674"));
        QGuiApplication::clipboard()->setText(clipboard);
        ui.Command2->click();
        QCOMPARE(ui.Text1->text(), codeBox);
    }

    void setAndClearMark() {
        auto w = m_folder->openWindow();
        const testing::MainControls ui = testing::ui(*w);
        ui.Text1->setText(QStringLiteral("4674"));
        w->Command4_Click();
        ui.Text1->setText(QStringLiteral("130A"));
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));
        QVERIFY(ui.Command4->isEnabled());

        w->Command4_Click();
        QCOMPARE(m_folder->readFile(QStringLiteral("MARK.csv")), QByteArray("4674,130A,\r\n"));
        QCOMPARE(ui.List1->count(), 2);
        const QString row = codeListRow(QStringLiteral("130A"));
        QVERIFY(row.size() > 5);
        QCOMPARE(ui.List1->item(1)->text(), row);
        QVERIFY(!ui.Command4->isEnabled());
        QVERIFY(ui.Command5->isEnabled());

        // Displayed again from another spelling, the code is known as marked.
        ui.Text1->setText(QStringLiteral("１３０ａ"));
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));
        QVERIFY(!ui.Command4->isEnabled());
        QVERIFY(ui.Command5->isEnabled());

        ui.Text1->setText(QStringLiteral("130A"));
        w->Command5_Click();
        QCOMPARE(m_folder->readFile(QStringLiteral("MARK.csv")), QByteArray("4674,\r\n"));
        QCOMPARE(ui.List1->count(), 1);
        QVERIFY(ui.Command4->isEnabled());
        QVERIFY(!ui.Command5->isEnabled());
    }

    void markListAndNavigation() {
        // 1310 is not listed: navigation passes over it.
        m_folder->writeFile(QStringLiteral("MARK.csv"), "130A,1310,4674,215A,\r\n");
        auto w = m_folder->openWindow();
        const testing::MainControls ui = testing::ui(*w);
        QCOMPARE(ui.List1->count(), 4);
        QCOMPARE(ui.List1->item(0)->text(), codeListRow(QStringLiteral("130A")));
        QCOMPARE(ui.List1->item(3)->text(), codeListRow(QStringLiteral("215A")));
        QCOMPARE(ui.List1->item(1)->text(), QStringLiteral("1310,????,????"));
        const QString caption = kCaptionPrefix + m_folder->file(QStringLiteral("MARK.csv"));

        struct Step {
            QString code;
            int position;
        };
        const QList<Step> forward{{"130A", 1}, {"4674", 3}, {"215A", 4}, {"130A", 1}};
        for (const Step& step : forward) {
            testing::MessageCatcher messages;
            ui.Command8->click();
            QVERIFY(testing::idle(*w));
            QCOMPARE(ui.Text1->text(), step.code);
            QCOMPARE(w->windowTitle(),
                     caption + QStringLiteral(" - MARK No. %1").arg(step.position));
            QCOMPARE(ui.List1->currentRow(), step.position - 1);
            QVERIFY(!ui.Picture1[0]->pixmap().isNull());
            // A marked code: clearing is offered.
            QVERIFY(ui.Command5->isEnabled());
            QCOMPARE(messages.texts(), QStringList());
        }
        ui.Command9->click();
        QVERIFY(testing::idle(*w));
        QCOMPARE(ui.Text1->text(), QStringLiteral("215A"));

        // Opening a row displays its code.
        m_portal.clearLog();
        ui.List1->setCurrentRow(0);
        w->List1_DblClick();
        QVERIFY(testing::idle(*w));
        QCOMPARE(ui.Text1->text(), QStringLiteral("130A"));
        QVERIFY(m_portal.targets().contains(QStringLiteral("/c/1d/1/130A.t.gif")));
    }

    void searchOrder_data() {
        // tried: the last one is found
        testing::columns<QString, int, QStringList, bool>(
            {"codeBox", "step", "tried", "foundIsMarked"});

        QTest::newRow("1309 up") << "1309" << 1 << QStringList{"130A"} << false;
        QTest::newRow("130A up") << "130A" << 1 << QStringList{"1310", "1311"} << false;
        QTest::newRow("full-width 130A up")
            << QStringLiteral("１３０ａ") << 1 << QStringList{"1310", "1311"} << false;
        QTest::newRow("1311 down") << "1311" << -1 << QStringList{"1310", "130A"} << false;
        QTest::newRow("130A down, found code marked")
            << "130A" << -1 << QStringList{"1309"} << true;
        QTest::newRow("1310 down, found code marked")
            << "1310" << -1 << QStringList{"130A"} << true;
    }

    void searchOrder() {
        QFETCH(QString, codeBox);
        QFETCH(int, step);
        QFETCH(QStringList, tried);
        QFETCH(bool, foundIsMarked);

        if (foundIsMarked)
            m_folder->writeFile(QStringLiteral("MARK.csv"), tried.last().toLatin1() + ",\r\n");
        auto w = m_folder->openWindow();
        const testing::MainControls ui = testing::ui(*w);
        ui.Text1->setText(codeBox);
        testing::MessageCatcher messages;
        (step > 0 ? ui.Command6 : ui.Command7)->click();
        QVERIFY(testing::idle(*w));

        const QString wrong = testing::searchAskedWrong(
            testing::candidatesIn(m_portal.targets()), tried,
            step > 0 ? chart::StepDirection::Up : chart::StepDirection::Down,
            w->codeList().alphanumericCodes());
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QCOMPARE(ui.Text1->text(), tried.last());
        QVERIFY(!ui.Picture1[0]->pixmap().isNull());
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(ui.Command4->isEnabled(), !foundIsMarked);
        QCOMPARE(ui.Command5->isEnabled(), foundIsMarked);
        QVERIFY(!w->searching());
    }

private:
    testing::TestPortal m_portal;
    std::unique_ptr<testing::ProgramFolder> m_folder;
};

QUORVIX_WINDOW_TEST_MAIN(TestAlphanumeric)
#include "tst_alphanumeric.moc"
