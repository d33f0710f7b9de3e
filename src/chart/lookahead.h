#pragma once

#include "composition.h"
#include "displayfetch.h"

#include <QString>

#include <deque>
#include <memory>

namespace chart {

class ChartRetrieval;

// A search's candidates probed ahead of the one being judged: each probe fetches its first term,
// and the others once that has answered, while the search judges the oldest. Nothing is written
// or shown here; the search commits the one it finds. Probes still queued when the search ends
// are cancelled with this object.
class LookAhead {
public:
    static constexpr int kDepth = 8;

    struct Probe {
        QString code;
        int tag = 0;                         // the caller's: a mark position
        qint64 startedMs = 0;                // CodeSearch::steadyNowMs(), when the probe began
        std::unique_ptr<DisplayFetch> fetch; // null: a candidate that fails without a transfer

        bool displayed() const { return fetch && fetch->succeeded(); }
        // The wait for it was ended from outside (the window closing).
        bool cancelled() const { return fetch && fetch->result().cancelled; }
    };

    LookAhead(ChartRetrieval& retrieval, const ChartOptions& options);
    ~LookAhead();
    LookAhead(const LookAhead&) = delete;
    LookAhead& operator=(const LookAhead&) = delete;

    // Starts probing code behind those already probed; without a code the candidate fails
    // when its turn comes, as one that is no code.
    void add(const QString& code, int tag = 0);
    void addFailing(const QString& text, int tag = 0);
    int size() const { return static_cast<int>(m_probes.size()); }
    // The oldest probe's fetch while it still runs: the search goes on when it has finished.
    // Null when there is none or it has finished.
    DisplayFetch* runningFront() const;
    // The oldest probe; it must have finished (runningFront() is null).
    Probe takeFirst();
    void clear() { m_probes.clear(); }

private:
    ChartRetrieval& m_retrieval;
    ChartOptions m_options;
    std::deque<Probe> m_probes;
};

} // namespace chart
