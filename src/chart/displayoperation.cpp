#include "displayoperation.h"

#include "base/filereplace.h"

#include <QTimer>

namespace chart {

DisplayOperation::DisplayOperation(ChartRetrieval& retrieval, QObject* parent)
    : QObject(parent)
    , m_retrieval(retrieval) {}

DisplayOperation::~DisplayOperation() {
    cancel();
}

void DisplayOperation::start(const QString& code, const ChartOptions& options) {
    m_code = code;
    m_options = options;
    m_running = true;
    m_fetch = std::make_unique<DisplayFetch>(m_retrieval.transfer(), m_retrieval.servers(),
                                             m_retrieval.suffixMemory());
    connect(m_fetch.get(), &DisplayFetch::termArrived, this, &DisplayOperation::onTerm);
    connect(m_fetch.get(), &DisplayFetch::finished, this, &DisplayOperation::chartsDone);
    m_fetch->start(code, options, DisplayFetch::Mode::AllTerms, m_retrieval.boundMs());
}

void DisplayOperation::show(std::unique_ptr<DisplayFetch> probed, const ChartOptions& options) {
    m_code = probed->code();
    m_options = options;
    m_options.pixelRatio = probed->options().pixelRatio; // its images were asked at that ratio
    m_running = true;
    m_fetch = std::move(probed);
    m_retrieval.commit(*m_fetch, [this](int pane, const QString& path, const QByteArray& bytes) {
        Q_EMIT paneShown(pane, path, bytes);
    });
    // Announced from the event loop, as for a display that fetched.
    QTimer::singleShot(0, this, &DisplayOperation::chartsDone);
}

void DisplayOperation::onTerm(const TermImage& image) {
    // Files follow term order: one is written once every term before it is in, so a display
    // that fails leaves the files a one-by-one display would have left.
    if (static_cast<int>(m_arrived.size()) <= image.pane)
        m_arrived.resize(image.pane + 1);
    m_arrived[image.pane] = image;
    while (m_written < static_cast<int>(m_arrived.size()) && m_arrived[m_written].term >= 0) {
        base::replaceFile(m_retrieval.termFilePath(m_arrived[m_written].term),
                          m_arrived[m_written].bytes);
        m_arrived[m_written].bytes = QByteArray(); // the pane has its copy
        ++m_written;
    }
    Q_EMIT paneShown(image.pane, m_retrieval.termFilePath(image.term), image.bytes);
}

void DisplayOperation::chartsDone() {
    if (!m_running)
        return;
    m_result = m_fetch->result();
    if (m_result.failed || !m_options.detail) {
        finish();
        return;
    }
    m_detailTicket = m_retrieval.fetchDetailPage(m_code, [this](const QString& address) {
        m_detailTicket = 0;
        m_detailAddress = address;
        finish();
    });
}

void DisplayOperation::finish() {
    m_running = false;
    Q_EMIT finished();
}

void DisplayOperation::cancel() {
    if (!m_running)
        return;
    m_running = false;
    if (m_detailTicket)
        m_retrieval.transfer().cancel(m_detailTicket);
    m_detailTicket = 0;
    if (m_fetch) {
        m_fetch->disconnect(this);
        m_fetch->cancel();
        m_result = m_fetch->result();
    }
    m_result.failed = true;
    m_result.cancelled = true;
}

} // namespace chart
