#include "form2.h"

#include "base/markline.h"
#include "desktop/guifiledialog.h"
#include "desktop/guimessagebox.h"
#include "mainwin/mainwindowlink.h"
#include "marks/markfile.h"
#include "platform/twips.h"
#include "settings/settingsstore.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

using platform::twips;

template <typename T> T* place(T* widget, const QRect& geometry) {
    widget->setGeometry(geometry);
    return widget;
}

// Japanese UI font of the form, with a free fallback where the original face is absent.
QFont formFont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSize(9);
    return font;
}

// Boxes and options sit close to their captions, as on the desktop the form was drawn for, so
// that the captions fit the widths of the form.
class CompactBoxStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_CheckBoxLabelSpacing || metric == PM_RadioButtonLabelSpacing)
            return 3;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// A check box whose caption goes on over a second line where one line is too narrow for it, so
// that every caption reads in full in the width its place on the form allows.
class CaptionBox : public QCheckBox {
public:
    CaptionBox(const QString& caption, QWidget* parent)
        : QCheckBox(caption, parent) {}

    static constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;

    // Where the caption is drawn.
    QRect captionRect() const {
        QStyleOptionButton option;
        initStyleOption(&option);
        return style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QRect textRect = captionRect();
        option.text.clear(); // the style draws the box; the caption is drawn here, wrapped
        painter.drawControl(QStyle::CE_CheckBox, option);
        painter.drawItemText(textRect, kTextFlags, option.palette, isEnabled(), text(),
                             QPalette::WindowText);
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = painter.fontMetrics().boundingRect(textRect, kTextFlags, text());
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    }
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

template <std::size_t N> int checkedCount(const std::array<QCheckBox*, N>& boxes) {
    int n = 0;
    for (const QCheckBox* box : boxes)
        n += box->isChecked() ? 1 : 0;
    return n;
}

using settings::Key;

constexpr int kExtraRowHeight = 540; // twips: two lines of the form's font

using settings::kAverageKeys;
using settings::kTermKeys;

// Box arrays are named as the historic control arrays, with the index: "Check1_0" ...
template <std::size_t N, typename T> void nameArray(const char* name, std::array<T*, N>& boxes) {
    for (std::size_t i = 0; i < N; ++i)
        boxes[i]->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i));
}

} // namespace

Form2::Form2(MainWindowLink& main, QWidget* parent)
    : QDialog(parent ? parent : main.mainWindow())
    , m_main(main) {
    // A fixed dialog: title and close button only, no minimise or maximise, transient for the
    // main window so it has no task-bar entry of its own.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("Quorvix Chart Viewer 設定"));
    setFont(formFont());
    setFixedSize(kClientWidth, kClientHeight);
    setModal(true);

    createControls();
    setTabOrder();
    Form_Load();
}

Form2::~Form2() = default;

