#include "form1.h"

#include "base/codeform.h"
#include "base/filereplace.h"
#include "base/markline.h"
#include "chart/chartimage.h"
#include "chart/composition.h"
#include "chart/displayoperation.h"
#include "chart/searchoperation.h"
#include "desktop/guiclipboard.h"
#include "desktop/guifiledialog.h"
#include "desktop/guimessagebox.h"
#include "desktop/guiwebview.h"
#include "launch/launcher.h"
#include "launch/portalpages.h"
#include "mainwin/form2.h"
#include "mainwin/inputhold.h"
#include "mainwin/rankingdialog.h"
#include "marks/markfile.h"
#include "marks/markstring.h"
#include "platform/appicon.h"
#include "platform/portalstarter.h"
#include "platform/twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>
#include <utility>

#include <cstdio>

namespace {

using platform::twips;

const QString kTitle = QStringLiteral("Quorvix Chart Viewer");
const QString kCaptionPrefix = QStringLiteral("Quorvix Chart Viewer  - ");
const QString kCheckCodeMessage = QStringLiteral("銘柄コードを確認して下さい。");
const QString kNoCodeFoundMessage =
    QStringLiteral("チャートを表示できる銘柄が見つかりませんでした。");
const QString kServerUnreachableMessage =
    QStringLiteral("チャートサーバーに接続できません。サーバーの設定と接続を確認して下さい。");
const QString kNoMarkShownMessage = QStringLiteral("表示できるマーク銘柄がありませんでした。");
const QString kSearchHint = QStringLiteral("検索中 %1 … Escで中止");
const QString kMarkStepHint = QStringLiteral("マーク検索中 %1/%2 … Escで中止");

QIcon makeIcon() {
    QIcon icon;
    for (int size : {16, 32})
        icon.addPixmap(QPixmap::fromImage(platform::iconImage(size)));
    return icon;
}

} // namespace

Form1::Form1(const ViewerContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context.resolved())
    , m_store(m_context.settingsFile.isEmpty()
                  ? std::make_unique<settings::SettingsStore>()
                  : std::make_unique<settings::SettingsStore>(m_context.settingsFile))
    , m_servers(platform::ServerConfig::load(m_context.serversFile))
    , m_transfer(m_context.transfer)
    , m_retrieval(m_transfer, m_servers, m_context.dataFolder)
    , m_codeList(marks::CodeList::loadPreferred(m_context.dataFolder, m_context.programFolder)) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(kTitle);
    setWindowIcon(makeIcon());
    m_input = new InputHold(this);
    createControls();
    createKeys();
    startPortal();
    Form_Load();
}

Form1::~Form1() {
    // Ended before the controls and the retrieval they use go.
    m_search.reset();
    m_display.reset();
}

void Form1::startPortal() {
    if (!m_context.startPortal)
        return;
    m_portal = std::make_unique<platform::PortalStarter>(
        m_context.programFolder + QLatin1String("/quote-portal"), m_context.dataFolder);
    // Said once, for the start with the window; the program goes on without a portal. A start
    // again, after the portal has gone, is told by the display it serves.
    connect(
        m_portal.get(), &platform::PortalStarter::finished, this,
        [this](const platform::PortalStarter::Result& started) {
            if (started.outcome == platform::PortalStarter::Outcome::Failed)
                QTimer::singleShot(0, this, [this, text = started.message] { showMessage(text); });
        },
        Qt::SingleShotConnection);
    m_portal->start(m_servers.base(platform::ServerRole::TechnicalChart));
}

