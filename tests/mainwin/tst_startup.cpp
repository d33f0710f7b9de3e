#include "controls.h"
#include "mainwin/form1.h"
#include "messages.h"
#include "searchlog.h"
#include "table.h"
#include "testsupport.h"

#include <QApplication>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QWebEngineView>
#include <QtTest>

#include <algorithm>

namespace {

// A screen far larger than the default offscreen one, so that restored positions thousands of
// pixels out stay on a screen, and one beyond it is truly off every screen.
constexpr int kScreenWidth = 8000;
constexpr int kScreenHeight = 4000;

using Settings = QList<QPair<QString, QString>>; // "SECTION/KEY", stored text

} // namespace

// Opening and closing the main window: what the stored settings give, and what closing stores.
class TestStartup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(screen.size(), QSize(kScreenWidth, kScreenHeight));
        QVERIFY(m_portal.started());
    }

    void init() {
        m_folder = std::make_unique<testing::ProgramFolder>(m_portal.base());
        m_portal.clearLog();
    }

    void cleanup() { m_folder.reset(); }

    void restoredFromSettings_data() {
        testing::columns<Settings, int, int, bool, QString>(
            {"stored", "leftTwips", "topTwips", "fourPanes", "code"});

        const QString left = QStringLiteral("STARTUP/FORM_LEFT");
        const QString top = QStringLiteral("STARTUP/FORM_TOP");
        const QString graf = QStringLiteral("SETUP/GRAF");
        const QString last = QStringLiteral("SETUP/LASTCODE");
        auto one = [](const QString& key, const QString& value) {
            return Settings{{key, value}};
        };
        const QString fallbackCode = QStringLiteral("4674");

        QTest::newRow("empty store") << Settings{} << 0 << 0 << true << fallbackCode;
        QTest::newRow("left 45000") << one(left, "45000") << 0 << 0 << true << fallbackCode;
        QTest::newRow("left 44999") << one(left, "44999") << 44999 << 0 << true << fallbackCode;
        QTest::newRow("left -48000") << one(left, "-48000") << 0 << 0 << true << fallbackCode;
        QTest::newRow("left -1") << one(left, "-1") << 0 << 0 << true << fallbackCode;
        QTest::newRow("left abc") << one(left, "abc") << 0 << 0 << true << fallbackCode;
        QTest::newRow("top 45000") << one(top, "45000") << 0 << 0 << true << fallbackCode;
        QTest::newRow("top 30000") << one(top, "30000") << 0 << 30000 << true << fallbackCode;
        QTest::newRow("left and top")
            << Settings{{left, "1500"}, {top, "750"}} << 1500 << 750 << true << fallbackCode;
        // Partly beyond the screen's right edge: still reachable, used unchanged.
        QTest::newRow("left partly off the screen")
            << one(left, QString::number((kScreenWidth - 100) * 15)) << (kScreenWidth - 100) * 15
            << 0 << true << fallbackCode;
        // Wholly outside every screen: put where the user can reach it.
        QTest::newRow("left wholly off the screen")
            << one(left, "200000") << 0 << 0 << true << fallbackCode;
        QTest::newRow("top wholly off the screen")
            << Settings{{left, "1500"}, {top, QString::number((kScreenHeight + 10) * 15)}} << 0 << 0
            << true << fallbackCode;

        QTest::newRow("GRAF False") << one(graf, "False") << 0 << 0 << false << fallbackCode;
        QTest::newRow("GRAF 0") << one(graf, "0") << 0 << 0 << false << fallbackCode;
        QTest::newRow("GRAF 1") << one(graf, "1") << 0 << 0 << true << fallbackCode;
        QTest::newRow("GRAF True") << one(graf, "True") << 0 << 0 << true << fallbackCode;
        QTest::newRow("GRAF garbage") << one(graf, "garbage") << 0 << 0 << true << fallbackCode;

        QTest::newRow("LASTCODE letters") << one(last, "abc") << 0 << 0 << true << "abc";
        QTest::newRow("LASTCODE five digits") << one(last, "12345") << 0 << 0 << true << "12345";
        QTest::newRow("LASTCODE blanks around")
            << one(last, " 46 74 ") << 0 << 0 << true << " 46 74 ";
        QTest::newRow("LASTCODE full-width") << one(last, QStringLiteral("　４６７４")) << 0 << 0
                                             << true << QStringLiteral("　４６７４");
        QTest::newRow("LASTCODE another code") << one(last, "8306") << 0 << 0 << true << "8306";
    }

    void restoredFromSettings() {
        QFETCH(Settings, stored);
        QFETCH(int, leftTwips);
        QFETCH(int, topTwips);
        QFETCH(bool, fourPanes);
        QFETCH(QString, code);

        m_folder->setSettings(stored);

        auto window = m_folder->openWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        QCOMPARE(window->pos(), QPoint(leftTwips / 15, topTwips / 15));
        QCOMPARE(window->size(), QSize(fourPanes ? 1272 : 751, 578));
        QVERIFY(testing::ui(*window).Picture1[0]->isVisible());
        QVERIFY(testing::ui(*window).Picture1[1]->isVisible());
        QCOMPARE(testing::ui(*window).Picture1[2]->isVisible(), fourPanes);
        QCOMPARE(testing::ui(*window).Picture1[3]->isVisible(), fourPanes);

        QCOMPARE(testing::ui(*window).Text1->text(), code);
        QCOMPARE(window->windowTitle(),
                 testing::kCaptionPrefix + m_folder->path() + QStringLiteral("/MARK.csv"));

        // Nothing is displayed or marked yet: the mark buttons wait for a display, there are no
        // marks to step through, the detail panes are hidden and the summary panel is blank.
        QUORVIX_COMPARE_ENABLED(*window, {{"Text1", true},
                                          {"Command6", true},
                                          {"Command7", true},
                                          {"Command4", false},
                                          {"Command5", false},
                                          {"Command8", false},
                                          {"Command9", false}});
        QCOMPARE(testing::ui(*window).List1->count(), 0);
        QVERIFY(!testing::ui(*window).WebBrowser2->isVisible());
        QVERIFY(!testing::ui(*window).WebBrowser3->isVisible());
        QCOMPARE(testing::ui(*window).WebBrowser1->url(), QUrl(QStringLiteral("about:blank")));
        for (QLabel* pane : testing::ui(*window).Picture1)
            QVERIFY(pane->pixmap().isNull());
        QCOMPARE(chartTransfers(), 0);
    }

    void closingStoresPositionAndCode_data() {
        testing::columns<QString, QPoint>({"typed", "position"});

        QTest::newRow("a code") << "8306" << QPoint(200, 100);
        QTest::newRow("no code at all") << "12ab" << QPoint(0, 0);
        QTest::newRow("full-width with a blank") << QStringLiteral("　４６７４") << QPoint(2999, 7);
        QTest::newRow("nothing") << "" << QPoint(1, 2);
    }

    void closingStoresPositionAndCode() {
        QFETCH(QString, typed);
        QFETCH(QPoint, position);

        {
            auto window = m_folder->openWindow();
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            window->move(position);
            QTRY_COMPARE(window->pos(), position);

            testing::ui(*window).Text1->setFocus();
            testing::ui(*window).Text1->selectAll();
            QTest::keyClick(testing::ui(*window).Text1, Qt::Key_Delete);
            // Plain characters come as key presses, the full-width ones as what a Japanese input
            // method commits.
            for (const QChar c : typed) {
                if (c.unicode() < 0x80) {
                    QTest::keyClick(testing::ui(*window).Text1, c.toLatin1());
                } else {
                    QInputMethodEvent commit;
                    commit.setCommitString(QString(c));
                    QApplication::sendEvent(testing::ui(*window).Text1, &commit);
                }
            }
            QCOMPARE(testing::ui(*window).Text1->text(), typed);

            QVERIFY(window->close());
        }

        QSettings stored(m_folder->settingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("STARTUP/FORM_LEFT")).toString(),
                 QString::number(position.x() * 15));
        QCOMPARE(stored.value(QStringLiteral("STARTUP/FORM_TOP")).toString(),
                 QString::number(position.y() * 15));
        QCOMPARE(stored.value(QStringLiteral("SETUP/LASTCODE")).toString(), typed);
        // The marks are saved too: none, so the file holds only the line end.
        QCOMPARE(m_folder->readFile(QStringLiteral("MARK.csv")), QByteArray("\r\n"));
        // Typing displays nothing.
        QCOMPARE(chartTransfers(), 0);

        // The next start finds the window and the text where the user left them.
        auto again = m_folder->openWindow();
        QCOMPARE(again->pos(), position);
        QCOMPARE(testing::ui(*again).Text1->text(), typed);
    }

private:
    int chartTransfers() const {
        const QStringList targets = m_portal.targets();
        return int(std::count_if(targets.begin(), targets.end(), testing::isChartTarget));
    }

    testing::TestPortal m_portal;
    std::unique_ptr<testing::ProgramFolder> m_folder;
};

int main(int argc, char** argv) {
    // The offscreen platform's screens come from a JSON file handed in before the application
    // exists; the file must outlive the application.
    QTemporaryDir configDir;
    const QString config = configDir.filePath(QStringLiteral("screens.json"));
    {
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(QStringLiteral(R"({"screens":[{"name":"big","x":0,"y":0,"width":%1,"height":%2,)"
                               R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})")
                    .arg(kScreenWidth)
                    .arg(kScreenHeight)
                    .toUtf8());
    }
    return testing::runWindowTests<TestStartup>(argc, argv, config);
}

#include "tst_startup.moc"
