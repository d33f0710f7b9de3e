#include "chartretrieval.h"

#include "detailpage.h"
#include "platform/filereplace.h"
#include "platform/serverconfig.h"
#include "platform/transfer.h"

#include <QDir>
#include <QUrl>

namespace chart {

ChartRetrieval::ChartRetrieval(platform::Transfer& transfer, const platform::ServerConfig& servers,
                               const QString& programFolder)
    : m_transfer(transfer)
    , m_servers(servers)
    , m_folder(programFolder) {}

RetrievalResult ChartRetrieval::fetchTerms(const QString& code, const ChartOptions& options,
                                           const ShowPane& showPane) {
    RetrievalResult result;
    const QString params = parameterString(options);
    const QString technicalBase = m_servers.base(platform::ServerRole::TechnicalChart);
    const QString imageBase = m_servers.base(platform::ServerRole::ChartImage);
    const QDir folder(m_folder);
    int paneCounter = 0;

    for (std::size_t i = 0; i < terms().size(); ++i) {
        if (!options.terms[i])
            continue;
        const Term& term = terms()[i];
        const QString termParams = termParameters(options, params, term);
        QByteArray image;
        bool accepted = false;
        // Every term starts again at the first exchange: what worked for the last term is not
        // carried over.
        for (const char* exchange : exchangeSuffixes()) {
            const QString suffix = QLatin1String(exchange);
            const QString address =
                term.kind == TermKind::Intraday
                    ? intradayAddress(imageBase, code, suffix)
                    : technicalAddress(technicalBase, code, suffix, termParams, term);
            platform::FetchResult answer = m_transfer.fetch(address);
            ++result.transfers;
            if (answer.unreachable())
                ++result.unreachable;
            // Only the first byte is judged: every GIF begins with "G", error pages do not.
            if (answer.answered() && !answer.body.isEmpty() && answer.body.at(0) == 'G') {
                image = std::move(answer.body);
                accepted = true;
                break;
            }
        }
        if (!accepted) {
            result.failed = true;
            result.fetchedTerms = paneCounter;
            return result;
        }
        const QString path = folder.filePath(QLatin1String(term.fileName));
        // A file that cannot be written is passed over: the pane shows whatever the file holds.
        platform::replaceFile(path, image);
        // Panes beyond those the window has are the caller's to ignore; the counter still moves.
        if (showPane)
            showPane(paneCounter, path);
        ++paneCounter;
    }
    result.fetchedTerms = paneCounter;
    return result;
}

QString ChartRetrieval::detailFilePath() const {
    return QDir(m_folder).filePath(QStringLiteral("temp2.html"));
}

QString ChartRetrieval::prepareDetailPage(const QString& code) {
    platform::FetchResult answer =
        m_transfer.fetch(detailQuoteAddress(m_servers.base(platform::ServerRole::Quote), code));
    const QString path = detailFilePath();
    if (answer.answered()) {
        // With no marker the page is still written, unchanged, so the pane shows this code's
        // page and never one left from an earlier display.
        writeDetailAnchor(answer.body);
        platform::replaceFile(path, answer.body);
    } else {
        platform::replaceFile(path, QByteArray());
    }
    return QUrl::fromLocalFile(path).toString() + QLatin1String(kDetailFragment);
}

} // namespace chart