void Form1::createControls() {
    auto button = [this](const char* name, const char* caption, QRect geometry) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(geometry);
        return b;
    };

    for (int i = 0; i < 4; ++i) {
        auto* pane = new QLabel(this);
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        pane->setAutoFillBackground(true);
        pane->setObjectName(QStringLiteral("Picture1_%1").arg(i));
        pane->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(pane, &QLabel::customContextMenuRequested, this,
                [this, i](const QPoint& at) { showChartMenu(i, at); });
        Picture1[i] = pane;
    }
    Picture1[0]->setGeometry(twips(3480, 0, 7815, 4440));
    Picture1[1]->setGeometry(twips(3480, 4200, 7815, 4440));
    Picture1[2]->setGeometry(twips(11280, 0, 7815, 4440));
    Picture1[3]->setGeometry(twips(11280, 4200, 7815, 4440));

    // A search's progress, over the first pane while it is blank.
    m_searchHint = new QLabel(Picture1[0]);
    m_searchHint->setObjectName(QStringLiteral("SearchHint"));
    m_searchHint->setGeometry(Picture1[0]->contentsRect());
    m_searchHint->setAlignment(Qt::AlignCenter);
    QFont hintFont = m_searchHint->font();
    hintFont.setPointSize(14);
    m_searchHint->setFont(hintFont);
    m_searchHint->hide();
    m_hintTimer.setSingleShot(true);
    connect(&m_hintTimer, &QTimer::timeout, this, &Form1::showSearchHint);

    WebBrowser2 = new QWebEngineView(Picture1[1]);
    WebBrowser2->setObjectName(QStringLiteral("WebBrowser2"));
    WebBrowser2->setGeometry(twips(0, 0, 7815, 4455));
    WebBrowser3 = new QWebEngineView(Picture1[3]);
    WebBrowser3->setObjectName(QStringLiteral("WebBrowser3"));
    WebBrowser3->setGeometry(twips(0, 0, 7815, 4455));
    platform::isolateWebView(WebBrowser2, m_retrieval.detailFilePath());
    platform::isolateWebView(WebBrowser3, m_retrieval.detailFilePath());

    Command1 = button("Command1", "設定", twips(0, 6720, 3495, 495));

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(1200, 0, 975, 570));
    QFont codeFont;
    codeFont.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP"),
                          QStringLiteral("Noto Sans CJK JP"), QStringLiteral("monospace")});
    codeFont.setPointSize(18);
    codeFont.setBold(true);
    Text1->setFont(codeFont);
    Text1->setText(QStringLiteral("4674"));
    Text1->installEventFilter(this);

    WebBrowser1 = new QWebEngineView(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setGeometry(twips(0, 2760, 3495, 3975));
    platform::isolateWebView(WebBrowser1);

    Command2 = button("Command2", "クリップ読込", twips(0, 0, 1215, 495));
    Command3 = button("Command3", "クリップ書出", twips(2160, 0, 1335, 495));
    Command4 = button("Command4", "マーク設定", twips(0, 960, 1695, 495));
    Command5 = button("Command5", "マーク解除", twips(1680, 960, 1815, 495));
    Command6 = button("Command6", "昇順検索", twips(0, 480, 1695, 495));
    Command7 = button("Command7", "降順検索", twips(1680, 480, 1815, 495));
    Command8 = button("Command8", "マーク昇順検索", twips(0, 1440, 1695, 495));
    Command9 = button("Command9", "マーク降順検索", twips(1680, 1440, 1815, 495));
    Command10 = button("Command10", "株価：詳細情報", twips(0, 3240, 3495, 495));
    Command11 = button("Command11", "企業情報", twips(0, 3720, 1695, 495));
    Command12 = button("Command12", "ニュース", twips(1680, 3720, 1815, 495));
    Command13 = button("Command13", "掲示板", twips(-120, 4200, 1815, 495));
    Command14 = button("Command14", "レポート", twips(1680, 4200, 1815, 495));
    Command15 = button("Command15", "サポートページを開く", twips(0, 7200, 3495, 495));
    Command16 = button("Command16", "電卓", twips(0, 7680, 3495, 495));
    Command17 = button("Command17", "ランキングMARKファイル作成", twips(0, 8160, 3495, 495));

    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twips(0, 1920, 3495, 1320));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);

    // Stacking, back to front: the mark list and the buttons lie over the top of the summary
    // panel, and the lower panes over the bottom of the upper ones.
    const QList<QWidget*> backToFront{Picture1[0], Picture1[2], Picture1[1], Picture1[3], Command1,
                                      Text1,       WebBrowser1, Command2,    Command3,    Command4,
                                      Command5,    Command6,    Command7,    Command8,    Command9,
                                      Command10,   Command11,   Command12,   Command13,   Command14,
                                      Command15,   Command16,   Command17,   List1};
    for (QWidget* w : backToFront)
        w->raise();

    // Tab order of the focusable controls.
    const QList<QWidget*> tabOrder{Command1,    Text1,     WebBrowser1, Command2,  Command3,
                                   Command4,    Command5,  Command6,    Command7,  Command8,
                                   Command9,    Command10, Command11,   Command12, Command13,
                                   Command14,   Command15, Command16,   Command17, WebBrowser2,
                                   WebBrowser3, List1};
    for (int i = 0; i + 1 < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &Form1::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &Form1::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &Form1::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &Form1::Command11_Click);
    connect(Command12, &QPushButton::clicked, this, &Form1::Command12_Click);
    connect(Command13, &QPushButton::clicked, this, &Form1::Command13_Click);
    connect(Command14, &QPushButton::clicked, this, &Form1::Command14_Click);
    connect(Command15, &QPushButton::clicked, this, &Form1::Command15_Click);
    connect(Command16, &QPushButton::clicked, this, &Form1::Command16_Click);
    connect(Command17, &QPushButton::clicked, this, &Form1::Command17_Click);
    connect(List1, &QListWidget::itemDoubleClicked, this, &Form1::List1_DblClick);
}