void Form2::createControls() {
    Option1[0] =
        place(new QRadioButton(QStringLiteral("２グラフ画面"), this), twips(0, 0, 1335, 375));
    Option1[1] =
        place(new QRadioButton(QStringLiteral("４グラフ画面"), this), twips(1440, 0, 1335, 375));
    Command2 =
        place(new QPushButton(QStringLiteral("MARKファイル切替"), this), twips(2880, 0, 2295, 375));
    Command2->setAutoDefault(false);

    Frame1 = place(new QGroupBox(QStringLiteral("期間 （最大選択可能数は４件です。）"), this),
                   twips(0, 360, 8895, 855));
    const std::array<const char*, 8> termCaptions{"１日", "３か月", "６か月", "１年",
                                                  "２年", "５年",   "１０年", "詳細情報"};
    for (int i = 0; i < 8; ++i) {
        const int left = i < 7 ? 120 + 960 * i : 7440;
        Check1[i] = place(new CaptionBox(QString::fromUtf8(termCaptions[i]), Frame1),
                          twips(left, 240, 1215, 495));
    }

    Frame2 = place(
        new QGroupBox(QStringLiteral("チャート・パラメータ （最大選択可能数は４件です。）"), this),
        twips(0, 1320, 8895, 2535));
    const std::array<const char*, 3> labelCaptions{"移動平均", "平滑移動平均", "上書指標"};
    const std::array<int, 3> labelTops{360, 1080, 1800};
    for (int i = 0; i < 3; ++i) {
        Label1[i] = place(new QLabel(QString::fromUtf8(labelCaptions[i]), Frame2),
                          twips(120, labelTops[i], 2175, 255));
    }
    const std::array<const char*, 5> averageCaptions{"２５日", "７５日", "１３週", "２６週",
                                                     "５２週"};
    for (int i = 0; i < 10; ++i) {
        const int column = i % 5;
        const int top = i < 5 ? 600 : 1320;
        Check2[i] = place(new CaptionBox(QString::fromUtf8(averageCaptions[column]), Frame2),
                          twips(120 + 960 * column, top, 855, 375));
    }
    // The overlays' captions take the width up to their neighbours.
    Check2[10] = place(new CaptionBox(QStringLiteral("ボリンジャーバンド"), Frame2),
                       twips(120, 2040, 1905, 375));
    Check2[11] = place(new CaptionBox(QStringLiteral("パラボリック SAR"), Frame2),
                       twips(2040, 2040, 1905, 375));
    Check2[12] =
        place(new CaptionBox(QStringLiteral("出来高"), Frame2), twips(3960, 2040, 855, 375));

    ToggleButton1 = place(new QPushButton(QStringLiteral("標準パラメータで表示させる"), Frame2),
                          twips(5280, 360, 3375, 2055));
    ToggleButton1->setCheckable(true);
    ToggleButton1->setAutoDefault(false);
    ToggleButton1->setFont(formFont()); // its own caption font, whatever the form's is

    Frame4 =
        place(new QGroupBox(QStringLiteral("追加指標 （このバージョンでは選択不可です）"), this),
              twips(0, 3960, 8895, 975));
    const std::array<const char*, 7> extraCaptions{"MACD",       "MFI",        "ROC",   "RSI",
                                                   "Slow Stoch", "Fast Stoch", "出来高"};
    // Each box takes the width up to its neighbour, and the row the height of two lines, so
    // that the long captions go on over a second line.
    for (int i = 0; i < 7; ++i) {
        Check4[i] = place(new CaptionBox(QString::fromUtf8(extraCaptions[i]), Frame4),
                          twips(120 + 960 * i, 360, 945, kExtraRowHeight));
    }
    Check4[7] = place(new CaptionBox(QStringLiteral("出来高＋移動平均"), Frame4),
                      twips(6840, 360, 1065, kExtraRowHeight));
    Check4[8] = place(new CaptionBox(QStringLiteral("W%R"), Frame4),
                      twips(7920, 360, 735, kExtraRowHeight));
    Check4[6]->setChecked(true);
    for (QCheckBox* box : Check4)
        box->setEnabled(false);

    Option1[0]->setObjectName(QStringLiteral("Option1_0"));
    Option1[1]->setObjectName(QStringLiteral("Option1_1"));
    nameArray("Check1", Check1);
    nameArray("Check2", Check2);
    nameArray("Check4", Check4);
    nameArray("Label1", Label1);
    Command2->setObjectName(QStringLiteral("Command2"));
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame4->setObjectName(QStringLiteral("Frame4"));
    ToggleButton1->setObjectName(QStringLiteral("ToggleButton1"));

    auto* compact = new CompactBoxStyle;
    compact->setParent(this);
    for (QAbstractButton* b : findChildren<QAbstractButton*>()) {
        if (qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b))
            b->setStyle(compact);
    }

    // Qt reports a state change only when the state really changes, so a rule never runs for a
    // control set to the state it already has, and an unchecking inside a rule runs that box's
    // rule at once, nested.
    for (QRadioButton* option : Option1) {
        connect(option, &QRadioButton::toggled, this, [this](bool selected) {
            if (selected)
                Option1_Click();
        });
    }
    for (int i = 0; i < 8; ++i)
        connect(Check1[i], &QCheckBox::toggled, this, [this, i] { Check1_Click(i); });
    for (int i = 0; i < 13; ++i)
        connect(Check2[i], &QCheckBox::toggled, this, [this, i] { Check2_Click(i); });
    connect(ToggleButton1, &QPushButton::toggled, this, &Form2::ToggleButton1_Change);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
}

