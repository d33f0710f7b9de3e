#include "form1.h"

#include "chart/composition.h"
#include "chart/lookahead.h"
#include "chart/searchrules.h"
#include "desktop/guiclipboard.h"
#include "desktop/guimessagebox.h"
#include "desktop/guiwebview.h"
#include "launch/launcher.h"
#include "launch/portalpages.h"
#include "mainwin/form2.h"
#include "marks/markfile.h"
#include "marks/markstring.h"
#include "platform/appicon.h"
#include "platform/portalstarter.h"
#include "platform/twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWebEngineView>

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
    , m_codeList(marks::CodeList::load(m_context.programFolder + QLatin1Char('/') +
                                       QString::fromUtf8(marks::CodeList::kFileName))) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(kTitle);
    setWindowIcon(makeIcon());
    createControls();
    startPortal();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::startPortal() {
    if (!m_context.startPortal)
        return;
    m_portal = std::make_unique<platform::PortalStarter>(
        m_context.programFolder + QLatin1String("/quote-portal"), m_context.dataFolder);
    // Said once, when the outcome comes; the program goes on without a portal.
    connect(m_portal.get(), &platform::PortalStarter::finished, this,
            [this](const platform::PortalStarter::Result& started) {
                if (started.outcome == platform::PortalStarter::Outcome::Failed)
                    QTimer::singleShot(0, this,
                                       [this, text = started.message] { showMessage(text); });
            });
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
        Picture1[i] = pane;
    }
    Picture1[0]->setGeometry(twips(3480, 0, 7815, 4440));
    Picture1[1]->setGeometry(twips(3480, 4200, 7815, 4440));
    Picture1[2]->setGeometry(twips(11280, 0, 7815, 4440));
    Picture1[3]->setGeometry(twips(11280, 4200, 7815, 4440));

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
    MARK_SAVE();
    m_store->sync();
}