void Form1::createKeys() {
    struct StepKey {
        QPushButton* button;
        QKeySequence key;
        const char* name;
    };
    const StepKey keys[] = {
        {Command6, QKeySequence(Qt::Key_PageDown), "PageDown"},
        {Command7, QKeySequence(Qt::Key_PageUp), "PageUp"},
        {Command8, QKeySequence(Qt::CTRL | Qt::Key_PageDown), "Ctrl+PageDown"},
        {Command9, QKeySequence(Qt::CTRL | Qt::Key_PageUp), "Ctrl+PageUp"},
    };
    for (const StepKey& k : keys) {
        k.button->setToolTip(
            QStringLiteral("%1（%2）").arg(k.button->text(), QLatin1String(k.name)));
        auto* shortcut = new QShortcut(k.key, this);
        shortcut->setContext(Qt::WindowShortcut);
        QPushButton* button = k.button;
        // As a click: only an enabled button acts.
        connect(shortcut, &QShortcut::activated, this, [button] {
            if (button->isEnabled())
                button->click();
        });
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &Form1::stopSearch);
}

// ---- Lifecycle -------------------------------------------------------------------------------

void Form1::Form_Load() {
    auto restored = [this](settings::Key key) {
        const qint32 v = m_store->readPosition(key);
        return (v == 45000 || v < 0) ? 0 : v;
    };
    const int left = restored(settings::Key::FORM_LEFT);
    const int top = restored(settings::Key::FORM_TOP);
    move(left / 15, top / 15);

    WebBrowser1->setUrl(QUrl(QStringLiteral("about:blank")));
    WebBrowser2->hide();
    WebBrowser3->hide();

    setPaneArrangement(m_store->readSwitch(settings::Key::GRAF));

    // A position that puts the window wholly outside every screen would leave it unreachable.
    const QRect frame(pos(), size());
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->geometry().intersects(frame);
    if (!onScreen && QGuiApplication::primaryScreen())
        move(QGuiApplication::primaryScreen()->availableGeometry().topLeft());

    Text1->setText(m_store->readText(settings::Key::LASTCODE));

    Command4->setEnabled(false);
    Command5->setEnabled(false);

    MARK_LOAD();
}

void Form1::MARK_LOAD() {
    G_strMARKFILENAME = defaultMarkFile();
    setMarkCaption();
    // Temporary files of saves that were killed, of the mark file and the chart and page files.
    marks::removeSaveLeftovers(G_strMARKFILENAME);
    for (const chart::Term& term : chart::terms())
        marks::removeSaveLeftovers(m_context.dataFolder + QLatin1Char('/') +
                                   QLatin1String(term.fileName));
    marks::removeSaveLeftovers(m_retrieval.detailFilePath());
    reloadMarks(G_strMARKFILENAME);
}

void Form1::Form_Unload() {
    m_store->write(settings::Key::FORM_LEFT, QString::number(x() * 15));
    m_store->write(settings::Key::FORM_TOP, QString::number(y() * 15));
    m_store->write(settings::Key::LASTCODE, Text1->text());
    if (m_endingOnSignal) {
        // Nobody may be there to answer a message box (a desktop logging out): marks that do not
        // reach their file are said on standard error. Unchanged marks are not written.
        const marks::SaveResult saved = marksInTheirFile()
                                            ? marks::SaveResult{}
                                            : marks::writeMarkLine(G_strMARKFILENAME, G_strMARK);
        if (!saved) {
            const QString message = marks::saveFailureMessage(G_strMARKFILENAME, saved,
                                                              marks::UnsavedMarks::LostAtExit);
            std::fprintf(stderr, "quorvix: %s\n", message.toLocal8Bit().constData());
        }
    } else {
        MARK_SAVE();
    }
    m_store->sync();
}

void Form1::endOnSignal() {
    m_endingOnSignal = true;
    close();
}

void Form1::closeEvent(QCloseEvent* event) {
    // The operation that runs ends here, without a word; input held for it is dropped. It may
    // be the one whose signal is being handled (a message at its end), so it goes later.
    if (m_search) {
        m_search->cancel();
        m_search->disconnect(this);
        m_search.release()->deleteLater();
    }
    hideSearchHint();
    if (m_display) {
        m_display->cancel();
        m_display->disconnect(this);
        m_lastDisplay = m_display->result();
        m_display.release()->deleteLater();
    }
    m_input->discard();
    if (!m_unloaded) {
        m_unloaded = true;
        Form_Unload();
    }
    // The portal this window started goes with it; one it found running stays.
    m_portal.reset();
    event->accept();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Text1 && event->type() == QEvent::MouseButtonDblClick) {
        if (Text1->isEnabled())
            Text1_DblClick();
        return true;
    }
    // Enter in the code box asks for the display as a double-click does.
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (Text1->isEnabled())
                Text1_DblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::setPaneArrangement(bool fourPanes) {
    Picture1[2]->setVisible(fourPanes);
    Picture1[3]->setVisible(fourPanes);
    setFixedSize(fourPanes ? kFourPaneWidth : kTwoPaneWidth, kClientHeight);
}

void Form1::setFourPanes(bool fourPanes) {
    setPaneArrangement(fourPanes);
    (fourPanes ? WebBrowser2 : WebBrowser3)->hide();
}

void Form1::hideDetailBrowsers() {
    WebBrowser2->hide();
    WebBrowser3->hide();
}

QString Form1::defaultMarkFile() const {
    return m_context.dataFolder + QLatin1String("/MARK.csv");
}

