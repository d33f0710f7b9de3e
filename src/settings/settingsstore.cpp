#include "settingsstore.h"

#include <QSettings>

#include <limits>

namespace settings {

namespace {

constexpr std::array<KeyInfo, kKeyCount> kCatalogue{{
    {Key::FORM_LEFT, kStartup, "FORM_LEFT", Kind::Position, "0"},
    {Key::FORM_TOP, kStartup, "FORM_TOP", Kind::Position, "0"},
    {Key::GRAF, kSetup, "GRAF", Kind::Switch, "True"},
    {Key::LASTCODE, kSetup, "LASTCODE", Kind::Text, "4674"},
    {Key::TERM1d, kSetup, "TERM1d", Kind::Flag, "1"},
    {Key::TERM3m, kSetup, "TERM3m", Kind::Flag, "1"},
    {Key::TERM6m, kSetup, "TERM6m", Kind::Flag, "1"},
    {Key::TERM1y, kSetup, "TERM1y", Kind::Flag, "1"},
    {Key::TERM2y, kSetup, "TERM2y", Kind::Flag, "0"},
    {Key::TERM5y, kSetup, "TERM5y", Kind::Flag, "0"},
    {Key::TERMay, kSetup, "TERMay", Kind::Flag, "0"},
    {Key::TERMIF, kSetup, "TERMIF", Kind::Flag, "0"},
    {Key::AV25d, kSetup, "AV25d", Kind::Flag, "1"},
    {Key::AV75d, kSetup, "AV75d", Kind::Flag, "1"},
    {Key::AV13w, kSetup, "AV13w", Kind::Flag, "0"},
    {Key::AV26w, kSetup, "AV26w", Kind::Flag, "0"},
    {Key::AV52w, kSetup, "AV52w", Kind::Flag, "0"},
    {Key::EAV25d, kSetup, "EAV25d", Kind::Flag, "1"},
    {Key::EAV75d, kSetup, "EAV75d", Kind::Flag, "1"},
    {Key::EAV13w, kSetup, "EAV13w", Kind::Flag, "0"},
    {Key::EAV26w, kSetup, "EAV26w", Kind::Flag, "0"},
    {Key::EAV52w, kSetup, "EAV52w", Kind::Flag, "0"},
    {Key::ITEM1, kSetup, "ITEM1", Kind::Flag, "0"},
    {Key::ITEM2, kSetup, "ITEM2", Kind::Flag, "0"},
    {Key::ITEM3, kSetup, "ITEM3", Kind::Flag, "0"},
    {Key::NORMAL, kSetup, "NORMAL", Kind::Switch, "True"},
}};

// Indexing by Key relies on the entries standing in the enumeration's order.
constexpr bool inKeyOrder() {
    for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
        if (static_cast<std::size_t>(kCatalogue[i].id) != i)
            return false;
    }
    return true;
}
static_assert(inKeyOrder(), "the catalogue must list the keys in Key order");

// A whole decimal number that fits T.
template <typename T> std::optional<T> parseWhole(const QString& text) {
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        return std::nullopt;
    return static_cast<T>(value);
}

} // namespace

const std::array<KeyInfo, kKeyCount>& catalogue() {
    return kCatalogue;
}

const KeyInfo& info(Key key) {
    return kCatalogue[static_cast<std::size_t>(key)];
}

std::optional<Key> findKey(const QString& name) {
    for (const KeyInfo& k : kCatalogue) {
        if (name == QLatin1String(k.key))
            return k.id;
    }
    return std::nullopt;
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
    return parseWhole<qint16>(text);
}

std::optional<qint32> parsePosition(const QString& text) {
    return parseWhole<qint32>(text);
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

QString SettingsStore::readText(Key key) const {
    const KeyInfo& k = info(key);
    return GetSetting(QLatin1String(k.section), QLatin1String(k.key), QLatin1String(k.defaultText));
}

bool SettingsStore::readSwitch(Key key) const {
    return parseSwitch(readText(key)).value_or(*parseSwitch(QLatin1String(info(key).defaultText)));
}

qint16 SettingsStore::readFlag(Key key) const {
    return parseFlag(readText(key)).value_or(*parseFlag(QLatin1String(info(key).defaultText)));
}

qint32 SettingsStore::readPosition(Key key) const {
    return parsePosition(readText(key))
        .value_or(*parsePosition(QLatin1String(info(key).defaultText)));
}

void SettingsStore::write(Key key, const QString& text) {
    const KeyInfo& k = info(key);
    SaveSetting(QLatin1String(k.section), QLatin1String(k.key), text);
}

void SettingsStore::writeSwitch(Key key, bool on) {
    write(key, switchText(on));
}

void SettingsStore::writeFlag(Key key, bool on) {
    write(key, flagText(on));
}

void SettingsStore::sync() {
    m_settings->sync();
}

QString SettingsStore::fileName() const {
    return m_settings->fileName();
}

} // namespace settings
