#pragma once

#include <QDialog>

#include <array>

class Form1;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The settings dialog. It fills its controls from the store when it is built, keeps the choices
// within what the main window can show while it is open (acting on the main window's panes at
// once), and writes every option back when it closes, however it is closed. The mark-file button
// replaces the main window's watch list.
class Form2 : public QDialog {
    Q_OBJECT

public:
    // parent defaults to the main window, so the dialog always stays on top of it and out of
    // the task bar.
    explicit Form2(Form1& main, QWidget* parent = nullptr);
    ~Form2() override;

    std::array<QRadioButton*, 2> Option1{}; // ２グラフ画面, ４グラフ画面
    QPushButton* Command2 = nullptr;        // MARKファイル切替
    QGroupBox* Frame1 = nullptr;            // terms
    std::array<QCheckBox*, 8> Check1{};
    QGroupBox* Frame2 = nullptr; // averages and overlays
    std::array<QLabel*, 3> Label1{};
    std::array<QCheckBox*, 13> Check2{};
    QPushButton* ToggleButton1 = nullptr; // 標準パラメータで表示させる (checkable)
    QGroupBox* Frame4 = nullptr;          // additional indicators, display only
    std::array<QCheckBox*, 9> Check4{};

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
    void markFileFallback();

    Form1& m_main;
    bool m_unloaded = false;
};