void Form1::setMarkCaption() {
    setWindowTitle(kCaptionPrefix + G_strMARKFILENAME);
}

void Form1::setMarkPositionCaption() {
    setWindowTitle(kCaptionPrefix + G_strMARKFILENAME + QStringLiteral(" - MARK No. ") +
                   QString::number(G_intMARK));
}

void Form1::runModal(const std::function<void()>& dialog) {
    if (m_search)
        m_search->pause();
    dialog();
    if (m_search)
        m_search->resume();
}

void Form1::showMessage(const QString& text) {
    runModal([&] { platform::showMessage(this, text); });
}

void Form1::Command1_Click() {
    runModal([this] {
        Form2 dialog(*this, this);
        dialog.exec();
    });
    setMarkCaption();
}

// ---- Display request and busy state ---------------------------------------------------------

void Form1::BUSY_IN() {
    Text1->setEnabled(false);
    Command6->setEnabled(false);
    Command7->setEnabled(false);
    Command8->setEnabled(false);
    Command9->setEnabled(false);
}

void Form1::BUSY_OUT() {
    // A display opened between two candidates of a search ends inside the search, which still
    // holds the busy state: unlocking here would let a second search start inside the first.
    if (m_search || m_display)
        return;
    Text1->setEnabled(true);
    Command6->setEnabled(true);
    Command7->setEnabled(true);
    enableMarkSearch();
}

void Form1::Text1_DblClick() {
    BUSY_IN();
    const auto code = chart::codeToDisplay(Text1->text());
    if (!code) {
        PicCLS();
        showMessage(kCheckCodeMessage);
        BUSY_OUT();
        return;
    }
    GRAF_DISP(*code, [this, code = *code](bool ok) {
        if (ok) {
            MARK_CHECK(code);
        } else {
            PicCLS();
            // No transfer got any answer: the server is the matter, not the code.
            showMessage(m_lastDisplay.serverUnreachable() ? kServerUnreachableMessage
                                                          : kCheckCodeMessage);
        }
        BUSY_OUT();
    });
}

// ---- Chart display ---------------------------------------------------------------------------

void Form1::GRAF_DISP(const QString& code, std::function<void(bool)> then) {
    PicCLS();
    const chart::ChartOptions options = chartOptions();
    auto display = std::make_unique<chart::DisplayOperation>(m_retrieval);
    chart::DisplayOperation* op = display.get();
    runDisplay(std::move(display), options,
               [this, code, then = std::move(then), retried = false](bool ok) mutable {
                   // Refused: the portal has gone (ended with the viewer that started it, or
                   // killed). Brought back, the display goes on as one, and nothing is said.
                   if (!ok && !retried && m_lastDisplay.serverRefused() && restartPortal()) {
                       retried = true;
                       retryDisplay(code, std::move(then));
                       return;
                   }
                   then(ok);
               });
    whenPortalReady(op, [op, code, options] { op->start(code, options); });
}

void Form1::retryDisplay(const QString& code, std::function<void(bool)> then) {
    const chart::ChartOptions options = chartOptions();
    auto display = std::make_unique<chart::DisplayOperation>(m_retrieval);
    chart::DisplayOperation* op = display.get();
    runDisplay(std::move(display), options, std::move(then));
    whenPortalReady(op, [op, code, options] { op->start(code, options); });
}

bool Form1::restartPortal() {
    const QString base = m_servers.base(platform::ServerRole::TechnicalChart);
    if (!m_context.startPortal || !platform::PortalStarter::loopbackEndpoint(base).isValid())
        return false;
    if (!m_portal)
        m_portal = std::make_unique<platform::PortalStarter>(
            m_context.programFolder + QLatin1String("/quote-portal"), m_context.dataFolder);
    if (!m_portal->isPending())
        m_portal->start(base);
    return true;
}

void Form1::whenPortalReady(QObject* operation, std::function<void()> go) {
    // A display or search asked for before the portal started with the window listens waits
    // for it, instead of finding nothing there.
    if (!m_portal || !m_portal->isPending()) {
        go();
        return;
    }
    // Within a display's bound: a portal still not up by then is not waited for any longer.
    auto once = std::make_shared<std::function<void()>>(std::move(go));
    auto run = [once] {
        if (*once)
            std::exchange(*once, nullptr)();
    };
    connect(m_portal.get(), &platform::PortalStarter::finished, operation, run,
            Qt::SingleShotConnection);
    QTimer::singleShot(m_retrieval.boundMs(), operation, run);
}

