#include "lookahead.h"

#include "chartretrieval.h"
#include "searchrules.h"

namespace chart {

LookAhead::LookAhead(ChartRetrieval& retrieval, const ChartOptions& options)
    : m_retrieval(retrieval)
    , m_options(options) {}

LookAhead::~LookAhead() = default;

void LookAhead::add(const QString& code, int tag) {
    const qint64 startedMs = CodeSearch::steadyNowMs();
    auto fetch = std::make_unique<DisplayFetch>(m_retrieval.transfer(), m_retrieval.servers(),
                                                m_retrieval.suffixMemory());
    fetch->start(code, m_options, DisplayFetch::Mode::FirstTermFirst, m_retrieval.boundMs());
    m_probes.push_back(Probe{code, tag, startedMs, std::move(fetch)});
}

void LookAhead::addFailing(const QString& text, int tag) {
    m_probes.push_back(Probe{text, tag, CodeSearch::steadyNowMs(), nullptr});
}

DisplayFetch* LookAhead::runningFront() const {
    if (m_probes.empty() || !m_probes.front().fetch || m_probes.front().fetch->isFinished())
        return nullptr;
    return m_probes.front().fetch.get();
}

LookAhead::Probe LookAhead::takeFirst() {
    if (m_probes.empty())
        return Probe{};
    Probe probe = std::move(m_probes.front());
    m_probes.pop_front();
    return probe;
}

} // namespace chart
