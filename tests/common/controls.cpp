#include "controls.h"

#include "mainwin/form1.h"
#include "mainwin/form2.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QWebEngineView>

namespace testing {

namespace {

template <typename T> T* find(const QObject& parent, const QString& name) {
    return parent.findChild<T*>(name);
}

template <typename T, std::size_t N>
void findArray(const QObject& parent, const char* name, std::array<T*, N>& out) {
    for (std::size_t i = 0; i < N; ++i)
        out[i] = find<T>(parent, QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i));
}

} // namespace

MainControls ui(const Form1& w) {
    MainControls c;
    std::array<QPushButton**, 17> commands{
        &c.Command1,  &c.Command2,  &c.Command3,  &c.Command4,  &c.Command5,  &c.Command6,
        &c.Command7,  &c.Command8,  &c.Command9,  &c.Command10, &c.Command11, &c.Command12,
        &c.Command13, &c.Command14, &c.Command15, &c.Command16, &c.Command17};
    for (std::size_t i = 0; i < commands.size(); ++i)
        *commands[i] = find<QPushButton>(w, QStringLiteral("Command%1").arg(i + 1));
    c.Text1 = find<QLineEdit>(w, QStringLiteral("Text1"));
    c.List1 = find<QListWidget>(w, QStringLiteral("List1"));
    findArray(w, "Picture1", c.Picture1);
    c.WebBrowser1 = find<QWebEngineView>(w, QStringLiteral("WebBrowser1"));
    c.WebBrowser2 = find<QWebEngineView>(w, QStringLiteral("WebBrowser2"));
    c.WebBrowser3 = find<QWebEngineView>(w, QStringLiteral("WebBrowser3"));
    return c;
}

namespace {

QString stateText(const QString& name, bool enabled) {
    return name + (enabled ? QLatin1String(":1") : QLatin1String(":0"));
}

} // namespace

QString enabledStates(std::initializer_list<const QWidget*> controls) {
    QStringList parts;
    for (const QWidget* c : controls)
        parts << stateText(c->objectName(), c->isEnabled());
    return parts.join(QLatin1Char(' '));
}

StateCheck enabledCheck(const QWidget& window,
                        std::initializer_list<std::pair<const char*, bool>> wanted) {
    StateCheck check;
    QStringList actual, expected;
    for (const auto& [name, enabled] : wanted) {
        const QString objectName = QString::fromLatin1(name);
        const auto* control = window.findChild<const QWidget*>(objectName);
        actual << (control ? stateText(objectName, control->isEnabled())
                           : objectName + QLatin1String(":missing"));
        expected << stateText(objectName, enabled);
    }
    check.actual = actual.join(QLatin1Char(' '));
    check.expected = expected.join(QLatin1Char(' '));
    return check;
}

DialogControls ui(const Form2& d) {
    DialogControls c;
    findArray(d, "Option1", c.Option1);
    c.Command2 = find<QPushButton>(d, QStringLiteral("Command2"));
    c.Frame1 = find<QGroupBox>(d, QStringLiteral("Frame1"));
    findArray(d, "Check1", c.Check1);
    c.Frame2 = find<QGroupBox>(d, QStringLiteral("Frame2"));
    findArray(d, "Label1", c.Label1);
    findArray(d, "Check2", c.Check2);
    c.ToggleButton1 = find<QPushButton>(d, QStringLiteral("ToggleButton1"));
    c.Frame4 = find<QGroupBox>(d, QStringLiteral("Frame4"));
    findArray(d, "Check4", c.Check4);
    return c;
}

} // namespace testing
