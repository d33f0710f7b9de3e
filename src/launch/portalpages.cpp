#include "portalpages.h"

#include "chart/securitycode.h"
#include "platform/serverconfig.h"

#include <QUrl>

namespace launch {

QString portalPageAddress(PortalPage page, const platform::ServerConfig& servers,
                          const QString& codeText) {
    // An alphanumeric code goes in as the portal lists it ("１３０ａ" -> "130A"); any other text
    // unchanged. Every byte outside the unreserved set is escaped, so a blank, ";", "&" or "#" in
    // the code box stays inside its query value or path segment; codes pass unchanged.
    const QString text = chart::readAlphanumericCode(codeText).value_or(codeText);
    const QString code = QString::fromLatin1(QUrl::toPercentEncoding(text));
    using platform::ServerRole;
    switch (page) {
    case PortalPage::Quote:
        return servers.base(ServerRole::Quote) + QLatin1String("/q?s=") + code +
               QLatin1String("&d=t&k=c3&h=on&z=m");
    case PortalPage::Company:
        return servers.base(ServerRole::CompanyProfile) + QLatin1String("/biz/fundamental/") +
               code + QLatin1String(".html");
    case PortalPage::News:
        return servers.base(ServerRole::News) + QLatin1String("/news?s=") + code;
    case PortalPage::Board:
        return servers.base(ServerRole::MessageBoard) + QLatin1String("/bbs?action=q&board=") +
               code;
    case PortalPage::Report:
        return servers.base(ServerRole::Report) + QLatin1String("/report/sector33/brand_report/") +
               code + QLatin1String(".html");
    }
    return QString();
}

} // namespace launch
