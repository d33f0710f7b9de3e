#pragma once

#include <QString>

#include <array>
#include <memory>
#include <optional>

class QSettings;

namespace settings {

// How a key's text is read back.
enum class Kind { Position, Switch, Flag, Text };

// Every key the program stores, named as it is stored, in catalogue order. Reading and writing
// take this enumeration, so a key outside the catalogue does not compile.
enum class Key {
    FORM_LEFT,
    FORM_TOP,
    GRAF,
    LASTCODE,
    TERM1d,
    TERM3m,
    TERM6m,
    TERM1y,
    TERM2y,
    TERM5y,
    TERMay,
    TERMIF,
    AV25d,
    AV75d,
    AV13w,
    AV26w,
    AV52w,
    EAV25d,
    EAV75d,
    EAV13w,
    EAV26w,
    EAV52w,
    ITEM1,
    ITEM2,
    ITEM3,
    NORMAL,
};
inline constexpr std::size_t kKeyCount = 26;

// The flags of the dialog's two groups of boxes, in box order: the terms (TERM1d ... TERMIF) and
// the averages and overlays (AV25d ... ITEM3).
inline constexpr std::array<Key, 8> kTermKeys{Key::TERM1d, Key::TERM3m, Key::TERM6m, Key::TERM1y,
                                              Key::TERM2y, Key::TERM5y, Key::TERMay, Key::TERMIF};
inline constexpr std::array<Key, 13> kAverageKeys{
    Key::AV25d,  Key::AV75d,  Key::AV13w,  Key::AV26w, Key::AV52w, Key::EAV25d, Key::EAV75d,
    Key::EAV13w, Key::EAV26w, Key::EAV52w, Key::ITEM1, Key::ITEM2, Key::ITEM3};

struct KeyInfo {
    Key id;
    const char* section;
    const char* key;
    Kind kind;
    const char* defaultText;
};

inline constexpr const char* kStartup = "STARTUP";
inline constexpr const char* kSetup = "SETUP";

// Every key the program stores, in one place, indexed by Key; readers take their defaults from
// here.
const std::array<KeyInfo, kKeyCount>& catalogue();
const KeyInfo& info(Key key);
// The key stored under this name, if it is one of the catalogue's.
std::optional<Key> findKey(const QString& name);

// The stored forms, parsed. Blanks around the text are allowed; anything else fails.
std::optional<bool> parseSwitch(const QString& text);     // "True"/"False" or a number
std::optional<qint16> parseFlag(const QString& text);     // 16-bit whole number
std::optional<qint32> parsePosition(const QString& text); // 32-bit whole number

QString switchText(bool on); // "True" / "False"
QString flagText(bool on);   // "1" / "0"

// The per-user settings of application ZELK, backed by an INI file with the groups STARTUP and
// SETUP. The file is handed in so that tests work on a temporary one; the default is the user's
// own configuration file.
class SettingsStore {
public:
    SettingsStore(); // the user's file
    explicit SettingsStore(const QString& iniPath);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString GetSetting(const QString& section, const QString& key,
                       const QString& defaultText) const;
    void SaveSetting(const QString& section, const QString& key, const QString& value);

    // The one reader of each kind for the whole program: a missing key gives the catalogue
    // default, and so does a stored text that does not parse in the key's kind, so no stored
    // text can upset a reader and every reader of a key agrees.
    QString readText(Key key) const;
    bool readSwitch(Key key) const;
    qint16 readFlag(Key key) const;
    qint32 readPosition(Key key) const;

    // Writes in the key's stored form.
    void write(Key key, const QString& text);
    void writeSwitch(Key key, bool on); // "True" / "False"
    void writeFlag(Key key, bool on);   // "1" / "0"

    // Writes what is pending to disk; the store also syncs when it is destroyed.
    void sync();
    QString fileName() const;

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace settings
