#pragma once

#include "chart/chartretrieval.h"
#include "chart/securitycode.h"
#include "launch/portalpages.h"
#include "mainwin/mainwindowlink.h"
#include "mainwin/viewercontext.h"
#include "marks/codelist.h"
#include "marks/markfile.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"
#include "settings/settingsstore.h"

#include <QElapsedTimer>
#include <QImage>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWebEngineView;
class InputHold;

namespace chart {
class DisplayOperation;
class DisplayFetch;
class SearchOperation;
} // namespace chart

namespace platform {
class PortalStarter;
} // namespace platform

// The main window. Its handlers are short: they drive the controls and call into chart/, marks/,
// settings/ and launch/, where the logic lives. Its state and controls are its own: the settings
// dialog asks for changes through MainWindowLink, and tests find the controls by their object
// names, which are the control names of the table.
//
// The window never waits: a display, a code search and a mark step are operations of chart/ that
// report through signals, and the window holds the one that runs. Input given during a display is
// held and handled once the display has ended; between two candidates of a search it is handled
// at once.
//
// The control names and the handler names (Command6_Click ...) follow the program's historic
// form; everything else (operations, accessors, m_ members) is ours.
//
// clang-format off
// | control          | caption                     | handler: what it does                          |
// |------------------|-----------------------------|------------------------------------------------|
// | Text1            | the code box ("4674")       | Text1_DblClick: display the code's charts      |
// | Command1         | 設定                        | Command1_Click: open the settings dialog       |
// | Command2         | クリップ読込                | Command2_Click: code from the clipboard        |
// | Command3         | クリップ書出                | Command3_Click: code box to the clipboard      |
// | Command4         | マーク設定                  | Command4_Click: add the shown code to the marks|
// | Command5         | マーク解除                  | Command5_Click: remove it from the marks       |
// | Command6         | 昇順検索                    | Command6_Click: search the next code upwards   |
// | Command7         | 降順検索                    | Command7_Click: search downwards               |
// | Command8         | マーク昇順検索              | Command8_Click: step forward through the marks |
// | Command9         | マーク降順検索              | Command9_Click: step back through the marks    |
// | Command10..14    | 株価：詳細情報, 企業情報,   | open the code's portal page in the browser     |
// |                  | ニュース, 掲示板, レポート  |                                                |
// | Command15        | サポートページを開く        | Command15_Click: the support page              |
// | Command16        | 電卓                        | Command16_Click: start a calculator            |
// | Command17        | ランキングMARKファイル作成  | Command17_Click: MAKEMARK.xls, else rankings   |
// | List1            | the mark list               | List1_DblClick: display the mark double-clicked|
// | Picture1_0..3    | the chart panes             | (shows the fetched charts)                     |
// | WebBrowser1      | the summary panel           | (shows the mobile summary page)                |
// | WebBrowser2 / 3  | detail pane, 2 / 4 panes    | (shows the detail page when 詳細情報 is on)    |
// clang-format on
//
// Keys, wherever the focus is in the window: PageDown / PageUp click 昇順検索 / 降順検索,
// Ctrl+PageDown / Ctrl+PageUp click マーク昇順検索 / マーク降順検索 (each only when its button is
// enabled), and Escape stops a running search where it is (stopSearch()).
class Form1 : public QWidget, public MainWindowLink {
    Q_OBJECT

public:
    explicit Form1(const ViewerContext& context = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // What the settings dialog asks for; each applies this window's own rules, the busy state
    // included (a search running keeps the search buttons locked).
    // Makes path the mark file in use with markLine as its marks: list, position 0, mark-search
    // buttons.
    void adoptMarkFile(const QString& path, const QString& markLine) override;
    // Back to the default mark file, read again, so the marks in memory are that file's own and
    // a later save cannot write another file's marks into it. Marks that could not be saved are
    // never read over: while their save still fails, their file stays in use, with them.
    void fallBackToDefaultMarkFile() override;
    // Two panes (first column only, narrow window) or four; the detail browser of the other
    // arrangement is hidden.
    void setFourPanes(bool fourPanes) override;
    // Hides both detail browsers (the detail page was switched off).
    void hideDetailBrowsers() override;

    QString defaultMarkFile() const override;
    settings::SettingsStore& store() override { return *m_store; }
    const ViewerContext::ChooseFile& chooseFile() const override { return m_context.chooseFile; }
    QWidget* mainWindow() override { return this; }
    const ViewerContext& context() const { return m_context; }
    const marks::CodeList& codeList() const { return m_codeList; }

    // What tests and the status of the window can read.
    const QString& markFileName() const { return G_strMARKFILENAME; }
    const QString& markLine() const { return G_strMARK; }
    int markPosition() const { return G_intMARK; }
    // The outcome of the last GRAF_DISP (transfers made, answered or not).
    const chart::RetrievalResult& lastDisplay() const { return m_lastDisplay; }
    // True while a search (code or mark stepping) runs.
    bool searching() const { return m_search != nullptr; }
    // The progress hint in the first pane while a search runs ("検索中 5123 … Escで中止"); empty
    // when none shows.
    QString searchHint() const;
    // True while a display runs: from the request until its panes, pages and mark buttons are
    // set, the showing of a search's winner included.
    bool displaying() const { return m_display != nullptr; }

    static constexpr int kFourPaneWidth = 1272; // client area, pixels
    static constexpr int kTwoPaneWidth = 751;
    static constexpr int kClientHeight = 578;

    // Closes the window as its close button does, but without asking anyone anything: the
    // program is ending on SIGTERM or SIGINT.
    void endOnSignal();

public Q_SLOTS:
    void Text1_DblClick();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();
    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void Command12_Click();
    void Command13_Click();
    void Command14_Click();
    void Command15_Click();
    void Command16_Click();
    void Command17_Click();
    void List1_DblClick();
    // Escape: a running code search or mark step stops where it is. The code box and the panes
    // stay as they are, the mark position goes back to the last mark shown, and the busy state
    // is left, with no message. Nothing happens when no search runs.
    void stopSearch();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What each pane shows, for 画像を保存… and 画像をコピー: the image at its full resolution,
    // the code and the term.
    struct PaneChart {
        QImage image;
        QString code;
        int term = -1;
    };

    void createControls();
    // The step keys and Escape, and the tooltips that name the keys.
    void createKeys();
    // Starts the quote-portal beside the program when the context asks for it and the chart
    // server is a loopback address nothing listens on.
    void startPortal();
    void Form_Load();
    void Form_Unload();
    void MARK_LOAD();

    // Shared procedures.
    void BUSY_IN();
    void BUSY_OUT();
    // A display of code: PicCLS, its charts, then the summary panel and the detail page; then
    // the window's own ending (ok: the charts were shown).
    void GRAF_DISP(const QString& code, std::function<void(bool ok)> then);
    void PicCLS();
    void MARK_SAVE();
    // The marks in memory are what their file holds: nothing to write.
    bool marksInTheirFile() const;
    // Tries the save again when marks are not yet in their file; true when none are left unsaved.
    bool saveUnsavedMarks();
    void MARK_LIST();
    void MARK_CHECK(const QString& code);
    // The code box's code for マーク設定 / マーク解除, when it is a whole code.
    std::optional<QString> codeBoxMark() const;
    // The marks after code was set or cleared: kept, saved, and the buttons updated.
    void markChanged(const QString& code, const QString& markLine);
    void IE_DISP(const QString& address);

    void setPaneArrangement(bool fourPanes);
    // Makes path the mark file in use and reads it again: marks, list, position 0 and the
    // mark-search buttons, so that memory and the file in use always agree.
    void reloadMarks(const QString& path);
    // The mark-search buttons follow the marks, and stay locked while the busy state holds.
    void enableMarkSearch();
    void setMarkCaption();         // "Quorvix Chart Viewer  - " + mark file
    void setMarkPositionCaption(); // the same + " - MARK No. " + position
    void codeStep(chart::StepDirection direction);
    void markStep(chart::StepDirection direction);
    void startSearch(std::unique_ptr<chart::SearchOperation> search);
    void searchEnded();
    // The hint for the candidate just judged, shown at most ten times a second.
    void candidateJudged(const QString& code);
    void showSearchHint();
    void hideSearchHint();
    // Ends the search: its message, if any, then the busy state lifted.
    void endSearch(const QString& message);
    // A search's winner, probed ahead: PicCLS, its charts written and shown, the rest of
    // GRAF_DISP, then its code in the code box and the mark buttons set for it.
    void showProbed(std::unique_ptr<chart::DisplayFetch> fetch, std::function<void()> then);
    // Runs the display, input held until it ends; then(ok) when it has.
    void runDisplay(std::unique_ptr<chart::DisplayOperation> display,
                    const chart::ChartOptions& options, std::function<void(bool)> then);
    // The display again, once the portal restarted: a new display, input still held.
    void retryDisplay(const QString& code, std::function<void(bool)> then);
    // Starts the portal again where the chart server is a loopback address the window manages;
    // false where it is not (the server lies elsewhere, or the window starts no portal).
    bool restartPortal();
    // Runs go now, or once the portal the window is starting has its outcome; dropped with the
    // operation.
    void whenPortalReady(QObject* operation, std::function<void()> go);
    // The chart in bytes, asked for at askedRatio, into the pane.
    void loadPicture(int pane, const QByteArray& bytes, double askedRatio);
    // The chart options a display or search starts with: the settings, and the window's device
    // pixel ratio now.
    chart::ChartOptions chartOptions() const;
    void showMessage(const QString& text);
    // A modal dialog between two candidates pauses the search, as a handler running inside it
    // would.
    void runModal(const std::function<void()>& dialog);
    void openPortalPage(launch::PortalPage page);
    // A right click on a chart pane: 画像を保存… and 画像をコピー, when it shows a chart.
    void showChartMenu(int pane, const QPoint& at);
    // The pane's chart as a PNG, under CODE_TERM_YYYYMMDD.png by default, the date that of its
    // last price as the summary pane tells it (today in Japan when it tells none).
    void saveChart(int pane);
    void saveChartAs(const PaneChart& chart, const QDate& lastPrice);
    void copyChart(int pane);

    // Window-level state. Whether the last GRAF_DISP fetched a chart (the historic G_bGETGIFERR)
    // is m_lastDisplay.failed.
    QString G_strMARK;
    int G_intMARK = 0;
    QString G_strMARKFILENAME;
    // The position of the last mark shown: where an Escape during a mark step leaves G_intMARK
    // (the step moves G_intMARK as it goes).
    int m_markShown = 0;

    // Controls, named as in the table above.
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command8 = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command10 = nullptr;
    QPushButton* Command11 = nullptr;
    QPushButton* Command12 = nullptr;
    QPushButton* Command13 = nullptr;
    QPushButton* Command14 = nullptr;
    QPushButton* Command15 = nullptr;
    QPushButton* Command16 = nullptr;
    QPushButton* Command17 = nullptr;
    QLineEdit* Text1 = nullptr;
    QListWidget* List1 = nullptr;
    std::array<QLabel*, 4> Picture1{};
    QWebEngineView* WebBrowser1 = nullptr;
    QWebEngineView* WebBrowser2 = nullptr;
    QWebEngineView* WebBrowser3 = nullptr;

    ViewerContext m_context;
    std::unique_ptr<settings::SettingsStore> m_store;
    platform::ServerConfig m_servers;
    platform::MultiTransfer m_transfer;
    chart::ChartRetrieval m_retrieval;
    marks::CodeList m_codeList;
    chart::RetrievalResult m_lastDisplay;
    // The operation that runs, if any: a search, and within it or alone, a display.
    std::unique_ptr<chart::SearchOperation> m_search;
    std::unique_ptr<chart::DisplayOperation> m_display;
    InputHold* m_input = nullptr;
    std::array<PaneChart, 4> m_paneCharts;
    QString m_chartFolder; // where the last chart was saved this session
    // The search's progress in the first pane, updated at most every kHintIntervalMs.
    static constexpr int kHintIntervalMs = 100;
    QLabel* m_searchHint = nullptr;
    QString m_hintText;
    QElapsedTimer m_hintShown;
    QTimer m_hintTimer;
    bool m_unloaded = false;
    bool m_endingOnSignal = false;
    std::unique_ptr<platform::PortalStarter> m_portal;
    // The marks in memory are not in their file: a save failed. The user hears of it once per
    // file and session, and again when the marks are about to be lost.
    bool m_marksUnsaved = false;
    QSet<QString> m_saveFailureTold;
    marks::SaveResult m_lastSaveFailure;
    // The marks as read from their file or last saved there: only marks that differ are written,
    // so a start and a close with no change leave the file as it was. nullopt: no file yet, one
    // is made at the next save.
    std::optional<QString> m_fileMarks;
};
