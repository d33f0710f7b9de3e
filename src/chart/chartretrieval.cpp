#include "chartretrieval.h"

#include "detailpage.h"
#include "platform/filereplace.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"

#include <QDir>
#include <QEventLoop>
#include <QUrl>

namespace chart {

namespace {

// Keeps a wait's way out on the list for as long as the wait lasts.
class WaitScope {
public:
    WaitScope(std::vector<std::function<void()>>& waits, std::function<void()> stop)
        : m_waits(waits) {
        m_waits.push_back(std::move(stop));
        m_index = m_waits.size() - 1;
    }
    ~WaitScope() { m_waits.erase(m_waits.begin() + static_cast<std::ptrdiff_t>(m_index)); }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

private:
    std::vector<std::function<void()>>& m_waits;
    std::size_t m_index = 0;
};

} // namespace

ChartRetrieval::ChartRetrieval(platform::MultiTransfer& transfer,
                               const platform::ServerConfig& servers, const QString& programFolder)
    : m_multi(transfer)
    , m_servers(servers)
    , m_folder(programFolder) {}

ChartRetrieval::~ChartRetrieval() {
    cancel();
}

QString ChartRetrieval::termFilePath(int term) const {
    return QDir(m_folder).filePath(QLatin1String(terms()[term].fileName));
}

RetrievalResult ChartRetrieval::fetchTerms(const QString& code, const ChartOptions& options,
                                           const ShowPane& showPane) {
    DisplayFetch fetch(m_multi, m_servers, m_memory);

    // Files follow term order: one is written once every term before it is in, so a display
    // that fails leaves the files a one-by-one display would have left.
    std::vector<TermImage> arrived;
    int written = 0;
    QObject::connect(&fetch, &DisplayFetch::termArrived, &fetch, [&](const TermImage& image) {
        if (static_cast<int>(arrived.size()) <= image.pane)
            arrived.resize(image.pane + 1);
        arrived[image.pane] = image;
        while (written < static_cast<int>(arrived.size()) && arrived[written].term >= 0) {
            platform::replaceFile(termFilePath(arrived[written].term), arrived[written].bytes);
            arrived[written].bytes = QByteArray(); // the pane has its copy
            ++written;
        }
        // Panes beyond those the window has are the caller's to ignore.
        if (showPane)
            showPane(image.pane, termFilePath(image.term), image.bytes);
    });

    fetch.start(code, options, DisplayFetch::Mode::AllTerms, m_boundMs);
    waitFor(fetch);
    return fetch.result();
}

void ChartRetrieval::waitFor(DisplayFetch& fetch) {
    if (fetch.isFinished())
        return;
    QEventLoop loop;
    QObject::connect(&fetch, &DisplayFetch::finished, &loop, &QEventLoop::quit);
    WaitScope scope(m_waits, [&fetch] { fetch.cancel(); });
    loop.exec();
    // The loop also returns when the application quits: the fetch ends there, as cancelled.
    fetch.cancel();
}

void ChartRetrieval::commit(const DisplayFetch& fetch, const ShowPane& showPane) {
    for (const TermImage& image : fetch.images()) {
        const QString path = termFilePath(image.term);
        platform::replaceFile(path, image.bytes);
        if (showPane)
            showPane(image.pane, path, image.bytes);
    }
}

QString ChartRetrieval::detailFilePath() const {
    return QDir(m_folder).filePath(QStringLiteral("temp2.html"));
}

QString ChartRetrieval::prepareDetailPage(const QString& code) {
    const QString address = detailQuoteAddress(m_servers.base(platform::ServerRole::Quote), code);
    platform::FetchResult answer;
    bool arrived = false;
    QEventLoop loop;
    const platform::MultiTransfer::Ticket ticket =
        m_multi.fetch(address, [&](platform::FetchResult result) {
            answer = std::move(result);
            arrived = true;
            loop.quit();
        });
    {
        WaitScope scope(m_waits, [&] {
            m_multi.cancel(ticket);
            loop.quit();
        });
        if (!arrived)
            loop.exec();
    }
    m_multi.cancel(ticket); // a no-op unless the wait was cancelled

    const QString path = detailFilePath();
    if (arrived && answer.answered()) {
        // With no marker the page is still written, unchanged, so the pane shows this code's
        // page and never one left from an earlier display.
        writeDetailAnchor(answer.body);
        platform::replaceFile(path, answer.body);
    } else {
        platform::replaceFile(path, QByteArray());
    }
    return QUrl::fromLocalFile(path).toString() + QLatin1String(kDetailFragment);
}

void ChartRetrieval::cancel() {
    // Each way out only ends its own wait; the scopes leave the list as their calls return.
    const std::vector<std::function<void()>> waits = m_waits;
    for (const auto& stop : waits)
        stop();
}

} // namespace chart