void Form1::runDisplay(std::unique_ptr<chart::DisplayOperation> display,
                       const chart::ChartOptions& options, std::function<void(bool)> then) {
    m_display = std::move(display);
    // Owned by m_display; the parent only makes sure one handed to deleteLater() goes with the
    // window at the latest.
    m_display->setParent(this);
    m_input->hold();
    connect(m_display.get(), &chart::DisplayOperation::paneShown, this,
            [this](int pane, const QString& gifPath, const QByteArray& bytes) {
                // A fifth or later term is written to its file but has no pane.
                if (pane < static_cast<int>(Picture1.size())) {
                    loadPicture(pane, bytes, m_display->pixelRatio());
                    m_paneCharts[pane].code = m_display->code();
                    m_paneCharts[pane].term = chart::termOfFile(gifPath);
                }
            });
    connect(m_display.get(), &chart::DisplayOperation::finished, this,
            [this, options, then = std::move(then)] {
                // Ended from its own signal: deleted once the signal has returned.
                chart::DisplayOperation* op = m_display.release();
                op->deleteLater();
                m_lastDisplay = op->result();
                const bool ok = !m_lastDisplay.failed;
                if (ok) {
                    WebBrowser1->setUrl(QUrl(chart::mobileSummaryAddress(
                        m_servers.base(platform::ServerRole::MobileGateway), op->code())));
                    if (options.detail) {
                        QWebEngineView* detail = options.fourPanes ? WebBrowser3 : WebBrowser2;
                        detail->setVisible(true);
                        detail->setUrl(QUrl(op->detailAddress()));
                    }
                }
                then(ok);
                // Input given meanwhile is handled now, under the rules that hold now.
                if (!m_display)
                    m_input->release();
            });
}

void Form1::showProbed(std::unique_ptr<chart::DisplayFetch> fetch, std::function<void()> then) {
    PicCLS();
    const chart::ChartOptions options = chartOptions();
    auto display = std::make_unique<chart::DisplayOperation>(m_retrieval);
    chart::DisplayOperation* op = display.get();
    const QString code = fetch->code();
    runDisplay(std::move(display), options, [this, code, then = std::move(then)](bool) {
        Text1->setText(code);
        MARK_CHECK(code);
        then();
    });
    op->show(std::move(fetch), options);
}

chart::ChartOptions Form1::chartOptions() const {
    chart::ChartOptions options = chart::ChartOptions::read(*m_store);
    // Read at each display: Qt tells no change of the ratio.
    options.pixelRatio = devicePixelRatioF();
    return options;
}

void Form1::loadPicture(int pane, const QByteArray& bytes, double askedRatio) {
    // Decoded from the bytes in hand: loading the file would go through the pixmap cache,
    // which knows a file by name, time and size and could give back an earlier chart.
    if (pane == 0)
        m_searchHint->hide();
    QPixmap picture;
    if (picture.loadFromData(bytes)) {
        // Drawn at the window's ratio, it fills the pane at full sharpness.
        picture.setDevicePixelRatio(
            chart::shownRatio(picture.width(), askedRatio, Picture1[pane]->width()));
        Picture1[pane]->setPixmap(picture);
        m_paneCharts[pane] = PaneChart{picture.toImage(), QString(), -1};
    } else {
        m_paneCharts[pane] = PaneChart{};
        Picture1[pane]->clear();
    }
}

void Form1::PicCLS() {
    const QUrl blank(QStringLiteral("about:blank"));
    WebBrowser1->setUrl(blank);
    WebBrowser2->setUrl(blank);
    WebBrowser3->setUrl(blank);
    for (QLabel* pane : Picture1)
        pane->clear();
    m_paneCharts.fill(PaneChart{});
}

// ---- Saving and copying a chart -------------------------------------------------------------

void Form1::showChartMenu(int pane, const QPoint& at) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("ChartMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const bool shown = !m_paneCharts[pane].image.isNull();
    QAction* save =
        menu->addAction(QStringLiteral("画像を保存…"), this, [this, pane] { saveChart(pane); });
    QAction* copy =
        menu->addAction(QStringLiteral("画像をコピー"), this, [this, pane] { copyChart(pane); });
    save->setEnabled(shown);
    copy->setEnabled(shown);
    menu->popup(Picture1[pane]->mapToGlobal(at));
}

void Form1::copyChart(int pane) {
    if (!m_paneCharts[pane].image.isNull())
        platform::setClipboardImage(m_paneCharts[pane].image);
}

void Form1::saveChart(int pane) {
    const PaneChart chart = m_paneCharts[pane];
    if (chart.image.isNull())
        return;
    // The chart carries no date; the summary pane, showing the same code, tells its last price.
    QPointer<Form1> window(this);
    WebBrowser1->page()->toPlainText([window, chart](const QString& text) {
        if (!window)
            return;
        const QDate date = chart::lastPriceDate(text).value_or(
            chart::dateInJapan(QDateTime::currentDateTimeUtc()));
        // Out of the page's callback before a dialog opens.
        QTimer::singleShot(0, window, [window, chart, date] { window->saveChartAs(chart, date); });
    });
}