void Form2::setTabOrder() {
    // The frames and labels take no focus; the focusable controls follow the form's order.
    std::vector<QWidget*> order{Option1[0], Option1[1]};
    for (int i = 0; i <= 6; ++i)
        order.push_back(Check1[i]);
    for (int i = 0; i <= 3; ++i)
        order.push_back(Check2[i]);
    for (QCheckBox* box : Check4)
        order.push_back(box);
    order.push_back(Check2[4]);
    order.push_back(ToggleButton1);
    for (int i = 5; i <= 12; ++i)
        order.push_back(Check2[i]);
    order.push_back(Command2);
    order.push_back(Check1[7]);
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void Form2::Form_Load() {
    settings::SettingsStore& store = m_main.store();

    // 1. Pane arrangement; selecting an option runs the pane rule.
    const bool fourPanes = store.readSwitch(Key::GRAF);
    Option1[fourPanes ? 0 : 1]->setChecked(false);
    Option1[fourPanes ? 1 : 0]->setChecked(true);

    // 2. Terms. A text that is no 16-bit number reads as that key's default; the sum is wide
    // so that large stored values cannot overflow it.
    std::array<qint16, 8> terms{};
    qint64 termSum = 0;
    for (std::size_t i = 0; i < terms.size(); ++i) {
        terms[i] = store.readFlag(kTermKeys[i]);
        termSum += terms[i];
    }
    const qint64 termLimit = fourPanes ? 4 : 2;
    if (termSum > termLimit || termSum == 0)
        terms = {1, 1, 0, 0, 0, 0, 0, 0};

    // 3. A box is checked for 1 only, the value the chart display counts as on; each box that
    // becomes checked runs the term rule.
    for (std::size_t i = 0; i < terms.size(); ++i)
        Check1[i]->setChecked(terms[i] == 1);

    // 4. Averages and overlays, likewise; the average rule trims a stored set of five to four.
    std::array<qint16, 13> averages{};
    qint64 averageSum = 0;
    for (std::size_t i = 0; i < averages.size(); ++i) {
        averages[i] = store.readFlag(kAverageKeys[i]);
        averageSum += averages[i];
    }
    if (averageSum > 5 || averageSum == 0)
        averages = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < averages.size(); ++i)
        Check2[i]->setChecked(averages[i] == 1);

    // 5. The display-only group, then the toggle; its rule runs exactly once here, whether or
    // not the toggle moved.
    Check4[6]->setChecked(true);
    for (QCheckBox* box : Check4)
        box->setEnabled(false);
    {
        const QSignalBlocker quiet(ToggleButton1);
        ToggleButton1->setChecked(store.readSwitch(Key::NORMAL));
    }
    ToggleButton1_Change();
}

void Form2::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;

    // 6. Every key of the dialog (GRAF, eight terms, thirteen averages and overlays, NORMAL),
    // changed or not, in this order.
    settings::SettingsStore& store = m_main.store();
    store.writeSwitch(Key::GRAF, Option1[1]->isChecked());
    for (std::size_t i = 0; i < kTermKeys.size(); ++i)
        store.writeFlag(kTermKeys[i], Check1[i]->isChecked());
    for (std::size_t i = 0; i < kAverageKeys.size(); ++i)
        store.writeFlag(kAverageKeys[i], Check2[i]->isChecked());
    store.writeSwitch(Key::NORMAL, ToggleButton1->isChecked());
    // On disk at once, so the next display (and a crash) sees what the user chose.
    store.sync();
}

void Form2::done(int result) {
    Form_Unload();
    QDialog::done(result);
}

void Form2::Option1_Click() {
    const bool fourPanes = Option1[1]->isChecked();
    m_main.setFourPanes(fourPanes);

    const int capacity = fourPanes ? 4 : 2;
    for (int j = 7; j >= 2; --j) {
        if (checkedCount(Check1) <= capacity)
            break;
        if (Check1[j]->isChecked())
            Check1[j]->setChecked(false);
    }
}

void Form2::Check1_Click(int index) {
    if (index == 7 && !Check1[7]->isChecked()) {
        // The detail page goes at once, in either arrangement.
        m_main.hideDetailBrowsers();
    }
    const int capacity = Option1[1]->isChecked() ? 4 : 2;
    for (int j = 7; j >= 1; --j) {
        if (j == index)
            continue;
        if (checkedCount(Check1) <= capacity)
            break;
        if (Check1[j]->isChecked())
            Check1[j]->setChecked(false);
    }
}

void Form2::Check2_Click(int index) {
    for (int j = 12; j >= 0; --j) {
        if (j == index)
            continue;
        if (checkedCount(Check2) <= 4)
            break;
        if (Check2[j]->isChecked())
            Check2[j]->setChecked(false);
    }
}

void Form2::ToggleButton1_Change() {
    // Pressed: the standard parameters are used and the boxes only keep their marks.
    const bool enable = !ToggleButton1->isChecked();
    for (QCheckBox* box : Check2)
        box->setEnabled(enable);
}

void Form2::Command2_Click() {
    const QString title = QStringLiteral("マークファイルを指定する");
    const QString filter = QStringLiteral("csvファイル(*.csv)");
    // Always offered in the program's folder, whichever file is in use.
    const QString offered = m_main.defaultMarkFile();

    const ViewerContext::ChooseFile& choose = m_main.chooseFile();
    const std::optional<QString> chosen =
        choose ? choose(this, title, filter, offered)
               : platform::chooseOpenFile(this, title, filter, offered);
    if (!chosen) {
        m_main.fallBackToDefaultMarkFile();
        return;
    }

    const std::optional<QString> line = base::readMarkLine(*chosen);
    if (!line) {
        m_main.fallBackToDefaultMarkFile(); // cannot be opened, or no line at all
        return;
    }
    // Only the fifth character is tested: it must be the comma after the first code.
    if (!line->isEmpty() && (line->size() < 5 || line->at(4) != QLatin1Char(','))) {
        platform::showMessage(this, QStringLiteral("ﾌｧｲﾙの内容が不正です。"));
        m_main.fallBackToDefaultMarkFile();
        return;
    }

    m_main.adoptMarkFile(*chosen, *line);
}
