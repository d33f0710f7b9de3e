// The ranking dialog of the main window, without the workbook, against a real portal on a
// loopback port: it opens on the newest day, lists a ranking, and the mark file it saves becomes
// the mark file in use as MARKファイル切替 makes it; with no portal, or no room for the file, it
// says so and changes nothing.
#include "controls.h"
#include "files.h"
#include "messages.h"
#include "smallportal.h"
#include "table.h"
#include "testsupport.h"

#include "mainwin/form1.h"
#include "mainwin/rankingdialog.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

namespace {

template <typename T> T* child(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

QString codesOf(const QVector<marks::RankingRow>& rows) {
    QString line;
    for (const auto& row : rows)
        line += row.code + QLatin1Char(',');
    return line;
}

// The dialog the click opened, once it has listed a ranking or given up.
RankingDialog* openDialog(Form1& window) {
    testing::ui(window).Command17->click();
    auto* dialog = window.findChild<RankingDialog*>();
    if (dialog &&
        !QTest::qWaitFor([&] { return child<QPushButton>(dialog, "show")->isEnabled(); }, 20000))
        return nullptr;
    return dialog;
}

} // namespace

class TestRankingDialog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void savedRankingBecomesTheMarkFile_data() {
        // rows -1: as many as rose that day, at most 50
        testing::columns<bool, QString, QString, QString, int, int>(
            {"stored", "kind", "key", "market", "count", "rows"});
        QTest::newRow("as it opens: 値上がり率 of every market, 50") << true << "値上がり率"
                                                                     << "up"
                                                                     << "すべて" << 50 << -1;
        QTest::newRow("売買代金 of one market, fewer codes than asked")
            << true << "売買代金"
            << "turnover"
            << "プライム（内国株式）" << 10 << 8;
        QTest::newRow("invented prices: 売買代金, five") << false << "売買代金"
                                                         << "turnover"
                                                         << "すべて" << 5 << 5;
    }
    void savedRankingBecomesTheMarkFile() {
        QFETCH(bool, stored);
        QFETCH(QString, kind);
        QFETCH(QString, key);
        QFETCH(QString, market);
        QFETCH(int, count);
        QFETCH(int, rows);
        testing::SmallPortal portal(60, stored ? 60 : 0);
        QVERIFY(portal.started());
        testing::ProgramFolder folder(portal.base());
        auto window = folder.openShownWindow();
        testing::MessageCatcher messages;

        RankingDialog* dialog = openDialog(*window);
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Quorvix Chart Viewer ランキング"));
        // Invented prices are told as such.
        QCOMPARE(dialog->sample(), !stored);
        QCOMPARE(child<QLabel>(dialog, "sampleNote")->isVisible(), !stored);
        // It opens on the newest day, 50 codes, and lists that day's ranking at once.
        QCOMPARE(child<QDateEdit>(dialog, "date")->date(), testing::SmallPortal::kLastDay);
        QCOMPARE(child<QSpinBox>(dialog, "count")->value(), 50);
        QVERIFY(!dialog->rows().isEmpty());

        child<QComboBox>(dialog, "kind")->setCurrentText(kind);
        child<QComboBox>(dialog, "market")->setCurrentText(market);
        QCOMPARE(child<QComboBox>(dialog, "market")->currentText(), market);
        child<QSpinBox>(dialog, "count")->setValue(count);
        child<QPushButton>(dialog, "show")->click();
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(dialog, "show")->isEnabled(), 20000);
        if (rows < 0)
            rows = int(dialog->rows().size());
        QVERIFY(rows > 0 && rows <= count);
        QCOMPARE(dialog->rows().size(), rows);
        auto* table = child<QTableWidget>(dialog, "list");
        QCOMPARE(table->rowCount(), rows);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("1"));
        QCOMPARE(table->item(0, 1)->text(), dialog->rows().first().code);
        QVERIFY(!table->item(0, 2)->text().isEmpty());

        QVERIFY(child<QPushButton>(dialog, "save")->isEnabled());
        child<QPushButton>(dialog, "save")->click();

        const QDate day = testing::SmallPortal::kLastDay;
        const QString path = QDir(window->context().dataFolder)
                                 .filePath(QStringLiteral("RANK_%1_%2.csv")
                                               .arg(key, day.toString(QStringLiteral("yyyyMMdd"))));
        const QString line = codesOf(dialog->rows());
        QCOMPARE(testing::fileBytes(path), line.toLatin1() + "\r\n");
        // In use, as a switched mark file: marks, list, position, buttons and caption.
        QCOMPARE(window->markFileName(), path);
        QCOMPARE(window->markLine(), line);
        QCOMPARE(window->markPosition(), 0);
        QCOMPARE(testing::ui(*window).List1->count(), rows);
        QVERIFY(testing::ui(*window).Command8->isEnabled());
        QCOMPARE(window->windowTitle(), testing::kCaptionPrefix + path);
        QCOMPARE(messages.texts(), QStringList());
    }

    void noPortal() {
        testing::ProgramFolder folder(testing::deadBase());
        auto window = folder.openShownWindow();
        const QString before = window->markFileName();
        testing::MessageCatcher messages;

        RankingDialog* dialog = openDialog(*window);
        QVERIFY(dialog);
        const QString status = child<QLabel>(dialog, "status")->text();
        QVERIFY2(status.contains(QStringLiteral("接続できません")), qPrintable(status));
        QVERIFY(!child<QPushButton>(dialog, "save")->isEnabled());
        QCOMPARE(window->markFileName(), before);
        QCOMPARE(messages.texts(), QStringList());
        child<QPushButton>(dialog, "close")->click();
        QTRY_VERIFY(!window->findChild<RankingDialog*>());
    }

    void noRoomForTheFile() {
        testing::SmallPortal portal(60, 60);
        QVERIFY(portal.started());
        testing::ProgramFolder folder(portal.base());
        auto window = folder.openShownWindow();
        const QString before = window->markFileName();
        RankingDialog* dialog = openDialog(*window);
        QVERIFY(dialog);
        QVERIFY(!dialog->rows().isEmpty());
        const QString name =
            QStringLiteral("RANK_up_%1.csv")
                .arg(child<QDateEdit>(dialog, "date")->date().toString(QStringLiteral("yyyyMMdd")));
        QVERIFY(QDir(window->context().dataFolder).mkdir(name));

        child<QPushButton>(dialog, "save")->click();
        const QString status = child<QLabel>(dialog, "status")->text();
        QVERIFY2(status.contains(QStringLiteral("保存できませんでした")), qPrintable(status));
        QCOMPARE(window->markFileName(), before);
        QCOMPARE(window->windowTitle(), testing::kCaptionPrefix + before);
    }
};

QUORVIX_WINDOW_TEST_MAIN(TestRankingDialog)
#include "tst_rankingdialog.moc"
