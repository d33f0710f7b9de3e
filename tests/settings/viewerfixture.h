#pragma once

// The pieces the settings-dialog tests share: a real main window in a temporary program folder:
// boxes as "1"/"0" strings, the stored SETUP values, a way to act on the dialog once the settings
// button has opened it.

#include "mainwin/form1.h"
#include "mainwin/form2.h"
#include "mainwin/viewercontext.h"
#include "settings/settingsstore.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTimer>

#include <array>
#include <memory>

namespace fixture {

using Values = QMap<QString, QString>; // SETUP key -> stored text

// The whole main window in a temporary program folder (see testing::ProgramFolder), on the
// given SETUP values; no portal runs, so nothing is displayed.
struct Viewer {
    testing::ProgramFolder folder{testing::deadBase()};
    std::unique_ptr<Form1> w;

    // Stores the given SETUP values, then builds the main window on them.
    explicit Viewer(const Values& setup = {}, ViewerContext::ChooseFile choose = {}) {
        for (auto it = setup.cbegin(); it != setup.cend(); ++it)
            folder.setSetting(QStringLiteral("SETUP"), it.key(), it.value());
        ViewerContext ctx = folder.context();
        ctx.chooseFile = std::move(choose);
        w = std::make_unique<Form1>(ctx);
    }

    // What the settings file holds now, read as a later run of the program would.
    Values storedSetup() const {
        QSettings raw(folder.settingsFile(), QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("SETUP"));
        Values v;
        for (const QString& key : raw.childKeys())
            v.insert(key, raw.value(key).toString());
        return v;
    }
};

// Check marks of a row of boxes as a string of "1" and "0", box 0 first.
template <std::size_t N> QString marks(const std::array<QCheckBox*, N>& boxes) {
    QString s;
    for (const QCheckBox* b : boxes)
        s += b->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

template <std::size_t N> int enabledCount(const std::array<QCheckBox*, N>& boxes) {
    int n = 0;
    for (const QCheckBox* b : boxes)
        n += b->isEnabled() ? 1 : 0;
    return n;
}

inline const QStringList& termKeys() {
    static const QStringList k{"TERM1d", "TERM3m", "TERM6m", "TERM1y",
                               "TERM2y", "TERM5y", "TERMay", "TERMIF"};
    return k;
}

inline const QStringList& averageKeys() {
    static const QStringList k{"AV25d",  "AV75d",  "AV13w",  "AV26w", "AV52w", "EAV25d", "EAV75d",
                               "EAV13w", "EAV26w", "EAV52w", "ITEM1", "ITEM2", "ITEM3"};
    return k;
}

// SETUP values for a row of boxes given as a "1"/"0" string.
inline Values flags(const QStringList& keys, const QString& bits) {
    Values v;
    for (int i = 0; i < keys.size(); ++i)
        v.insert(keys[i], QString(bits.at(i)));
    return v;
}

inline Values merged(Values a, const Values& b) {
    for (auto it = b.cbegin(); it != b.cend(); ++it)
        a.insert(it.key(), it.value());
    return a;
}

// The values a dialog showing these states writes on closing.
inline Values written(bool fourPanes, const QString& terms, const QString& averages, bool normal) {
    Values v = merged(flags(termKeys(), terms), flags(averageKeys(), averages));
    v.insert(QStringLiteral("GRAF"), fourPanes ? QStringLiteral("True") : QStringLiteral("False"));
    v.insert(QStringLiteral("NORMAL"), normal ? QStringLiteral("True") : QStringLiteral("False"));
    return v;
}

// Acts once on the settings dialog as soon as it is open (shown modally by the settings button),
// as a user would.
class WhenDialogOpen : public QObject {
public:
    explicit WhenDialogOpen(std::function<void(Form2*)> act)
        : m_act(std::move(act)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }
    bool done() const { return m_done; }

private:
    void poll() {
        auto* dialog = qobject_cast<Form2*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        m_timer.stop();
        m_done = true;
        m_act(dialog);
    }
    std::function<void(Form2*)> m_act;
    QTimer m_timer;
    bool m_done = false;
};

} // namespace fixture
