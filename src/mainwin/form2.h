#pragma once

#include <QDialog>

#include <array>

class MainWindowLink;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The settings dialog. It fills its controls from the store when it is built, keeps the choices
// within what the main window can show while it is open (asking the main window to change its
// panes at once), and writes every option back when it closes, however it is closed. The
// mark-file button asks the main window to adopt another mark file. Tests find the controls by
// their object names: the control names of the table, with "_index" for the members of an array
// ("Check1_0").
//
// The control names and the handler names follow the program's historic form; everything else
// is ours.
//
// clang-format off
// | control          | caption                               | handler: what it does             |
// |------------------|---------------------------------------|-----------------------------------|
// | Option1(0), (1)  | ２グラフ画面, ４グラフ画面            | Option1_Click: panes of the main  |
// |                  |                                       | window; trims the terms to fit    |
// | Command2         | MARKファイル切替                      | Command2_Click: choose a mark file|
// | Frame1           | 期間 （最大選択可能数は４件です。）   |                                   |
// | Check1(0..7)     | １日 ... １０年, 詳細情報 (TERM1d ..  | Check1_Click: at most as many     |
// |                  | TERMIF)                               | terms as panes                    |
// | Frame2           | チャート・パラメータ （最大選択...）  |                                   |
// | Label1(0..2)     | 移動平均, 平滑移動平均, 上書指標      |                                   |
// | Check2(0..12)    | ２５日 ... ５２週 twice, ボリンジャー | Check2_Click: at most four        |
// |                  | バンド, パラボリック SAR, 出来高      | averages and overlays             |
// | ToggleButton1    | 標準パラメータで表示させる            | ToggleButton1_Change: pressed     |
// |                  |                                       | locks the Check2 boxes            |
// | Frame4           | 追加指標 （このバージョンでは...）    |                                   |
// | Check4(0..8)     | MACD ... W%R                          | (display only, never enabled)     |
// clang-format on
class Form2 : public QDialog {
    Q_OBJECT

public:
    // parent defaults to the main window, so the dialog always stays on top of it and out of
    // the task bar.
    explicit Form2(MainWindowLink& main, QWidget* parent = nullptr);
    ~Form2() override;

    static constexpr int kClientWidth = 599;
    static constexpr int kClientHeight = 335;

public Q_SLOTS:
    void Option1_Click();
    void Check1_Click(int index);
    void Check2_Click(int index);
    void ToggleButton1_Change();
    void Command2_Click();

    // Every way of closing (close button, Escape, close(), accept/reject) ends here.
    void done(int result) override;

private:
    void createControls();
    void setTabOrder();
    void Form_Load();
    void Form_Unload();

    std::array<QRadioButton*, 2> Option1{};
    QPushButton* Command2 = nullptr;
    QGroupBox* Frame1 = nullptr;
    std::array<QCheckBox*, 8> Check1{};
    QGroupBox* Frame2 = nullptr;
    std::array<QLabel*, 3> Label1{};
    std::array<QCheckBox*, 13> Check2{};
    QPushButton* ToggleButton1 = nullptr; // checkable
    QGroupBox* Frame4 = nullptr;
    std::array<QCheckBox*, 9> Check4{};

    MainWindowLink& m_main;
    bool m_unloaded = false;
};
