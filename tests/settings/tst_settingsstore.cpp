// The settings store: the catalogue's keys and defaults, the parse rules of each kind, and
// persistence across store instances on the same file.

#include "files.h"
#include "settings/settingsstore.h"
#include "table.h"

#include <QFile>
#include <QSettings>
#include <QtTest>

#include <optional>

using settings::Key;
using settings::Kind;
using settings::SettingsStore;

namespace {

// What a reader of the given kind makes of a key's text, as a comparable string: "true"/"false"
// for switches, the decimal number for flags and positions, the text itself for text.
QString readAs(SettingsStore& store, Key key, Kind kind) {
    switch (kind) {
    case Kind::Switch:
        return store.readSwitch(key) ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::Flag:
        return QString::number(store.readFlag(key));
    case Kind::Position:
        return QString::number(store.readPosition(key));
    case Kind::Text:
        return store.readText(key);
    }
    return {};
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.renew()); }

    void emptyStoreGivesDefaults_data() {
        // read: what the typed reader returns on an empty store
        testing::columns<QString, QString, int, QString, QString>(
            {"section", "key", "kind", "defaultText", "read"});

        const auto row = [](const char* section, const char* key, Kind kind, const char* text,
                            const char* read) {
            QTest::newRow(key) << QString::fromLatin1(section) << QString::fromLatin1(key)
                               << static_cast<int>(kind) << QString::fromUtf8(text)
                               << QString::fromUtf8(read);
        };
        row("STARTUP", "FORM_LEFT", Kind::Position, "0", "0");
        row("STARTUP", "FORM_TOP", Kind::Position, "0", "0");
        row("SETUP", "GRAF", Kind::Switch, "True", "true");
        row("SETUP", "LASTCODE", Kind::Text, "4674", "4674");
        row("SETUP", "TERM1d", Kind::Flag, "1", "1");
        row("SETUP", "TERM3m", Kind::Flag, "1", "1");
        row("SETUP", "TERM6m", Kind::Flag, "1", "1");
        row("SETUP", "TERM1y", Kind::Flag, "1", "1");
        row("SETUP", "TERM2y", Kind::Flag, "0", "0");
        row("SETUP", "TERM5y", Kind::Flag, "0", "0");
        row("SETUP", "TERMay", Kind::Flag, "0", "0");
        row("SETUP", "TERMIF", Kind::Flag, "0", "0");
        row("SETUP", "AV25d", Kind::Flag, "1", "1");
        row("SETUP", "AV75d", Kind::Flag, "1", "1");
        row("SETUP", "AV13w", Kind::Flag, "0", "0");
        row("SETUP", "AV26w", Kind::Flag, "0", "0");
        row("SETUP", "AV52w", Kind::Flag, "0", "0");
        row("SETUP", "EAV25d", Kind::Flag, "1", "1");
        row("SETUP", "EAV75d", Kind::Flag, "1", "1");
        row("SETUP", "EAV13w", Kind::Flag, "0", "0");
        row("SETUP", "EAV26w", Kind::Flag, "0", "0");
        row("SETUP", "EAV52w", Kind::Flag, "0", "0");
        row("SETUP", "ITEM1", Kind::Flag, "0", "0");
        row("SETUP", "ITEM2", Kind::Flag, "0", "0");
        row("SETUP", "ITEM3", Kind::Flag, "0", "0");
        row("SETUP", "NORMAL", Kind::Switch, "True", "true");
    }

    void emptyStoreGivesDefaults() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(int, kind);
        QFETCH(QString, defaultText);
        QFETCH(QString, read);

        const std::optional<Key> found = settings::findKey(key);
        QVERIFY(found);
        const settings::KeyInfo* info = &settings::info(*found);
        QCOMPARE(QString::fromLatin1(info->section), section);
        QCOMPARE(static_cast<int>(info->kind), kind);

        SettingsStore store(m_dir.filePath(QStringLiteral("settings.ini")));
        QCOMPARE(store.readText(*found), defaultText);
        QCOMPARE(readAs(store, *found, static_cast<Kind>(kind)), read);
        // Reading never writes: the empty store stays empty.
        store.sync();
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("settings.ini"))) ||
                QFile(m_dir.filePath(QStringLiteral("settings.ini"))).size() == 0);
    }

    void catalogueHoldsExactlyTheKeys() {
        // Every key once, and the names compared exactly (letter case included).
        QSet<QString> names;
        for (const settings::KeyInfo& k : settings::catalogue()) {
            names.insert(QString::fromLatin1(k.key));
            // The catalogue is indexed by the enumeration.
            QCOMPARE(&settings::info(k.id), &k);
        }
        QCOMPARE(names.size(), 26);
        QVERIFY(!settings::findKey(QStringLiteral("graf")));
        QVERIFY(!settings::findKey(QStringLiteral("MARKFILE")));
    }

    void storedTextIsParsed_data() {
        testing::columns<QString, QString, QString>({"key", "stored", "read"});

        // Switches: the truth words as written, numbers (0 false, others true), and text that is
        // neither, which gives the key's default (GRAF: True, NORMAL: True).
        QTest::newRow("switch True") << "GRAF"
                                     << "True"
                                     << "true";
        QTest::newRow("switch False") << "GRAF"
                                      << "False"
                                      << "false";
        QTest::newRow("switch true") << "GRAF"
                                     << "true"
                                     << "true";
        QTest::newRow("switch 0") << "GRAF"
                                  << "0"
                                  << "false";
        QTest::newRow("switch 1") << "GRAF"
                                  << "1"
                                  << "true";
        QTest::newRow("switch 2") << "NORMAL"
                                  << "2"
                                  << "true";
        QTest::newRow("switch abc") << "GRAF"
                                    << "abc"
                                    << "true";
        QTest::newRow("switch empty") << "NORMAL"
                                      << ""
                                      << "true";
        // Flags: signed 16-bit whole numbers; outside that range or not a number: the default.
        QTest::newRow("flag 1") << "TERM2y"
                                << "1"
                                << "1";
        QTest::newRow("flag 2") << "TERM2y"
                                << "2"
                                << "2";
        QTest::newRow("flag -1") << "TERM2y"
                                 << "-1"
                                 << "-1";
        QTest::newRow("flag 32767") << "TERM2y"
                                    << "32767"
                                    << "32767";
        QTest::newRow("flag 32768, default 0") << "TERM2y"
                                               << "32768"
                                               << "0";
        QTest::newRow("flag 32768, default 1") << "TERM1d"
                                               << "32768"
                                               << "1";
        QTest::newRow("flag -32769") << "AV13w"
                                     << "-32769"
                                     << "0";
        QTest::newRow("flag abc, default 1") << "AV25d"
                                             << "abc"
                                             << "1";
        QTest::newRow("flag abc, default 0") << "ITEM1"
                                             << "abc"
                                             << "0";
        QTest::newRow("flag 1.5") << "ITEM2"
                                  << "1.5"
                                  << "0";
        QTest::newRow("flag blanks around") << "ITEM3"
                                            << " 1 "
                                            << "1";
        // Positions: signed 32-bit whole numbers; anything else gives 0.
        QTest::newRow("position 45000") << "FORM_LEFT"
                                        << "45000"
                                        << "45000";
        QTest::newRow("position -48000") << "FORM_TOP"
                                         << "-48000"
                                         << "-48000";
        QTest::newRow("position 2147483647") << "FORM_LEFT"
                                             << "2147483647"
                                             << "2147483647";
        QTest::newRow("position 2147483648") << "FORM_LEFT"
                                             << "2147483648"
                                             << "0";
        QTest::newRow("position abc") << "FORM_TOP"
                                      << "abc"
                                      << "0";
        // Text is used as stored, without any test.
        QTest::newRow("text not a code") << "LASTCODE"
                                         << "ab 12"
                                         << "ab 12";
        QTest::newRow("text with comma") << "LASTCODE"
                                         << "12,34"
                                         << "12,34";
        QTest::newRow("text empty") << "LASTCODE"
                                    << ""
                                    << "";
    }

    void storedTextIsParsed() {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, read);

        const QString path = m_dir.filePath(QStringLiteral("settings.ini"));
        const std::optional<Key> found = settings::findKey(key);
        QVERIFY(found);
        const settings::KeyInfo* info = &settings::info(*found);
        {
            SettingsStore writer(path);
            writer.SaveSetting(QString::fromLatin1(info->section), key, stored);
        }
        // A new store on the same file: what a later run of the program sees.
        SettingsStore reader(path);
        QCOMPARE(reader.readText(*found), stored);
        QCOMPARE(readAs(reader, *found, info->kind), read);
    }

    void handWrittenFileIsRead() {
        // A file edited by hand, with texts the program itself never writes.
        const QString path = m_dir.filePath(QStringLiteral("settings.ini"));
        QVERIFY(testing::writeBytes(
            path, "[STARTUP]\nFORM_LEFT=abc\nFORM_TOP=1200\n"
                  "[SETUP]\nGRAF=0\nTERM1d=x\nTERM2y=1\nNORMAL=False\nLASTCODE=9999\n"));
        SettingsStore store(path);
        QCOMPARE(store.readPosition(Key::FORM_LEFT), 0);
        QCOMPARE(store.readPosition(Key::FORM_TOP), 1200);
        QCOMPARE(store.readSwitch(Key::GRAF), false);
        QCOMPARE(store.readFlag(Key::TERM1d), qint16(1));
        QCOMPARE(store.readFlag(Key::TERM2y), qint16(1));
        QCOMPARE(store.readFlag(Key::TERM3m), qint16(1));
        QCOMPARE(store.readSwitch(Key::NORMAL), false);
        QCOMPARE(store.readText(Key::LASTCODE), QStringLiteral("9999"));
    }

    void valuesSurviveANewStore() {
        const QString path = m_dir.filePath(QStringLiteral("settings.ini"));
        {
            SettingsStore store(path);
            store.SaveSetting(QStringLiteral("SETUP"), QStringLiteral("GRAF"),
                              QStringLiteral("True"));
            store.SaveSetting(QStringLiteral("SETUP"), QStringLiteral("GRAF"),
                              settings::switchText(false)); // replaces the earlier value
            store.SaveSetting(QStringLiteral("SETUP"), QStringLiteral("TERMIF"),
                              settings::flagText(true));
            store.SaveSetting(QStringLiteral("STARTUP"), QStringLiteral("FORM_LEFT"),
                              QStringLiteral("1200"));
            store.SaveSetting(QStringLiteral("SETUP"), QStringLiteral("LASTCODE"),
                              QStringLiteral("７２０３"));
        }
        SettingsStore again(path);
        QCOMPARE(
            again.GetSetting(QStringLiteral("SETUP"), QStringLiteral("GRAF"), QStringLiteral("x")),
            QStringLiteral("False"));
        QCOMPARE(again.readFlag(Key::TERMIF), qint16(1));
        QCOMPARE(again.readPosition(Key::FORM_LEFT), 1200);
        QCOMPARE(again.readText(Key::LASTCODE), QStringLiteral("７２０３"));
        // The sections are the groups of the file, as another tool reading the INI file sees them.
        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("SETUP/GRAF")).toString(), QStringLiteral("False"));
        QCOMPARE(raw.value(QStringLiteral("SETUP/TERMIF")).toString(), QStringLiteral("1"));
        QCOMPARE(raw.value(QStringLiteral("STARTUP/FORM_LEFT")).toString(), QStringLiteral("1200"));
        // A key is addressed by its section: the same name elsewhere is another entry.
        QCOMPARE(again.GetSetting(QStringLiteral("STARTUP"), QStringLiteral("GRAF"),
                                  QStringLiteral("none")),
                 QStringLiteral("none"));
    }

    void missingEntryGivesTheDefaultHandedIn() {
        SettingsStore store(m_dir.filePath(QStringLiteral("nothing-here.ini")));
        QCOMPARE(store.GetSetting(QStringLiteral("SETUP"), QStringLiteral("TERM1d"),
                                  QStringLiteral("1")),
                 QStringLiteral("1"));
        QCOMPARE(store.GetSetting(QStringLiteral("NOSECTION"), QStringLiteral("NOKEY"),
                                  QStringLiteral("dflt")),
                 QStringLiteral("dflt"));
    }

    void userStoreIsNamedAfterTheApplication() {
        QStandardPaths::setTestModeEnabled(true);
        SettingsStore store;
        QVERIFY2(store.fileName().endsWith(QStringLiteral("/ZELK/ZELK.ini")),
                 qPrintable(store.fileName()));
    }

private:
    testing::FreshFolder m_dir;
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
