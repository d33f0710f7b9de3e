#include "searchrules.h"

#include "marks/marknavigation.h"

#include <chrono>

namespace chart {

namespace {

// Stepping reaches a four-character candidate within a few steps from anywhere (the jump and the
// wrap see to that); the bound only guards against a loop.
constexpr int kMaxSkippedCandidates = 16;

// candidate itself when it can be tried, else the first one after it that can.
std::optional<QString> firstTriable(const QString& candidate, StepDirection dir,
                                    const QStringList& alphanumericCodes) {
    std::optional<QString> normalized = normalizeSearchCandidate(candidate);
    for (int i = 0; normalized && i < kMaxSkippedCandidates; ++i) {
        if (isCodeLength(*normalized))
            return normalized;
        normalized =
            normalizeSearchCandidate(nextSearchCandidate(*normalized, dir, alphanumericCodes));
    }
    return std::nullopt;
}

} // namespace

qint64 CodeSearch::steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

CodeSearch::CodeSearch(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock(steadyNowMs)) {}

std::optional<QString> CodeSearch::firstCandidate(const QString& codeBoxText, StepDirection dir,
                                                  const QStringList& alphanumericCodes) {
    const std::optional<QString> first = firstSearchCandidate(codeBoxText, dir, alphanumericCodes);
    if (!first)
        return std::nullopt;
    return firstTriable(*first, dir, alphanumericCodes);
}

std::optional<QString> CodeSearch::candidateAfter(const QString& code, StepDirection dir,
                                                  const QStringList& alphanumericCodes) {
    return firstTriable(nextSearchCandidate(code, dir, alphanumericCodes), dir, alphanumericCodes);
}

QStringList CodeSearch::candidatesAfter(const QString& code, StepDirection dir, int n,
                                        const QStringList& alphanumericCodes) {
    QStringList out;
    std::optional<QString> next = code;
    while (out.size() < n && (next = candidateAfter(*next, dir, alphanumericCodes)))
        out << *next;
    return out;
}

SearchVerdict CodeSearch::admit(const QString& code) {
    if (m_tried.contains(code))
        return SearchVerdict::NoCodeFound;
    m_tried.insert(code);
    m_candidateStart = m_clock();
    return SearchVerdict::Continue;
}

SearchVerdict CodeSearch::judge(CandidateOutcome outcome) {
    return judge(outcome, m_candidateStart);
}

SearchVerdict CodeSearch::judge(CandidateOutcome outcome, qint64 startedMs) {
    switch (outcome) {
    case CandidateOutcome::Displayed:
        m_unreachableStreak = 0;
        return SearchVerdict::Found;
    case CandidateOutcome::Missed:
        m_unreachableStreak = 0;
        return SearchVerdict::Continue;
    case CandidateOutcome::MissedUnreachable:
        if (m_unreachableStreak++ == 0)
            m_streakStart = startedMs;
        if (m_unreachableStreak >= kUnreachableCandidates ||
            m_clock() - m_streakStart >= kUnreachableStreakMs)
            return SearchVerdict::ServerUnreachable;
        return SearchVerdict::Continue;
    }
    return SearchVerdict::Continue;
}

int MarkSearch::positionAfter(int position, double markCount, StepDirection dir) {
    return dir == StepDirection::Up ? marks::advancePosition(position, markCount)
                                    : marks::stepBackPosition(position, markCount);
}

} // namespace chart
