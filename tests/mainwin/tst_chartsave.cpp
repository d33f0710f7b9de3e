#include "chart/chartimage.h"
#include "controls.h"
#include "mainwin/form1.h"
#include "messages.h"
#include "operations.h"
#include "testsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWindow>
#include <QtTest>

#include <memory>

// 画像を保存… and 画像をコピー on a chart pane.
namespace {

// The menu a right click on the pane opens.
QMenu* rightClick(Form1& window, QLabel* pane) {
    // Through the window, as the platform gives it: a right click, then its context menu.
    QTest::mouseClick(window.windowHandle(), Qt::RightButton, {},
                      pane->mapTo(&window, QPoint(20, 20)));
    QMenu* menu = nullptr;
    const bool open = QTest::qWaitFor([&] {
        menu = window.findChild<QMenu*>(QStringLiteral("ChartMenu"));
        return menu && menu->isVisible();
    });
    return open ? menu : nullptr;
}

QAction* item(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

void choose(QMenu* menu, QAction* action) {
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
}

// The text of the page a web view shows ("" until it comes).
QString pageText(QWebEngineView* view) {
    auto text = std::make_shared<std::optional<QString>>();
    view->page()->toPlainText([text](const QString& t) { *text = t; });
    if (!QTest::qWaitFor([&] { return text->has_value(); }, 5000))
        return QString();
    return text->value_or(QString());
}

const QString kSave = QStringLiteral("画像を保存…");
const QString kCopy = QStringLiteral("画像をコピー");

} // namespace

class TestChartSave : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }

    void blankPaneOffersNothing() {
        testing::ProgramFolder folder(m_portal.base());
        auto window = folder.openShownWindow();
        QMenu* menu = rightClick(*window, testing::ui(*window).Picture1[0]);
        QVERIFY(menu);
        QVERIFY(item(menu, kSave) && !item(menu, kSave)->isEnabled());
        QVERIFY(item(menu, kCopy) && !item(menu, kCopy)->isEnabled());
        menu->close();
    }

    void savesAndCopiesTheChart() {
        testing::ProgramFolder folder(m_portal.base());
        auto window = folder.openShownWindow();
        const testing::MainControls ui = testing::ui(*window);
        ui.Text1->setText(QStringLiteral("4674"));
        window->Text1_DblClick();
        QVERIFY(testing::idle(*window));
        // The date of the last price, as the summary pane tells it.
        QDate lastPrice;
        QTRY_VERIFY_WITH_TIMEOUT(
            (lastPrice = chart::lastPriceDate(pageText(ui.WebBrowser1)).value_or(QDate()))
                .isValid(),
            15000);
        const QImage shown = ui.Picture1[1]->pixmap().toImage();
        QVERIFY(!shown.isNull());

        // Saved: the dialog offers CODE_TERM_YYYYMMDD.png, the PNG holds the chart as received.
        const QString saveFolder = folder.file(QStringLiteral("saved"));
        QVERIFY(QDir().mkpath(saveFolder));
        QString offered;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog->objectName() != QLatin1String("SaveFileDialog"))
                return;
            driver.stop();
            offered = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            // The name offered, in a folder of the test's.
            dialog->setDirectory(saveFolder);
            dialog->selectFile(offered);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        });
        driver.start(20);
        testing::MessageCatcher messages;
        QMenu* menu = rightClick(*window, ui.Picture1[1]);
        QVERIFY(menu);
        QVERIFY(item(menu, kSave) && item(menu, kSave)->isEnabled());
        choose(menu, item(menu, kSave));
        const QString name =
            QStringLiteral("4674_3m_%1.png").arg(lastPrice.toString(QStringLiteral("yyyyMMdd")));
        const QString out = saveFolder + QLatin1Char('/') + name;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out), 10000);
        QCOMPARE(offered, name);
        const QImage saved(out, "PNG");
        QCOMPARE(saved.size(), shown.size());
        QCOMPARE(saved.convertToFormat(QImage::Format_RGB32),
                 shown.convertToFormat(QImage::Format_RGB32));
        QCOMPARE(messages.texts(), QStringList());

        // Copied: the same picture on the clipboard.
        QApplication::clipboard()->clear();
        menu = rightClick(*window, ui.Picture1[0]);
        QVERIFY(menu);
        choose(menu, item(menu, kCopy));
        QTRY_VERIFY(!QApplication::clipboard()->image().isNull());
        QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
                 ui.Picture1[0]->pixmap().toImage().convertToFormat(QImage::Format_RGB32));
    }

private:
    testing::TestPortal m_portal;
};

QUORVIX_WINDOW_TEST_MAIN(TestChartSave)
#include "tst_chartsave.moc"
