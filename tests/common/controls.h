#pragma once

// The windows' controls as tests reach them: found by object name, under the windows' own
// control names.

#include <QString>

#include <array>
#include <initializer_list>
#include <utility>

class Form1;
class Form2;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWebEngineView;
class QWidget;

namespace testing {

struct MainControls {
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
};

struct DialogControls {
    std::array<QRadioButton*, 2> Option1{};
    QPushButton* Command2 = nullptr;
    QGroupBox* Frame1 = nullptr;
    std::array<QCheckBox*, 8> Check1{};
    QGroupBox* Frame2 = nullptr;
    std::array<QLabel*, 3> Label1{};
    std::array<QCheckBox*, 13> Check2{};
    QPushButton* ToggleButton1 = nullptr;
    QGroupBox* Frame4 = nullptr;
    std::array<QCheckBox*, 9> Check4{};
};

// Every control is found (a missing name fails the test that uses it with a null pointer).
MainControls ui(const Form1& window);
DialogControls ui(const Form2& dialog);

// Which of the controls can be used, as one comparable text ("Text1:1 Command6:0 ..."), so that
// a failure prints every difference at once.
QString enabledStates(std::initializer_list<const QWidget*> controls);

// The states some controls have and the states a test wants for them, in that form.
struct StateCheck {
    QString actual, expected;
};
StateCheck enabledCheck(std::initializer_list<std::pair<const QWidget*, bool>> wanted);

} // namespace testing

// Compares whether controls can be used with what is wanted, all at once:
// QUORVIX_COMPARE_ENABLED({{ui.Text1, true}, {ui.Command8, marks}});
#define QUORVIX_COMPARE_ENABLED(...)                                                               \
    do {                                                                                           \
        const testing::StateCheck check_ = testing::enabledCheck(__VA_ARGS__);                     \
        QCOMPARE(check_.actual, check_.expected);                                                  \
    } while (false)

namespace testing {} // namespace testing
