// servers.ini as the program reads it, whatever the file holds, and the addresses composed from
// the entries it accepts.
#include "chart/composition.h"
#include "launch/portalpages.h"
#include "platform/serverconfig.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

using platform::ServerConfig;
using platform::ServerRole;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    static int round = 0;
    // A fresh name every time: QSettings keeps what it parsed per file name.
    const QString path = dir.filePath(QStringLiteral("servers%1.ini").arg(++round));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    const ServerConfig servers = ServerConfig::load(path);
    QFile::remove(path);

    const QString code = QStringLiteral("4674");
    for (int role = 0; role <= static_cast<int>(ServerRole::Report); ++role)
        servers.base(static_cast<ServerRole>(role)).size();
    chart::mobileSummaryAddress(servers.base(ServerRole::MobileGateway), code);
    chart::detailQuoteAddress(servers.base(ServerRole::Quote), code);
    chart::intradayAddress(servers.base(ServerRole::ChartImage), code, QStringLiteral(".t"));
    for (const auto page :
         {launch::PortalPage::Quote, launch::PortalPage::Company, launch::PortalPage::News,
          launch::PortalPage::Board, launch::PortalPage::Report})
        launch::portalPageAddress(page, servers, code);
    servers.supportPage().size();
    return 0;
}
