// Switching the mark file from the settings dialog: real files in a temporary program folder,
// the file chooser handed in, the message box read from the real box.

#include "controls.h"
#include "messages.h"
#include "operations.h"
#include "table.h"
#include "viewerfixture.h"

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

namespace {

const QByteArray kDefaultMarks = "9999,1301,\r\n"; // MARK.csv beside the program
const QByteArray kPreviousMarks = "1000,2000,3000,\r\n";
const QByteArray kMissing = "<no such file>";

struct Chooser {
    // nullopt: the user cancels.
    std::optional<QString> answer;
    int calls = 0;
    QString title, filter, fileName;
    bool overDialog = false; // shown over the settings dialog

    ViewerContext::ChooseFile seam() {
        return [this](QWidget* p, const QString& t, const QString& f, const QString& n) {
            ++calls;
            overDialog = qobject_cast<Form2*>(p) != nullptr;
            title = t;
            filter = f;
            fileName = n;
            return answer;
        };
    }
};

struct Setup {
    testing::TestPortal portal;
    testing::ProgramFolder folder{portal.base()};
    Chooser chooser;
    std::unique_ptr<Form1> w;

    Setup() {
        folder.writeFile(QStringLiteral("MARK.csv"), kDefaultMarks);
        // Not the code of any mark, so that a step is seen in the code box.
        folder.setSetting(QStringLiteral("SETUP"), QStringLiteral("LASTCODE"),
                          QStringLiteral("7203"));
        ViewerContext ctx = folder.context();
        ctx.chooseFile = chooser.seam();
        w = std::make_unique<Form1>(ctx);
    }
    QString defaultFile() const { return folder.file(QStringLiteral("MARK.csv")); }

    // The user presses the dialog's mark-file button and picks path (nullopt: Cancel).
    void switchTo(const std::optional<QString>& path) {
        chooser.answer = path;
        Form2 d(*w);
        d.show();
        testing::ui(d).Command2->click();
        d.close();
    }

    QStringList rows() const {
        QStringList r;
        for (int i = 0; i < testing::ui(*w).List1->count(); ++i)
            r << testing::ui(*w).List1->item(i)->text();
        return r;
    }
};

// Row texts compare whole, or by their beginning where the pattern ends in "*" (the stock's line
// from the code list).
bool rowsMatch(const QStringList& rows, const QStringList& patterns) {
    if (rows.size() != patterns.size())
        return false;
    for (int i = 0; i < rows.size(); ++i) {
        const QString& p = patterns[i];
        const bool ok =
            p.endsWith(QLatin1Char('*')) ? rows[i].startsWith(p.chopped(1)) : rows[i] == p;
        if (!ok)
            return false;
    }
    return true;
}

// Calls back each time the watched control becomes enabled.
class EnableWatch : public QObject {
public:
    EnableWatch(QWidget* watched, std::function<void()> enabled)
        : m_enabled(std::move(enabled)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled())
            m_enabled();
        return false;
    }

private:
    std::function<void()> m_enabled;
};

} // namespace

