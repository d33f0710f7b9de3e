#pragma once

#include "chart/chartretrieval.h"
#include "chart/securitycode.h"
#include "launch/portalpages.h"
#include "mainwin/viewercontext.h"
#include "marks/codelist.h"
#include "platform/serverconfig.h"
#include "platform/transfer.h"
#include "settings/settingsstore.h"

#include <QWidget>

#include <array>
#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWebEngineView;

// The main window. Its handlers are short: they drive the controls and call into chart/, marks/,
// settings/ and launch/, where the logic lives.
class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(const ViewerContext& context = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // Window-level state shared with the settings dialog.
    bool G_bGETGIFERR = false;
    QString G_strMARK;
    int G_intMARK = 0;
    QString G_strMARKFILENAME;

    // Controls.
    QPushButton* Command1 = nullptr; // 設定
    QPushButton* Command2 = nullptr; // クリップ読込
    QPushButton* Command3 = nullptr; // クリップ書出
    QPushButton* Command4 = nullptr; // マーク設定
    QPushButton* Command5 = nullptr; // マーク解除
    QPushButton* Command6 = nullptr; // 昇順検索
    QPushButton* Command7 = nullptr; // 降順検索
    QPushButton* Command8 = nullptr; // マーク昇順検索
    QPushButton* Command9 = nullptr; // マーク降順検索
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

    // Shared procedures.
    void BUSY_IN();
    void BUSY_OUT();
    void GRAF_DISP(const QString& code);
    void PicCLS();
    void MARK_SAVE();
    void MARK_LIST();
    void MARK_CHECK(const QString& code);
    void IE_DISP(const QString& address);

    // Two panes (first column only, narrow window) or four.
    void setPaneArrangement(bool fourPanes);
    // Makes path the mark file in use and reads it again: marks, list, position 0 and the
    // mark-search buttons, so that memory and the file in use always agree.
    void reloadMarks(const QString& path);
    void setMarkCaption();         // "Quorvix Chart Viewer  - " + mark file
    void setMarkPositionCaption(); // the same + " - MARK No. " + position
    QString defaultMarkFile() const;

    const ViewerContext& context() const { return m_context; }
    settings::SettingsStore& store() { return *m_store; }
    const marks::CodeList& codeList() const { return m_codeList; }
    // The outcome of the last GRAF_DISP (transfers made, answered or not).
    const chart::RetrievalResult& lastDisplay() const { return m_lastDisplay; }
    // True while a search (code or mark stepping) runs.
    bool searching() const { return m_searching; }

    static constexpr int kFourPaneWidth = 1272; // client area, pixels
    static constexpr int kTwoPaneWidth = 751;
    static constexpr int kClientHeight = 578;

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

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void Form_Load();
    void Form_Unload();
    void MARK_LOAD();
    void codeStep(chart::StepDirection direction);
    void markStep(bool forward);
    bool tryDisplay(const QString& code);
    void loadPicture(int pane, const QString& path);
    void showMessage(const QString& text);
    void openPortalPage(launch::PortalPage page);

    ViewerContext m_context;
    std::unique_ptr<settings::SettingsStore> m_store;
    platform::ServerConfig m_servers;
    platform::Transfer m_transfer;
    chart::ChartRetrieval m_retrieval;
    marks::CodeList m_codeList;
    chart::RetrievalResult m_lastDisplay;
    bool m_searching = false;
    bool m_busy = false;
    bool m_closing = false;
    bool m_unloaded = false;
};
