#include "serverconfig.h"

#include <QSettings>

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

ServerConfig ServerConfig::load(const QString& iniPath) {
    ServerConfig c;
    QSettings ini(iniPath, QSettings::IniFormat);
    for (std::size_t i = 0; i < kRoleKeys.size(); ++i) {
        const QString v =
            ini.value(QLatin1String("servers/") + QLatin1String(kRoleKeys[i])).toString().trimmed();
        if (!v.isEmpty())
            c.m_bases[i] = withoutTrailingSlash(v);
    }
    const QString support = ini.value(QLatin1String("servers/support-page")).toString().trimmed();
    if (!support.isEmpty())
        c.m_support = support;
    return c;
}

QString ServerConfig::base(ServerRole role) const {
    return m_bases[static_cast<std::size_t>(role)];
}

} // namespace platform
