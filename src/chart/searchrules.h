#pragma once

#include "chart/securitycode.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace chart {

// What became of one candidate of a search.
enum class CandidateOutcome {
    Displayed,         // its charts were shown
    Missed,            // the servers answered, but not with its charts
    MissedUnreachable, // no transfer of it got any answer at all
};

// What a search does after a candidate.
enum class SearchVerdict {
    Continue,    // go on with the next candidate
    Found,       // done: the candidate is shown
    NoCodeFound, // stop: every code was tried once ("チャートを表示できる銘柄が...")
    ServerUnreachable, // stop: the chart server does not answer ("チャートサーバーに接続...")
};

// The rules of stepping through codes (昇順検索 / 降順検索), without widgets, servers or timers.
//
// Which candidate comes next is a pure function of the last one, so a caller may look ahead
// (candidatesAfter) without touching the rules' state. Judging is separate and must see the
// candidates strictly in the order they are tried: admit() before a candidate is tried, judge()
// with its outcome afterwards. The set of codes tried is kept by code text, so codes that are
// not numbers can join the order later.
class CodeSearch {
public:
    // Milliseconds on a monotonic clock; tests hand in a fake one.
    using Clock = std::function<qint64()>;

    // A dead chart server is told from codes without charts by candidates that get no answer at
    // all: the search ends after this many such candidates in a row, or once such a streak has
    // lasted this long, counted from the start of its first candidate (a server that accepts and
    // never answers costs a time-out per transfer).
    static constexpr int kUnreachableCandidates = 3;
    static constexpr qint64 kUnreachableStreakMs = 20000;

    explicit CodeSearch(Clock clock = {}); // default: steadyNowMs
    static qint64 steadyNowMs();

    // alphanumericCodes: the code list's alphanumeric codes in code order, tried besides the
    // numbers at their places ("1309", "130A", "1310"; see nextSearchCandidate).
    //
    // The first code a search from the code box's text tries: nullopt when the text is neither a
    // number nor an alphanumeric code ("銘柄コードを確認して下さい。").
    static std::optional<QString> firstCandidate(const QString& codeBoxText, StepDirection dir,
                                                 const QStringList& alphanumericCodes = {});
    // The code tried after code: the next candidate in the direction, wrapped at the ends of the
    // range, past the candidates that can never have four characters. nullopt only where the
    // stepping leaves the numbers (the search then ends as for a text that is no number).
    static std::optional<QString> candidateAfter(const QString& code, StepDirection dir,
                                                 const QStringList& alphanumericCodes = {});
    // The next n codes after code, as candidateAfter gives them one by one; fewer where it ends.
    static QStringList candidatesAfter(const QString& code, StepDirection dir, int n,
                                       const QStringList& alphanumericCodes = {});

    // Before code is tried: NoCodeFound when this pass tried it already (the whole range was
    // tried), else Continue; the candidate's start time is taken here.
    SearchVerdict admit(const QString& code);
    // Whether this pass tried code already: admitting it would end the search.
    bool triedBefore(const QString& code) const { return m_tried.contains(code); }
    // After the admitted candidate was tried.
    SearchVerdict judge(CandidateOutcome outcome);
    // The same for a candidate that started at startedMs on the clock (one probed ahead).
    SearchVerdict judge(CandidateOutcome outcome, qint64 startedMs);

private:
    Clock m_clock;
    QSet<QString> m_tried;
    qint64 m_candidateStart = 0;
    int m_unreachableStreak = 0;
    qint64 m_streakStart = 0;
};

// The rules of stepping through the marks (マーク昇順検索 / マーク降順検索). Positions move
// deterministically, so a position that failed once fails the same way: once the next position
// has failed before, every position has, and the search ends ("表示できるマーク銘柄がありません
// でした。").
class MarkSearch {
public:
    // The position after position among markCount marks (the mark string's length / 5).
    static int positionAfter(int position, double markCount, StepDirection dir);

    void recordFailure(int position) { m_failed.insert(position); }
    bool failedBefore(int position) const { return m_failed.contains(position); }

private:
    QSet<int> m_failed;
};

} // namespace chart