void Form1::saveChartAs(const PaneChart& chart, const QDate& lastPrice) {
    if (m_chartFolder.isEmpty()) {
        const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        m_chartFolder = QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
    }
    const QString name = chart::chartImageFileName(chart.code, chart.term, lastPrice);
    std::optional<QString> path;
    runModal([&] {
        path = platform::chooseSaveFile(
            this, QStringLiteral("画像を保存"), QStringLiteral("PNG 画像 (*.png)"),
            m_chartFolder + QLatin1Char('/') + name, QStringLiteral("png"));
    });
    if (!path)
        return;
    m_chartFolder = QFileInfo(*path).absolutePath();
    const QByteArray png = chart::pngBytes(chart.image);
    if (png.isEmpty() || !base::replaceFile(*path, png))
        showMessage(QStringLiteral("画像を保存できませんでした。\n%1").arg(*path));
}

// ---- Code stepping and mark stepping ---------------------------------------------------------

void Form1::Command6_Click() {
    codeStep(chart::StepDirection::Up);
}
void Form1::Command7_Click() {
    codeStep(chart::StepDirection::Down);
}

void Form1::codeStep(chart::StepDirection direction) {
    auto search = std::make_unique<chart::CodeSearchOperation>(m_retrieval, chartOptions(),
                                                               m_codeList.alphanumericCodes());
    chart::CodeSearchOperation* op = search.get();
    startSearch(std::move(search));
    whenPortalReady(op, [op, text = Text1->text(), direction] { op->start(text, direction); });
}

void Form1::Command8_Click() {
    markStep(chart::StepDirection::Up);
}
void Form1::Command9_Click() {
    markStep(chart::StepDirection::Down);
}

void Form1::markStep(chart::StepDirection direction) {
    chart::MarkStepOperation::Marks marks{[this] { return G_strMARK; },
                                          [this] { return G_intMARK; },
                                          [this](int position) {
                                              G_intMARK = position;
                                          }};
    auto search =
        std::make_unique<chart::MarkStepOperation>(m_retrieval, chartOptions(), std::move(marks));
    chart::MarkStepOperation* op = search.get();
    m_markShown = G_intMARK;
    startSearch(std::move(search));
    whenPortalReady(op, [op, direction] { op->start(direction); });
}

void Form1::startSearch(std::unique_ptr<chart::SearchOperation> search) {
    BUSY_IN();
    m_search = std::move(search);
    m_search->setParent(this);
    chart::SearchOperation* op = m_search.get();
    m_search->setRestart([this, op] {
        if (!restartPortal())
            return false;
        whenPortalReady(op, [op] { op->resume(); });
        return true;
    });
    connect(m_search.get(), &chart::SearchOperation::finished, this, &Form1::searchEnded);
    connect(m_search.get(), &chart::SearchOperation::candidateJudged, this,
            &Form1::candidateJudged);
    PicCLS();
}

void Form1::candidateJudged(const QString& code) {
    // A mark step tells where in the marks it is (the position is the candidate's), a code
    // search the code it tries.
    if (qobject_cast<chart::MarkStepOperation*>(m_search.get())) {
        m_hintText = kMarkStepHint.arg(G_intMARK).arg(marks::MarkString(G_strMARK).countReal());
    } else {
        m_hintText = kSearchHint.arg(code);
    }
    if (m_hintTimer.isActive())
        return; // the latest text goes up when the timer runs out
    const qint64 since = m_hintShown.isValid() ? m_hintShown.elapsed() : kHintIntervalMs;
    if (since >= kHintIntervalMs)
        showSearchHint();
    else
        m_hintTimer.start(static_cast<int>(kHintIntervalMs - since));
}

void Form1::showSearchHint() {
    if (!m_search || !m_search->isRunning())
        return;
    m_hintShown.start();
    m_searchHint->setText(m_hintText);
    // Never over a chart a display between two candidates put there.
    m_searchHint->setVisible(Picture1[0]->pixmap().isNull());
}

void Form1::hideSearchHint() {
    m_hintTimer.stop();
    m_hintShown.invalidate();
    m_hintText.clear();
    m_searchHint->hide();
    m_searchHint->clear();
}

QString Form1::searchHint() const {
    return m_searchHint->isHidden() ? QString() : m_searchHint->text();
}

void Form1::stopSearch() {
    // Only while candidates are tried: a winner being shown is a display, and ends as one.
    if (!m_search || !m_search->isRunning())
        return;
    const bool marks = qobject_cast<chart::MarkStepOperation*>(m_search.get()) != nullptr;
    m_search->cancel();
    m_search->disconnect(this);
    // The step moved the position ahead of what it showed; the caption and the list row were
    // not touched yet.
    if (marks)
        G_intMARK = m_markShown;
    hideSearchHint();
    endSearch(QString());
}

