// The settings dialog as the user meets it: its window and controls, what it shows when it opens
// on a given store, and what it writes back when it closes.

#include "controls.h"
#include "messages.h"
#include "table.h"
#include "viewerfixture.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWebEngineView>
#include <QtTest>

using fixture::Values;
using fixture::Viewer;

namespace {

QRect px(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// Every visible control of the dialog by its name.
QMap<QString, QWidget*> controls(Form2& d) {
    QMap<QString, QWidget*> m;
    for (int i = 0; i < 2; ++i)
        m.insert(QStringLiteral("Option1(%1)").arg(i), testing::ui(d).Option1[i]);
    for (int i = 0; i < 8; ++i)
        m.insert(QStringLiteral("Check1(%1)").arg(i), testing::ui(d).Check1[i]);
    for (int i = 0; i < 13; ++i)
        m.insert(QStringLiteral("Check2(%1)").arg(i), testing::ui(d).Check2[i]);
    for (int i = 0; i < 9; ++i)
        m.insert(QStringLiteral("Check4(%1)").arg(i), testing::ui(d).Check4[i]);
    for (int i = 0; i < 3; ++i)
        m.insert(QStringLiteral("Label1(%1)").arg(i), testing::ui(d).Label1[i]);
    m.insert(QStringLiteral("Frame1"), testing::ui(d).Frame1);
    m.insert(QStringLiteral("Frame2"), testing::ui(d).Frame2);
    m.insert(QStringLiteral("Frame4"), testing::ui(d).Frame4);
    m.insert(QStringLiteral("ToggleButton1"), testing::ui(d).ToggleButton1);
    m.insert(QStringLiteral("Command2"), testing::ui(d).Command2);
    m.insert(QStringLiteral("dialog"), &d);
    return m;
}

QString caption(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    return {};
}

} // namespace

class TestForm2 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void window() {
        Viewer v;
        Form2 d(*v.w);
        QCOMPARE(d.windowTitle(), testing::kSettingsTitle);
        QCOMPARE(d.size(), QSize(599, 335));
        QCOMPARE(d.minimumSize(), QSize(599, 335));
        QCOMPARE(d.maximumSize(), QSize(599, 335));
        const Qt::WindowFlags f = d.windowFlags();
        QCOMPARE(f & Qt::WindowType_Mask, Qt::Dialog);
        QVERIFY(!(f & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
        QVERIFY(f & Qt::WindowCloseButtonHint);
        // Owned by the main window: kept above it and out of the task bar.
        QCOMPARE(d.parentWidget(), v.w.get());
        QVERIFY(d.isModal());
    }

    void layout_data() {
        testing::columns<QString, QString, QString, QRect>(
            {"name", "container", "caption", "geometry"});

        const auto row = [](const QString& name, const char* container, const char* caption,
                            QRect geometry) {
            QTest::newRow(qPrintable(name))
                << name << QString::fromLatin1(container) << QString::fromUtf8(caption) << geometry;
        };
        row("Option1(0)", "dialog", "２グラフ画面", px(0, 0, 1335, 375));
        row("Option1(1)", "dialog", "４グラフ画面", px(1440, 0, 1335, 375));
        row("Command2", "dialog", "MARKファイル切替", px(2880, 0, 2295, 375));
        row("Frame1", "dialog", "期間 （最大選択可能数は４件です。）", px(0, 360, 8895, 855));
        const char* terms[] = {"１日", "３か月", "６か月", "１年", "２年", "５年", "１０年"};
        for (int i = 0; i < 7; ++i)
            row(QStringLiteral("Check1(%1)").arg(i), "Frame1", terms[i],
                px(120 + 960 * i, 240, 1215, 495));
        row("Check1(7)", "Frame1", "詳細情報", px(7440, 240, 1215, 495));
        row("Frame2", "dialog", "チャート・パラメータ （最大選択可能数は４件です。）",
            px(0, 1320, 8895, 2535));
        row("Label1(0)", "Frame2", "移動平均", px(120, 360, 2175, 255));
        row("Label1(1)", "Frame2", "平滑移動平均", px(120, 1080, 2175, 255));
        row("Label1(2)", "Frame2", "上書指標", px(120, 1800, 2175, 255));
        const char* averages[] = {"２５日", "７５日", "１３週", "２６週", "５２週"};
        for (int i = 0; i < 5; ++i) {
            row(QStringLiteral("Check2(%1)").arg(i), "Frame2", averages[i],
                px(120 + 960 * i, 600, 855, 375));
            row(QStringLiteral("Check2(%1)").arg(i + 5), "Frame2", averages[i],
                px(120 + 960 * i, 1320, 855, 375));
        }
        row("Check2(10)", "Frame2", "ボリンジャーバンド", px(120, 2040, 1905, 375));
        row("Check2(11)", "Frame2", "パラボリック SAR", px(2040, 2040, 1905, 375));
        row("Check2(12)", "Frame2", "出来高", px(3960, 2040, 855, 375));
        row("ToggleButton1", "Frame2", "標準パラメータで表示させる", px(5280, 360, 3375, 2055));
        row("Frame4", "dialog", "追加指標 （このバージョンでは選択不可です）",
            px(0, 3960, 8895, 975));
        const char* extra[] = {"MACD", "MFI", "ROC", "RSI", "Slow Stoch", "Fast Stoch", "出来高"};
        // The boxes of the last row take the width up to their neighbours and two lines' height.
        for (int i = 0; i < 7; ++i)
            row(QStringLiteral("Check4(%1)").arg(i), "Frame4", extra[i],
                px(120 + 960 * i, 360, 945, 540));
        row("Check4(7)", "Frame4", "出来高＋移動平均", px(6840, 360, 1065, 540));
        row("Check4(8)", "Frame4", "W%R", px(7920, 360, 735, 540));
    }

    void layout() {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);

        Viewer v;
        Form2 d(*v.w);
        d.show();
        const auto all = controls(d);
        QWidget* w = all.value(name);
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), all.value(container));
        QCOMPARE(::caption(w), caption);
        QCOMPARE(w->geometry(), geometry);
        QVERIFY(w->isVisible());
        d.close();
    }

    void tabOrder() {
        Viewer v;
        Form2 d(*v.w);
        d.show();
        QStringList expected{"Option1(0)", "Option1(1)"};
        for (int i = 0; i <= 6; ++i)
            expected << QStringLiteral("Check1(%1)").arg(i);
        for (int i = 0; i <= 3; ++i)
            expected << QStringLiteral("Check2(%1)").arg(i);
        for (int i = 0; i <= 8; ++i)
            expected << QStringLiteral("Check4(%1)").arg(i);
        expected << "Check2(4)"
                 << "ToggleButton1";
        for (int i = 5; i <= 12; ++i)
            expected << QStringLiteral("Check2(%1)").arg(i);
        expected << "Command2"
                 << "Check1(7)";

        // Walk the focus chain once round from the first option and name the controls met.
        const auto all = controls(d);
        QMap<QWidget*, QString> names;
        for (auto it = all.cbegin(); it != all.cend(); ++it)
            names.insert(it.value(), it.key());
        QStringList met;
        QWidget* w = testing::ui(d).Option1[0];
        do {
            if (names.contains(w) && w->focusPolicy() & Qt::TabFocus)
                met << names.value(w);
            w = w->nextInFocusChain();
        } while (w != testing::ui(d).Option1[0]);
        QCOMPARE(met, expected);
        // The frames and labels take no focus.
        for (QWidget* x : {static_cast<QWidget*>(testing::ui(d).Frame1),
                           static_cast<QWidget*>(testing::ui(d).Frame2),
                           static_cast<QWidget*>(testing::ui(d).Frame4),
                           static_cast<QWidget*>(testing::ui(d).Label1[0])})
            QVERIFY(!(x->focusPolicy() & Qt::TabFocus));
        d.close();
    }

    void captionsReadInFull() {
        Viewer v;
        Form2 d(*v.w);
        d.show();
        QStringList clipped;
        for (QCheckBox* box : d.findChildren<QCheckBox*>()) {
            // The caption, wrapped at blanks and between Japanese characters, must fit the place
            // the box leaves beside its mark; no word may be cut.
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect place =
                box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            const QFontMetrics metrics(box->font());
            const QRect needed = metrics.boundingRect(
                place, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, box->text());
            bool fits = place.contains(needed);
            // Japanese text may break between any two characters; a Latin word may not.
            for (const QString& word : box->text().split(QLatin1Char(' '))) {
                const bool latin = word.toLatin1() == word.toUtf8();
                fits = fits && (!latin || metrics.horizontalAdvance(word) <= place.width());
            }
            // Nor may the caption run under the neighbour to its right.
            const int captionRight = needed.translated(box->pos()).right();
            for (QCheckBox* other : d.findChildren<QCheckBox*>()) {
                if (other != box && other->parentWidget() == box->parentWidget() &&
                    other->y() == box->y() && other->x() > box->x())
                    fits = fits && captionRight < other->x();
            }
            if (!fits)
                clipped << box->text();
        }
        QCOMPARE(clipped.join(QLatin1String(" | ")), QString());
    }

    void toggleLooksAndFont() {
        Viewer v;
        Form2 d(*v.w);
        QVERIFY(testing::ui(d).ToggleButton1->isCheckable());
        const QFont f = testing::ui(d).ToggleButton1->font();
        QCOMPARE(f.pointSize(), 9);
        QCOMPARE(f.families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));
        // Where that face is missing a Japanese face draws the caption.
        const QFontInfo used(f);
        QVERIFY2(used.family() == QStringLiteral("ＭＳ Ｐゴシック") ||
                     used.family().contains(QStringLiteral("CJK JP")),
                 qPrintable(used.family()));
        QVERIFY(QFontMetrics(f).inFont(QChar(u'標')));
        // The whole caption fits into the button on one line.
        QVERIFY(QFontMetrics(f).horizontalAdvance(testing::ui(d).ToggleButton1->text()) <
                testing::ui(d).ToggleButton1->width());
    }

    void additionalIndicatorsAreDisplayOnly() {
        Viewer v;
        {
            Form2 d(*v.w);
            d.show();
            QCOMPARE(fixture::marks(testing::ui(d).Check4), QStringLiteral("000000100"));
            QCOMPARE(fixture::enabledCount(testing::ui(d).Check4), 0);
            // A click on a disabled box changes nothing.
            testing::ui(d).Check4[0]->click();
            QCOMPARE(fixture::marks(testing::ui(d).Check4), QStringLiteral("000000100"));
            d.close();
        }
        // Only the dialog's own keys are written (GRAF, the eight terms, the thirteen averages and
        // overlays, NORMAL): nothing of the additional group.
        const Values stored = v.storedSetup();
        QStringList keys =
            QStringList{"GRAF", "NORMAL"} + fixture::termKeys() + fixture::averageKeys();
        keys.sort();
        QCOMPARE(stored.keys(), keys);
    }

    void openAndClose_data() {
        // terms: boxes shown at opening, Check1(0) first
        // averages: Check2(0) first
        // pressed: the standard-parameter toggle
        testing::columns<Values, bool, QString, QString, bool>(
            {"store", "fourPanes", "terms", "averages", "pressed"});

        using fixture::flags;
        using fixture::merged;
        const QString defaultTerms = QStringLiteral("11110000");
        const QString defaultAverages = QStringLiteral("1100011000000");
        const QString twoTerms = QStringLiteral("11000000");
        const QString twoAverages = QStringLiteral("1100000000000");

        QTest::newRow("empty store") << Values{} << true << defaultTerms << defaultAverages << true;
        QTest::newRow("GRAF False, three terms over the limit 2")
            << merged({{"GRAF", "False"}}, flags(fixture::termKeys(), "11100000")) << false
            << twoTerms << defaultAverages << true;
        QTest::newRow("GRAF 0 is two panes")
            << merged({{"GRAF", "0"}}, flags(fixture::termKeys(), "10000001")) << false
            << "10000001" << defaultAverages << true;
        QTest::newRow("GRAF 1 is four panes")
            << Values{{"GRAF", "1"}} << true << defaultTerms << defaultAverages << true;
        QTest::newRow("GRAF not a truth word: default four")
            << Values{{"GRAF", "abc"}} << true << defaultTerms << defaultAverages << true;
        QTest::newRow("all terms 0") << flags(fixture::termKeys(), "00000000") << true << twoTerms
                                     << defaultAverages << true;
        QTest::newRow("five terms on four panes") << flags(fixture::termKeys(), "11111000") << true
                                                  << twoTerms << defaultAverages << true;
        QTest::newRow("four terms with the detail page")
            << flags(fixture::termKeys(), "10100011") << true << "10100011" << defaultAverages
            << true;
        QTest::newRow("five averages trimmed to four during the load")
            << flags(fixture::averageKeys(), "1100011000100") << true << defaultTerms
            << "1100010000100" << true;
        QTest::newRow("six averages") << flags(fixture::averageKeys(), "1100011000110") << true
                                      << defaultTerms << twoAverages << true;
        QTest::newRow("all averages 0") << flags(fixture::averageKeys(), "0000000000000") << true
                                        << defaultTerms << twoAverages << true;
        QTest::newRow("overlays only") << flags(fixture::averageKeys(), "0000000000111") << true
                                       << defaultTerms << "0000000000111" << true;
        QTest::newRow("NORMAL False")
            << Values{{"NORMAL", "False"}} << true << defaultTerms << defaultAverages << false;
        QTest::newRow("NORMAL 0") << Values{{"NORMAL", "0"}} << true << defaultTerms
                                  << defaultAverages << false;
        QTest::newRow("NORMAL not a truth word: default pressed")
            << Values{{"NORMAL", "??"}} << true << defaultTerms << defaultAverages << true;
        // Texts the program never writes: no crash, and the dialog falls back to the defaults.
        QTest::newRow("term not a number reads as its default")
            << Values{{"TERM1d", "abc"}, {"TERM2y", "x1"}} << true << defaultTerms
            << defaultAverages << true;
        QTest::newRow("term beyond 16 bits reads as its default")
            << Values{{"TERM3m", "40000"}, {"TERM5y", "99999999999"}} << true << defaultTerms
            << defaultAverages << true;
        QTest::newRow("term sum that overflows 16 bits")
            << merged(flags(fixture::termKeys(), "01000000"), {{"TERM1d", "32767"}}) << true
            << twoTerms << defaultAverages << true;
        QTest::newRow("terms that cancel out to 0")
            << merged(flags(fixture::termKeys(), "11000000"), {{"TERM1d", "-1"}, {"TERM3m", "1"}})
            << true << twoTerms << defaultAverages << true;
        QTest::newRow("average sum that overflows 16 bits")
            << merged(flags(fixture::averageKeys(), "1000000000000"), {{"ITEM3", "32767"}}) << true
            << defaultTerms << twoAverages << true;
        QTest::newRow("average not a number reads as its default")
            << Values{{"AV25d", "yes"}, {"ITEM1", ""}} << true << defaultTerms << defaultAverages
            << true;
        QTest::newRow("flag 2 counts in the sum, shows unchecked")
            << merged(flags(fixture::termKeys(), "10000000"), {{"TERM3m", "2"}}) << true
            << "10000000" << defaultAverages << true;
    }

    void openAndClose() {
        QFETCH(Values, store);
        QFETCH(bool, fourPanes);
        QFETCH(QString, terms);
        QFETCH(QString, averages);
        QFETCH(bool, pressed);

        Viewer v(store);
        // The main window in the other arrangement, so that opening visibly applies the stored one.
        v.w->setFourPanes(!fourPanes);
        {
            Form2 d(*v.w);
            d.show();
            QCOMPARE(testing::ui(d).Option1[1]->isChecked(), fourPanes);
            QCOMPARE(testing::ui(d).Option1[0]->isChecked(), !fourPanes);
            QCOMPARE(fixture::marks(testing::ui(d).Check1), terms);
            QCOMPARE(fixture::marks(testing::ui(d).Check2), averages);
            QCOMPARE(testing::ui(d).ToggleButton1->isChecked(), pressed);
            QCOMPARE(fixture::enabledCount(testing::ui(d).Check2), pressed ? 0 : 13);
            QCOMPARE(fixture::enabledCount(testing::ui(d).Check1), 8);

            QCOMPARE(v.w->width(), fourPanes ? 1272 : 751);
            QCOMPARE(testing::ui(*v.w).Picture1[2]->isHidden(), !fourPanes);
            QCOMPARE(testing::ui(*v.w).Picture1[3]->isHidden(), !fourPanes);
            QVERIFY(!testing::ui(*v.w).Picture1[0]->isHidden());
            QVERIFY(!testing::ui(*v.w).Picture1[1]->isHidden());

            // Opening alone writes nothing; the store keeps its texts until the close.
            QCOMPARE(v.storedSetup(), store);
            d.close();
            QVERIFY(!d.isVisible());
        }
        QCOMPARE(v.storedSetup(), fixture::written(fourPanes, terms, averages, pressed));
        // The main window keeps the arrangement after the dialog has gone.
        QCOMPARE(v.w->width(), fourPanes ? 1272 : 751);
    }

    void everyWayOfClosingSavesOnce_data() {
        testing::rowsOf<QString>("how", {{"close()", "close"},
                                         {"Escape key", "escape"},
                                         {"reject()", "reject"},
                                         {"accept()", "accept"},
                                         {"exec() ended by the close button", "exec"}});
    }

    void everyWayOfClosingSavesOnce() {
        QFETCH(QString, how);

        Viewer v;
        Form2 d(*v.w);
        // The user's choices: two panes, no standard parameters, "２年" in place of "３か月".
        d.show();
        testing::ui(d).Option1[0]->click();
        testing::ui(d).ToggleButton1->click();
        testing::ui(d).Check1[1]->click();
        testing::ui(d).Check1[4]->click();
        QCOMPARE(fixture::marks(testing::ui(d).Check1), QStringLiteral("10001000"));

        if (how == QLatin1String("close")) {
            d.close();
        } else if (how == QLatin1String("escape")) {
            QTest::keyClick(&d, Qt::Key_Escape);
        } else if (how == QLatin1String("reject")) {
            d.reject();
        } else if (how == QLatin1String("accept")) {
            d.accept();
        } else {
            d.hide();
            QTimer::singleShot(0, &d, [&d] {
                // What the window manager sends for the title bar's close button.
                QCloseEvent e;
                QApplication::sendEvent(&d, &e);
            });
            d.exec();
        }
        QVERIFY(!d.isVisible());
        const Values expected = fixture::written(false, QStringLiteral("10001000"),
                                                 QStringLiteral("1100011000000"), false);
        QCOMPARE(v.storedSetup(), expected);

        // Closed once, written once: what happens to the controls afterwards is not stored.
        testing::ui(d).ToggleButton1->click();
        d.close();
        d.reject();
        QCOMPARE(v.storedSetup(), expected);
    }

    void settingsButtonOpensItModally() {
        Viewer v;
        v.w->show();
        v.w->setWindowTitle(QStringLiteral("stale caption"));
        bool mainBlocked = false;
        QString title;
        fixture::WhenDialogOpen user([&](Form2* d) {
            title = d->windowTitle();
            // The main window takes no input while the dialog is open.
            mainBlocked = QApplication::activeModalWidget() != v.w.get() && d->isModal() &&
                          d->windowModality() != Qt::NonModal;
            testing::ui(*d).Option1[0]->click();
            d->close();
        });
        testing::ui(*v.w).Command1->click();
        QVERIFY(user.done());
        QVERIFY(mainBlocked);
        QCOMPARE(title, testing::kSettingsTitle);
        // After it closes the main window names its mark file again, and the choice is stored.
        QCOMPARE(v.w->windowTitle(),
                 testing::kCaptionPrefix + v.folder.path() + QStringLiteral("/MARK.csv"));
        QCOMPARE(v.storedSetup().value(QStringLiteral("GRAF")), QStringLiteral("False"));
        QCOMPARE(v.w->width(), 751);
    }
};

QUORVIX_WINDOW_TEST_MAIN(TestForm2)
#include "tst_form2.moc"
