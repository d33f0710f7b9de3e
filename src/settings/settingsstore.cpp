#include "settingsstore.h"

#include <QSettings>

#include <cstdlib>
#include <limits>

namespace settings {

namespace {

const std::array<KeyInfo, 26> kCatalogue{{
    {kStartup, "FORM_LEFT", Kind::Position, "0"}, {kStartup, "FORM_TOP", Kind::Position, "0"},
    {kSetup, "GRAF", Kind::Switch, "True"},       {kSetup, "LASTCODE", Kind::Text, "4674"},
    {kSetup, "TERM1d", Kind::Flag, "1"},          {kSetup, "TERM3m", Kind::Flag, "1"},
    {kSetup, "TERM6m", Kind::Flag, "1"},          {kSetup, "TERM1y", Kind::Flag, "1"},
    {kSetup, "TERM2y", Kind::Flag, "0"},          {kSetup, "TERM5y", Kind::Flag, "0"},
    {kSetup, "TERMay", Kind::Flag, "0"},          {kSetup, "TERMIF", Kind::Flag, "0"},
    {kSetup, "AV25d", Kind::Flag, "1"},           {kSetup, "AV75d", Kind::Flag, "1"},
    {kSetup, "AV13w", Kind::Flag, "0"},           {kSetup, "AV26w", Kind::Flag, "0"},
    {kSetup, "AV52w", Kind::Flag, "0"},           {kSetup, "EAV25d", Kind::Flag, "1"},
    {kSetup, "EAV75d", Kind::Flag, "1"},          {kSetup, "EAV13w", Kind::Flag, "0"},
    {kSetup, "EAV26w", Kind::Flag, "0"},          {kSetup, "EAV52w", Kind::Flag, "0"},
    {kSetup, "ITEM1", Kind::Flag, "0"},           {kSetup, "ITEM2", Kind::Flag, "0"},
    {kSetup, "ITEM3", Kind::Flag, "0"},           {kSetup, "NORMAL", Kind::Switch, "True"},
}};

std::optional<qint64> parseWhole(const QString& text, qint64 low, qint64 high) {
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

const std::array<KeyInfo, 26>& catalogue() {
    return kCatalogue;
}

const KeyInfo* findKey(const QString& key) {
    for (const KeyInfo& k : kCatalogue) {
        if (key == QLatin1String(k.key))
            return &k;
    }
    return nullptr;
}

std::optional<bool> parseSwitch(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = t.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return number != 0.0;
}

std::optional<qint16> parseFlag(const QString& text) {
    const auto v =
        parseWhole(text, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    if (!v)
        return std::nullopt;
    return static_cast<qint16>(*v);
}

std::optional<qint32> parsePosition(const QString& text) {
    const auto v =
        parseWhole(text, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    if (!v)
        return std::nullopt;
    return static_cast<qint32>(*v);
}

QString switchText(bool on) {
    return on ? QStringLiteral("True") : QStringLiteral("False");
}
QString flagText(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             QStringLiteral("ZELK"), QStringLiteral("ZELK"))) {}

SettingsStore::SettingsStore(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::GetSetting(const QString& section, const QString& key,
                                  const QString& defaultText) const {
    const QVariant v = m_settings->value(section + QLatin1Char('/') + key);
    if (!v.isValid())
        return defaultText;
    // A hand-edited INI line with commas reads back as a list; join it so it stays text.
    if (v.userType() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

void SettingsStore::SaveSetting(const QString& section, const QString& key, const QString& value) {
    m_settings->setValue(section + QLatin1Char('/') + key, value);
}

const KeyInfo& SettingsStore::info(const char* key) const {
    const KeyInfo* k = findKey(QLatin1String(key));
    if (!k)
        std::abort(); // a key name outside the catalogue is a programming error
    return *k;
}

QString SettingsStore::readText(const char* key) const {
    const KeyInfo& k = info(key);
    return GetSetting(QLatin1String(k.section), QLatin1String(k.key), QLatin1String(k.defaultText));
}

bool SettingsStore::readSwitch(const char* key) const {
    const KeyInfo& k = info(key);
    return parseSwitch(readText(key)).value_or(*parseSwitch(QLatin1String(k.defaultText)));
}

qint16 SettingsStore::readFlag(const char* key) const {
    const KeyInfo& k = info(key);
    return parseFlag(readText(key)).value_or(*parseFlag(QLatin1String(k.defaultText)));
}

qint32 SettingsStore::readPosition(const char* key) const {
    return parsePosition(readText(key)).value_or(0);
}

void SettingsStore::sync() {
    m_settings->sync();
}

QString SettingsStore::fileName() const {
    return m_settings->fileName();
}

} // namespace settings