void Form1::searchEnded() {
    using Outcome = chart::SearchOperation::Outcome;
    hideSearchHint();
    const Outcome outcome = m_search->outcome();
    m_lastDisplay = m_search->lastResult();
    switch (outcome) {
    case Outcome::Found: {
        const bool marks = qobject_cast<chart::MarkStepOperation*>(m_search.get()) != nullptr;
        showProbed(m_search->takeWinner(), [this, marks] {
            if (marks) {
                m_markShown = G_intMARK;
                setMarkPositionCaption();
                List1->setCurrentRow(G_intMARK - 1);
            }
            endSearch(QString());
        });
        return;
    }
    case Outcome::NotACode:
        PicCLS();
        endSearch(kCheckCodeMessage);
        return;
    case Outcome::NoCodeFound:
        PicCLS();
        endSearch(kNoCodeFoundMessage);
        return;
    case Outcome::ServerUnreachable:
        PicCLS();
        endSearch(kServerUnreachableMessage);
        return;
    case Outcome::NoMarkShown:
        PicCLS();
        endSearch(kNoMarkShownMessage);
        return;
    case Outcome::Ended:
    case Outcome::Running:
    case Outcome::Cancelled:
        endSearch(QString());
        return;
    }
}

void Form1::endSearch(const QString& message) {
    // The message comes while the search still holds the busy state, as at the end of its loop.
    if (!message.isEmpty())
        showMessage(message);
    if (m_search)
        m_search.release()->deleteLater();
    BUSY_OUT();
}

// ---- Marks -----------------------------------------------------------------------------------

void Form1::reloadMarks(const QString& path) {
    const base::MarkLineRead read = base::readMarkLineChecked(path, marks::kMaxMarkLineBytes);
    // Told once the window is up; the marks start empty and the file is never written over.
    const QString problem = marks::readFailureMessage(path, read.status);
    if (!problem.isEmpty())
        QTimer::singleShot(0, this, [this, problem] { showMessage(problem); });
    adoptMarkFile(path, read.line);
    if (read.status == base::MarkLineStatus::Missing)
        m_fileMarks.reset();
}

void Form1::adoptMarkFile(const QString& path, const QString& markLine) {
    // A chosen file whose first line is beyond what the list can hold is not taken.
    if (markLine.size() > marks::kMaxMarkLineBytes) {
        showMessage(marks::readFailureMessage(path, base::MarkLineStatus::TooLong));
        fallBackToDefaultMarkFile();
        return;
    }
    // Marks a failed save left only in memory get one more try before another file's marks take
    // their place; the user is told when they are lost.
    if (!saveUnsavedMarks()) {
        showMessage(marks::saveFailureMessage(G_strMARKFILENAME, m_lastSaveFailure,
                                              marks::UnsavedMarks::Replaced));
    }
    m_marksUnsaved = false;
    G_strMARKFILENAME = path;
    G_strMARK = markLine;
    m_fileMarks = markLine;
    G_intMARK = 0;
    m_markShown = 0;
    enableMarkSearch();
    if (!G_strMARK.isEmpty())
        MARK_LIST();
    else
        List1->clear();
}

void Form1::fallBackToDefaultMarkFile() {
    if (!saveUnsavedMarks())
        return;
    reloadMarks(defaultMarkFile());
}

bool Form1::saveUnsavedMarks() {
    if (m_marksUnsaved)
        MARK_SAVE();
    return !m_marksUnsaved;
}

void Form1::enableMarkSearch() {
    // While a display or search holds the busy state, the search buttons stay locked; leaving
    // the busy state enables them again when there are marks.
    const bool any = !G_strMARK.isEmpty();
    const bool busy = m_search || m_display;
    Command8->setEnabled(any && !busy);
    Command9->setEnabled(any && !busy);
}

bool Form1::marksInTheirFile() const {
    // Unchanged marks are written only to bring back a file removed (or put aside for a folder)
    // while the window ran.
    return m_fileMarks && G_strMARK == *m_fileMarks && QFileInfo(G_strMARKFILENAME).isFile();
}

void Form1::MARK_SAVE() {
    enableMarkSearch();
    if (marksInTheirFile()) {
        m_marksUnsaved = false;
        return;
    }
    const marks::SaveResult saved = marks::writeMarkLine(G_strMARKFILENAME, G_strMARK);
    if (saved) {
        m_marksUnsaved = false;
        m_fileMarks = G_strMARK;
        return;
    }
    if (m_unloaded) {
        // The last save as the window closes. The marks go with the window: when they were not
        // in their file yet, the user hears of it, however often a save failed before.
        if (m_marksUnsaved) {
            showMessage(marks::saveFailureMessage(G_strMARKFILENAME, saved,
                                                  marks::UnsavedMarks::LostAtExit));
        }
        return;
    }
    // The marks stay in memory, listed and saved again with the next change and at exit.
    m_marksUnsaved = true;
    m_lastSaveFailure = saved;
    if (!m_saveFailureTold.contains(G_strMARKFILENAME)) {
        m_saveFailureTold.insert(G_strMARKFILENAME);
        showMessage(marks::saveFailureMessage(G_strMARKFILENAME, saved, marks::UnsavedMarks::Kept));
    }
}

void Form1::MARK_LIST() {
    List1->clear();
    List1->addItems(marks::markListRows(marks::MarkString(G_strMARK), m_codeList));
}

void Form1::MARK_CHECK(const QString& code) {
    const bool marked = marks::MarkString(G_strMARK).contains(code);
    Command4->setEnabled(!marked);
    Command5->setEnabled(marked);
}

