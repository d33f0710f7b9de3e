#pragma once

#include <QString>

#include <array>
#include <memory>
#include <optional>

class QSettings;

namespace settings {

// How a key's text is read back.
enum class Kind { Position, Switch, Flag, Text };

struct KeyInfo {
    const char* section;
    const char* key;
    Kind kind;
    const char* defaultText;
};

inline constexpr const char* kStartup = "STARTUP";
inline constexpr const char* kSetup = "SETUP";

// Every key the program stores, in one place; readers take their defaults from here.
const std::array<KeyInfo, 26>& catalogue();
// nullptr for a key that is not in the catalogue.
const KeyInfo* findKey(const QString& key);

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

    // Typed readers over the catalogue: a missing key gives the catalogue default, and a stored
    // text that does not parse gives the default too (position: 0), so no stored text can upset
    // a reader.
    QString readText(const char* key) const;
    bool readSwitch(const char* key) const;
    qint16 readFlag(const char* key) const;
    qint32 readPosition(const char* key) const;

    // Writes what is pending to disk; the store also syncs when it is destroyed.
    void sync();
    QString fileName() const;

private:
    const KeyInfo& info(const char* key) const;
    std::unique_ptr<QSettings> m_settings;
};

} // namespace settings
