#include "charts/gifencoder.h"
#include "controls.h"
#include "mainwin/form1.h"
#include "operations.h"
#include "searchlog.h"
#include "servers.h"
#include "testsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QWindow>
#include <QtTest>

#include <memory>

// The window on a screen at twice the pixels (QT_SCALE_FACTOR=2): charts asked for at the ratio
// and shown at full sharpness. The web panes need nothing: Qt WebEngine draws them at the
// window's ratio by itself.
namespace {

// A chart as a portal draws it at ratio 2: 1042 x 592 pixels, each pixel of its own, so that any
// scaling shows.
QImage chartAtRatio2() {
    QImage image(1042, 592, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, ((x + y) % 2 || x % 7 == 0) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    }
    return image;
}

} // namespace

class TestHiDpi : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }

    void chartsAskedForAtTheRatio() {
        testing::ProgramFolder folder(m_portal.base());
        auto window = folder.openShownWindow();
        QCOMPARE(window->devicePixelRatioF(), 2.0);
        const testing::MainControls ui = testing::ui(*window);
        ui.Text1->setText(QStringLiteral("4674"));
        m_portal.clearLog();
        window->Text1_DblClick();
        QVERIFY(testing::idle(*window));

        // Every chart asked for at ratio 2; the portal answers them (an unknown parameter is no
        // reason for a 404) and the display succeeds.
        int charts = 0;
        for (const QString& target : m_portal.targets()) {
            if (target.startsWith(QLatin1String("/z?"))) {
                QVERIFY2(target.endsWith(QLatin1String("&dpr=2")), qPrintable(target));
                ++charts;
            } else if (target.startsWith(QLatin1String("/c/1d/"))) {
                QVERIFY2(target.endsWith(QLatin1String(".gif?dpr=2")), qPrintable(target));
                ++charts;
            }
        }
        QCOMPARE(charts, 4);
        QVERIFY(!window->lastDisplay().failed);
        // Each chart lies within its pane, at the ratio it was drawn at.
        for (QLabel* pane : ui.Picture1) {
            const QPixmap chart = pane->pixmap();
            QVERIFY(!chart.isNull());
            QVERIFY(chart.deviceIndependentSize().width() <= pane->width());
            QCOMPARE(chart.devicePixelRatio(), chart.width() > pane->width() ? 2.0 : 1.0);
        }
    }

    void chartAtTheRatioShownSharp() {
        const QImage drawn = chartAtRatio2();
        testing::FixedPageServer server(QStringLiteral("/z"), portal::encodeGif(drawn));
        testing::ProgramFolder folder(server.base());
        // The three-month chart only: one technical chart, into the first pane.
        for (const char* term : {"TERM1d", "TERM6m", "TERM1y", "TERM2y", "TERM5y", "TERMay"})
            folder.setSetting(QStringLiteral("SETUP"), QLatin1String(term), QStringLiteral("0"));
        folder.setSetting(QStringLiteral("SETUP"), QStringLiteral("TERM3m"), QStringLiteral("1"));
        auto window = folder.openShownWindow();
        const testing::MainControls ui = testing::ui(*window);
        ui.Text1->setText(QStringLiteral("4674"));
        window->Text1_DblClick();
        QVERIFY(testing::idle(*window));
        QVERIFY(!window->lastDisplay().failed);

        QLabel* pane = ui.Picture1[0];
        const QPixmap chart = pane->pixmap();
        QCOMPARE(chart.size(), QSize(1042, 592));
        QCOMPARE(chart.devicePixelRatio(), 2.0);
        QCOMPARE(chart.deviceIndependentSize(), QSizeF(521, 296));
        // On the screen, pixel for pixel as drawn: nothing scaled.
        const QImage onScreen = pane->grab().toImage();
        QCOMPARE(onScreen.devicePixelRatio(), 2.0);
        const QPoint origin = pane->contentsRect().topLeft() * 2;
        const QRect compared(0, 0, 200, 200);
        for (int y = compared.top(); y <= compared.bottom(); ++y) {
            for (int x = compared.left(); x <= compared.right(); ++x) {
                if (onScreen.pixel(origin + QPoint(x, y)) != drawn.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("differs at %1,%2").arg(x).arg(y)));
            }
        }

        // Copied at its full resolution.
        QApplication::clipboard()->clear();
        // Through the window, as the platform gives it: a right click, then its context menu.
        QTest::mouseClick(window->windowHandle(), Qt::RightButton, {},
                          pane->mapTo(window.get(), QPoint(20, 20)));
        QMenu* menu = nullptr;
        QTRY_VERIFY((menu = window->findChild<QMenu*>(QStringLiteral("ChartMenu"))) &&
                    menu->isVisible());
        QAction* copy = menu->actions().value(1);
        QVERIFY(copy && copy->text() == QStringLiteral("画像をコピー"));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(copy).center());
        QTRY_COMPARE(QApplication::clipboard()->image().size(), QSize(1042, 592));
    }

private:
    testing::TestPortal m_portal;
};

int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "2");
    return testing::runWindowTests<TestHiDpi>(argc, argv);
}
#include "tst_hidpi.moc"