std::optional<QString> Form1::codeBoxMark() const {
    // The code box is read as the display request reads it, so that a button enabled after
    // displaying " 4674" or "４６７４" marks the code displayed. Only a whole code fits the
    // mark string's layout.
    const std::optional<QString> code = chart::codeToDisplay(Text1->text());
    if (!code || !base::isCode(*code))
        return std::nullopt;
    return code;
}

void Form1::markChanged(const QString& code, const QString& markLine) {
    G_strMARK = markLine;
    MARK_SAVE();
    MARK_CHECK(code);
}

void Form1::Command4_Click() {
    const std::optional<QString> code = codeBoxMark();
    marks::MarkString list(G_strMARK);
    if (!code || !list.append(*code))
        return;
    List1->addItem(m_codeList.row(*code));
    markChanged(*code, list.text());
}

void Form1::Command5_Click() {
    const std::optional<QString> code = codeBoxMark();
    marks::MarkString list(G_strMARK);
    if (!code || !list.remove(*code))
        return;
    for (int row = 0; row < List1->count(); ++row) {
        if (List1->item(row)->text().left(4) == *code) {
            delete List1->takeItem(row);
            break;
        }
    }
    markChanged(*code, list.text());
}

void Form1::List1_DblClick() {
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    if (selected.isEmpty())
        return;
    // A row opened during a display is opened once the display has ended, never inside it.
    if (m_display) {
        m_input->defer([this] { List1_DblClick(); });
        return;
    }
    const int row = List1->row(selected.first());
    BUSY_IN();
    G_intMARK = row + 1;
    m_markShown = G_intMARK;
    setMarkPositionCaption();
    const QString code = selected.first()->text().left(4);
    GRAF_DISP(code, [this, code](bool) {
        Text1->setText(code);
        MARK_CHECK(code);
        BUSY_OUT();
    });
}

// ---- Clipboard -------------------------------------------------------------------------------

void Form1::Command2_Click() {
    const std::optional<QString> text = platform::clipboardText();
    if (!text)
        return;
    if (const auto code = chart::codeToDisplay(*text))
        Text1->setText(*code);
}

void Form1::Command3_Click() {
    platform::setClipboardText(Text1->text());
}

// ---- Pages and tools -------------------------------------------------------------------------

void Form1::IE_DISP(const QString& address) {
    launch::openInBrowser(address);
}

void Form1::openPortalPage(launch::PortalPage page) {
    IE_DISP(launch::portalPageAddress(page, m_servers, Text1->text()));
}

void Form1::Command10_Click() {
    openPortalPage(launch::PortalPage::Quote);
}
void Form1::Command11_Click() {
    openPortalPage(launch::PortalPage::Company);
}
void Form1::Command12_Click() {
    openPortalPage(launch::PortalPage::News);
}
void Form1::Command13_Click() {
    openPortalPage(launch::PortalPage::Board);
}
void Form1::Command14_Click() {
    openPortalPage(launch::PortalPage::Report);
}
void Form1::Command15_Click() {
    launch::openInBrowser(m_servers.supportPage());
}

void Form1::Command16_Click() {
    const auto calculator = launch::findCalculator();
    if (!calculator) {
        showMessage(launch::noCalculatorMessage());
        return;
    }
    launch::startDetached(*calculator);
}

void Form1::Command17_Click() {
    const launch::WorkbookSearch workbook =
        launch::findWorkbook({m_context.programFolder, m_context.dataFolder});
    if (!workbook.path) {
        // Without the workbook, the viewer's own ranking dialog makes the mark file.
        auto* dialog =
            new RankingDialog(m_servers.base(platform::ServerRole::TechnicalChart),
                              marks::codeListMarkets(m_context.programFolder + QLatin1Char('/') +
                                                     QString::fromUtf8(marks::CodeList::kFileName)),
                              m_context.dataFolder, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        // The saved file is taken as MARKファイル切替 takes a chosen one, caption included.
        connect(dialog, &RankingDialog::markFileSaved, this, [this](const QString& path) {
            if (const std::optional<QString> line = base::readMarkLine(path))
                adoptMarkFile(path, *line);
            else
                fallBackToDefaultMarkFile();
            setMarkCaption();
        });
        dialog->open();
        whenPortalReady(dialog, [dialog] { dialog->start(); });
        return;
    }
    const auto spreadsheet = launch::findSpreadsheet();
    if (!spreadsheet) {
        showMessage(
            QStringLiteral("表計算ソフト（%1）が見つからないため、MAKEMARK.xls を開けません。")
                .arg(launch::spreadsheetCandidates().join(QStringLiteral("、"))));
        return;
    }
    // "./MAKEMARK.xls" is opened in the folder where it was found.
    if (!launch::startDetached(*spreadsheet, QFileInfo(*workbook.path).absolutePath()))
        showMessage(QStringLiteral("表計算ソフト（%1）を起動できませんでした。")
                        .arg(QFileInfo(spreadsheet->program).fileName()));
}
