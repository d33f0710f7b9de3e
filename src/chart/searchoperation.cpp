#include "searchoperation.h"

#include "marks/markstring.h"

#include <QTimer>

namespace chart {

SearchOperation::SearchOperation(ChartRetrieval& retrieval, const ChartOptions& options,
                                 QObject* parent)
    : QObject(parent)
    , m_ahead(retrieval, options) {}

SearchOperation::~SearchOperation() {
    cancel();
}

void SearchOperation::pause() {
    ++m_paused;
}

void SearchOperation::resume() {
    if (m_paused > 0 && --m_paused == 0)
        nextTurn();
}

void SearchOperation::cancel() {
    if (!isRunning())
        return;
    disconnect(m_frontWait);
    m_outcome = Outcome::Cancelled;
    m_ahead.clear();
}

void SearchOperation::nextTurn() {
    // From the event loop, so that input given meanwhile is handled first.
    if (m_turnQueued || !isRunning())
        return;
    m_turnQueued = true;
    QTimer::singleShot(0, this, &SearchOperation::turn);
}

void SearchOperation::turn() {
    m_turnQueued = false;
    proceed();
}

void SearchOperation::proceed() {
    if (isRunning() && m_paused == 0 && !m_frontWait)
        step();
}

bool SearchOperation::resumeWhenFrontEnds() {
    DisplayFetch* front = m_ahead.runningFront();
    if (!front)
        return false;
    // The answer came through the event loop, input given meanwhile has been handled: the turn
    // goes on at once.
    m_frontWait = connect(front, &DisplayFetch::finished, this, [this] {
        disconnect(m_frontWait);
        m_frontWait = {};
        proceed();
    });
    return true;
}

bool SearchOperation::restartedFor(const LookAhead::Probe& probe) {
    if (!m_restart || m_restarted || !probe.fetch || !probe.fetch->result().serverRefused())
        return false;
    if (!m_restart())
        return false;
    m_restarted = true;
    m_ahead.clear();
    pause();
    return true;
}

void SearchOperation::finish(Outcome outcome, std::unique_ptr<DisplayFetch> winner) {
    // Later candidates are never shown nor waited for.
    m_ahead.clear();
    m_winner = std::move(winner);
    m_outcome = outcome;
    Q_EMIT finished();
}

CodeSearchOperation::CodeSearchOperation(ChartRetrieval& retrieval, const ChartOptions& options,
                                         const QStringList& alphanumericCodes,
                                         CodeSearch::Clock clock, QObject* parent)
    : SearchOperation(retrieval, options, parent)
    , m_alphanumeric(alphanumericCodes)
    , m_search(std::move(clock)) {}

void CodeSearchOperation::start(const QString& codeBoxText, StepDirection direction) {
    if (!isRunning())
        return; // cancelled before it started
    m_direction = direction;
    m_toProbe = CodeSearch::firstCandidate(codeBoxText, direction, m_alphanumeric);
    nextTurn();
}

void CodeSearchOperation::step() {
    // A code this pass tried already is not probed: reaching it ends the search.
    while (m_toProbe && m_ahead.size() < LookAhead::kDepth && !m_search.triedBefore(*m_toProbe)) {
        m_ahead.add(*m_toProbe);
        m_toProbe = CodeSearch::candidateAfter(*m_toProbe, m_direction, m_alphanumeric);
    }
    SearchVerdict verdict = SearchVerdict::Continue;
    LookAhead::Probe probe;
    if (m_ahead.size() == 0) {
        // No candidate at all, or the stepping left the numbers.
        if (!m_toProbe) {
            finish(Outcome::NotACode);
            return;
        }
        verdict = m_search.admit(*m_toProbe);
    } else {
        if (resumeWhenFrontEnds())
            return;
        probe = m_ahead.takeFirst();
        if (probe.cancelled()) {
            finish(Outcome::Cancelled);
            return;
        }
        if (restartedFor(probe)) {
            m_toProbe = probe.code; // tried again once the server is back
            return;
        }
        Q_EMIT candidateJudged(probe.code);
        verdict = m_search.admit(probe.code);
        if (verdict == SearchVerdict::Continue) {
            m_lastResult = probe.fetch->result();
            verdict = m_search.judge(probe.displayed() ? CandidateOutcome::Displayed
                                     : m_lastResult.serverUnreachable()
                                         ? CandidateOutcome::MissedUnreachable
                                         : CandidateOutcome::Missed,
                                     probe.startedMs);
        }
    }
    switch (verdict) {
    case SearchVerdict::Found:
        finish(Outcome::Found, std::move(probe.fetch));
        return;
    case SearchVerdict::NoCodeFound:
        finish(Outcome::NoCodeFound);
        return;
    case SearchVerdict::ServerUnreachable:
        finish(Outcome::ServerUnreachable);
        return;
    case SearchVerdict::Continue:
        nextTurn();
        return;
    }
}

MarkStepOperation::MarkStepOperation(ChartRetrieval& retrieval, const ChartOptions& options,
                                     Marks marks, QObject* parent)
    : SearchOperation(retrieval, options, parent)
    , m_marks(std::move(marks)) {}

void MarkStepOperation::start(StepDirection direction) {
    if (!isRunning())
        return; // cancelled before it started: the position stays
    m_direction = direction;
    advance();
    m_probePosition = m_marks.position();
    nextTurn();
}

void MarkStepOperation::advance() {
    m_marks.setPosition(MarkSearch::positionAfter(
        m_marks.position(), marks::MarkString(m_marks.line()).countReal(), m_direction));
}

void MarkStepOperation::fill() {
    // Positions ahead are probed side by side and judged in order.
    const marks::MarkString marks(m_marks.line());
    while (m_ahead.size() < LookAhead::kDepth && !m_probed.contains(m_probePosition)) {
        m_probed.insert(m_probePosition);
        const QString candidate = marks.mark(m_probePosition);
        if (const auto code = codeToDisplay(candidate))
            m_ahead.add(*code, m_probePosition);
        else
            m_ahead.addFailing(candidate, m_probePosition);
        m_probePosition =
            MarkSearch::positionAfter(m_probePosition, marks.countReal(), m_direction);
    }
}

void MarkStepOperation::step() {
    if (m_marks.line().isEmpty()) {
        finish(Outcome::Ended);
        return;
    }
    fill();
    if (m_ahead.size() == 0) {
        finish(Outcome::Ended);
        return;
    }
    if (resumeWhenFrontEnds())
        return;
    LookAhead::Probe probe = m_ahead.takeFirst();
    if (probe.cancelled()) {
        finish(Outcome::Cancelled);
        return;
    }
    if (restartedFor(probe)) {
        // Probed again from where the marks are once the server is back.
        m_probed.clear();
        m_probePosition = m_marks.position();
        return;
    }
    const int position = m_marks.position();
    const auto expected = codeToDisplay(marks::MarkString(m_marks.line()).mark(position));
    if (probe.tag != position ||
        expected.value_or(QString()) != (probe.fetch ? probe.code : QString())) {
        // The marks or the position changed under the look-ahead: probe again from here.
        m_ahead.clear();
        m_probed.clear();
        m_probePosition = position;
        nextTurn();
        return;
    }
    Q_EMIT candidateJudged(probe.code);
    if (probe.displayed()) {
        finish(Outcome::Found, std::move(probe.fetch));
        return;
    }
    if (probe.fetch)
        m_lastResult = probe.fetch->result();
    m_search.recordFailure(position);
    advance();
    if (m_search.failedBefore(m_marks.position())) {
        finish(Outcome::NoMarkShown);
        return;
    }
    nextTurn();
}

} // namespace chart