class TestMarkSwitch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        Setup s;
        QVERIFY(s.portal.started());
        // The start the cases build on: the default file's marks, listed, position 0.
        QCOMPARE(s.w->markFileName(), s.defaultFile());
        QCOMPARE(s.w->markLine(), QStringLiteral("9999,1301,"));
        QVERIFY(rowsMatch(s.rows(), {"9999,????,????", "1301,*"}));
    }

    void switchFile_data() {
        // previous: another file was switched to first
        // content: of the chosen file; kMissing: it does not exist
        // message: the one box expected, "" for none
        // chosenInUse: false: the default file is in use
        testing::columns<bool, QByteArray, bool, QString, bool, QString, QStringList>(
            {"previous", "content", "cancel", "message", "chosenInUse", "marks", "rows"});

        const QString invalid = testing::kInvalidMarkFileMessage;
        const QString defaults = QStringLiteral("9999,1301,");
        const QStringList defaultRows{"9999,????,????", "1301,*"};

        QTest::newRow("two marks") << false << QByteArray("4674,1000,\r\n") << false << "" << true
                                   << "4674,1000," << QStringList{"4674,*", "1000,????,????"};
        QTest::newRow("first line without line end") << false << QByteArray("4674,") << false << ""
                                                     << true << "4674," << QStringList{"4674,*"};
        QTest::newRow("empty first line")
            << false << QByteArray("\r\n") << false << "" << true << "" << QStringList{};
        QTest::newRow("empty first line, marks below")
            << false << QByteArray("\r\n4674,1000,\r\n") << false << "" << true << ""
            << QStringList{};
        QTest::newRow("damaged but a comma fifth")
            << false << QByteArray("4674,ab!?,1000\r\n") << false << "" << true << "4674,ab!?,1000"
            << QStringList{"4674,*", "ab!?,????,????", "1000,????,????"};
        QTest::newRow("fifth character not a comma")
            << false << QByteArray("46741000,\r\n") << false << invalid << false << defaults
            << defaultRows;
        QTest::newRow("one character")
            << false << QByteArray("4\r\n") << false << invalid << false << defaults << defaultRows;
        QTest::newRow("four characters") << false << QByteArray("4674\r\n") << false << invalid
                                         << false << defaults << defaultRows;
        QTest::newRow("not a mark file at all")
            << false << QByteArray("Code;Name\r\n4674;x\r\n") << false << invalid << false
            << defaults << defaultRows;
        QTest::newRow("does not exist")
            << false << kMissing << false << "" << false << defaults << defaultRows;
        QTest::newRow("zero bytes")
            << false << QByteArray("") << false << "" << false << defaults << defaultRows;
        QTest::newRow("cancel") << false << QByteArray() << true << "" << false << defaults
                                << defaultRows;
        // Another file in use before: a fallback brings back the default file's own marks.
        QTest::newRow("cancel after another file")
            << true << QByteArray() << true << "" << false << defaults << defaultRows;
        QTest::newRow("invalid after another file") << true << QByteArray("abcdefg\r\n") << false
                                                    << invalid << false << defaults << defaultRows;
        QTest::newRow("missing after another file")
            << true << kMissing << false << "" << false << defaults << defaultRows;
        QTest::newRow("from one file to another") << true << QByteArray("4674,\r\n") << false << ""
                                                  << true << "4674," << QStringList{"4674,*"};
    }

    void switchFile() {
        QFETCH(bool, previous);
        QFETCH(QByteArray, content);
        QFETCH(bool, cancel);
        QFETCH(QString, message);
        QFETCH(bool, chosenInUse);
        QFETCH(QString, marks);
        QFETCH(QStringList, rows);

        Setup s;
        const QString previousFile = s.folder.file(QStringLiteral("previous.csv"));
        const QString chosenFile = s.folder.file(QStringLiteral("chosen.csv"));
        if (previous) {
            s.folder.writeFile(QStringLiteral("previous.csv"), kPreviousMarks);
            s.switchTo(previousFile);
            QCOMPARE(s.w->markFileName(), previousFile);
            QCOMPARE(s.w->markLine(), QStringLiteral("1000,2000,3000,"));
        }
        if (content != kMissing && !cancel)
            s.folder.writeFile(QStringLiteral("chosen.csv"), content);
        // A mark shown from the list: a switch or fallback starts the position over.
        testing::ui(*s.w).List1->setCurrentRow(1);
        s.w->List1_DblClick();
        QVERIFY(testing::idle(*s.w));
        QCOMPARE(s.w->markPosition(), 2);

        testing::MessageCatcher boxes;
        s.switchTo(cancel ? std::nullopt : std::optional<QString>(chosenFile));

        // The chooser: always offered on the default file, whichever file was in use.
        QCOMPARE(s.chooser.calls, previous ? 2 : 1);
        QCOMPARE(s.chooser.title, QStringLiteral("マークファイルを指定する"));
        QCOMPARE(s.chooser.filter, QStringLiteral("csvファイル(*.csv)"));
        QCOMPARE(s.chooser.fileName, s.defaultFile());
        QVERIFY(s.chooser.overDialog);

        if (message.isEmpty()) {
            QCOMPARE(boxes.seen().size(), 0);
        } else {
            QCOMPARE(boxes.seen().size(), 1);
            QCOMPARE(boxes.seen()[0].text, message);
            QCOMPARE(boxes.seen()[0].title, testing::kMessageTitle);
            QCOMPARE(boxes.seen()[0].buttons, 1);
            QCOMPARE(boxes.seen()[0].icon, QMessageBox::NoIcon);
        }

        QCOMPARE(s.w->markFileName(), chosenInUse ? chosenFile : s.defaultFile());
        QCOMPARE(s.w->markLine(), marks);
        QVERIFY2(rowsMatch(s.rows(), rows), qPrintable(s.rows().join(QLatin1Char('|'))));
        QCOMPARE(s.w->markPosition(), 0);
        QUORVIX_COMPARE_ENABLED(*s.w,
                                {{"Command8", !marks.isEmpty()}, {"Command9", !marks.isEmpty()}});

        // The main window closes with no mark changed: each file keeps its own bytes, the lines
        // after the first included.
        s.w->close();
        QCOMPARE(s.folder.readFile(QStringLiteral("MARK.csv")), kDefaultMarks);
        if (previous)
            QCOMPARE(s.folder.readFile(QStringLiteral("previous.csv")), kPreviousMarks);
        if (content == kMissing)
            QVERIFY(!QFile::exists(chosenFile));
        else if (!cancel)
            QCOMPARE(s.folder.readFile(QStringLiteral("chosen.csv")), content);
    }

    void switchThroughTheSettingsButton() {
        Setup s;
        s.folder.writeFile(QStringLiteral("ranking.csv"), "4674,1000,\r\n");
        const QString ranking = s.folder.file(QStringLiteral("ranking.csv"));
        s.chooser.answer = ranking;
        s.w->show();
        QCOMPARE(testing::ui(*s.w).Text1->text(), QStringLiteral("7203"));

        // The user opens the settings, presses the mark-file button, picks the file, closes.
        fixture::WhenDialogOpen user([](Form2* d) {
            testing::ui(*d).Command2->click();
            d->close();
        });
        testing::ui(*s.w).Command1->click();
        QVERIFY(user.done());

        QCOMPARE(s.w->windowTitle(), testing::kCaptionPrefix + ranking);
        QCOMPARE(testing::ui(*s.w).List1->count(), 2);
        QUORVIX_COMPARE_ENABLED(*s.w, {{"Command8", true}, {"Command9", true}});

        // The next forward step shows the file's first mark.
        testing::ui(*s.w).Command8->click();
        QVERIFY(testing::idle(*s.w));
        QTRY_COMPARE(testing::ui(*s.w).Text1->text(), QStringLiteral("4674"));
        QCOMPARE(s.w->markPosition(), 1);
        QCOMPARE(testing::ui(*s.w).List1->currentRow(), 0);
        QCOMPARE(s.w->windowTitle(),
                 testing::kCaptionPrefix + ranking + QStringLiteral(" - MARK No. 1"));
    }

    void switchDuringCodeSearch() {
        Setup s;
        s.folder.writeFile(QStringLiteral("other.csv"), "4674,\r\n");
        const QString other = s.folder.file(QStringLiteral("other.csv"));
        s.chooser.answer = other;

        // A start two unserved codes below a served one: the search tries two candidates in vain,
        // then finds that code.
        const portal::PortalServer& server = s.portal.server();
        QString start, found;
        for (int c = 1303; c <= 9999 && found.isEmpty(); ++c) {
            const auto served = [&server](int code) {
                return !server.suffixFor(QString::number(code)).isEmpty();
            };
            if (served(c) && !served(c - 1) && !served(c - 2)) {
                start = QString::number(c - 3);
                found = QString::number(c);
            }
        }
        QVERIFY(!found.isEmpty());
        s.portal.server().setFaults(testing::slowBy(50));

        const testing::MainControls ui = testing::ui(*s.w);
        s.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(s.w.get()));
        ui.Text1->setText(start);
        auto busyControls = [&ui] {
            return testing::enabledStates(
                {ui.Text1, ui.Command6, ui.Command7, ui.Command8, ui.Command9});
        };
        const QString busy = QStringLiteral("Text1:0 Command6:0 Command7:0 Command8:0 Command9:0");
        const QString free = QStringLiteral("Text1:1 Command6:1 Command7:1 Command8:1 Command9:1");

        // Every time the code box becomes usable again, the busy state was left.
        int busyLeft = 0;
        EnableWatch watch(ui.Text1, [&busyLeft] { ++busyLeft; });

        // Between two candidates the user opens the settings, adopts another mark file, closes the
        // dialog and tries the mark search.
        QString afterDialog, afterMarkSearch;
        bool searchingAfterMarkSearch = false;
        testing::whenSearching(*s.w, [&] {
            fixture::WhenDialogOpen user([](Form2* d) {
                testing::ui(*d).Command2->click();
                d->close();
            });
            ui.Command1->click();
            afterDialog = busyControls();
            ui.Command8->click();
            afterMarkSearch = busyControls();
            searchingAfterMarkSearch = s.w->searching();
        });
        testing::MessageCatcher boxes;
        ui.Command6->click();
        QVERIFY(testing::idle(*s.w));

        QCOMPARE(afterDialog, busy);
        QCOMPARE(afterMarkSearch, busy);
        QVERIFY(searchingAfterMarkSearch);
        QCOMPARE(busyLeft, 1);
        QCOMPARE(boxes.texts(), QStringList());
        // The code search ended on its own find, with the adopted file in use.
        QCOMPARE(ui.Text1->text(), found);
        QCOMPARE(s.w->markFileName(), other);
        QCOMPARE(busyControls(), free);
        QVERIFY(!s.w->searching());
    }
};

QUORVIX_WINDOW_TEST_MAIN(TestMarkSwitch)
#include "tst_markswitch.moc"
