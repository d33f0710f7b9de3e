#include "displayfetch.h"

#include <algorithm>

namespace chart {

QStringList SuffixMemory::orderFor(const QString& code) const {
    const QString first = m_suffix.value(code);
    QStringList order;
    if (!first.isEmpty())
        order << first;
    for (const char* exchange : exchangeSuffixes()) {
        const QString suffix = QLatin1String(exchange);
        if (suffix != first)
            order << suffix;
    }
    return order;
}

void SuffixMemory::remember(const QString& code, const QString& suffix) {
    m_suffix.insert(code, suffix);
}

void SuffixMemory::forget(const QString& code) {
    m_suffix.remove(code);
}

DisplayFetch::DisplayFetch(platform::MultiTransfer& transfer, const platform::ServerConfig& servers,
                           SuffixMemory& memory, QObject* parent)
    : QObject(parent)
    , m_transfer(transfer)
    , m_servers(servers)
    , m_memory(memory) {
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, [this] {
        m_result.timedOut = true;
        end(true);
    });
}

DisplayFetch::~DisplayFetch() {
    stopTransfers();
}

void DisplayFetch::start(const QString& code, const ChartOptions& options, Mode mode, int boundMs) {
    stopTransfers();
    m_code = code;
    m_options = options;
    m_params = parameterString(options);
    m_result = RetrievalResult();
    m_runs.clear();
    int pane = 0;
    for (std::size_t i = 0; i < terms().size(); ++i) {
        if (!options.terms[i])
            continue;
        Run run;
        run.term = static_cast<int>(i);
        run.pane = pane++;
        m_runs.push_back(run);
    }
    m_state = State::Running;
    if (m_runs.empty()) {
        // Still from the event loop, as every other ending.
        QTimer::singleShot(0, this, [this] {
            if (m_state == State::Running)
                end(false);
        });
        return;
    }
    if (boundMs > 0)
        m_bound.start(boundMs);
    const int startNow = mode == Mode::AllTerms ? static_cast<int>(m_runs.size()) : 1;
    for (int r = 0; r < startNow; ++r)
        launch(r);
}

void DisplayFetch::launch(int r) {
    Run& run = m_runs[r];
    if (!run.started) {
        // Taken when the term starts: a term that starts after another has answered asks
        // first where that one was answered.
        run.order = m_memory.orderFor(m_code);
        run.started = true;
    }
    const Term& term = terms()[run.term];
    const QString& suffix = run.order.at(run.next);
    const QString address =
        term.kind == TermKind::Intraday
            ? intradayAddress(m_servers.base(platform::ServerRole::ChartImage), m_code, suffix,
                              m_options.pixelRatio)
            : technicalAddress(m_servers.base(platform::ServerRole::TechnicalChart), m_code, suffix,
                               termParameters(m_options, m_params, term), term,
                               m_options.pixelRatio);
    run.ticket = m_transfer.fetch(
        address, [this, r](platform::FetchResult answer) { onAnswer(r, std::move(answer)); });
}

void DisplayFetch::onAnswer(int r, platform::FetchResult answer) {
    if (m_state != State::Running)
        return;
    Run& run = m_runs[r];
    run.ticket = 0;
    ++run.transfers;
    if (answer.unreachable())
        ++run.unreachable;
    if (answer.status == platform::FetchResult::Status::Unreachable)
        ++run.refused;
    // Only the first byte is judged: every GIF begins with "G", error pages do not.
    if (answer.answered() && !answer.body.isEmpty() && answer.body.at(0) == 'G') {
        run.accepted = true;
        run.bytes = std::move(answer.body);
        m_memory.remember(m_code, run.order.at(run.next));
        Q_EMIT termArrived(TermImage{run.pane, run.term, run.bytes});
        if (m_state != State::Running)
            return; // a receiver cancelled
        const std::size_t reach = firstFailed();
        for (std::size_t other = 0; other < reach; ++other) {
            if (!m_runs[other].started)
                launch(static_cast<int>(other));
        }
        settle();
        return;
    }
    if (++run.next < run.order.size()) {
        launch(r);
        return;
    }
    // Not served under any suffix: nothing left worth remembering.
    m_memory.forget(m_code);
    run.failed = true;
    // A one-by-one display would never have asked for the terms after this one.
    stopTransfers(static_cast<std::size_t>(r) + 1);
    settle();
}

std::size_t DisplayFetch::firstFailed() const {
    const auto failed =
        std::find_if(m_runs.begin(), m_runs.end(), [](const Run& run) { return run.failed; });
    return static_cast<std::size_t>(failed - m_runs.begin());
}

void DisplayFetch::settle() {
    const std::size_t reach = firstFailed();
    for (std::size_t r = 0; r < reach; ++r) {
        if (!m_runs[r].accepted)
            return; // still under way
    }
    end(reach < m_runs.size());
}

void DisplayFetch::end(bool failed) {
    if (m_state != State::Running)
        return;
    stopTransfers();
    m_bound.stop();
    m_state = State::Finished;
    m_result.failed = failed;
    int prefix = 0;
    while (prefix < static_cast<int>(m_runs.size()) && m_runs[prefix].accepted)
        ++prefix;
    m_result.fetchedTerms = prefix;
    // The transfers of the terms up to the first that failed: those a one-by-one display makes,
    // so that "no answer at all" means the same as there.
    const int counted = failed ? std::min(prefix + 1, static_cast<int>(m_runs.size())) : prefix;
    for (int r = 0; r < counted; ++r) {
        m_result.transfers += m_runs[r].transfers;
        m_result.unreachable += m_runs[r].unreachable;
        m_result.refused += m_runs[r].refused;
    }
    Q_EMIT finished();
}

void DisplayFetch::cancel() {
    if (m_state != State::Running)
        return;
    m_result.cancelled = true;
    end(true);
}

void DisplayFetch::stopTransfers(std::size_t from) {
    for (std::size_t r = from; r < m_runs.size(); ++r) {
        Run& run = m_runs[r];
        if (run.ticket != 0) {
            m_transfer.cancel(run.ticket);
            run.ticket = 0;
        }
    }
}

std::vector<TermImage> DisplayFetch::images() const {
    std::vector<TermImage> out;
    for (const Run& run : m_runs) {
        if (run.accepted)
            out.push_back(TermImage{run.pane, run.term, run.bytes});
    }
    return out;
}

} // namespace chart
