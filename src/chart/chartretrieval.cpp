#include "chartretrieval.h"

#include "base/filereplace.h"
#include "detailpage.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"

#include <QDir>
#include <QUrl>

namespace chart {

ChartRetrieval::ChartRetrieval(platform::MultiTransfer& transfer,
                               const platform::ServerConfig& servers, const QString& programFolder)
    : m_multi(transfer)
    , m_servers(servers)
    , m_folder(programFolder) {}

QString ChartRetrieval::termFilePath(int term) const {
    return QDir(m_folder).filePath(QLatin1String(terms()[term].fileName));
}

void ChartRetrieval::commit(const DisplayFetch& fetch, const ShowPane& showPane) {
    for (const TermImage& image : fetch.images()) {
        const QString path = termFilePath(image.term);
        base::replaceFile(path, image.bytes);
        if (showPane)
            showPane(image.pane, path, image.bytes);
    }
}

QString ChartRetrieval::detailFilePath() const {
    return QDir(m_folder).filePath(QStringLiteral("temp2.html"));
}

platform::MultiTransfer::Ticket
ChartRetrieval::fetchDetailPage(const QString& code, std::function<void(const QString&)> done) {
    const QString address = detailQuoteAddress(m_servers.base(platform::ServerRole::Quote), code);
    const QString path = detailFilePath();
    return m_multi.fetch(address, [path, done = std::move(done)](platform::FetchResult answer) {
        if (answer.answered()) {
            // With no marker the page is still written, unchanged, so the pane shows this code's
            // page and never one left from an earlier display.
            writeDetailAnchor(answer.body);
            base::replaceFile(path, answer.body);
        } else {
            base::replaceFile(path, QByteArray());
        }
        done(QUrl::fromLocalFile(path).toString() + QLatin1String(kDetailFragment));
    });
}

} // namespace chart
