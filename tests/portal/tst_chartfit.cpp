// The portal's charts against the panes of the real window: in either arrangement, every term's
// chart shows whole where the window puts it, its dates and volume included.
#include "charts/chartrenderer.h"
#include "charts/gifencoder.h"
#include "controls.h"
#include "mainwin/form1.h"
#include "operations.h"
#include "table.h"
#include "testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QtTest>

namespace {

const QStringList kTerms{QStringLiteral("1d"), QStringLiteral("3m"), QStringLiteral("6m"),
                         QStringLiteral("1y"), QStringLiteral("2y"), QStringLiteral("5y"),
                         QStringLiteral("ay")};

// Pixels in rows [top, bottom) of an image that are what is looked for.
template <typename Wanted> int pixelsIn(const QImage& image, int top, int bottom, Wanted wanted) {
    int n = 0;
    for (int y = std::max(0, top); y < std::min(bottom, image.height()); ++y) {
        for (int x = 0; x < image.width(); ++x)
            n += wanted(image.pixelColor(x, y));
    }
    return n;
}

} // namespace

class TestChartFit : public QObject {
    Q_OBJECT

    testing::TestPortal m_portal;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }

    void chartsShowWhole_data() {
        // terms: shown in this order in panes 0, 1, 2, 3
        testing::columns<bool, QStringList>({"fourPanes", "terms"});
        QTest::newRow("four panes, 1d 3m 6m 1y") << true << QStringList{"1d", "3m", "6m", "1y"};
        QTest::newRow("four panes, 2y 5y ay") << true << QStringList{"2y", "5y", "ay"};
        QTest::newRow("two panes, 1d 3m") << false << QStringList{"1d", "3m"};
        QTest::newRow("two panes, 6m 1y") << false << QStringList{"6m", "1y"};
        QTest::newRow("two panes, 2y 5y") << false << QStringList{"2y", "5y"};
        QTest::newRow("two panes, ay") << false << QStringList{"ay"};
    }
    void chartsShowWhole() {
        QFETCH(bool, fourPanes);
        QFETCH(QStringList, terms);
        testing::ProgramFolder folder(m_portal.base());
        // Volume and four averages: the fullest layout a display asks for by default overlays.
        QList<QPair<QString, QString>> settings{
            {QStringLiteral("SETUP/GRAF"),
             fourPanes ? QStringLiteral("True") : QStringLiteral("False")},
            {QStringLiteral("SETUP/NORMAL"), QStringLiteral("False")},
            {QStringLiteral("SETUP/ITEM3"), QStringLiteral("1")}};
        for (const QString& term : kTerms)
            settings.append({QStringLiteral("SETUP/TERM") + term,
                             terms.contains(term) ? QStringLiteral("1") : QStringLiteral("0")});
        folder.setSettings(settings);

        auto w = folder.openShownWindow();
        const testing::MainControls ui = testing::ui(*w);
        ui.Text1->setText(m_portal.codeUnder(QStringLiteral(".t")));
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));

        // What the user sees: the window as drawn, every pane and the panes over it.
        const QImage window = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (int i = 0; i < terms.size(); ++i) {
            QLabel* pane = ui.Picture1[size_t(i)];
            const QString where = QStringLiteral("%1 in pane %2").arg(terms[i]).arg(i);
            QVERIFY2(pane->isVisible(), qPrintable(where));
            const QImage chart = pane->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
            QVERIFY2(!chart.isNull(), qPrintable(where));
            QVERIFY(chart.width() <= portal::kChartWidth && chart.height() <= portal::kChartHeight);
            const QRect onWindow(pane->mapTo(w.get(), pane->contentsRect().topLeft()),
                                 chart.size());
            QVERIFY2(window.rect().contains(onWindow), qPrintable(where));
            const QImage seen = window.copy(onWindow);
            int hidden = 0;
            for (int y = 0; y < chart.height(); ++y)
                for (int x = 0; x < chart.width(); ++x)
                    hidden += seen.pixel(x, y) != chart.pixel(x, y);
            QVERIFY2(hidden == 0,
                     qPrintable(QStringLiteral("%1: %2 pixels hidden").arg(where).arg(hidden)));

            // The date or time axis along the bottom, and volume bars just above it.
            const int h = chart.height();
            QVERIFY2(pixelsIn(chart, h - 14, h,
                              [](const QColor& c) {
                                  return c.red() < 110 && c.green() < 110 && c.blue() < 110;
                              }) > 20,
                     qPrintable(where));
            QVERIFY2(pixelsIn(chart, h - 30, h - 14,
                              [](const QColor& c) { return c == portal::colors::volume; }) > 20,
                     qPrintable(where));
        }
        for (int i = int(terms.size()); i < 4; ++i)
            QVERIFY(ui.Picture1[size_t(i)]->pixmap().isNull());
    }
};

QUORVIX_WINDOW_TEST_MAIN(TestChartFit)
#include "tst_chartfit.moc"
