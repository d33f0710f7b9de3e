// One reader per kind for the whole program: a stored text that does not parse in its key's
// kind reads as the key's default wherever it is read, by the chart display, the main window and
// the settings dialog alike. Texts that do parse keep their meaning (a flag counts as on only at
// 1; a switch is true for any number but 0).

#include "chart/composition.h"
#include "controls.h"
#include "table.h"
#include "viewerfixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <algorithm>

using settings::Key;
using settings::Kind;

namespace {

// What the readers of a kind make of the garbage texts, "" where that is the key's default.
struct Reading {
    const char* stored;
    const char* flag;
    const char* switchValue;
    const char* position;
};
constexpr Reading kReadings[] = {
    {"x", "", "", ""},
    {"", "", "", ""},
    {"2", "2", "true", "2"},
    {"-1", "-1", "true", "-1"},
    {"99999", "", "true", "99999"}, // beyond 16 bits: no flag
};

QString defaultReading(const settings::KeyInfo& info) {
    const QString text = QString::fromLatin1(info.defaultText);
    if (info.kind == Kind::Switch)
        return text == QLatin1String("True") ? QStringLiteral("true") : QStringLiteral("false");
    return text;
}

template <std::size_t N> int indexIn(const std::array<Key, N>& keys, Key key) {
    const auto it = std::find(keys.begin(), keys.end(), key);
    return it == keys.end() ? -1 : int(it - keys.begin());
}

} // namespace

class TestReaders : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void garbageReadsAlike_data() {
        // read: as "true"/"false", a number, or the text
        testing::columns<int, QString, QString>({"key", "stored", "read"});

        for (const settings::KeyInfo& info : settings::catalogue()) {
            for (const Reading& r : kReadings) {
                QString read;
                switch (info.kind) {
                case Kind::Flag:
                    read = QString::fromLatin1(r.flag);
                    break;
                case Kind::Switch:
                    read = QString::fromLatin1(r.switchValue);
                    break;
                case Kind::Position:
                    read = QString::fromLatin1(r.position);
                    break;
                case Kind::Text:
                    read = QString::fromLatin1(r.stored); // text is used as stored
                    break;
                }
                if (read.isEmpty() && info.kind != Kind::Text)
                    read = defaultReading(info);
                QTest::addRow("%s=\"%s\"", info.key, r.stored)
                    << int(info.id) << QString::fromLatin1(r.stored) << read;
            }
        }
    }

    void garbageReadsAlike() {
        QFETCH(int, key);
        QFETCH(QString, stored);
        QFETCH(QString, read);
        const Key k = Key(key);
        const settings::KeyInfo& info = settings::info(k);

        testing::ProgramFolder folder(testing::deadBase());
        // The other boxes of the key's group off, so that the dialog's limits leave the key's box
        // as it was read.
        const auto allOff = [&folder](const auto& keys) {
            for (Key other : keys)
                folder.setSetting(QStringLiteral("SETUP"), QLatin1String(settings::info(other).key),
                                  QStringLiteral("0"));
        };
        if (indexIn(settings::kTermKeys, k) >= 0)
            allOff(settings::kTermKeys);
        if (indexIn(settings::kAverageKeys, k) >= 0)
            allOff(settings::kAverageKeys);
        folder.setSetting(QLatin1String(info.section), QLatin1String(info.key), stored);

        // The store's own reader.
        settings::SettingsStore store(folder.settingsFile());
        switch (info.kind) {
        case Kind::Flag:
            QCOMPARE(QString::number(store.readFlag(k)), read);
            break;
        case Kind::Switch:
            QCOMPARE(store.readSwitch(k) ? QStringLiteral("true") : QStringLiteral("false"), read);
            break;
        case Kind::Position:
            QCOMPARE(QString::number(store.readPosition(k)), read);
            break;
        case Kind::Text:
            QCOMPARE(store.readText(k), read);
            break;
        }

        // The chart display.
        const chart::ChartOptions options = chart::ChartOptions::read(store);
        const bool on = read == QLatin1String("1") || read == QLatin1String("true");
        if (k == Key::GRAF)
            QCOMPARE(options.fourPanes, on);
        if (k == Key::NORMAL)
            QCOMPARE(options.normal, on);
        if (k == Key::TERMIF)
            QCOMPARE(options.detail, on);
        for (std::size_t i = 0; i < chart::terms().size(); ++i) {
            if (chart::terms()[i].key == k)
                QCOMPARE(options.terms[i], on);
        }
        for (std::size_t i = 0; i < chart::overlays().size(); ++i) {
            if (chart::overlays()[i].key == k)
                QCOMPARE(options.overlays[i], on);
        }

        // The main window.
        auto window = folder.openWindow();
        if (k == Key::GRAF)
            QCOMPARE(window->width(), on ? Form1::kFourPaneWidth : Form1::kTwoPaneWidth);
        if (k == Key::LASTCODE)
            QCOMPARE(testing::ui(*window).Text1->text(), read);
        if (info.kind == Kind::Position) {
            // Negative positions count as 0; the far ones are off every screen and fall back to
            // the screen's corner.
            QCOMPARE(window->pos(), QPoint(0, 0));
        }

        // The settings dialog.
        Form2 dialog(*window);
        const testing::DialogControls ui = testing::ui(dialog);
        if (k == Key::GRAF)
            QCOMPARE(ui.Option1[1]->isChecked(), on);
        if (k == Key::NORMAL)
            QCOMPARE(ui.ToggleButton1->isChecked(), on);
        if (const int t = indexIn(settings::kTermKeys, k); t >= 0)
            QCOMPARE(ui.Check1[t]->isChecked(), on);
        if (const int a = indexIn(settings::kAverageKeys, k); a >= 0)
            QCOMPARE(ui.Check2[a]->isChecked(), on);
    }
};

QUORVIX_WINDOW_TEST_MAIN(TestReaders)
#include "tst_readers.moc"
