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

// The controls under the windows' names (see form1.h and form2.h for what each one is).
struct MainControls {
    QPushButton *Command1{}, *Command2{}, *Command3{}, *Command4{}, *Command5{}, *Command6{},
        *Command7{}, *Command8{}, *Command9{}, *Command10{}, *Command11{}, *Command12{},
        *Command13{}, *Command14{}, *Command15{}, *Command16{}, *Command17{};
    QLineEdit* Text1{};
    QListWidget* List1{};
    std::array<QLabel*, 4> Picture1{};
    QWebEngineView *WebBrowser1{}, *WebBrowser2{}, *WebBrowser3{};
};

struct DialogControls {
    std::array<QRadioButton*, 2> Option1{};
    QPushButton *Command2{}, *ToggleButton1{};
    QGroupBox *Frame1{}, *Frame2{}, *Frame4{};
    std::array<QLabel*, 3> Label1{};
    std::array<QCheckBox*, 8> Check1{};
    std::array<QCheckBox*, 13> Check2{};
    std::array<QCheckBox*, 9> Check4{};
};

// Every control is found (a missing name fails the test that uses it with a null pointer).
MainControls ui(const Form1& window);
DialogControls ui(const Form2& dialog);

// Which of the controls can be used, as one comparable text ("Text1:1 Command6:0 ..."), so that
// a failure prints every difference at once.
QString enabledStates(std::initializer_list<const QWidget*> controls);

// The states some controls of a window have and the states a test wants for them, in that form;
// a control the window lacks reads "NAME:missing".
struct StateCheck {
    QString actual, expected;
};
StateCheck enabledCheck(const QWidget& window,
                        std::initializer_list<std::pair<const char*, bool>> wanted);

} // namespace testing

// Compares whether a window's controls can be used with what is wanted, all at once, the
// controls named as in the window: QUORVIX_COMPARE_ENABLED(*window, {{"Text1", true},
// {"Command8", marks}});
#define QUORVIX_COMPARE_ENABLED(window, ...)                                                       \
    do {                                                                                           \
        const testing::StateCheck check_ = testing::enabledCheck(window, __VA_ARGS__);             \
        QCOMPARE(check_.actual, check_.expected);                                                  \
    } while (false)
