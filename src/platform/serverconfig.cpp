#include "serverconfig.h"

#include <QSettings>
#include <QUrl>

#include <cstdio>

namespace platform {

namespace {
const std::array<const char*, 8> kRoleKeys{
    "technical-chart", "chart-image", "mobile-gateway", "quote",
    "company-profile", "news",        "message-board",  "report",
};

QString withoutTrailingSlash(QString s) {
    while (s.endsWith(QLatin1Char('/')))
        s.chop(1);
    return s;
}

// The entry as written. An unquoted comma makes QSettings read a list; an address may hold commas
// ("?a=1,2"), so the parts are joined again.
QString entryText(const QSettings& ini, const QString& key) {
    const QVariant v = ini.value(key);
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(',')).trimmed();
    return v.toString().trimmed();
}

bool isAbsoluteWebAddress(const QString& text, bool base) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    // Paths and queries are appended to a base address.
    return !base || (!url.hasQuery() && !url.hasFragment());
}

// A value as it can be shown on one line: control characters written as \xNN.
QString oneLine(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void reject(const QString& key, const QString& value, const QString& fallback,
            QStringList* rejected) {
    const QString line = QStringLiteral("servers.ini: %1=\"%2\" is not an absolute http or https "
                                        "address; using %3")
                             .arg(key, oneLine(value), fallback);
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    if (rejected)
        rejected->append(line);
}
} // namespace

ServerConfig::ServerConfig() {
    setAll(QLatin1String(kDefaultBase));
}

void ServerConfig::setAll(const QString& base) {
    const QString b = withoutTrailingSlash(base);
    m_bases.fill(b);
    m_support = b + QLatin1String("/support/");
}

ServerConfig ServerConfig::allAt(const QString& base) {
    ServerConfig c;
    c.setAll(base);
    return c;
}

ServerConfig ServerConfig::load(const QString& iniPath, QStringList* rejected) {
    ServerConfig c;
    QSettings ini(iniPath, QSettings::IniFormat);
    for (std::size_t i = 0; i < kRoleKeys.size(); ++i) {
        const QString key = QLatin1String(kRoleKeys[i]);
        const QString v = entryText(ini, QLatin1String("servers/") + key);
        if (v.isEmpty())
            continue;
        if (isAbsoluteWebAddress(v, true))
            c.m_bases[i] = withoutTrailingSlash(v);
        else
            reject(key, v, c.m_bases[i], rejected);
    }
    const QString support = entryText(ini, QStringLiteral("servers/support-page"));
    if (!support.isEmpty()) {
        if (isAbsoluteWebAddress(support, false))
            c.m_support = support;
        else
            reject(QStringLiteral("support-page"), support, c.m_support, rejected);
    }
    return c;
}

QString ServerConfig::base(ServerRole role) const {
    return m_bases[static_cast<std::size_t>(role)];
}

} // namespace platform
