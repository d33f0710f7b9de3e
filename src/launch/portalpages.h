#pragma once

#include <QString>

namespace platform {
class ServerConfig;
}

namespace launch {

enum class PortalPage { Quote, Company, News, Board, Report };

// The address of a portal page for the code box's text. An alphanumeric code in any width or
// case goes in as it is listed ("130a" -> "130A"). The text is percent-encoded where it goes into
// the address (a code is unchanged), so blanks and shell characters can never split or extend
// the browser's command line.
QString portalPageAddress(PortalPage page, const platform::ServerConfig& servers,
                          const QString& codeText);

} // namespace launch