void Form1::closeEvent(QCloseEvent* event) {
    // A running search sees m_closing after its pending events and ends.
    m_closing = true;
    // A display waiting for the server ends now, as a failure.
    m_retrieval.cancel();
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

void Form1::showMessage(const QString& text) {
    platform::showMessage(this, text);
}

void Form1::Command1_Click() {
    {
        Form2 dialog(*this, this);
        dialog.exec();
    }
    setMarkCaption();
}

// ---- Display request and busy state ---------------------------------------------------------

void Form1::BUSY_IN() {
    m_busy = true;
    Text1->setEnabled(false);
    Command6->setEnabled(false);
    Command7->setEnabled(false);
    Command8->setEnabled(false);
    Command9->setEnabled(false);
}

void Form1::BUSY_OUT() {
    m_busy = false;
    Text1->setEnabled(true);
    Command6->setEnabled(true);
    Command7->setEnabled(true);
    enableMarkSearch();
}

void Form1::Text1_DblClick() {
    BUSY_IN();
    bool unreachable = false;
    if (const auto code = chart::codeToDisplay(Text1->text())) {
        if (tryDisplay(*code)) {
            MARK_CHECK(*code);
            BUSY_OUT();
            return;
        }
        // No transfer got any answer: the server is the matter, not the code.
        unreachable = m_lastDisplay.serverUnreachable();
    }
    PicCLS();
    // A display ended by the window closing has nothing to tell.
    if (!m_closing)
        showMessage(unreachable ? kServerUnreachableMessage : kCheckCodeMessage);
    BUSY_OUT();
}

// ---- Chart display ---------------------------------------------------------------------------

void Form1::GRAF_DISP(const QString& code) {
    PicCLS();
    const chart::ChartOptions options = chart::ChartOptions::read(*m_store);
    ++m_displaying;
    m_lastDisplay = m_retrieval.fetchTerms(code, options, paneShower());
    if (!m_lastDisplay.failed)
        showSummaryAndDetail(code, options);
    displayEnded();
}

chart::ChartRetrieval::ShowPane Form1::paneShower() {
    return [this](int pane, const QString&, const QByteArray& bytes) {
        // A fifth or later term is written to its file but has no pane.
        if (pane < static_cast<int>(Picture1.size()))
            loadPicture(pane, bytes);
    };
}

void Form1::displayEnded() {
    if (--m_displaying == 0 && m_listOpenPending) {
        m_listOpenPending = false;
        QMetaObject::invokeMethod(this, &Form1::List1_DblClick, Qt::QueuedConnection);
    }
}

void Form1::showSummaryAndDetail(const QString& code, const chart::ChartOptions& options) {
    if (m_closing)
        return;
    // The detail page is fetched first: its wait lets events through, and a blank page the
    // panels were still loading from PicCLS must not land after the summary page's request.
    const QUrl page = options.detail ? QUrl(m_retrieval.prepareDetailPage(code)) : QUrl();
    if (m_closing)
        return;
    WebBrowser1->setUrl(QUrl(
        chart::mobileSummaryAddress(m_servers.base(platform::ServerRole::MobileGateway), code)));
    if (options.detail) {
        QWebEngineView* detail = options.fourPanes ? WebBrowser3 : WebBrowser2;
        detail->setVisible(true);
        detail->setUrl(page);
    }
}

void Form1::showProbed(const chart::DisplayFetch& fetch) {
    PicCLS();
    const chart::ChartOptions options = chart::ChartOptions::read(*m_store);
    ++m_displaying;
    m_retrieval.commit(fetch, paneShower());
    m_lastDisplay = fetch.result();
    showSummaryAndDetail(fetch.code(), options);
    displayEnded();
    Text1->setText(fetch.code());
    MARK_CHECK(fetch.code());
}

void Form1::loadPicture(int pane, const QByteArray& bytes) {
    // Decoded from the bytes in hand: loading the file would go through the pixmap cache,
    // which knows a file by name, time and size and could give back an earlier chart.
    QPixmap picture;
    if (picture.loadFromData(bytes))
        Picture1[pane]->setPixmap(picture);
    else
        Picture1[pane]->clear();
}

void Form1::PicCLS() {
    const QUrl blank(QStringLiteral("about:blank"));
    WebBrowser1->setUrl(blank);
    WebBrowser2->setUrl(blank);
    WebBrowser3->setUrl(blank);
    for (QLabel* pane : Picture1)
        pane->clear();
}

// ---- Code stepping ---------------------------------------------------------------------------

void Form1::Command6_Click() {
    codeStep(chart::StepDirection::Up);
}
void Form1::Command7_Click() {
    codeStep(chart::StepDirection::Down);
}

bool Form1::tryDisplay(const QString& code) {
    GRAF_DISP(code);
    return !m_lastDisplay.failed;
}

void Form1::codeStep(chart::StepDirection direction) {
    BUSY_IN();
    m_searching = true;
    auto endSearch = [this](const QString& message) {
        if (!message.isEmpty() && !m_closing)
            showMessage(message);
        m_searching = false;
        BUSY_OUT();
    };

    chart::CodeSearch search;
    const QStringList& alphanumeric = m_codeList.alphanumericCodes();
    std::optional<QString> toProbe =
        chart::CodeSearch::firstCandidate(Text1->text(), direction, alphanumeric);
    if (!toProbe) {
        PicCLS();
        endSearch(kCheckCodeMessage);
        return;
    }
    // The next few candidates are probed side by side; their outcomes are judged strictly in
    // order, so the search ends where the one-by-one search would, and nothing is shown
    // before it is judged.
    chart::LookAhead ahead(m_retrieval, chart::ChartOptions::read(*m_store));
    PicCLS();
    while (!m_closing) {
        // A code this pass tried already is not probed: reaching it ends the search.
        while (toProbe && ahead.size() < chart::LookAhead::kDepth &&
               !search.triedBefore(*toProbe)) {
            ahead.add(*toProbe);
            toProbe = chart::CodeSearch::candidateAfter(*toProbe, direction, alphanumeric);
        }
        chart::LookAhead::Probe probe;
        chart::SearchVerdict verdict = chart::SearchVerdict::Continue;
        if (ahead.size() == 0) {
            if (!toProbe) {
                // The stepping left the numbers.
                endSearch(kCheckCodeMessage);
                return;
            }
            verdict = search.admit(*toProbe);
        } else {
            probe = ahead.takeFirst();
            if (m_closing || probe.cancelled())
                break;
            verdict = search.admit(probe.code);
            if (verdict == chart::SearchVerdict::Continue) {
                m_lastDisplay = probe.fetch->result();
                verdict = search.judge(probe.displayed() ? chart::CandidateOutcome::Displayed
                                       : m_lastDisplay.serverUnreachable()
                                           ? chart::CandidateOutcome::MissedUnreachable
                                           : chart::CandidateOutcome::Missed,
                                       probe.startedMs);
            }
        }
        if (verdict != chart::SearchVerdict::Continue)
            ahead.clear(); // later candidates are never shown nor waited for
        switch (verdict) {
        case chart::SearchVerdict::Found:
            showProbed(*probe.fetch);
            endSearch(QString());
            return;
        case chart::SearchVerdict::NoCodeFound:
            PicCLS();
            endSearch(kNoCodeFoundMessage);
            return;
        case chart::SearchVerdict::ServerUnreachable:
            PicCLS();
            endSearch(kServerUnreachableMessage);
            return;
        case chart::SearchVerdict::Continue:
            break;
        }
        QCoreApplication::processEvents();
    }
    endSearch(QString());
}

// ---- Marks -----------------------------------------------------------------------------------

void Form1::reloadMarks(const QString& path) {
    adoptMarkFile(path, marks::readMarkLine(path).value_or(QString()));
}

void Form1::adoptMarkFile(const QString& path, const QString& markLine) {
    // Marks a failed save left only in memory get one more try before another file's marks take
    // their place; the user is told when they are lost.
    if (!saveUnsavedMarks()) {
        showMessage(marks::saveFailureMessage(G_strMARKFILENAME, m_lastSaveFailure,
                                              marks::UnsavedMarks::Replaced));
    }
    m_marksUnsaved = false;
    G_strMARKFILENAME = path;
    G_strMARK = markLine;
    G_intMARK = 0;
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
    Command8->setEnabled(any && !m_busy);
    Command9->setEnabled(any && !m_busy);
}

void Form1::MARK_SAVE() {
    enableMarkSearch();
    const marks::SaveResult saved = marks::writeMarkLine(G_strMARKFILENAME, G_strMARK);
    if (saved) {
        m_marksUnsaved = false;
        return;
    }
    if (m_closing) {
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
    // displaying " 4674" or "４６７４" marks the code displayed. Only a whole code fits the mark
    // string's layout.
    const std::optional<QString> code = chart::codeToDisplay(Text1->text());
    if (!code || !chart::isCode(*code))
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

void Form1::Command8_Click() {
    markStep(chart::StepDirection::Up);
}
void Form1::Command9_Click() {
    markStep(chart::StepDirection::Down);
}

void Form1::markStep(chart::StepDirection direction) {
    BUSY_IN();
    m_searching = true;
    auto step = [&] {
        G_intMARK = chart::MarkSearch::positionAfter(
            G_intMARK, marks::MarkString(G_strMARK).countReal(), direction);
    };

    chart::MarkSearch search;
    step();
    // Positions ahead are probed side by side and judged in order. Each probe is checked
    // against the marks as they are when its turn comes: marks changed meanwhile restart the
    // look-ahead from there, so only what the one-by-one search would reach is shown.
    chart::LookAhead ahead(m_retrieval, chart::ChartOptions::read(*m_store));
    int probePosition = G_intMARK;
    QSet<int> probed;
    const auto fill = [&] {
        const marks::MarkString marks(G_strMARK);
        while (ahead.size() < chart::LookAhead::kDepth && !probed.contains(probePosition)) {
            probed.insert(probePosition);
            const QString candidate = marks.mark(probePosition);
            if (const auto code = chart::codeToDisplay(candidate))
                ahead.add(*code, probePosition);
            else
                ahead.addFailing(candidate, probePosition);
            probePosition =
                chart::MarkSearch::positionAfter(probePosition, marks.countReal(), direction);
        }
    };
    PicCLS();
    while (!m_closing && !G_strMARK.isEmpty()) {
        fill();
        if (ahead.size() == 0)
            break;
        chart::LookAhead::Probe probe = ahead.takeFirst();
        if (m_closing || probe.cancelled())
            break;
        const auto expected = chart::codeToDisplay(marks::MarkString(G_strMARK).mark(G_intMARK));
        if (probe.tag != G_intMARK ||
            expected.value_or(QString()) != (probe.fetch ? probe.code : QString())) {
            // The marks or the position changed under the look-ahead: probe again from here.
            ahead.clear();
            probed.clear();
            probePosition = G_intMARK;
            continue;
        }
        if (probe.displayed()) {
            ahead.clear();
            showProbed(*probe.fetch);
            setMarkPositionCaption();
            List1->setCurrentRow(G_intMARK - 1);
            m_searching = false;
            BUSY_OUT();
            return;
        }
        if (probe.fetch)
            m_lastDisplay = probe.fetch->result();
        search.recordFailure(G_intMARK);
        step();
        if (search.failedBefore(G_intMARK)) {
            ahead.clear();
            PicCLS();
            showMessage(kNoMarkShownMessage);
            break;
        }
        QCoreApplication::processEvents();
    }
    m_searching = false;
    BUSY_OUT();
}

void Form1::List1_DblClick() {
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    if (selected.isEmpty())
        return;
    if (m_displaying > 0) {
        m_listOpenPending = true;
        return;
    }
    const int row = List1->row(selected.first());
    BUSY_IN();
    G_intMARK = row + 1;
    setMarkPositionCaption();
    const QString code = selected.first()->text().left(4);
    GRAF_DISP(code);
    Text1->setText(code);
    MARK_CHECK(code);
    // Opened between two candidates of a search, the search still holds the busy state:
    // unlocking here would let a second search start inside the first.
    if (!m_searching)
        BUSY_OUT();
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
        showMessage(launch::missingWorkbookMessage(workbook));
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
